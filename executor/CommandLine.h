// The launcher's argument rules: the argument string is cut at every single space and only the
// first piece counts; that piece is cut at every "=", and when its first part is exactly
// "IDPres" the second part is the request identifier (empty when there is none).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/LauncherConventions.h"

namespace executor {

inline std::optional<std::string> RequestIdentifier(std::string_view arguments) {
  if (arguments.empty()) return std::nullopt;
  std::string_view piece = arguments.substr(0, arguments.find(' '));
  std::size_t equals = piece.find('=');
  if (piece.substr(0, equals) != "IDPres") return std::nullopt;
  if (equals == std::string_view::npos) return std::string();
  std::string_view value = piece.substr(equals + 1);
  return std::string(value.substr(0, value.find('=')));
}

// "Espera" as the first piece: the program was started ahead of need by the front object and
// gets its argument string later, as one line on descriptor 3.
inline bool WaitsForArguments(std::string_view arguments) {
  return arguments.substr(0, arguments.find(' ')) == prescora::launcher::kWaitArgument;
}

// The argument string as the program received it: argv[1..] joined by single spaces.
inline std::string ArgumentString(int argc, char** argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) joined += ' ';
    joined += argv[i];
  }
  return joined;
}

}  // namespace executor
