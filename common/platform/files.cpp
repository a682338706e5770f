#include "common/platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "common/platform/errors.h"

namespace PRESCORA_NS::platform::files {

namespace {

// A descriptor closed on every way out.
class Fd {
 public:
  explicit Fd(int fd) noexcept : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const noexcept { return fd_; }
  int release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::string ParentOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::atomic<void (*)(const std::string&, const char*)> refusalReporter{nullptr};
thread_local bool reporting = false;

// Tells the reporter, and leaves errno as the refusal says.
void Refuse(const std::string& path, int err, const char* reason) noexcept {
  auto reporter = refusalReporter.load();
  if (reporter != nullptr && !reporting) {
    reporting = true;
    try {
      reporter(path, reason);
    } catch (...) {
    }
    reporting = false;
  }
  errno = err;
}

bool TrustedOwner(uid_t owner, uid_t folderOwner) {
  return owner == 0 || owner == folderOwner;
}

}  // namespace

bool TrustedLink(const std::string& path) noexcept {
  struct stat link {};
  struct stat target {};
  struct stat folder {};
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return false;
  if (::stat(ParentOf(path).c_str(), &folder) != 0) return false;
  if (::stat(path.c_str(), &target) != 0) return false;
  return TrustedOwner(link.st_uid, folder.st_uid) && TrustedOwner(target.st_uid, folder.st_uid) &&
         (target.st_mode & S_IWOTH) == 0;
}

bool TrustedFolder(const std::string& path) noexcept {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return true;  // a missing folder fails the open itself
  if (S_ISDIR(st.st_mode)) return true;
  return S_ISLNK(st.st_mode) && TrustedLink(path) && IsDirectory(path);
}

bool Refused(int err) noexcept {
  return err == ELOOP || err == ENODEV;
}

void ReportRefusal(const std::string& path, const char* reason) noexcept {
  const int err = errno;
  Refuse(path, err, reason);
}

void SetRefusalReporter(void (*reporter)(const std::string&, const char*)) noexcept {
  refusalReporter.store(reporter);
}

int OpenRegular(const std::string& path, int flags, unsigned mode, bool allowTrustedLink) noexcept {
  try {
    if (!TrustedFolder(ParentOf(path))) {
      Refuse(path, ELOOP, "la carpeta es un enlace simbólico no fiable");
      return -1;
    }
    // Cut only once it is known to be a regular file: a device is never truncated.
    const bool truncate = (flags & O_TRUNC) != 0;
    // Non-blocking: a pipe opened for reading would otherwise wait for a writer.
    const int base = (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path.c_str(), base | O_NOFOLLOW, static_cast<mode_t>(mode));
    if (fd < 0 && errno == ELOOP) {
      if (!allowTrustedLink || !TrustedLink(path)) {
        Refuse(path, ELOOP, "es un enlace simbólico");
        return -1;
      }
      fd = ::open(path.c_str(), base & ~O_CREAT, static_cast<mode_t>(mode));
    }
    if (fd < 0) {
      // A pipe opened for writing with no reader.
      if (errno == ENXIO) Refuse(path, ENODEV, "no es un archivo normal");
      return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      const int err = errno;
      ::close(fd);
      errno = err;
      return -1;
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      Refuse(path, ENODEV, "no es un archivo normal");
      return -1;
    }
    if (truncate && st.st_size > 0 && ::ftruncate(fd, 0) != 0) {
      const int err = errno;
      ::close(fd);
      errno = err;
      return -1;
    }
    return fd;
  } catch (...) {
    errno = ENOMEM;
    return -1;
  }
}

bool ReadLimited(int fd, std::string& text, std::uint64_t limit) noexcept {
  try {
    text.clear();
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR)) continue;
      if (n < 0) return false;
      if (n == 0) return true;
      if (text.size() + static_cast<std::uint64_t>(n) > limit) {
        errno = EFBIG;
        return false;
      }
      text.append(buffer, static_cast<std::size_t>(n));
    }
  } catch (...) {
    errno = ENOMEM;
    return false;
  }
}

bool ReadHead(const std::string& path, std::string& text, std::size_t most) noexcept {
  try {
    text.clear();
    Fd fd(OpenRegular(path, O_RDONLY));
    if (fd.get() < 0) return false;
    // Read by pieces: a small file costs no buffer of the largest size allowed.
    char piece[16384];
    while (text.size() < most) {
      const std::size_t want = std::min(sizeof piece, most - text.size());
      ssize_t n = ::pread(fd.get(), piece, want, static_cast<off_t>(text.size()));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      text.append(piece, static_cast<std::size_t>(n));
    }
    return true;
  } catch (...) {
    return false;
  }
}

