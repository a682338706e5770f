// Small text helpers shared by the command-line tools.
#pragma once

#include <string>
#include <string_view>

#include "common/Trim.h"

namespace prescora_tools {

inline std::string Minusculas(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Without the spaces, tabs and line ends around it.
inline std::string Recortar(std::string_view s) {
  return std::string(prescora::Trim(s, " \t\r\n"));
}

// What a file, a card or a service gives, made safe to print: a control character (C0, DEL, or
// C1 in UTF-8, which a terminal takes as an escape) and any byte not part of valid UTF-8 written
// as \xNN (tab and line breaks as \t, \n, \r), so one value stays one field and never steers
// the terminal. With `barra`, a backslash is doubled too, so the escapes can be told apart from
// the text (tabulated output).
inline std::string Escapar(const std::string& s, bool barra = true) {
  std::string out;
  auto hex = [&out](unsigned char c) {
    static constexpr char kDigitos[] = "0123456789ABCDEF";
    out += "\\x";
    out += kDigitos[c >> 4];
    out += kDigitos[c & 0x0F];
  };
  const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = byte(i);
    if (c < 0x80) {
      if (c == '\\' && barra)
        out += "\\\\";
      else if (c == '\t')
        out += "\\t";
      else if (c == '\n')
        out += "\\n";
      else if (c == '\r')
        out += "\\r";
      else if (c < 0x20 || c == 0x7F)
        hex(c);
      else
        out += static_cast<char>(c);
      ++i;
      continue;
    }
    // The length of a well-formed sequence starting here (no overlong forms, no surrogates,
    // nothing past U+10FFFF), or 0.
    std::size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                         : c >= 0xE0 && c <= 0xEF ? 3
                         : c >= 0xF0 && c <= 0xF4 ? 4
                                                  : 0;
    if (length == 0 || i + length > s.size()) length = 0;
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) length = 0;
    }
    if (length >= 3) {
      const unsigned char second = byte(i + 1);
      if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) ||
          (c == 0xF0 && second < 0x90) || (c == 0xF4 && second > 0x8F))
        length = 0;
    }
    const bool c1 = length == 2 && c == 0xC2 && byte(i + 1) <= 0x9F;
    if (length == 0 || c1) {
      for (std::size_t k = 0; k < (c1 ? 2u : 1u); ++k) hex(byte(i + k));
      i += c1 ? 2 : 1;
    } else {
      out.append(s, i, length);
      i += length;
    }
  }
  return out;
}

// Text output for people: the same, a backslash left as it is.
inline std::string Visible(const std::string& s) {
  return Escapar(s, false);
}

}  // namespace prescora_tools
