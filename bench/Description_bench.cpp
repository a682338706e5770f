// What reading a service description costs as it grows: descriptions of 2,000 to 30,000
// operations (about 13 MB at the largest) read from a file by the SOAP client, processor time per
// reading. The time must grow with the size, not with its square.
//
//   build/bench/description_bench [benchmark options]
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "common/platform/soap.h"

namespace {

namespace soap = PRESCORA_NS::platform::soap;

// A WSDL 1.1 description of `count` rpc/encoded operations, each with a message of its own.
std::string Description(int count) {
  std::string messages, abstract, bound;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    messages += "<message name='solicitud" + n +
                "Request'><part name='arg0' type='xsd:string'/></message>\n";
    abstract += "<operation name='solicitud" + n + "'><input message='tns:solicitud" + n +
                "Request'/><output message='tns:respuesta'/></operation>\n";
    bound += "<operation name='solicitud" + n + "'><soap:operation soapAction='urn:S#solicitud" +
             n +
             "'/><input><soap:body use='encoded' namespace='urn:S'/></input><output>"
             "<soap:body use='encoded' namespace='urn:S'/></output></operation>\n";
  }
  return "<?xml version='1.0' encoding='UTF-8'?>\n"
         "<definitions xmlns='http://schemas.xmlsoap.org/wsdl/' "
         "xmlns:soap='http://schemas.xmlsoap.org/wsdl/soap/' "
         "xmlns:xsd='http://www.w3.org/2001/XMLSchema' xmlns:tns='urn:S' "
         "targetNamespace='urn:S'>\n<message name='respuesta'><part name='return' "
         "type='xsd:anyType'/></message>\n" +
         messages + "<portType name='P'>\n" + abstract +
         "</portType>\n<binding name='B' type='tns:P'><soap:binding style='rpc' "
         "transport='http://schemas.xmlsoap.org/soap/http'/>\n" +
         bound +
         "</binding>\n<service name='S'><port name='SP' binding='tns:B'><soap:address "
         "location='http://127.0.0.1:1/servicio'/></port></service>\n</definitions>\n";
}

void ReadDescription(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  char folder[] = "/tmp/prescora-description-XXXXXX";
  if (!mkdtemp(folder)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string path = std::string(folder) + "/servicio.wsdl";
  const std::string text = Description(count);
  std::ofstream(path, std::ios::binary) << text;
  for (auto _ : state) {
    soap::Client client;
    client.ConnectorProperty("Timeout", int32_t{600000});
    try {
      client.mssoapinit(path);
    } catch (...) {
      state.SkipWithError("the description was not read");
      break;
    }
  }
  state.counters["bytes"] = static_cast<double>(text.size());
  unlink(path.c_str());
  rmdir(folder);
}

BENCHMARK(ReadDescription)
    ->Arg(2000)
    ->Arg(8000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
