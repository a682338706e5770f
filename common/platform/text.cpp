#include "common/platform/text.h"

namespace PRESCORA_NS::platform::text {

namespace {

constexpr std::string_view kMask = "********";

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '-' || c == '.';
}

// Characters that end a word of a log line: whatever surrounds a value in the lines we write.
bool EndsWord(char c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\r':
    case '\n':
    case '\'':
    case '"':
    case '<':
    case '>':
    case '(':
    case ')':
    case ',':
    case ';':
    case '=':
    case '[':
    case ']':
      return true;
    default:
      return false;
  }
}

// Masks the user information of one word, [begin, end) of `out`; returns the word's new end.
std::size_t MaskWord(std::string& out, std::size_t begin, std::size_t end) {
  std::string_view word(out.data() + begin, end - begin);
  std::size_t authority = 0;
  const std::size_t scheme = word.find("://");
  if (scheme != std::string_view::npos && scheme > 0) {
    bool valid = true;
    for (std::size_t i = 0; i < scheme; ++i) valid = valid && IsSchemeChar(word[i]);
    if (!valid) return end;
    authority = scheme + 3;
  }
  // The last "@" before any query: a password may hold a raw "/", and hiding part of a path
  // costs nothing.
  std::size_t limit = word.find_first_of("?#", authority);
  if (limit == std::string_view::npos) limit = word.size();
  const std::size_t at = word.rfind('@', limit == 0 ? 0 : limit - 1);
  if (at == std::string_view::npos || at < authority || at >= limit) return end;
  // Without a scheme only "user:password@" counts: an e-mail address is not a secret.
  if (authority == 0 && word.substr(0, at).find(':') == std::string_view::npos) return end;
  if (at == authority) return end;  // nothing to hide
  out.replace(begin + authority, at - authority, kMask);
  return end - (at - authority) + kMask.size();
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string MaskUserInfo(std::string_view text) {
  std::string out(text);
  if (out.find('@') == std::string::npos) return out;
  std::size_t i = 0;
  while (i < out.size()) {
    while (i < out.size() && EndsWord(out[i])) ++i;
    std::size_t end = i;
    while (end < out.size() && !EndsWord(out[end])) ++end;
    if (end > i) end = MaskWord(out, i, end);
    i = end;
  }
  return out;
}

std::string ForLog(std::string_view text) {
  return MaskUserInfo(OneLine(text));
}

std::string CutChars(std::string_view text, std::size_t chars) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (count == chars) return std::string(text.substr(0, i));
    ++count;
  }
  return std::string(text);
}

}  // namespace PRESCORA_NS::platform::text
