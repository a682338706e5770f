// The SOAP client's reading of an answer, which comes from the network: faults, references and
// the return part.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/errors.h"
#include "common/platform/soap.h"

namespace ns = PRESCORA_NS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  // The first byte picks the status and charset the answer came with.
  const uint8_t pick = size > 0 ? data[0] : 0;
  const long status = pick % 3 == 0 ? 200 : (pick % 3 == 1 ? 500 : 404);
  const std::string charset = pick & 0x10 ? "iso-8859-1" : "";
  std::string detail;
  try {
    auto nodes = ns::platform::soap::ReadAnswer(status, body, charset, "http://servicio", detail);
    if (nodes) {
      for (const auto& node : nodes->items()) {
        (void)node.nodeName();
        (void)node.Text();
      }
    }
  } catch (const ns::platform::Failure&) {
  }
  return 0;
}
