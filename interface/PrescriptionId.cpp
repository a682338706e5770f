#include "interface/PrescriptionId.h"

#include <chrono>
#include <fstream>
#include <thread>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/clock.h"
#include "common/platform/component.h"
#include "common/platform/files.h"

namespace PRESCORA_NS {

namespace {

constexpr std::size_t kStampLength = 12;  // yymmddhhmmss

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One look under the lock: true and the identifier recorded when it was not given yet. The file
// keeps the identifiers given in this second and later ones (a clock put back meets them again).
bool TryReserve(const std::string& path, const std::string& prefix, const std::string& stamp) {
  std::ifstream in(path, std::ios::binary);
  std::string kept;
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() <= kStampLength + 1 || line[kStampLength] != ' ') continue;
    const std::string_view lineStamp(line.data(), kStampLength);
    if (lineStamp < stamp) continue;
    if (lineStamp == stamp && SameLetters(std::string_view(line).substr(kStampLength + 1), prefix))
      return false;
    kept += line + "\n";
  }
  in.close();
  kept += stamp + " " + prefix + "\n";
  platform::files::WriteOver(path, kept);
  return true;
}

}  // namespace

std::string ReserveGeneratedId(const std::string& prefix, const char* source) {
  const std::string path = AddBackslash(platform::component::LibraryFolder()) + kGeneratedIdsFile;
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
