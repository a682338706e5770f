// The prescription list read from a retrieval answer, references and all: the answer comes from
// the network, and its references point anywhere in the envelope.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/modGlobal.h"
#include "common/platform/errors.h"
#include "common/platform/soap.h"
#include "initiator/CPrescripciones.h"

namespace ns = PRESCORA_NS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  std::string detail;
  try {
    auto nodes = ns::platform::soap::ReadAnswer(200, body, "", "http://servicio", detail);
    if (nodes) {
      ns::CPrescripciones list;
      list.FromXML(*nodes);
      (void)list.Registros().size();
    }
  } catch (const ns::platform::Failure&) {
  }
  ns::objErrores().ResetErrorsCollection();  // the thread's collection would grow with every run
  return 0;
}
