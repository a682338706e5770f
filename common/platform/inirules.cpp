#include "common/platform/inirules.h"

#include <cctype>

namespace PRESCORA_NS::platform::inirules {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  auto close = line.find(']');
  return Trim(line.substr(0, close));
}

std::optional<std::pair<std::string_view, std::string_view>> EntryOf(std::string_view line) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == '[' || trimmed.front() == ';') return std::nullopt;
  auto equals = trimmed.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return std::make_pair(Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1)));
}

std::string Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

bool NamesGiven(std::string_view section,
                const std::vector<std::pair<std::string, std::string>>& values) {
  if (Trim(section).empty()) return false;
  for (const auto& entry : values)
    if (Trim(entry.first).empty()) return false;
  return true;
}

std::string Cut(std::string text, std::size_t chars) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (count == chars) {
      text.resize(i);
      break;
    }
    ++count;
  }
  return text;
}

}  // namespace PRESCORA_NS::platform::inirules
