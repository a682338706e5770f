// The prescription identifier names the request and answer files, the launcher's argument and the
// audit section. One that could leave the spool folders ("/"), break the audit file's sections
// and lines ("[", "]", control characters), be cut by the launcher (a space ends its argument,
// "=" ends the value) or not fit a file name with the suffixes the spool adds is refused before
// anything is written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/Export.h"

namespace PRESCORA_NS {

// Bytes. File names hold 255; the spool adds at most about 45 (" (n).xml", ".estado", the hidden
// names files are written under before they are renamed into place).
inline constexpr std::size_t kMaxPrescriptionIdLength = 200;

inline bool IsValidPrescriptionId(std::string_view id) noexcept {
  if (id.size() > kMaxPrescriptionIdLength) return false;
  for (char c : id) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '[' || c == ']' || c == ' ' || c == '=' || byte < 0x20 || byte == 0x7F)
      return false;
  }
  return true;
}

// The file that holds, under its lock, the generated identifiers given in the last hours. It lies
// in EnCurso, beside the dispensings' states, where every user of the folder may write (the
// package's library folder itself is written by no one).
inline constexpr const char* kGeneratedIdsFolder = "EnCurso";
inline constexpr const char* kGeneratedIdsFile = "EnCurso/Identificadores.lock";

// A generated identifier is `prefix` (ITP and the request's fields) and the second it is made
// in, "yymmddhhmmss". Two requests of one library folder, in any processes or threads, never get
// the same one: when this second's is taken, the next second's is given. Raises 32020 with
// `source` when the clock stays on one second for a few seconds.
std::string ReserveGeneratedId(const std::string& prefix, const char* source);

}  // namespace PRESCORA_NS
