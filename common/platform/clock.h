// Tick counter and local time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/Export.h"

namespace PRESCORA_NS::platform::clock {

// Milliseconds from a monotonic clock, folded into 32 bits: wraps about every 49.7 days.
uint32_t TickCount();

// Tests replace the tick source of the calling thread; an empty function restores the real one.
void SetTickSourceForTesting(std::function<uint32_t()> source);

struct LocalTime {
  int year = 0;    // 4 digits
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-59
};

LocalTime Now();

// Tests pin the local time seen by the calling thread; an empty function restores the real one.
void SetNowForTesting(std::function<LocalTime()> source);

// Formats with the tokens yyyy, yy, MM, dd, HH (or hh, also 24-hour), mm, ss (two digits each
// except yyyy); every other character is copied. Format(t, "yyyy/MM/dd HH:mm:ss") gives 2026/12/07
// 09:05:03.
std::string Format(const LocalTime& time, std::string_view pattern);

// The system's general date format: "dd/MM/yyyy H:mm:ss", as in 07/12/2026 9:05:03.
std::string GeneralDate(const LocalTime& time);

}  // namespace PRESCORA_NS::platform::clock
