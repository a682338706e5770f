// The runtime's conversions, as the settings, the records and the waits use them.
//
// Numbers use "." as the decimal point. Spaces around a number are allowed.
// Dates, day first as in Spanish regional settings: d/m/yyyy, dd/mm/yyyy, dd-mm-yyyy, d-m-yyyy,
// dd/mm/yy and d-m-yy (years 00-29 are 2000-2029, 30-99 are 1930-1999); and yyyy-mm-dd or
// yyyy/mm/dd. One separator throughout. A time "H:mm" or "H:mm:ss" may follow after a space and
// is ignored. Years below 100 are refused, and the date must exist in the calendar (31/02/2026
// is not a date).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/Export.h"

namespace PRESCORA_NS::platform::convert {

// Text to a 16-bit signed integer: a fraction is rounded to the nearest integer, halves to even.
// Not a number (the empty text included) raises 13; out of range raises 6.
int16_t ToInt16(std::string_view text);
// The same for 32-bit.
int32_t ToInt32(std::string_view text);
// Text to a Boolean: "True" or "False" (also "Verdadero", "Falso"; any case), or a number, true
// when it is not zero. Anything else (the empty text included) raises 13.
bool ToBoolean(std::string_view text);
// Rounds halves to even into 32-bit; out of range raises 6.
int32_t RoundToInt32(double value);

// The longest number at the start of the text (spaces skipped first); 0 when there is none.
double LeadingNumber(std::string_view text);

// Whether the text converts to a number (spaces around allowed; the empty text is not numeric).
bool IsNumeric(std::string_view text);

struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
};
// The date written in one of the accepted forms, or nothing.
std::optional<Date> ParseDate(std::string_view text);
inline bool IsDate(std::string_view text) {
  return ParseDate(text).has_value();
}

// "True" / "False", as Booleans appear in log lines.
inline const char* BoolText(bool value) {
  return value ? "True" : "False";
}

}  // namespace PRESCORA_NS::platform::convert
