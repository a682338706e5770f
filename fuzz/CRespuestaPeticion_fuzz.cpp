// The dispensing response read from an answer's nodes and from a response file (the executor's,
// or a default response file someone wrote by hand).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/modGlobal.h"
#include "common/platform/xml.h"
#include "fuzz/FuzzFile.h"
#include "interface/CRespuestaPeticion.h"

namespace ns = PRESCORA_NS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ns::platform::xml::Document doc;
  if (doc.Loadxml(text)) {
    ns::platform::xml::NodeList nodes = doc.documentElement().childNodes();
    ns::CRespuestaPeticion response;
    response.FromXML(nodes);
    (void)response.ToString();
  }
  const std::string& file = ScratchFile(".xml");
  if (WriteScratch(file, data, size)) {
    ns::CRespuestaPeticion fromFile;
    fromFile.FromXMLFile(file);
    (void)fromFile.ToString();
  }
  ns::objErrores().ResetErrorsCollection();  // the thread's collection would grow with every run
  return 0;
}
