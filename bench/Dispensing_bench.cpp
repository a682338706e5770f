// What the road through the spool folders and the launcher costs: sequential dispensings through
// the front object against a simulator that answers at once, beside direct calls of the SOAP
// client to the same simulator, and the processor time of the host while it waits.
//
//   build/bench/dispensing_bench [--iteraciones N] [--pausa MS] [benchmark options]
//
// --pausa: the time between two dispensings (none by default), as at a pharmacy's counter; it
// is not counted.
//
// The real libInterface.so and executor.exe are copied into a temporary library folder; the
// front object runs in this process on that folder.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/events.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"
#include "interface/CInterface.h"
#include "support/SampleRequest.h"
#include "support/SettingsFile.h"
#include "support/SimuladorProceso.h"

namespace {

namespace ns = PRESCORA_NS;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int iterations = 100;
int pauseMs = 0;
std::string folder;
std::unique_ptr<SimuladorProceso> fast;
std::unique_ptr<SimuladorProceso> slow;

struct Samples {
  std::vector<double> ms;
  double waitCpu = 0;   // seconds of this process's processor time inside the waits
  double waitWall = 0;  // seconds of those waits
  double Percentile(double p) const {
    if (ms.empty()) return 0;
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    std::size_t at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
  }
};
Samples dispensing, direct, directWithDescription, waiting;

double ProcessCpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

using sample_data::Request;

void Report(benchmark::State& state, const Samples& s) {
  state.counters["median_ms"] = s.Percentile(0.5);
  state.counters["p95_ms"] = s.Percentile(0.95);
  if (s.waitWall > 0) state.counters["wait_cpu_pct"] = 100.0 * s.waitCpu / s.waitWall;
}

// Dispensings one after another on one front object, as a pharmacy application makes them. The
// wait is timed from the first pass of the message loop to the return.
void Dispense(benchmark::State& state, SimuladorProceso& simulator, Samples& samples,
              const char* prefix) {
  WriteSettings(folder + "/Interface.ini",
                {{"Configuracion.Servicio", simulator.Url()}, {"Asincrono.PeticionTimeOut", "20"}});
  ns::CInterface front;
  if (!front.Enabled()) state.SkipWithError("the front object did not load its settings");
  Clock::time_point waitStart;
  double cpuStart = 0;
  bool inWait = false;
  ns::platform::events::SetMessageLoopHook([&] {
    if (inWait) return;
    inWait = true;
    waitStart = Clock::now();
    cpuStart = ProcessCpu();
  });
  int n = 0;
  for (auto _ : state) {
    if (pauseMs > 0) {
      state.PauseTiming();
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      state.ResumeTiming();
    }
    ns::CPeticionDispensacion request = Request(prefix + std::to_string(++n));
    inWait = false;
    auto start = Clock::now();
    ns::CRespuestaPeticion response = front.SolicitudDispensacion(request);
    auto end = Clock::now();
    double cpuEnd = ProcessCpu();
    samples.ms.push_back(Seconds(end - start) * 1000.0);
    if (inWait) {
      samples.waitCpu += cpuEnd - cpuStart;
      samples.waitWall += Seconds(end - waitStart);
    }
    // Unknown prescriptions are rejected: an answer of the service all the same.
    if (!response.DatosValidos() || response.m_intNMotivosRechazo() != 1)
      state.SkipWithError("the service's answer did not arrive");
  }
  ns::platform::events::SetMessageLoopHook({});
  Report(state, samples);
}

void BM_Dispensing(benchmark::State& state) {
  Dispense(state, *fast, dispensing, "BENCH-");
}

// The host while the service takes half a second: what waiting costs it.
void BM_WaitingHost(benchmark::State& state) {
  Dispense(state, *slow, waiting, "WAIT-");
}

// The same request straight through the SOAP client. `fresh`: a new client that reads the
// service description first, as each launcher does; otherwise one client, initialised once.
void Direct(benchmark::State& state, Samples& samples, bool fresh) {
  ns::platform::xml::Document document;
  ns::CPeticionDispensacion request = Request("DIRECT");
  if (!document.Loadxml(request.ToString(false))) state.SkipWithError("request not rendered");
  ns::platform::xml::NodeList nodes = document.documentElement().childNodes();
  auto client = std::make_unique<ns::platform::soap::Client>();
  client->mssoapinit(fast->Url());
  for (auto _ : state) {
    auto start = Clock::now();
    if (fresh) {
      client = std::make_unique<ns::platform::soap::Client>();
      client->mssoapinit(fast->Url());
    }
    auto answer = client->Call("SolicitudDispensacion", nodes);
    samples.ms.push_back(Seconds(Clock::now() - start) * 1000.0);
    if (!answer) state.SkipWithError("no answer");
  }
  Report(state, samples);
}

void BM_DirectCall(benchmark::State& state) {
  Direct(state, direct, false);
}

void BM_DirectCallWithDescription(benchmark::State& state) {
  Direct(state, directWithDescription, true);
}

bool Install() {
  for (const char* name :
       {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    unsetenv(name);
  // TMPDIR=/dev/shm puts the folder in memory: the figures then leave out the disk's flushes.
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/prescora-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return false;
  folder = pattern;
  std::printf("Library folder: %s\n", folder.c_str());
  for (const char* binary : {"libInterface.so", "executor.exe"})
    fs::copy_file(std::string(PRESCORA_BIN_DIR) + "/" + binary, folder + "/" + binary);
  ns::platform::component::SetLibraryFolderForTesting(folder);
  const std::string data = std::string(PRESCORA_SOURCE_DIR) + "/tools/simulador/datos-ejemplo.ini";
  fast = std::make_unique<SimuladorProceso>(std::vector<std::string>{"--datos", data});
  slow = std::make_unique<SimuladorProceso>(
      std::vector<std::string>{"--datos", data, "--retraso", "500"});
  return fast->Arrancado() && slow->Arrancado();
}

void Summary() {
  auto line = [](const char* name, const Samples& s) {
    std::printf("  %-36s median %8.2f ms   p95 %8.2f ms   (%zu)\n", name, s.Percentile(0.5),
                s.Percentile(0.95), s.ms.size());
  };
  std::printf("\nSummary\n");
  line("dispensing through the front object", dispensing);
  line("direct call, client initialised", direct);
  line("direct call, description read", directWithDescription);
  const double d = dispensing.Percentile(0.5);
  const double d95 = dispensing.Percentile(0.95);
  for (const auto& [name, base] : {std::pair<const char*, const Samples*>{"initialised", &direct},
                                   {"description read", &directWithDescription}}) {
    const double b = base->Percentile(0.5);
    const double b95 = base->Percentile(0.95);
    if (b > 0)
      std::printf(
          "  dispensing - direct (%s): median %+.2f ms (goal <= 8), p95 %+.2f ms (goal <= 15)\n",
          name, d - b, d95 - b95);
  }
  if (waiting.waitWall > 0)
    std::printf("  host while waiting for a 500 ms answer: %.2f%% of one processor (goal < 2%%)\n",
                100.0 * waiting.waitCpu / waiting.waitWall);
  if (dispensing.waitWall > 0)
    std::printf("  host while waiting for an immediate answer: %.2f%% of one processor\n",
                100.0 * dispensing.waitCpu / dispensing.waitWall);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pausa") == 0 && i + 1 < argc) {
      pauseMs = std::max(0, std::atoi(argv[++i]));
      continue;
    }
    if (std::strcmp(argv[i], "--iteraciones") == 0 && i + 1 < argc) {
      iterations = std::max(1, std::atoi(argv[++i]));
      continue;
    }
    rest.push_back(argv[i]);
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  if (!Install()) {
    std::fprintf(stderr, "no se ha podido preparar la carpeta o arrancar el simulador\n");
    return 1;
  }
  benchmark::RegisterBenchmark("DirectCall", BM_DirectCall)->Iterations(iterations)->UseRealTime();
  benchmark::RegisterBenchmark("DirectCallWithDescription", BM_DirectCallWithDescription)
      ->Iterations(iterations)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Dispensing", BM_Dispensing)->Iterations(iterations)->UseRealTime();
  benchmark::RegisterBenchmark("WaitingHost", BM_WaitingHost)
      ->Iterations(std::max(1, iterations / 10))
      ->UseRealTime();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Summary();

  ns::platform::events::SetMessageLoopHook({});
  ns::platform::component::SetLibraryFolderForTesting("");
  fast->Detener(SIGTERM);
  slow->Detener(SIGTERM);
  // Let the last launchers finish before the folder goes.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}
