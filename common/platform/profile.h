// Private-profile (INI) settings files: the settings file and the audit file.
//
// Reading: section and key names are compared without regard to case; spaces around names and
// values are ignored; a value enclosed in matching quotes (" or ') comes back without them; a
// missing file, section or key reads as the default. A buffer of n characters returns at most
// n-1 of them.
//
// Writing: creates the file (never its folder), the section and the key when missing, replaces
// the value of an existing key and keeps every other line, comment and their order. Each write
// holds an exclusive flock on the file's folder and replaces the file atomically (a temporary
// file in the same folder, then rename), so readers never see half a file and concurrent writers
// of one file lose nothing. A file that may be written in a folder that allows no new file (a
// common install: the folder is the administrator's, the settings file the pharmacy user's) is
// written in place instead, under the same lock. A failed write leaves errno telling why.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Export.h"
#include "common/platform/forks.h"

namespace PRESCORA_NS::platform::profile {

std::string GetString(const std::string& file, std::string_view section, std::string_view key,
                      std::string_view defaultValue = "", std::size_t bufferChars = 255);

// While one lives, its thread's reads (GetString) of that settings file, named as here, come from
// one reading of the file, made at the first of them: settings read together come from one state
// of the file, read once for them all. A write of the file on the thread makes the next read
// read it again.
class ReadTogether {
 public:
  explicit ReadTogether(std::string file);
  ~ReadTogether();
  ReadTogether(const ReadTogether&) = delete;
  ReadTogether& operator=(const ReadTogether&) = delete;

 private:
  friend std::string GetString(const std::string&, std::string_view, std::string_view,
                               std::string_view, std::size_t);
  friend struct ReadTogetherAccess;
  struct Reading;
  std::string file_;
  std::unique_ptr<Reading> reading_;  // once read
  ReadTogether* outer_;
};

// The path the file is read from: the exact name when it exists, else a name in the same folder
// that differs only in letter case, a symbolic link followed to its target.
std::string ResolvedPath(const std::string& file);

// False when the file could not be written (missing folder, no permission); never throws.
bool WriteString(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value);

// Several keys of one section in one locked, atomic replacement.
bool WriteStrings(const std::string& file, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>>& values);

// Read-modify-write of one key under the lock. `change` receives the current value ("" when
// missing) and returns the new value, or nothing to leave the file untouched. An exception thrown
// by `change` releases the lock and propagates. False when the file could not be written. Made
// for counters: a new value of the old one's length (nearly every count) is written over the old
// one where it stands, the rest of the file untouched, and reaches the disk when the system writes
// it, within seconds; any other change is written as WriteStrings writes.
bool Update(const std::string& file, std::string_view section, std::string_view key,
            const std::function<std::optional<std::string>(const std::string&)>& change);

// Holds the exclusive cross-process lock of the files of one folder while alive: every writer of
// settings and audit files takes this one lock, so they never interleave. It is taken on the
// folder itself, which exists whenever its files do: no lock file is left behind (the audit trail
// makes a file a day), and a folder where the user may not create files still serves. Where the
// folder cannot be opened, the file itself is locked. A fork of the host does not keep it.
class FolderLock : private forks::Holder {
 public:
  explicit FolderLock(const std::string& file);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  void InChild() noexcept override;

  int fd_ = -1;
};

}  // namespace PRESCORA_NS::platform::profile
