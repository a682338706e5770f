// The prescription identifier names the request and answer files, the launcher's argument and the
// audit section. One that could leave the spool folders ("/") or break the audit file's sections
// and lines ("[", "]", control characters) is refused before anything is written.
#pragma once

#include <string_view>

#include "common/Export.h"

namespace PRESCORA_NS {

inline bool IsValidPrescriptionId(std::string_view id) noexcept {
  for (char c : id) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '[' || c == ']' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace PRESCORA_NS
