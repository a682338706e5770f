// What a long audit trail costs: the same work with an empty audit file beside one of 100,000
// sections (about a year of a busy pharmacy with ArchivoDiario=0), in one run.
//
//   build/bench/audit_bench [--secciones N] [--dispensaciones N] [--lecturas N] [--rondas N]
//                           [--pausa MS]
//
// Each case runs in child processes of its own, so that its peak memory is its own: dispensings
// through the front object against a simulator answering at once (the real libInterface.so and
// executor.exe in a temporary library folder), a pause between them as at a pharmacy's counter
// (not counted), then every action of the auditor and its reads (a recent section, an absent
// one, the oldest one) on the same file. The two cases take turns in rounds, so that a machine
// busy with other work weighs on both alike.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/component.h"
#include "interface/CAuditor.h"
#include "interface/CFileAdmin.h"
#include "interface/CInterface.h"
#include "support/SampleRequest.h"
#include "support/SettingsFile.h"
#include "support/SimuladorProceso.h"

namespace {

namespace ns = PRESCORA_NS;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int sections = 100000;
int dispensings = 30;
int reads = 200;
int rounds = 4;
int pauseMs = 100;

struct Figures {
  double median = 0;
  double p95 = 0;
};

using Samples = std::map<std::string, std::vector<double>>;

Figures Summarize(std::vector<double> ms) {
  Figures f;
  if (ms.empty()) return f;
  std::sort(ms.begin(), ms.end());
  auto at = [&](double p) {
    return ms[std::min(ms.size() - 1,
                       static_cast<std::size_t>(p * static_cast<double>(ms.size() - 1) + 0.5))];
  };
  f.median = at(0.5);
  f.p95 = at(0.95);
  return f;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// A section as the front object and the executor leave it after a dispensing.
void WriteLongTrail(const std::string& file, int count) {
  std::ofstream out(file, std::ios::binary);
  char id[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(id, sizeof id, "RX%010d", i);
    out << "[" << id << "]\n"
        << "FECHA_ENVIO=26/12/07 09:05:03\nPETICION_GENERADA=Si\nMENSAJE_ENVIADO=Si\n"
        << "MENSAJE_RECIBIDO=Si\nRESPUESTA_GENERADA=srv\n"
        << "TEXTO_RESPUESTA=0000.Dispensación realizada correctamente\n";
  }
}

// One round of a case, in the child: every sample goes back as a "name<TAB>ms" line.
void RunCase(const std::string& folder, const std::string& url, int round, int out) {
  ns::platform::component::SetLibraryFolderForTesting(folder);
  WriteSettings(folder + "/Interface.ini",
                {{"Configuracion.Servicio", url}, {"Asincrono.PeticionTimeOut", "20"}});
  Samples samples;
  const std::string prefix = std::to_string(round) + "-";
  {
    ns::CInterface front;
    for (int i = 0; i < dispensings / rounds; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      ns::CPeticionDispensacion request =
          sample_data::Request("BENCH-" + prefix + std::to_string(i));
      auto start = Clock::now();
      ns::CRespuestaPeticion response = front.SolicitudDispensacion(request);
      samples["dispensing"].push_back(Ms(Clock::now() - start));
      if (!response.DatosValidos() || response.m_intNMotivosRechazo() != 1)
        std::fprintf(stderr, "dispensing %d: the service's answer did not arrive\n", i);
    }
  }
  ns::CAuditor auditor;
  auto time = [&](const char* name, const std::function<void(int)>& work) {
    for (int i = 0; i < reads / rounds; ++i) {
      auto start = Clock::now();
      work(i);
      samples[name].push_back(Ms(Clock::now() - start));
    }
  };
  auto id = [&](int i) { return "AUD-" + prefix + std::to_string(i); };
  time("Save audHeader (new section)", [&](int i) { auditor.Save(id(i), ns::audHeader); });
  time("Save audMarkMsgSended", [&](int i) { auditor.Save(id(i), ns::audMarkMsgSended); });
  time("Save audSetResponse",
       [&](int i) { auditor.Save(id(i), ns::audSetResponse, ns::rcvService); });
  time("Save audSetTextResponse", [&](int i) {
    auditor.Save(id(i), ns::audSetTextResponse, ns::rcvNone, "0000.Dispensación realizada");
  });
  time("StoreInDelayed (recent section)", [&](int i) { auditor.StoreInDelayed(id(i)); });
  time("StoreInDelayed (absent section)",
       [&](int i) { auditor.StoreInDelayed("NADA-" + std::to_string(i)); });
  time("StoreInDelayed (oldest section)", [&](int) { auditor.StoreInDelayed("RX0000000000"); });

  std::string report;
  for (const auto& [name, ms] : samples) {
    for (double value : ms) report += name + "\t" + std::to_string(value) + "\n";
  }
  if (write(out, report.data(), report.size()) < 0) std::perror("write");
}

struct CaseResult {
  Samples samples;
  long peakKb = 0;  // the largest of the rounds
};

// Runs one round of a case in a child process and collects its samples and peak memory.
bool Measure(const std::string& folder, const std::string& url, int round, CaseResult& result) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return false;
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    close(pipe_fds[0]);
    RunCase(folder, url, round, pipe_fds[1]);
    close(pipe_fds[1]);
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)) return false;
  result.peakKb = std::max(result.peakKb, usage.ru_maxrss);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    std::size_t tab = line.find('\t');
    result.samples[line.substr(0, tab)].push_back(std::atof(line.substr(tab + 1).c_str()));
    start = end + 1;
  }
  return true;
}

