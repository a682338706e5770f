#include "common/platform/profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "common/platform/files.h"
#include "common/platform/inirules.h"

namespace PRESCORA_NS::platform::profile {

namespace {

using namespace inirules;

// The file as lines, with what it takes to write it back the way it was.
struct Content {
  std::vector<std::string> lines;
  bool bom = false;
  bool crlf = false;
};

Content Parse(std::string_view text) {
  Content content;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    content.bom = true;
    text.remove_prefix(3);
  }
  content.crlf = text.find("\r\n") != std::string_view::npos;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    content.lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return content;
}

std::string Serialize(const Content& content) {
  std::string out;
  if (content.bom) out += "\xEF\xBB\xBF";
  const char* eol = content.crlf ? "\r\n" : "\n";
  for (const std::string& line : content.lines) {
    out += line;
    out += eol;
  }
  return out;
}

struct Position {
  std::optional<std::size_t> section;  // index of the section line
  std::optional<std::size_t> key;      // index of the key line
  std::size_t insertAt = 0;            // where a new key of the section goes
};

Position Find(const Content& content, std::string_view section, std::string_view key) {
  Position position;
  for (std::size_t i = 0; i < content.lines.size(); ++i) {
    auto name = SectionOf(content.lines[i]);
    if (!name) continue;
    if (!SameName(*name, section)) continue;
    position.section = i;
    position.insertAt = i + 1;
    for (std::size_t j = i + 1; j < content.lines.size(); ++j) {
      if (SectionOf(content.lines[j])) break;
      // After the section's last line of its own; a comment may already open the next one.
      std::string_view trimmed = Trim(content.lines[j]);
      if (!trimmed.empty() && trimmed.front() != ';') position.insertAt = j + 1;
      auto entry = EntryOf(content.lines[j]);
      if (entry && SameName(entry->first, key)) {
        position.key = j;
        return position;
      }
    }
    return position;
  }
  return position;
}

std::optional<std::string> Lookup(const Content& content, std::string_view section,
                                  std::string_view key) {
  Position position = Find(content, section, key);
  if (!position.key) return std::nullopt;
  return Unquote(EntryOf(content.lines[*position.key])->second);
}

void Set(Content& content, std::string_view section, std::string_view key, std::string_view value) {
  Position position = Find(content, section, key);
  if (position.key) {
    std::string& line = content.lines[*position.key];
    std::string name(EntryOf(line)->first);
    line = name + "=" + OneLine(value);
    return;
  }
  std::string entry = OneLine(key) + "=" + OneLine(value);
  if (position.section) {
    content.lines.insert(content.lines.begin() + static_cast<std::ptrdiff_t>(position.insertAt),
                         entry);
    return;
  }
  content.lines.push_back("[" + OneLine(section) + "]");
  content.lines.push_back(entry);
}

enum class ReadResult { Read, Missing, Failed };

// A settings file is a few kilobytes; one far larger is not read at all, so that reading it
// never holds a dispensing past its time-out.
constexpr std::uint64_t kMaxFileBytes = 4u << 20;

ReadResult ReadFile(const std::string& path, std::string& text) {
  text.clear();
  // The settings file may be a trusted link (an installed package keeps it elsewhere); never
  // another link, a pipe or a device.
  int fd = files::OpenRegular(path, O_RDONLY, 0666, true);
  if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  const bool read = files::ReadLimited(fd, text, kMaxFileBytes);
  const int err = errno;
  close(fd);
  if (!read) {
    text.clear();
    if (err == EFBIG) {
      errno = EFBIG;
      files::ReportRefusal(path, "supera el tamaño máximo de un archivo de configuración (4 MB)");
    }
    errno = err;
    return ReadResult::Failed;
  }
  return ReadResult::Read;
}

// The file's own path: the exact name when it exists, else a name in the same folder that
// differs only in letter case (the settings file is "Interface.ini" for one library and
// "interface.ini" for the other); a symbolic link leads to its target, so writes replace the
// target and keep the link.
std::string Resolve(const std::string& file) {
  struct stat st {};
  if (lstat(file.c_str(), &st) == 0) {
    // Only a trusted link is followed; any other is left to the open, which refuses it.
    if (S_ISLNK(st.st_mode) && files::TrustedLink(file)) {
      if (char* real = realpath(file.c_str(), nullptr)) {
        std::string target = real;
        std::free(real);
        return target;
      }
    }
    return file;
  }
  std::string found = files::FindIgnoringCase(file);
  return found == file ? file : Resolve(found);
}

// Rewrites the file where it stands, for a folder that allows no new file but whose file may be
// written: the bytes are written over the old ones, then the file is cut to their length, so the
// file never goes empty. Keeps the file's owner and mode. 0, or the errno of the failure.
int WriteInPlace(const std::string& path, const std::string& text) {
  int fd = files::OpenRegular(path, O_WRONLY);
  if (fd < 0) return errno;
  int err = 0;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (err == 0 && ftruncate(fd, static_cast<off_t>(text.size())) != 0) err = errno;
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  return err;
}

// Replaces the file with `text`: a temporary file beside it, flushed to disk, renamed into place.
// When the folder allows no new file, an existing file is written in place instead. True when
// written; otherwise errno tells why.
bool Replace(const std::string& path, const std::string& text) {
  static std::atomic<unsigned> counter{0};
  struct stat old {};
  bool existed = stat(path.c_str(), &old) == 0;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(counter++);
    // 0666 lets the umask decide the mode of a new file, as for any file the user creates.
    fd = files::OpenRegular(temp, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno != EEXIST) {
      int err = errno;
      if (existed && (err == EACCES || err == EPERM || err == EROFS))
        err = WriteInPlace(path, text);
      errno = err;
      return err == 0;
    }
  }
  if (fd < 0) return false;
  bool ok = true;
  if (existed) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Only the owner's group may be kept by a user who is not root; the mode still is.
    }
    ok = fchmod(fd, old.st_mode & 07777) == 0;
  }
  ok = ok && files::WriteAll(fd, text) && fsync(fd) == 0;
  int err = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    errno = err != 0 ? err : EIO;
  }
  return ok;
}

