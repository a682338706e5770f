// The SOAP client's reading of a service description, which comes from the network.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/platform/errors.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"
#include "fuzz/FuzzFile.h"

namespace ns = PRESCORA_NS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& file = ScratchFile(".wsdl");
  if (!WriteScratch(file, data, size)) return 0;
  ns::platform::soap::Client client;
  try {
    client.mssoapinit(file);
  } catch (const ns::platform::Failure&) {
    return 0;
  }
  // A description that reads: look up its operations, as a call does before it sends anything.
  ns::platform::xml::Document argument;
  argument.Loadxml("<a><b>1</b></a>");
  client.ConnectorProperty("EndPointURL", std::string("http://127.0.0.1:0/"));
  client.ConnectorProperty("Timeout", int32_t{1});
  for (const char* operation :
       {"solicitudDispensacion", "consultaPrescripcionesNoDispensadasPorTis"}) {
    try {
      client.Call(operation, argument.documentElement().childNodes());
    } catch (const ns::platform::Failure&) {
    }
  }
  return 0;
}
