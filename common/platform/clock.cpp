#include "common/platform/clock.h"

#include <time.h>

#include <chrono>

namespace PRESCORA_NS::platform::clock {

namespace {
thread_local std::function<uint32_t()> tickSource;
thread_local std::function<LocalTime()> nowSource;

void AppendNumber(std::string& out, int value, std::size_t width) {
  if (value < 0) {
    out += '-';
    value = -value;
  }
  std::string digits = std::to_string(value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}
}  // namespace

uint32_t TickCount() {
  if (tickSource) return tickSource();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void SetTickSourceForTesting(std::function<uint32_t()> source) {
  tickSource = std::move(source);
}

LocalTime Now() {
  if (nowSource) return nowSource();
  time_t now = time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

void SetNowForTesting(std::function<LocalTime()> source) {
  nowSource = std::move(source);
}

std::string Format(const LocalTime& time, std::string_view pattern) {
  std::string out;
  std::size_t i = 0;
  auto at = [&](std::string_view token) { return pattern.substr(i, token.size()) == token; };
  while (i < pattern.size()) {
    if (at("yyyy")) {
      AppendNumber(out, time.year, 4);
      i += 4;
    } else if (at("yy")) {
      AppendNumber(out, time.year % 100, 2);
      i += 2;
    } else if (at("MM")) {
      AppendNumber(out, time.month, 2);
      i += 2;
    } else if (at("dd")) {
      AppendNumber(out, time.day, 2);
      i += 2;
    } else if (at("HH") || at("hh")) {
      AppendNumber(out, time.hour, 2);
      i += 2;
    } else if (at("mm")) {
      AppendNumber(out, time.minute, 2);
      i += 2;
    } else if (at("ss")) {
      AppendNumber(out, time.second, 2);
      i += 2;
    } else {
      out += pattern[i++];
    }
  }
  return out;
}

std::string GeneralDate(const LocalTime& time) {
  std::string out = Format(time, "dd/MM/yyyy ");
  AppendNumber(out, time.hour, 1);
  out += Format(time, ":mm:ss");
  return out;
}

}  // namespace PRESCORA_NS::platform::clock