// The reads of a thread that come from one reading of their file.
thread_local ReadTogether* readingTogether = nullptr;

}  // namespace

struct ReadTogether::Reading {
  bool read = false;  // false: missing or unreadable, every key reads as its default
  Content content;
};

struct ReadTogetherAccess {
  // The reading shared by the reads of that file now, made if need be; nothing when none is.
  static const ReadTogether::Reading* For(const std::string& file) {
    ReadTogether* together = readingTogether;
    while (together != nullptr && together->file_ != file) together = together->outer_;
    if (together == nullptr) return nullptr;
    if (!together->reading_) {
      auto reading = std::make_unique<ReadTogether::Reading>();
      std::string text;
      reading->read = ReadFile(Resolve(file), text) == ReadResult::Read;
      if (reading->read) reading->content = Parse(text);
      together->reading_ = std::move(reading);
    }
    return together->reading_.get();
  }
  static void Written(const std::string& file) {
    for (ReadTogether* together = readingTogether; together != nullptr; together = together->outer_)
      if (together->file_ == file) together->reading_.reset();
  }
};

namespace {

// Writes over the few bytes in which `now` differs from `before`, the file's content as read,
// when both have one length and those bytes lie in one block of files::kAtomicWrite: a write
// made whole or not at all, which leaves every other byte of the file where it is. Not flushed.
// False, and nothing written, otherwise.
bool WriteDifferenceInPlace(const std::string& path, const std::string& before,
                            const std::string& now) {
  if (before.size() != now.size()) return false;
  std::size_t first = 0;
  while (first < now.size() && before[first] == now[first]) ++first;
  if (first == now.size()) return true;
  std::size_t last = now.size() - 1;
  while (before[last] == now[last]) --last;
  if (first / files::kAtomicWrite != last / files::kAtomicWrite) return false;
  int fd = files::OpenRegular(path, O_WRONLY);
  if (fd < 0) return false;
  struct stat st {};
  const std::size_t length = last - first + 1;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::size_t>(st.st_size) == before.size() &&
            pwrite(fd, now.data() + first, length, static_cast<off_t>(first)) ==
                static_cast<ssize_t>(length);
  close(fd);
  return ok;
}

// Read-modify-write of the file under its lock. `modify` changes the content and returns false
// to leave the file as it is. `inPlace`: a change of a few bytes that keeps the file's length is
// written where it stands, without a flush (WriteDifferenceInPlace); any other is a flushed
// replacement of the file.
template <typename Modify>
bool Rewrite(const std::string& file, Modify&& modify, bool inPlace = false) {
  ReadTogetherAccess::Written(file);
  std::string path = Resolve(file);
  FolderLock lock(path);
  if (!lock.Held()) return false;
  std::string text;
  ReadResult read = ReadFile(path, text);
  // A file that exists but cannot be read is never replaced: that would lose its content.
  if (read == ReadResult::Failed) return false;
  Content content = Parse(text);
  if (!modify(content)) return true;
  std::string now = Serialize(content);
  if (inPlace && read == ReadResult::Read && WriteDifferenceInPlace(path, text, now)) return true;
  return Replace(path, now);
}

}  // namespace

