#include "common/platform/auditscan.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/platform/inirules.h"

namespace PRESCORA_NS::platform::auditscan {

using namespace inirules;

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

bool ReadAt(int fd, std::string& out, off_t offset, std::size_t length) {
  out.resize(length);
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, out.data() + done, length - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAt(int fd, std::string_view data, off_t offset) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n =
        pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string_view WithoutBom(std::string_view line, off_t at) {
  if (at == 0 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  return line;
}

// Every line of the file, first to last, with the offset where it starts (its end of line left
// on). A line past kLongestLine is given as empty, with its true length in `length`.
bool ForEachLine(int fd, off_t size,
                 const std::function<void(std::string_view, off_t, std::size_t)>& visit) {
  std::string carry, chunk;
  std::size_t carried = 0;  // length of the line begun in an earlier chunk; carry holds its start
  off_t at = 0;
  off_t lineAt = 0;
  auto line = [&](std::string_view text, std::size_t length) {
    visit(length <= kLongestLine ? text : std::string_view(), lineAt, length);
    lineAt += static_cast<off_t>(length + 1);
  };
  auto keep = [&](std::string_view piece) {
    if (carry.size() < kLongestLine + 1)
      carry.append(piece.substr(0, kLongestLine + 1 - carry.size()));
    carried += piece.size();
  };
  while (at < size) {
    std::size_t length = static_cast<std::size_t>(std::min<off_t>(kChunk, size - at));
    if (!ReadAt(fd, chunk, at, length)) return false;
    at += static_cast<off_t>(length);
    std::size_t start = 0;
    for (std::size_t end; (end = chunk.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string_view piece(chunk.data() + start, end - start);
      if (carried == 0) {
        line(piece, piece.size());
      } else {
        keep(piece);
        line(carry, carried);
        carry.clear();
        carried = 0;
      }
    }
    keep(std::string_view(chunk).substr(start));
  }
  if (carried > 0) line(carry, carried);
  return true;
}

// Every section name of the file with the offset of its line, first to last.
bool ForEachSection(int fd, off_t size, const std::function<void(std::string_view, off_t)>& visit) {
  return ForEachLine(fd, size, [&](std::string_view text, off_t lineAt, std::size_t length) {
    if (length > kLongestLine) return;
    if (auto name = SectionOf(WithoutLineEnd(WithoutBom(text, lineAt)))) visit(*name, lineAt);
  });
}

// The last section of that name, looking from the end of the file.
std::optional<Located> FindFromEnd(int fd, off_t size, std::string_view section) {
  off_t end = size;        // bytes before this offset are still to be looked at
  off_t following = size;  // the start of the nearest section line after the one looked at
  std::string chunk;
  while (end > 0) {
    off_t begin = std::max<off_t>(0, end - static_cast<off_t>(kChunk));
    if (!ReadAt(fd, chunk, begin, static_cast<std::size_t>(end - begin))) return std::nullopt;
    std::size_t first = 0;  // the first line wholly in the chunk
    if (begin > 0) {
      std::size_t newline = chunk.find('\n');
      if (newline == std::string::npos || newline + 1 == chunk.size()) {
        // No whole line in the chunk: the line that ends it is longer than a chunk, so it is no
        // section line. Its start is looked for further back, without holding it (waiting for a
        // newline that ends the chunk would never move on).
        off_t back = begin;
        end = 0;
        std::string piece;
        while (back > 0) {
          const off_t from = std::max<off_t>(0, back - static_cast<off_t>(kChunk));
          if (!ReadAt(fd, piece, from, static_cast<std::size_t>(back - from))) return std::nullopt;
          if (std::size_t last = piece.rfind('\n'); last != std::string::npos) {
            end = from + static_cast<off_t>(last) + 1;
            break;
          }
          back = from;
        }
        continue;
      }
      first = newline + 1;
    }
    for (std::size_t lineEnd = chunk.size(); lineEnd > first;) {
      std::size_t previous = lineEnd >= 2 ? chunk.rfind('\n', lineEnd - 2) : std::string::npos;
      std::size_t lineStart = previous == std::string::npos ? 0 : previous + 1;
      off_t at = begin + static_cast<off_t>(lineStart);
      std::string_view line(chunk.data() + lineStart, lineEnd - lineStart);
      if (auto name = SectionOf(WithoutLineEnd(WithoutBom(line, at)))) {
        if (SameName(*name, section)) return Located{at, following};
        following = at;
      }
      lineEnd = lineStart;
    }
    end = begin + static_cast<off_t>(first);
  }
  return std::nullopt;
}

// The section whose line starts at `place`, if it is that one, with where it ends.
std::optional<Located> FindAt(int fd, off_t size, std::string_view section, off_t place) {
  if (place >= size) return std::nullopt;
  if (place > 0) {
    std::string before;
    if (!ReadAt(fd, before, place - 1, 1) || before != "\n") return std::nullopt;
  }
  std::string chunk;
  bool first = true;
  for (off_t at = place; at < size;) {
    std::size_t length = static_cast<std::size_t>(std::min<off_t>(kChunk, size - at));
    if (!ReadAt(fd, chunk, at, length)) return std::nullopt;
    std::size_t start = 0;
    for (std::size_t end; (end = chunk.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string_view line(chunk.data() + start, end - start);
      auto name = SectionOf(WithoutLineEnd(WithoutBom(line, at + static_cast<off_t>(start))));
      if (first) {
        if (!name || !SameName(*name, section)) return std::nullopt;
        first = false;
      } else if (name) {
        return Located{place, at + static_cast<off_t>(start)};
      }
    }
    if (at + static_cast<off_t>(length) == size && start < chunk.size()) {
      // The last line, without a line end of its own; the look from the end knows that case.
      if (first) return std::nullopt;
      std::string_view line(chunk.data() + start, chunk.size() - start);
      if (SectionOf(WithoutLineEnd(line))) return Located{place, at + static_cast<off_t>(start)};
      return Located{place, size};
    }
    if (start == 0) return std::nullopt;  // a line longer than a chunk: looked for from the end
    at += static_cast<off_t>(start);
  }
  return Located{place, size};
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(WithoutLineEnd(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

// The section's lines with the values set as `profile` sets them: an existing key keeps its
// name and takes the value; a new key goes after the section's last line of its own.
std::string SetInSection(std::string_view region, std::string_view section,
                         const std::vector<std::pair<std::string, std::string>>& values,
                         const char* eol) {
  std::vector<std::string> lines = Lines(region);
  if (lines.empty()) lines.push_back("[" + OneLine(section) + "]");
  for (const auto& [rawKey, value] : values) {
    std::string_view key = Trim(rawKey);
    bool set = false;
    std::size_t insertAt = 1;
    for (std::size_t j = 1; j < lines.size() && !set; ++j) {
      std::string_view trimmed = Trim(lines[j]);
      if (!trimmed.empty() && trimmed.front() != ';') insertAt = j + 1;
      auto entry = EntryOf(lines[j]);
      if (entry && SameName(entry->first, key)) {
        lines[j] = std::string(entry->first) + "=" + OneLine(value);
        set = true;
      }
    }
    if (!set)
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                   OneLine(key) + "=" + OneLine(value));
  }
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += eol;
  }
  return out;
}

// Whether the file writes its lines with CR LF, judged by its beginning.
bool UsesCrlf(int fd, off_t size) {
  std::string head;
  return ReadAt(fd, head, 0, static_cast<std::size_t>(std::min<off_t>(size, 4096))) &&
         head.find("\r\n") != std::string::npos;
}

}  // namespace PRESCORA_NS::platform::auditscan
