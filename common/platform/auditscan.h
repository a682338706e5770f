// Reading a growing private-profile file by lines and sections without holding it whole: the
// raw reads and writes, the look through it from the start, the look for one section from the
// end or from a known place, and the edit of one section's lines. Used by `profiletail` and by
// its index; nothing here locks or writes the file itself.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Export.h"

namespace PRESCORA_NS::platform::auditscan {

// How much of the file is read at once.
inline constexpr std::size_t kChunk = 64 * 1024;

// A line longer than any line of a section is never held whole: a file grown by accident or on
// purpose costs a look through it no more memory than this.
inline constexpr std::size_t kLongestLine = 64 * 1024;

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Exactly `length` bytes at `offset`; false when fewer are there or the read fails.
bool ReadAt(int fd, std::string& out, off_t offset, std::size_t length);

// All of `data` at `offset`.
bool WriteAt(int fd, std::string_view data, off_t offset);

std::string_view WithoutLineEnd(std::string_view line);

// A UTF-8 byte order mark is no part of the file's first line.
std::string_view WithoutBom(std::string_view line, off_t at);

// Every line of the file, first to last, with the offset where it starts (its end of line left
// on). A line past kLongestLine is given as empty, with its true length in `length`.
bool ForEachLine(int fd, off_t size,
                 const std::function<void(std::string_view, off_t, std::size_t)>& visit);

// Every section name of the file with the offset of its line, first to last.
bool ForEachSection(int fd, off_t size, const std::function<void(std::string_view, off_t)>& visit);

// Where a section lies: from its "[name]" line to the next section's line or the end.
struct Located {
  off_t start;
  off_t end;
};

// The last section of that name, looking from the end of the file.
std::optional<Located> FindFromEnd(int fd, off_t size, std::string_view section);

// The section whose line starts at `place`, if it is that one, with where it ends.
std::optional<Located> FindAt(int fd, off_t size, std::string_view section, off_t place);

// The text's lines without their ends.
std::vector<std::string> Lines(std::string_view text);

// The section's lines with the values set as `profile` sets them: an existing key keeps its
// name and takes the value; a new key goes after the section's last line of its own.
std::string SetInSection(std::string_view region, std::string_view section,
                         const std::vector<std::pair<std::string, std::string>>& values,
                         const char* eol);

// Whether the file writes its lines with CR LF, judged by its beginning.
bool UsesCrlf(int fd, off_t size);

}  // namespace PRESCORA_NS::platform::auditscan