std::string MakeFolder(const char* name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/prescora-bench-" + name + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  for (const char* binary : {"libInterface.so", "executor.exe"})
    fs::copy_file(std::string(PRESCORA_BIN_DIR) + "/" + binary, pattern + "/" + binary);
  fs::create_directory(pattern + "/Auditoria");
  return pattern;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    int value = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--secciones") == 0) sections = value;
    if (std::strcmp(argv[i], "--dispensaciones") == 0) dispensings = value;
    if (std::strcmp(argv[i], "--lecturas") == 0) reads = value;
    if (std::strcmp(argv[i], "--rondas") == 0) rounds = value;
    if (std::strcmp(argv[i], "--pausa") == 0) pauseMs = std::atoi(argv[i + 1]);
  }
  for (const char* name :
       {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    unsetenv(name);
  const std::string data = std::string(PRESCORA_SOURCE_DIR) + "/tools/simulador/datos-ejemplo.ini";
  SimuladorProceso simulator({"--datos", data});
  if (!simulator.Arrancado()) {
    std::fprintf(stderr, "no se ha podido arrancar el simulador\n");
    return 1;
  }
  std::string empty = MakeFolder("vacio");
  std::string full = MakeFolder("lleno");
  if (empty.empty() || full.empty()) return 1;
  WriteLongTrail(full + "/Auditoria/audit.log", sections);
  std::printf("audit.log of %d sections: %.1f MB\n", sections,
              static_cast<double>(fs::file_size(full + "/Auditoria/audit.log")) / 1e6);

  CaseResult a, b;
  for (int round = 0; round < rounds; ++round) {
    if (!Measure(empty, simulator.Url(), round, a) || !Measure(full, simulator.Url(), round, b)) {
      std::fprintf(stderr, "a case did not finish\n");
      return 1;
    }
  }
  std::printf("\n%-36s %21s %21s %7s\n", "", "empty audit file", "long audit file", "ratio");
  std::printf("%-36s %10s %10s %10s %10s\n", "", "median ms", "p95 ms", "median ms", "p95 ms");
  for (const auto& [name, samples] : a.samples) {
    Figures fa = Summarize(samples);
    Figures fb = Summarize(b.samples[name]);
    std::printf("%-36s %10.3f %10.3f %10.3f %10.3f %7.2f\n", name.c_str(), fa.median, fa.p95,
                fb.median, fb.p95, fa.median > 0 ? fb.median / fa.median : 0.0);
  }
  std::printf("%-36s %10.1f MB %20.1f MB %7.2f   (target <= 1.5)\n", "host peak memory",
              static_cast<double>(a.peakKb) / 1024.0, static_cast<double>(b.peakKb) / 1024.0,
              a.peakKb > 0 ? static_cast<double>(b.peakKb) / static_cast<double>(a.peakKb) : 0.0);

  simulator.Detener(SIGTERM);
  // Let the last launchers finish before the folders go.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::error_code ignored;
  fs::remove_all(empty, ignored);
  fs::remove_all(full, ignored);
  return 0;
}
