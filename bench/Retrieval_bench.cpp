// What a retrieval costs: the parse of a large answer with references beside libxml2's bare parse
// of the same bytes (at 1,000 and 10,000 prescriptions, to show the cost grows linearly), and a
// retrieval through the front object beside a direct call of the SOAP client to the same
// simulator.
//
//   build/bench/retrieval_bench [benchmark options]
//
// The real libInterface.so is linked into a temporary library folder; the front object runs in
// this process on that folder.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"
#include "initiator/CInitiator.h"
#include "support/SettingsFile.h"
#include "support/SimuladorProceso.h"

namespace {

namespace ns = PRESCORA_NS;
namespace fs = std::filesystem;
namespace xml = ns::platform::xml;

// An answer as the service sends it by default: every text of a prescription a reference to a
// string of the body.
std::string Answer(int count) {
  std::string items, references;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    const std::string id = std::to_string(3 * i + 1), code = std::to_string(3 * i + 2),
                      date = std::to_string(3 * i + 3);
    items += "<item><idPrescripcion href=\"#ID_" + id + "\"/><codProducto href=\"#ID_" + code +
             "\"/><fechaPrescripcion href=\"#ID_" + date +
             "\"/><envasesPrescritos xsi:type=\"xsd:short\">2</envasesPrescritos>"
             "<regimenReceta xsi:type=\"xsd:int\">1</regimenReceta>"
             "<visado xsi:type=\"xsd:int\">0</visado></item>\n";
    references += "<xsd:string id=\"ID_" + id + "\">RX" + n +
                  "</xsd:string>\n<xsd:string id=\"ID_" + code + "\">" +
                  std::to_string(600000 + i) + "</xsd:string>\n<xsd:string id=\"ID_" + date +
                  "\">20261201</xsd:string>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><SOAP-ENV:Body>\n"
         "<ns1:consultaPrescripcionesNoDispensadasPorTisResponse "
         "xmlns:ns1=\"urn:Prescripciones\"><return>"
         "<codigoError xsi:type=\"xsd:int\">0</codigoError><mensajeError xsi:type=\"xsd:string\">"
         "</mensajeError><prescripciones SOAP-ENC:arrayType=\"xsd:anyType[" +
         std::to_string(count) + "]\">\n" + items +
         "</prescripciones></return></ns1:consultaPrescripcionesNoDispensadasPorTisResponse>\n" +
         references + "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n";
}

xml::NodeList ReturnContent(const xml::Document& document) {
  return document.documentElement()
      .childNodes()
      .Item(0)
      .childNodes()
      .Item(0)
      .childNodes()
      .Item(0)
      .childNodes();
}

// libxml2 alone: parse the bytes into a tree and free it.
void BareParse(benchmark::State& state) {
  const std::string bytes = Answer(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                  XML_PARSE_NONET);
    benchmark::DoNotOptimize(doc);
    xmlFreeDoc(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

// The whole parse the retrieval does on an answer: the document load and the list's FromXML.
void LoadAndFromXML(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string bytes = Answer(count);
  for (auto _ : state) {
    xml::Document document;
    if (!document.LoadBytes(bytes)) state.SkipWithError("the answer does not load");
    xml::NodeList content = ReturnContent(document);
    ns::CPrescripciones list;
    if (!list.FromXML(content) || static_cast<int>(list.Registros().size()) != count)
      state.SkipWithError("the answer does not parse");
    benchmark::DoNotOptimize(list);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

// FromXML alone, on a document loaded once.
void FromXMLOnly(benchmark::State& state) {
  const std::string bytes = Answer(static_cast<int>(state.range(0)));
  xml::Document document;
  if (!document.LoadBytes(bytes)) state.SkipWithError("the answer does not load");
  xml::NodeList content = ReturnContent(document);
  for (auto _ : state) {
    ns::CPrescripciones list;
    list.FromXML(content);
    benchmark::DoNotOptimize(list);
  }
}

BENCHMARK(BareParse)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadAndFromXML)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(FromXMLOnly)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One simulator and one library folder for the two retrieval benchmarks.
struct Service {
  std::unique_ptr<SimuladorProceso> simulator;
  std::string folder;
  Service() {
    simulator = std::make_unique<SimuladorProceso>(std::vector<std::string>{
        "--datos", std::string(PRESCORA_SOURCE_DIR) + "/tools/simulador/datos-ejemplo.ini"});
    char pattern[] = "/tmp/prescora-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder = pattern;
    fs::create_symlink(std::string(PRESCORA_BIN_DIR) + "/libInterface.so",
                       folder + "/libInterface.so");
    WriteSettings(folder + "/Interface.ini", {{"Configuracion.Servicio", simulator->Url()}});
    ns::platform::component::SetLibraryFolderForTesting(folder);
  }
  ~Service() {
    simulator->Detener(SIGTERM);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};
Service* service = nullptr;

// Retrievals one after another on one front object, as a pharmacy application makes them.
void ThroughFrontObject(benchmark::State& state) {
  ns::CInitiator initiator;
  ns::CArgument argument;
  argument.set_Usuario("FARM01");
  argument.set_Password("clave01");
  argument.set_TIS("BBBB000001");
  for (auto _ : state) {
    ns::CPrescripciones list = initiator.RecuperarPrescripciones(argument);
    if (list.Registros().size() != 2) state.SkipWithError("no list");
  }
}

// The same request straight through the SOAP client, answer left unread.
void DirectSoapCall(benchmark::State& state) {
  ns::platform::soap::Client client;
  client.mssoapinit(service->simulator->Url());
  xml::Document request;
  request.Loadxml(
      "<p70PeticionConsultaPNDPorTIS><usuario>FARM01</usuario><passwd>clave01</passwd>"
      "<idioma>0</idioma><TIS>BBBB000001</TIS><fecha>20261208</fecha>"
      "</p70PeticionConsultaPNDPorTIS>");
  xml::NodeList arguments = request.documentElement().childNodes();
  for (auto _ : state) {
    auto answer = client.Call("consultaPrescripcionesNoDispensadasPorTis", arguments);
    if (!answer) state.SkipWithError("no answer");
  }
}

BENCHMARK(ThroughFrontObject)->Unit(benchmark::kMicrosecond);
BENCHMARK(DirectSoapCall)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(name);
  benchmark::Initialize(&argc, argv);
  Service running;
  if (!running.simulator->Arrancado()) return 1;
  service = &running;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
