// The few file-system operations the spool folders need, over POSIX.
//
// Existence lookups see every file, hidden (dot) files included. Failing operations raise the
// runtime error the platform would give (53 missing file, 70 permission denied, 76 missing
// folder, 75 any other path or file access error).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Export.h"
#include "common/platform/forks.h"

namespace PRESCORA_NS::platform::files {

// Files of the library folder and its subfolders are opened only through OpenRegular: never
// through a symbolic link, never waiting on a pipe or a device, and only when what is there is a
// regular file. A link is followed only where the caller allows a trusted one (the settings file,
// a log, a subfolder): the link and what it leads to both belong to root or to the owner of the
// folder that holds the link, and what it leads to may not be written by others. That is how an
// installed package may keep its spool folders and logs elsewhere, while a link planted by
// someone else is refused.
//
// Opens `path` with `flags` (O_RDONLY, O_WRONLY or O_RDWR, with O_CREAT, O_EXCL, O_TRUNC,
// O_APPEND as wanted; O_CLOEXEC is added). The folder holding the file may itself be a trusted
// link only. -1 when it cannot, with errno: ELOOP for a refused link, ENODEV for something that is
// not a regular file (a pipe, a device, a folder), or the failure of open. A refusal (ELOOP,
// ENODEV) is also told to the reporter set with SetRefusalReporter.
int OpenRegular(const std::string& path, int flags, unsigned mode = 0666,
                bool allowTrustedLink = false) noexcept;
// Whether a refusal of OpenRegular left this errno.
bool Refused(int err) noexcept;
// Whether a folder may be used: a real folder, or a trusted link to one.
bool TrustedFolder(const std::string& path) noexcept;
// Whether `path` is a symbolic link that may be followed under the rule above.
bool TrustedLink(const std::string& path) noexcept;
// Told of every refused file (its path and a short Spanish reason), for the message log. The
// reporter is not called again while it runs (a refused log file must not loop).
void SetRefusalReporter(void (*reporter)(const std::string& path, const char* reason)) noexcept;
// Tells the reporter of a refused file (one read past its size limit, for example).
void ReportRefusal(const std::string& path, const char* reason) noexcept;
// Reads a whole file opened with OpenRegular, up to `limit` bytes: false (errno EFBIG) past it.
bool ReadLimited(int fd, std::string& text, std::uint64_t limit) noexcept;

// Reads up to `most` bytes from the start of a regular file (through OpenRegular). False when
// it cannot be opened or read.
bool ReadHead(const std::string& path, std::string& text, std::size_t most) noexcept;

// A random text no other process can guess (hexadecimal, 32 characters).
std::string RandomToken();

// Whether anything exists at the path: a file or a folder.
bool Exists(const std::string& path) noexcept;

// Writes all of `data` to an open descriptor, going on after interrupted and partial writes.
// False on the first failed write (errno tells why).
bool WriteAll(int fd, std::string_view data) noexcept;
// Whether a file that is not a folder exists at the path.
bool IsFile(const std::string& path) noexcept;
bool IsDirectory(const std::string& path) noexcept;
// Whether both paths name one and the same existing file.
bool SameFile(const std::string& first, const std::string& second) noexcept;

// The library folder's own files (settings, default response) are found whatever the letter case
// of their names, as on the platform the system comes from: the path itself when something exists
// there, else the first entry of the same folder whose name differs only in letter case (ASCII),
// else the path unchanged.
std::string FindIgnoringCase(const std::string& path);

// Creates one folder (its parent must exist).
void MakeDirectory(const std::string& path);

// Copies a file, replacing the destination. The copy is written beside the destination and
// renamed into place, so the destination is either the old file or the whole new one; it has
// the source's permissions (less the umask).
void Copy(const std::string& source, const std::string& destination);

// Deletes a file.
void Delete(const std::string& path);

// Length in bytes.
std::uint64_t Size(const std::string& path);

// Clears read-only: the owner may read and write the file ("archive only").
void MakeWritable(const std::string& path);

// Renames a file, replacing the destination.
void Rename(const std::string& from, const std::string& to);

// Writes `text` over the start of the existing file and cuts the file to its length; false, and
// nothing written, when there is no such file or it may not be opened for writing (errno says
// why; Refused(errno) for a link or what is not a regular file). For a short text
// (a line of a few bytes) that only a holder of a lock reads: the write is never seen half done,
// and once it is done the text stands whole at the start, whatever follows it until the cut. Raises
// the file system's error.
bool WriteOver(const std::string& path, std::string_view text);

// Moves a file into `folder` as `stem` + `extension`, or, when that name is taken, as
// `stem` + " (2)" + `extension`, " (3)", ...: never replaces a file, also against another process
// moving a file of the same name at the same moment. Returns the name given (without the folder).
std::string MoveWithoutReplacing(const std::string& from, const std::string& folder,
                                 const std::string& stem, const std::string& extension);

// The largest write that never lands half done: one within a single aligned block of this size
// keeping the file's length. It rests on the disk writing a sector (512 bytes, the smallest one
// any disk has; a larger sector holds whole aligned 512-byte blocks) whole or not at all when
// the power fails, and on the kernel copying such a write, which never crosses a page, into the
// page cache whole even when the writer is killed during it.
inline constexpr std::size_t kAtomicWrite = 512;

// Locks of one lock file, held per opened file (open file description locks): two objects of one
// process exclude each other as two processes do; a lock goes with the object, or with the process
// when it ends however it ends, and is never inherited by a started program. Byte 0 serialises
// short steps; every other byte may serve as a lock of its own, held as long as needed.
// Its descriptor does not follow a fork of the host: the child lets it go, so the locks stay the
// parent's alone.
class LockFile : private forks::Holder {
 public:
  // Opens the file, creating it when missing. Raises the file system's error when it cannot.
  explicit LockFile(const std::string& path);
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Waits for byte 0 and takes it; Unlock gives it back.
  void Lock();
  void Unlock() noexcept;
  // Takes one byte (offset > 0) without waiting: false when someone else holds it.
  bool TryLockByte(std::uint64_t offset);
  // Whether someone else holds that byte.
  bool LockedByOther(std::uint64_t offset) const;

 private:
  void InChild() noexcept override;

  int fd_ = -1;
};

// Lets a polling loop sleep between its looks and still wake as soon as a file lands in one
// folder (created in it or renamed into it). Best effort: when the folder cannot be watched (it
// is missing, no watch is left), Watching() is false and Pause simply sleeps; a second watch
// begun on the same thread while one is alive may leave the first one sleeping its full pauses.
class FolderWatch {
 public:
  explicit FolderWatch(const std::string& folder) noexcept;
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  bool Watching() const noexcept { return fd_ >= 0; }
  // Sleeps up to `longest`; true when it ended early because something landed in the folder
  // since the last call (or since the watch began).
  bool Pause(std::chrono::milliseconds longest) noexcept;

 private:
  int fd_ = -1;  // the thread's notice queue while the folder is watched
  int wd_ = -1;
};

}  // namespace PRESCORA_NS::platform::files
