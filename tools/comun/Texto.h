// Small text helpers shared by the command-line tools.
#pragma once

#include <string>

namespace prescora_tools {

inline std::string Minusculas(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

inline std::string Recortar(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Tabulated output: tabs, line breaks and backslashes escaped so one value stays one field; any
// other control character as \xHH, so that nothing read from a file drives the terminal.
inline std::string Escapar(const std::string& s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          out += "\\x";
          out += kHex[static_cast<unsigned char>(c) >> 4];
          out += kHex[static_cast<unsigned char>(c) & 15];
        } else {
          out += c;
        }
    }
  }
  return out;
}

// Text output for people: control characters shown as escapes, nothing else changed.
inline std::string Visible(const std::string& s) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != 0x7f) continue;
    out.append(s, from, i - from);
    out += Escapar(std::string(1, s[i]));
    from = i + 1;
  }
  out.append(s, from, std::string::npos);
  return out;
}

}  // namespace prescora_tools
