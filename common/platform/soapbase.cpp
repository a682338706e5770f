#include "common/platform/soapbase.h"

#include <algorithm>
#include <cctype>

namespace PRESCORA_NS::platform::soap {

bool IEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

bool Clean(std::string_view address) {
  return std::none_of(address.begin(), address.end(),
                      [](unsigned char c) { return c <= ' ' || c == 0x7f; });
}

}  // namespace PRESCORA_NS::platform::soap
