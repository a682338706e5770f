// Trimming text, the one way every part of the system (libraries and tools) does it. Header only
// and free of the library's namespace, so the tools share it too.
#pragma once

#include <string_view>

namespace prescora {

// Spaces and tabs: the blanks around a settings file's names and values.
inline constexpr std::string_view kBlanks = " \t";
// ASCII white space, as isspace takes it in the C locale.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// `text` without the characters of `set` at either end. A view into `text`: keep what it views
// alive while it is used.
constexpr std::string_view Trim(std::string_view text, std::string_view set = kWhiteSpace) {
  const std::size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(set) - first + 1);
}

// Only the spaces at either end: tabs and line breaks stay.
constexpr std::string_view TrimSpaces(std::string_view text) {
  return Trim(text, " ");
}

}  // namespace prescora