std::string RandomToken() {
  unsigned char bytes[16] = {};
  std::size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) RaiseFromErrno(n < 0 ? errno : EIO);
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

bool WriteAll(int fd, std::string_view data) noexcept {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool Exists(const std::string& path) noexcept {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsFile(const std::string& path) noexcept {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsDirectory(const std::string& path) noexcept {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& first, const std::string& second) noexcept {
  struct stat a {};
  struct stat b {};
  return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string FindIgnoringCase(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) == 0) return path;
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : path.substr(0, slash);
  const std::string_view name = slash == std::string::npos
                                    ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  std::string found;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string_view candidate = entry->d_name;
      if (candidate.size() == name.size() &&
          std::equal(candidate.begin(), candidate.end(), name.begin(),
                     [&](char a, char b) { return lower(a) == lower(b); })) {
        found = path.substr(0, slash + 1) + entry->d_name;
        break;
      }
    }
    ::closedir(dir);
  }
  return found.empty() ? path : found;
}

void MakeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    int err = errno;
    // A missing parent folder is a path error, not a missing file.
    if (err == ENOENT) RaiseRuntime(errPathNotFound);
    RaiseFromErrno(err);
  }
}

void Copy(const std::string& source, const std::string& destination) {
  Fd in(OpenRegular(source, O_RDONLY));
  if (in.get() < 0) RaiseFromErrno(errno);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) RaiseFromErrno(errno);

  std::string folder = ParentOf(destination);
  if (!IsDirectory(folder)) RaiseRuntime(errPathNotFound);
  static std::atomic<unsigned> copies{0};
  std::string temp =
      destination + ".~" + std::to_string(::getpid()) + "-" + std::to_string(copies.fetch_add(1));
  // The copy is no more readable than its source: a spool file is its owner's alone.
  Fd out(OpenRegular(temp, O_WRONLY | O_CREAT | O_TRUNC, st.st_mode & 0777));
  if (out.get() < 0) RaiseFromErrno(errno);

  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::unlink(temp.c_str());
      RaiseFromErrno(err);
    }
    if (n == 0) break;
    if (!WriteAll(out.get(), std::string_view(buffer, static_cast<std::size_t>(n)))) {
      int err = errno;
      ::unlink(temp.c_str());
      RaiseFromErrno(err);
    }
  }
  if (::fsync(out.get()) != 0 || ::close(out.release()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    RaiseFromErrno(err);
  }
  if (::rename(temp.c_str(), destination.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    RaiseFromErrno(err);
  }
}

void Delete(const std::string& path) {
  if (IsDirectory(path)) RaiseFromErrno(EISDIR);
  if (::unlink(path.c_str()) != 0) RaiseFromErrno(errno);
}

std::uint64_t Size(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseFromErrno(errno);
  return static_cast<std::uint64_t>(st.st_size);
}

void MakeWritable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseFromErrno(errno);
  if (::chmod(path.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR) != 0) RaiseFromErrno(errno);
}

void Rename(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) RaiseFromErrno(errno);
}

bool WriteOver(const std::string& path, std::string_view text) {
  Fd fd(OpenRegular(path, O_WRONLY));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == EACCES || errno == EPERM || Refused(errno)) return false;
    RaiseFromErrno(errno);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) RaiseFromErrno(errno);
  const ssize_t n = ::pwrite(fd.get(), text.data(), text.size(), 0);
  if (n != static_cast<ssize_t>(text.size())) RaiseFromErrno(n < 0 ? errno : EIO);
  if (st.st_size > static_cast<off_t>(text.size()) &&
      ::ftruncate(fd.get(), static_cast<off_t>(text.size())) != 0)
    RaiseFromErrno(errno);
  if (::close(fd.release()) != 0) RaiseFromErrno(errno);
  return true;
}

std::string MoveWithoutReplacing(const std::string& from, const std::string& folder,
                                 const std::string& stem, const std::string& extension) {
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (int n = 1; n < 10000; ++n) {
    std::string name = stem + (n == 1 ? std::string() : " (" + std::to_string(n) + ")") + extension;
    std::string to = base + name;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
      return name;
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS) RaiseFromErrno(errno);
    // A file system without the no-replace rename: a new link fails when the name is taken.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return name;
    }
    if (errno != EEXIST) RaiseFromErrno(errno);
  }
  RaiseFromErrno(EEXIST);
}

