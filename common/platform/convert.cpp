#include "common/platform/convert.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>

#include "common/Trim.h"
#include "common/platform/errors.h"

namespace PRESCORA_NS::platform::convert {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

using prescora::Trim;

// Length of the number at the start of `text`: sign, digits with an optional fraction (at least
// one digit in all), optional exponent (E or D, as the runtime reads it). 0 when there is none.
std::size_t NumberLength(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    std::size_t expDigits = 0;
    while (j < text.size() && IsDigit(text[j])) ++j, ++expDigits;
    if (expDigits > 0) i = j;
  }
  return i;
}

// The value of a number text accepted by NumberLength, read in the "C" locale whatever locale
// the host has set (the decimal point is always ".").
double Value(std::string_view number) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  std::string copy(number);
  for (char& c : copy) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  // Overflow gives an infinity and underflow 0, which the range checks then judge.
  if (cLocale == static_cast<locale_t>(0)) return strtod(copy.c_str(), nullptr);
  return strtod_l(copy.c_str(), nullptr, cLocale);
}

// The whole trimmed text as a number; raises 13 when it is not one.
double StrictValue(std::string_view text) {
  text = Trim(text);
  std::size_t length = NumberLength(text);
  if (length == 0 || length != text.size()) RaiseRuntime(errTypeMismatch);
  return Value(text);
}

double RoundHalfEven(double value) {
  double floor = std::floor(value);
  double diff = value - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

}  // namespace

int32_t RoundToInt32(double value) {
  if (std::isnan(value)) RaiseRuntime(errOverflow);
  double rounded = RoundHalfEven(value);
  if (rounded < -2147483648.0 || rounded > 2147483647.0) RaiseRuntime(errOverflow);
  return static_cast<int32_t>(rounded);
}

int16_t ToInt16(std::string_view text) {
  double rounded = RoundHalfEven(StrictValue(text));
  if (std::isnan(rounded) || rounded < -32768.0 || rounded > 32767.0) RaiseRuntime(errOverflow);
  return static_cast<int16_t>(rounded);
}

int32_t ToInt32(std::string_view text) {
  return RoundToInt32(StrictValue(text));
}

bool ToBoolean(std::string_view text) {
  const std::string_view word = Trim(text);
  auto is = [&](std::string_view name) {
    if (word.size() != name.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      char c = word[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != name[i]) return false;
    }
    return true;
  };
  if (is("true") || is("verdadero")) return true;
  if (is("false") || is("falso")) return false;
  return StrictValue(word) != 0.0;
}

double LeadingNumber(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  std::size_t length = NumberLength(text);
  if (length == 0) return 0.0;
  return Value(text.substr(0, length));
}

bool IsNumeric(std::string_view text) {
  text = Trim(text);
  std::size_t length = NumberLength(text);
  return length != 0 && length == text.size();
}

namespace {

// A run of 1 to `maxDigits` digits at `pos`; its value, and the count of digits read.
bool ReadField(std::string_view text, std::size_t& pos, int maxDigits, int& value, int& digits) {
  value = 0;
  digits = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    if (++digits > maxDigits) return false;
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  return digits > 0;
}

bool IsLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// An optional time after the date: " H:mm" or " H:mm:ss", in range.
bool ValidTimeTail(std::string_view tail) {
  if (tail.empty()) return true;
  if (!IsSpace(tail.front())) return false;
  tail = Trim(tail);
  std::size_t pos = 0;
  int parts[3] = {0, 0, 0};
  int count = 0;
  while (true) {
    int value = 0;
    int digits = 0;
    if (!ReadField(tail, pos, 2, value, digits)) return false;
    if (count > 0 && digits != 2) return false;
    parts[count++] = value;
    if (pos == tail.size()) break;
    if (tail[pos] != ':' || count == 3) return false;
    ++pos;
  }
  return count >= 2 && parts[0] <= 23 && parts[1] <= 59 && parts[2] <= 59;
}

}  // namespace

std::optional<Date> ParseDate(std::string_view text) {
  text = Trim(text);
  std::size_t pos = 0;
  int a = 0, b = 0, c = 0;
  int aDigits = 0, bDigits = 0, cDigits = 0;
  if (!ReadField(text, pos, 4, a, aDigits)) return std::nullopt;
  if (pos >= text.size() || (text[pos] != '/' && text[pos] != '-')) return std::nullopt;
  char separator = text[pos++];
  if (!ReadField(text, pos, 2, b, bDigits)) return std::nullopt;
  if (pos >= text.size() || text[pos] != separator) return std::nullopt;
  ++pos;
  Date date;
  if (aDigits == 4) {
    // yyyy-mm-dd (or yyyy/mm/dd)
    if (!ReadField(text, pos, 2, c, cDigits)) return std::nullopt;
    date = {a, b, c};
  } else {
    if (aDigits > 2) return std::nullopt;
    if (!ReadField(text, pos, 4, c, cDigits)) return std::nullopt;
    if (cDigits == 2) {
      c += c < 30 ? 2000 : 1900;
    } else if (cDigits != 4) {
      return std::nullopt;
    }
    date = {c, b, a};
  }
  if (!ValidTimeTail(text.substr(pos))) return std::nullopt;
  if (date.year < 100 || date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > DaysInMonth(date.year, date.month))
    return std::nullopt;
  return date;
}

}  // namespace PRESCORA_NS::platform::convert