std::string ResolvedPath(const std::string& file) {
  return Resolve(file);
}

std::string GetString(const std::string& file, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferChars) {
  std::size_t room = bufferChars == 0 ? 0 : bufferChars - 1;
  std::string text;
  std::optional<std::string> value;
  if (!section.empty() && !key.empty()) {
    if (const ReadTogether::Reading* reading = ReadTogetherAccess::For(file)) {
      if (reading->read) value = Lookup(reading->content, Trim(section), Trim(key));
    } else if (ReadFile(Resolve(file), text) == ReadResult::Read) {
      value = Lookup(Parse(text), Trim(section), Trim(key));
    }
  }
  return Cut(value ? std::move(*value) : std::string(defaultValue), room);
}

ReadTogether::ReadTogether(std::string file) : file_(std::move(file)), outer_(readingTogether) {
  readingTogether = this;
}

ReadTogether::~ReadTogether() {
  readingTogether = outer_;
}

bool WriteString(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value) {
  return WriteStrings(file, section, {{std::string(key), std::string(value)}});
}

bool WriteStrings(const std::string& file, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>>& values) {
  try {
    if (!NamesGiven(section, values)) return false;
    section = Trim(section);
    return Rewrite(file, [&](Content& content) {
      for (const auto& [key, value] : values) Set(content, section, Trim(key), value);
      return true;
    });
  } catch (...) {
    return false;
  }
}

bool Update(const std::string& file, std::string_view section, std::string_view key,
            const std::function<std::optional<std::string>(const std::string&)>& change) {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty()) return false;
  return Rewrite(
      file,
      [&](Content& content) {
        std::optional<std::string> next = change(Lookup(content, section, key).value_or(""));
        if (!next) return false;
        Set(content, section, key, *next);
        return true;
      },
      true);
}

FolderLock::FolderLock(const std::string& file) {
  auto slash = file.rfind('/');
  std::string folder = slash == std::string::npos ? "." : file.substr(0, slash);
  if (folder.empty()) folder = "/";
  {
    auto guard = forks::Guard();
    fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) fd_ = files::OpenRegular(file, O_RDONLY);
    if (fd_ < 0) return;
    forks::Add(*this);
  }
  // Waited for without the guard: a fork of the host must not wait for another process's write.
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      auto guard = forks::Guard();
      forks::Remove(*this);
      close(fd_);
      fd_ = -1;
      return;
    }
  }
}

FolderLock::~FolderLock() {
  auto guard = forks::Guard();
  forks::Remove(*this);
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}

void FolderLock::InChild() noexcept {
  close(fd_);
  fd_ = -1;
}

}  // namespace PRESCORA_NS::platform::profile
