// What references can cost an answer's reader: a hostile answer whose one 64 KB string is named
// 10,000 times (refused once the text they bring in passes the bound, whatever their number), and
// honest answers in the multiRef style (every prescription and every number by reference) at
// 1,000 and 10,000 prescriptions, to show the cost grows linearly. Each benchmark reports the
// process's peak resident memory after it ran.
//
//   build/bench/references_bench [benchmark options]
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "common/modGlobal.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"
#include "initiator/CPrescripciones.h"

namespace {

namespace ns = PRESCORA_NS;
namespace xml = ns::platform::xml;

std::string Envelope(const std::string& body) {
  return "<?xml version='1.0' encoding='UTF-8'?>"
         "<soapenv:Envelope xmlns:soapenv='http://schemas.xmlsoap.org/soap/envelope/' "
         "xmlns:soapenc='http://schemas.xmlsoap.org/soap/encoding/' "
         "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'><soapenv:Body>" +
         body + "</soapenv:Body></soapenv:Envelope>";
}

// 10,000 prescriptions whose product code is one string of 64 KB, sent once.
std::string Hostile() {
  std::string items;
  for (int i = 0; i < 10000; ++i)
    items += "<item><idPrescripcion>RX" + std::to_string(i) +
             "</idPrescripcion><codProducto href='#big'/></item>";
  return Envelope("<ns1:r xmlns:ns1='urn:P'><return><codigoError>0</codigoError><prescripciones>" +
                  items + "</prescripciones></return></ns1:r><string id='big'>" +
                  std::string(64 * 1024, 'x') + "</string>");
}

// The return part, the array, each prescription and each number as a multiRef of the body.
std::string MultiRef(int count) {
  std::string array, refs;
  int next = 3;
  for (int i = 0; i < count; ++i) {
    const std::string item = "id" + std::to_string(next++), number = "id" + std::to_string(next++);
    array += "<item href='#" + item + "'/>";
    refs += "<multiRef id='" + item + "' soapenc:root='0'><idPrescripcion>RX" + std::to_string(i) +
            "</idPrescripcion><codProducto>" + std::to_string(600000 + i) +
            "</codProducto><fechaPrescripcion>20261201</fechaPrescripcion>"
            "<envasesPrescritos href='#" +
            number +
            "'/><regimenReceta href='#id2'/>"
            "<visado href='#id2'/></multiRef><multiRef id='" +
            number + "' soapenc:root='0' xsi:type='xsd:short'>" + std::to_string(1 + i % 3) +
            "</multiRef>";
  }
  return Envelope(
      "<ns1:r xmlns:ns1='urn:P'><return href='#id0'/></ns1:r><multiRef id='id0'>"
      "<codigoError href='#id2'/><mensajeError/><prescripciones href='#id1'/></multiRef>"
      "<multiRef id='id1'>" +
      array + "</multiRef><multiRef id='id2'>0</multiRef>" + refs);
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The client's reading of the answer and the list's FromXML, as a retrieval does them.
void Read(benchmark::State& state, const std::string& bytes, bool sound) {
  for (auto _ : state) {
    std::string detail;
    auto nodes = ns::platform::soap::ReadAnswer(200, bytes, "", "bench", detail);
    ns::CPrescripciones list;
    if (!nodes || list.FromXML(*nodes) != sound) state.SkipWithError("unexpected reading");
    benchmark::DoNotOptimize(list);
    ns::objErrores().ResetErrorsCollection();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["peak_MB"] = PeakMegabytes();
}

void HostileTenThousandReferences(benchmark::State& state) {
  Read(state, Hostile(), false);
}

void MultiRefStyle(benchmark::State& state) {
  Read(state, MultiRef(static_cast<int>(state.range(0))), true);
}

// Hostile first, so that its peak is not hidden by the honest ones'.
BENCHMARK(HostileTenThousandReferences)->Unit(benchmark::kMillisecond);
BENCHMARK(MultiRefStyle)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