namespace {

// One byte of a lock file, as fcntl wants it.
struct flock OneByte(short type, std::uint64_t offset) {
  struct flock region {};
  region.l_type = type;
  region.l_whence = SEEK_SET;
  region.l_start = static_cast<off_t>(offset);
  region.l_len = 1;
  region.l_pid = 0;  // required for open file description locks
  return region;
}

}  // namespace

LockFile::LockFile(const std::string& path) {
  auto guard = forks::Guard();
  // A lock file may be the package's own link into /var (a trusted one only).
  fd_ = OpenRegular(path, O_RDWR | O_CREAT, 0666, true);
  if (fd_ < 0) RaiseFromErrno(errno);
  forks::Add(*this);
}

LockFile::~LockFile() {
  auto guard = forks::Guard();
  forks::Remove(*this);
  if (fd_ >= 0) ::close(fd_);  // gives back every byte held
}

void LockFile::InChild() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void LockFile::Lock() {
  struct flock region = OneByte(F_WRLCK, 0);
  while (::fcntl(fd_, F_OFD_SETLKW, &region) != 0) {
    if (errno != EINTR) RaiseFromErrno(errno);
  }
}

void LockFile::Unlock() noexcept {
  struct flock region = OneByte(F_UNLCK, 0);
  ::fcntl(fd_, F_OFD_SETLK, &region);
}

bool LockFile::TryLockByte(std::uint64_t offset) {
  struct flock region = OneByte(F_WRLCK, offset);
  if (::fcntl(fd_, F_OFD_SETLK, &region) == 0) return true;
  if (errno == EAGAIN || errno == EACCES) return false;
  RaiseFromErrno(errno);
}

bool LockFile::LockedByOther(std::uint64_t offset) const {
  struct flock region = OneByte(F_WRLCK, offset);
  if (::fcntl(fd_, F_OFD_GETLK, &region) != 0) RaiseFromErrno(errno);
  return region.l_type != F_UNLCK;
}

namespace {

// One queue of change notices per thread, opened on first use and kept: closing a queue waits for
// the kernel to retire its watches, which can take several milliseconds; removing a watch does
// not wait.
class NoticeQueue {
 public:
  NoticeQueue() = default;
  ~NoticeQueue() {
    if (fd_ >= 0) ::close(fd_);
  }
  NoticeQueue(const NoticeQueue&) = delete;
  NoticeQueue& operator=(const NoticeQueue&) = delete;

  int Get() noexcept {
    if (fd_ < 0) fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return fd_;
  }
  // The descriptor is no longer ours (the host closed it): never close or read it again.
  void Forget() noexcept { fd_ = -1; }

 private:
  int fd_ = -1;
};

thread_local NoticeQueue notices;

// Reads away every notice queued so far; what they say does not matter, only that they came.
bool Drain(int fd) noexcept {
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  while (::read(fd, buffer, sizeof buffer) > 0) any = true;
  return any;
}

}  // namespace

FolderWatch::FolderWatch(const std::string& folder) noexcept {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = notices.Get();
    if (fd < 0) return;
    int wd = ::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    if (wd >= 0) {
      // Notices queued so far are stale: whatever has landed is for the first look to find, and
      // that look comes after this.
      Drain(fd);
      fd_ = fd;
      wd_ = wd;
      return;
    }
    if (errno != EBADF && errno != EINVAL) return;  // a missing folder, no watch left
    notices.Forget();
  }
}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) ::inotify_rm_watch(fd_, wd_);
}

bool FolderWatch::Pause(std::chrono::milliseconds longest) noexcept {
  if (fd_ >= 0) {
    pollfd watched{fd_, POLLIN, 0};
    const int ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(longest.count(), 0));
    // Time up, or a signal: either way the caller looks again.
    if (::poll(&watched, 1, ms) <= 0) return false;
    if ((watched.revents & POLLIN) != 0 && Drain(fd_)) return true;
    // A queue that is ready but gives nothing is broken: sleeping keeps the caller from spinning.
  }
  std::this_thread::sleep_for(longest);
  return false;
}

}  // namespace PRESCORA_NS::platform::files
