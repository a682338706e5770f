#include "common/CLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/text.h"

namespace PRESCORA_NS {

namespace {

constexpr const char* kEol = "\r\n";

std::string TimeStamp(const platform::clock::LocalTime& now) {
  return platform::clock::Format(now, "yyyy/MM/dd HH:mm:ss ");
}

std::string Banner(const std::string& header, const platform::clock::LocalTime& now) {
  const std::string stars(80, '*');
  std::string banner = stars + kEol;
  banner += header + " " + PRESCORA_TITLE + " " + std::to_string(PRESCORA_VERSION_MAJOR) + "." +
            std::to_string(PRESCORA_VERSION_MINOR) + "\t" + platform::clock::GeneralDate(now) +
            kEol;
  banner += stars + kEol;
  return banner;
}

// 0 when the line was appended, else the errno of the failure.
int Append(const std::string& file, const std::string& line) {
  // A log may be a trusted link (an installed package keeps logs elsewhere); never another link,
  // a pipe or a device.
  int fd = platform::files::OpenRegular(file, O_WRONLY | O_APPEND, 0666, true);
  if (fd < 0) return errno;
  int err = platform::files::WriteAll(fd, line) ? 0 : (errno != 0 ? errno : EIO);
  close(fd);
  return err;
}

// Creates the missing file holding `first` (banner and line) as it appears to every other
// writer: written aside, then linked into place, so the file never exists without its banner and
// of two processes creating it at once exactly one succeeds. False when the file exists already.
enum class Created { Yes, Exists, Failed };

Created Create(const std::string& file, const std::string& first) {
  static std::atomic<unsigned> counter{0};
  std::string temp = file + ".new" + std::to_string(getpid()) + "." + std::to_string(counter++);
  int fd = platform::files::OpenRegular(temp, O_WRONLY | O_CREAT | O_EXCL);
  if (fd < 0) {
    // The folder may allow no extra file; create the log itself, banner in the same write.
    fd = platform::files::OpenRegular(file, O_WRONLY | O_CREAT | O_EXCL | O_APPEND);
    if (fd < 0) return errno == EEXIST ? Created::Exists : Created::Failed;
    platform::files::WriteAll(fd, first);
    close(fd);
    return Created::Yes;
  }
  bool written = platform::files::WriteAll(fd, first);
  close(fd);
  Created result = Created::Failed;
  if (written) {
    if (link(temp.c_str(), file.c_str()) == 0) {
      result = Created::Yes;
    } else if (errno == EEXIST) {
      result = Created::Exists;
    } else if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
      // A file system without hard links.
      int direct = platform::files::OpenRegular(file, O_WRONLY | O_CREAT | O_EXCL | O_APPEND);
      if (direct >= 0) {
        platform::files::WriteAll(direct, first);
        close(direct);
        result = Created::Yes;
      } else if (errno == EEXIST) {
        result = Created::Exists;
      }
    }
  }
  unlink(temp.c_str());
  return result;
}

// One line into the file: appended in one write, or with the banner when the file is new.
void Emit(const CLog& log, const std::string& line, const platform::clock::LocalTime& now,
          bool startLine) {
  const std::string& file = log.FileName();
  if (file.empty()) return;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (Append(file, line) != ENOENT) return;
    std::string first = Banner(log.Header(), now);
    if (startLine) first += TimeStamp(now) + " Iniciando la clase CInterface" + kEol;
    first += line;
    // Another writer created it in between: append to theirs.
    if (Created result = Create(file, first); result != Created::Exists) return;
  }
}

}  // namespace

void CLog::Writeln(std::string_view text, bool blnDate) noexcept {
  try {
    auto now = platform::clock::Now();
    if ((options_ & optWriteToFile) == 0) return;
    std::string line = blnDate ? TimeStamp(now) : std::string();
    // A text may come from the service or the settings: it stays on its line and shows no
    // password of a URL.
    line += platform::text::ForLog(text);
    line += kEol;
    Emit(*this, line, now, true);
  } catch (...) {
  }
}

void CLog::WriteTrace(const void* caller, bool blnIn, std::string_view procedure,
                      std::string_view value, bool blnDate) noexcept {
  (void)caller;
  try {
    if ((options_ & (optWriteToFile | optAccepted)) == 0) return;
    auto now = platform::clock::Now();
    std::string trace = blnIn ? "IN " : "OUT";
    trace += '\t';
    trace += platform::text::ForLog(procedure);
    trace += '\t';
    trace += platform::text::ForLog(value);
    trace += '\t';
    if ((options_ & optWriteToFile) == 0) return;
    std::string line = blnDate ? TimeStamp(now) + trace : trace;
    line += kEol;
    Emit(*this, line, now, false);
  } catch (...) {
  }
}

}  // namespace PRESCORA_NS
