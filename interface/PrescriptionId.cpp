#include "interface/PrescriptionId.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <sstream>
#include <thread>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/clock.h"
#include "common/platform/component.h"
#include "common/platform/files.h"

namespace PRESCORA_NS {

namespace {

constexpr std::size_t kStampLength = 12;  // yymmddhhmmss

// A stamp as seconds on a plain count, to tell how far apart two are; nothing when it is not one.
std::optional<int64_t> Seconds(std::string_view stamp) {
  if (stamp.size() != kStampLength) return std::nullopt;
  int field[6];
  for (int i = 0; i < 6; ++i) {
    const char a = stamp[2 * i], b = stamp[2 * i + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
    field[i] = (a - '0') * 10 + (b - '0');
  }
  namespace chrono = std::chrono;
  const chrono::sys_days date{chrono::year{2000 + field[0]} /
                              chrono::month{static_cast<unsigned>(field[1])} /
                              chrono::day{static_cast<unsigned>(field[2])}};
  return static_cast<int64_t>(date.time_since_epoch().count()) * 86400 + field[3] * 3600 +
         field[4] * 60 + field[5];
}

// The local clock may be put back, an hour when summer time ends: identifiers of that long ago
// are remembered, so that the same seconds met again are not given twice.
constexpr int64_t kRemembered = 3 * 3600;

// One look under the lock: true and the identifier recorded when it was not given yet.
bool TryReserve(const std::string& path, const std::string& prefix, const std::string& stamp) {
  const std::optional<int64_t> now = Seconds(stamp);
  // Three hours of identifiers: far below this, whatever the pace of the pharmacy.
  constexpr std::size_t kMostRead = 4 * 1024 * 1024;
  std::string text;
  if (!platform::files::ReadHead(path, text, kMostRead) && errno != ENOENT)
    platform::RaiseFromErrno(errno);
  std::istringstream in(text);
  std::string kept;
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() <= kStampLength + 1 || line[kStampLength] != ' ') continue;
    const std::string_view lineStamp(line.data(), kStampLength);
    const std::optional<int64_t> then = Seconds(lineStamp);
    if (!then || (now && *now - *then > kRemembered)) continue;
    if (lineStamp == stamp && platform::component::EqualsIgnoringCase(
                                  std::string_view(line).substr(kStampLength + 1), prefix))
      return false;
    kept += line + "\n";
  }
  kept += stamp + " " + prefix + "\n";
  platform::files::WriteOver(path, kept);
  return true;
}

}  // namespace

std::string ReserveGeneratedId(const std::string& prefix, const char* source) {
  const std::string root = platform::component::InLibraryFolder("");
  if (!platform::files::IsDirectory(root + kGeneratedIdsFolder))
    platform::files::MakeDirectory(root + kGeneratedIdsFolder);
  const std::string path = root + kGeneratedIdsFile;
  platform::files::LockFile lock(path);
  // A clock that does not move on cannot give a new identifier: better refused than waited for.
  std::string lastStamp;
  auto giveUp = std::chrono::steady_clock::now();
  for (;;) {
    const std::string stamp = platform::clock::Format(platform::clock::Now(), "yyMMddHHmmss");
    if (stamp != lastStamp) {
      lastStamp = stamp;
      giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    }
    bool reserved;
    lock.Lock();
    try {
      reserved = TryReserve(path, prefix, stamp);
    } catch (...) {
      lock.Unlock();
      throw;
    }
    lock.Unlock();
    if (reserved) return prefix + stamp;
    if (std::chrono::steady_clock::now() > giveUp) Raise(errDispensingInFlight, source);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace PRESCORA_NS
