#include "common/platform/profiletail.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>

#include "common/platform/files.h"
#include "common/platform/inirules.h"
#include "common/platform/profile.h"

namespace PRESCORA_NS::platform::profiletail {

namespace {

using namespace inirules;

constexpr std::size_t kChunk = 64 * 1024;
// Below this size a look from the end through the whole file costs less than keeping an index.
constexpr off_t kIndexFrom = 256 * 1024;
// A change of this many aligned bytes or fewer, the file's length unchanged, is one write that
// the disk makes whole or not at all: it needs no journal.
constexpr off_t kSector = 512;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

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

uint64_t Fnv64(std::string_view bytes, uint64_t hash = 1469598103934665603ULL) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

// The index's key of a section name: case folded as names are compared; never 0 (an empty slot).
uint32_t NameHash(std::string_view name) {
  uint32_t hash = 2166136261U;
  for (unsigned char c : name) {
    hash ^= static_cast<uint32_t>(std::tolower(c));
    hash *= 16777619U;
  }
  return hash == 0 ? 1 : hash;
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

// A line longer than any line of a section is never held whole: a file grown by accident or on
// purpose costs a look through it no more memory than this.
constexpr std::size_t kLongestLine = 64 * 1024;

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

// Which boot of the machine this is: an index written in another one may have been cut short
// by a power failure, since it is never flushed.
const std::string& BootId() {
  static const std::string id = [] {
    std::string text;
    Fd fd(open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC));
    char buffer[64] = {};
    if (fd.ok()) {
      ssize_t n = read(fd.get(), buffer, sizeof buffer - 1);
      if (n > 0) text.assign(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }();
  return id;
}

// The section names of one file as an open-addressing table of name hashes, each with where its
// section was last seen, in "<file>.idx". It is valid for the one state of the file recorded in
// its header (device, inode, size, modification time) in this boot; in any other it is rebuilt
// from the file. A hash found may be another name's, and a place may be out of date (a write
// moves the sections after the one it changes): the caller then looks through the file, so
// either costs time only, while "absent" is always right.
class Index {
 public:
  struct Slot {
    uint32_t hash;
    uint32_t place;  // offset of the section line, or kUnknown
  };
  static constexpr uint32_t kUnknown = UINT32_MAX;

  Index(const std::string& file, int data, const struct stat& st) {
    if (st.st_size < kIndexFrom) return;
    fd_ = files::OpenRegular(file + ".idx", O_RDWR | O_CREAT);
    if (fd_ < 0) return;
    std::string raw;
    if (ReadAt(fd_, raw, 0, sizeof header_)) std::memcpy(&header_, raw.data(), sizeof header_);
    usable_ = Matches(st) || Rebuild(data, st);
  }
  ~Index() {
    if (fd_ >= 0) close(fd_);
  }
  Index(const Index&) = delete;
  Index& operator=(const Index&) = delete;

  // False only when the file surely holds no section of that name; an index that cannot be
  // used or read knows nothing. `place`: where the section was last seen, or kUnknown.
  bool MayContain(uint32_t hash, uint32_t& place) {
    place = kUnknown;
    if (!usable_) return true;
    std::optional<uint64_t> slot = Probe(hash);
    if (slot && found_) place = foundPlace_;
    return !slot || found_;
  }

  // Records where a name's section is, adding the name when it is new; the header follows with
  // Stamp.
  void Set(uint32_t hash, off_t place) {
    if (!usable_) return;
    std::optional<uint64_t> slot = Probe(hash);
    if (!slot || !WriteSlot(*slot, {hash, PlaceOf(place)})) {
      usable_ = false;
      return;
    }
    if (found_) return;
    ++header_.count;
    if (header_.count * 2 > header_.slots) usable_ = Grow();
  }

  // The file as it now is, after a write under the same lock.
  void Stamp(const struct stat& st) {
    if (!usable_) return;
    SetStamp(st);
    WriteHeader();
  }

 private:
  struct Header {
    char magic[8];
    uint64_t slots;
    uint64_t count;
    uint64_t dev;
    uint64_t ino;
    int64_t size;
    int64_t mtimeSec;
    int64_t mtimeNsec;
    char boot[40];
  };
  static constexpr char kMagic[8] = {'P', 'R', 'S', 'I', 'D', 'X', '0', '2'};
  static constexpr off_t kTable = 128;

  static uint32_t PlaceOf(off_t place) {
    return place >= 0 && place < static_cast<off_t>(kUnknown) ? static_cast<uint32_t>(place)
                                                              : kUnknown;
  }

  bool Matches(const struct stat& st) const {
    return std::memcmp(header_.magic, kMagic, sizeof kMagic) == 0 && header_.slots >= 16 &&
           (header_.slots & (header_.slots - 1)) == 0 &&
           header_.dev == static_cast<uint64_t>(st.st_dev) &&
           header_.ino == static_cast<uint64_t>(st.st_ino) && header_.size == st.st_size &&
           header_.mtimeSec == st.st_mtim.tv_sec && header_.mtimeNsec == st.st_mtim.tv_nsec &&
           std::string_view(header_.boot, strnlen(header_.boot, sizeof header_.boot)) ==
               std::string_view(BootId()).substr(0, sizeof header_.boot - 1);
  }

  void SetStamp(const struct stat& st) {
    std::memcpy(header_.magic, kMagic, sizeof kMagic);
    header_.dev = static_cast<uint64_t>(st.st_dev);
    header_.ino = static_cast<uint64_t>(st.st_ino);
    header_.size = st.st_size;
    header_.mtimeSec = st.st_mtim.tv_sec;
    header_.mtimeNsec = st.st_mtim.tv_nsec;
    std::memset(header_.boot, 0, sizeof header_.boot);
    BootId().copy(header_.boot, sizeof header_.boot - 1);
  }

  bool WriteHeader() {
    return WriteAt(fd_, std::string_view(reinterpret_cast<const char*>(&header_), sizeof header_),
                   0);
  }

  bool WriteSlot(uint64_t slot, Slot value) {
    return WriteAt(fd_, std::string_view(reinterpret_cast<const char*>(&value), sizeof value),
                   kTable + static_cast<off_t>(slot * sizeof(Slot)));
  }

  // The slot holding `hash` (found_, foundPlace_) or the empty slot where it would go; reads a
  // few slots at a time. Nothing when the table cannot be read.
  std::optional<uint64_t> Probe(uint32_t hash) {
    found_ = false;
    if (!usable_) return std::nullopt;
    const uint64_t mask = header_.slots - 1;
    uint64_t slot = hash & mask;
    std::string block;
    for (uint64_t seen = 0; seen < header_.slots;) {
      uint64_t run = std::min<uint64_t>(16, header_.slots - slot);
      if (!ReadAt(fd_, block, kTable + static_cast<off_t>(slot * sizeof(Slot)), run * sizeof(Slot)))
        return std::nullopt;
      for (uint64_t i = 0; i < run; ++i, ++seen) {
        Slot value;
        std::memcpy(&value, block.data() + i * sizeof(Slot), sizeof(Slot));
        if (value.hash == hash) {
          found_ = true;
          foundPlace_ = value.place;
          return slot + i;
        }
        if (value.hash == 0) return slot + i;
      }
      slot = (slot + run) & mask;
    }
    return std::nullopt;
  }

  // A later entry of one hash wins: the place of the last section of a name.
  bool WriteTable(const std::vector<Slot>& entries, uint64_t slots) {
    std::vector<Slot> table(slots, Slot{0, 0});
    for (const Slot& entry : entries) {
      uint64_t slot = entry.hash & (slots - 1);
      while (table[slot].hash != 0 && table[slot].hash != entry.hash)
        slot = (slot + 1) & (slots - 1);
      table[slot] = entry;
    }
    header_.slots = slots;
    header_.count = 0;
    for (const Slot& value : table) header_.count += value.hash != 0;
    return ftruncate(fd_, kTable + static_cast<off_t>(slots * sizeof(Slot))) == 0 &&
           WriteAt(
               fd_,
               std::string_view(reinterpret_cast<const char*>(table.data()), slots * sizeof(Slot)),
               kTable);
  }

  static uint64_t SlotsFor(uint64_t count) {
    uint64_t slots = 4096;
    while (slots < 2 * count + 2) slots *= 2;
    return slots;
  }

  bool Rebuild(int data, const struct stat& st) {
    std::vector<Slot> entries;
    if (!ForEachSection(data, st.st_size, [&](std::string_view name, off_t place) {
          entries.push_back({NameHash(name), PlaceOf(place)});
        }))
      return false;
    if (!WriteTable(entries, SlotsFor(entries.size()))) return false;
    SetStamp(st);
    return WriteHeader();
  }

  bool Grow() {
    std::string raw;
    if (!ReadAt(fd_, raw, kTable, header_.slots * sizeof(Slot))) return false;
    std::vector<Slot> entries;
    for (uint64_t i = 0; i < header_.slots; ++i) {
      Slot value;
      std::memcpy(&value, raw.data() + i * sizeof(Slot), sizeof(Slot));
      if (value.hash != 0) entries.push_back(value);
    }
    return WriteTable(entries, header_.slots * 2);
  }

  int fd_ = -1;
  bool usable_ = false;
  bool found_ = false;
  uint32_t foundPlace_ = kUnknown;
  Header header_{};
};

// Where a section lies: from its "[name]" line to the next section's line or the end.
struct Located {
  off_t start;
  off_t end;
};

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

// The section's place: the index tells whether the file holds it at all and where it was last
// seen; otherwise, or when it has moved, a look from the end finds it (and the index learns).
std::optional<Located> Find(int fd, off_t size, std::string_view section, Index* index) {
  if (index == nullptr) return FindFromEnd(fd, size, section);
  const uint32_t hash = NameHash(section);
  uint32_t place = Index::kUnknown;
  if (!index->MayContain(hash, place)) return std::nullopt;
  if (place != Index::kUnknown) {
    if (auto at = FindAt(fd, size, section, static_cast<off_t>(place))) return at;
  }
  std::optional<Located> at = FindFromEnd(fd, size, section);
  if (at) index->Set(hash, at->start);
  return at;
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

// The journal: the bytes a write replaces, and how to tell that the write was completed.
//   magic, offset, length of the old bytes, length of the file after the write, hash of the
//   new bytes, hash of all before it and of the old bytes; then the old bytes.
constexpr char kJournalMagic[8] = {'P', 'R', 'S', 'J', 'R', 'N', '0', '1'};
constexpr std::size_t kJournalHeader = 8 + 5 * 8;

std::string JournalPath(const std::string& file) {
  return file + ".journal";
}

std::string MakeJournal(off_t offset, std::string_view old, off_t newSize,
                        std::string_view written) {
  uint64_t fields[4] = {static_cast<uint64_t>(offset), old.size(), static_cast<uint64_t>(newSize),
                        Fnv64(written)};
  std::string text(kJournalMagic, sizeof kJournalMagic);
  text.append(reinterpret_cast<const char*>(fields), sizeof fields);
  uint64_t sum = Fnv64(old, Fnv64(text));
  text.append(reinterpret_cast<const char*>(&sum), sizeof sum);
  text.append(old);
  return text;
}

// Puts back a write that a killed writer left half done. A journal cut short was left before its
// write began, and is simply dropped. False only when the file could not be put back.
bool Recover(const std::string& file, int data) {
  const std::string path = JournalPath(file);
  Fd journal(files::OpenRegular(path, O_RDONLY));
  // A journal that is a link or not a regular file was never written by a writer: it is not
  // followed (nor waited on), and the file is left as it is.
  if (!journal.ok()) return !files::Refused(errno);
  struct stat st {};
  std::string text;
  if (fstat(journal.get(), &st) != 0 ||
      !ReadAt(journal.get(), text, 0, static_cast<std::size_t>(st.st_size)))
    return false;
  uint64_t fields[5] = {};
  bool whole = text.size() >= kJournalHeader &&
               std::memcmp(text.data(), kJournalMagic, sizeof kJournalMagic) == 0;
  if (whole) {
    std::memcpy(fields, text.data() + sizeof kJournalMagic, sizeof fields);
    whole = text.size() == kJournalHeader + fields[1] &&
            Fnv64(std::string_view(text).substr(kJournalHeader),
                  Fnv64(std::string_view(text).substr(0, kJournalHeader - 8))) == fields[4];
  }
  if (whole) {
    const off_t offset = static_cast<off_t>(fields[0]);
    const off_t newSize = static_cast<off_t>(fields[2]);
    std::string now;
    struct stat ds {};
    bool completed = fstat(data, &ds) == 0 && ds.st_size == newSize && newSize >= offset &&
                     ReadAt(data, now, offset, static_cast<std::size_t>(newSize - offset)) &&
                     Fnv64(now) == fields[3];
    if (!completed) {
      std::string_view old = std::string_view(text).substr(kJournalHeader);
      if (!WriteAt(data, old, offset) ||
          ftruncate(data, offset + static_cast<off_t>(old.size())) != 0 || fdatasync(data) != 0)
        return false;
    }
  }
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

// Whether bytes that a write replaces hold anything past the end of the line it changes but keys
// without a value (a header's keys not yet set): a section's name or a value already written.
bool HoldsMarks(std::string_view old) {
  std::size_t at = old.find('\n');
  while (at != std::string_view::npos && at + 1 < old.size()) {
    const std::size_t next = old.find('\n', at + 1);
    std::string_view line = Trim(old.substr(
        at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1));
    const std::size_t equals = line.find('=');
    if (!line.empty() && (line.front() == '[' || equals == std::string_view::npos ||
                          !Trim(line.substr(equals + 1)).empty()))
      return true;
    at = next;
  }
  return false;
}

// Replaces the file from `offset` to its end (`old`) with `written`, flushed when asked or when
// earlier marks are at stake.
bool Replace(const std::string& file, int data, off_t offset, std::string_view old,
             std::string_view written, bool flush) {
  if (old.size() == written.size()) {
    std::size_t first = 0;
    while (first < old.size() && old[first] == written[first]) ++first;
    if (first == old.size()) return true;
    std::size_t last = old.size() - 1;
    while (old[last] == written[last]) --last;
    // A mark such as "No" becoming "Si": one small write that cannot be half done.
    if ((offset + static_cast<off_t>(first)) / kSector ==
        (offset + static_cast<off_t>(last)) / kSector) {
      return WriteAt(data, written.substr(first, last - first + 1),
                     offset + static_cast<off_t>(first)) &&
             (!flush || fdatasync(data) == 0);
    }
  }
  const off_t newSize = offset + static_cast<off_t>(written.size());
  const std::string path = JournalPath(file);
  Fd journal(files::OpenRegular(path, O_WRONLY | O_CREAT | O_TRUNC));
  // A folder that allows no new file still lets the file be written, without the journal.
  if (!journal.ok() && errno != EACCES && errno != EPERM && errno != EROFS) return false;
  // Earlier marks are at stake when the bytes the write replaces hold marks past the line it
  // changes: then the journal must reach the disk before the new bytes do.
  const bool others = journal.ok() && HoldsMarks(old);
  if (journal.ok()) {
    if (!WriteAt(journal.get(), MakeJournal(offset, old, newSize, written), 0) ||
        (others && fdatasync(journal.get()) != 0)) {
      unlink(path.c_str());
      return false;
    }
  }
  // The journal goes only once the new bytes are on the disk, when it had to be there first.
  bool ok = WriteAt(data, written, offset) &&
            (written.size() >= old.size() || ftruncate(data, newSize) == 0) &&
            (!(flush || others) || fdatasync(data) == 0);
  // A failed write is put back now, while the journal still says how.
  if (!ok && journal.ok()) {
    Recover(file, data);
    return false;
  }
  if (journal.ok()) unlink(path.c_str());
  return ok;
}

bool Write(const std::string& file, std::string_view section,
           const std::vector<std::pair<std::string, std::string>>& values, bool flush) {
  profile::FolderLock lock(file);
  if (!lock.Held()) return false;
  Fd data(files::OpenRegular(file, O_RDWR | O_CREAT));
  if (!data.ok() || !Recover(file, data.get())) return false;
  struct stat st {};
  if (fstat(data.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  Index index(file, data.get(), st);
  std::optional<Located> at = Find(data.get(), st.st_size, section, &index);
  const char* eol = UsesCrlf(data.get(), st.st_size) ? "\r\n" : "\n";

  off_t offset = st.st_size;
  off_t newPlace = -1;  // where a new section's line goes
  std::string old, written;
  if (at) {
    offset = at->start;
    if (!ReadAt(data.get(), old, offset, static_cast<std::size_t>(st.st_size - offset)))
      return false;
    std::size_t regionLength = static_cast<std::size_t>(at->end - at->start);
    written = SetInSection(std::string_view(old).substr(0, regionLength), section, values, eol);
    written.append(old, regionLength, std::string::npos);
  } else {
    std::string last;
    if (st.st_size > 0 && ReadAt(data.get(), last, st.st_size - 1, 1) && last != "\n")
      written = eol;  // the file's last line had no end of its own
    newPlace = st.st_size + static_cast<off_t>(written.size());
    written += SetInSection({}, section, values, eol);
  }
  // What both share at their start stays where it is.
  std::size_t same = 0;
  while (same < old.size() && same < written.size() && old[same] == written[same]) ++same;
  if (!Replace(file, data.get(), offset + static_cast<off_t>(same),
               std::string_view(old).substr(same), std::string_view(written).substr(same), flush))
    return false;
  // A new section's place is known now; one that moved was learnt by Find.
  if (!at) index.Set(NameHash(section), newPlace);
  if (fstat(data.get(), &st) == 0) index.Stamp(st);
  return true;
}

std::optional<std::string> Read(const std::string& file, std::string_view section,
                                std::string_view key) {
  // A reader that may not lock or write still reads, without the journal and the index.
  profile::FolderLock lock(file);
  int rw = files::OpenRegular(file, O_RDWR);
  Fd data(rw >= 0 || files::Refused(errno) ? rw : files::OpenRegular(file, O_RDONLY));
  if (!data.ok()) return std::nullopt;
  if (lock.Held() && rw >= 0) Recover(file, data.get());
  struct stat st {};
  if (fstat(data.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::optional<Index> index;
  if (lock.Held()) index.emplace(file, data.get(), st);
  std::optional<Located> at = Find(data.get(), st.st_size, section, index ? &*index : nullptr);
  std::string region;
  if (!at || !ReadAt(data.get(), region, at->start, static_cast<std::size_t>(at->end - at->start)))
    return std::nullopt;
  std::vector<std::string> lines = Lines(region);
  for (std::size_t j = 1; j < lines.size(); ++j) {
    auto entry = EntryOf(lines[j]);
    if (entry && SameName(entry->first, key)) return Unquote(entry->second);
  }
  return std::nullopt;
}

}  // namespace

std::string GetString(const std::string& file, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferChars) {
  const std::size_t room = bufferChars == 0 ? 0 : bufferChars - 1;
  std::optional<std::string> value;
  try {
    section = Trim(section);
    key = Trim(key);
    if (!section.empty() && !key.empty()) value = Read(file, section, key);
  } catch (...) {
    value.reset();
  }
  return Cut(value ? std::move(*value) : std::string(defaultValue), room);
}

bool WriteStrings(const std::string& file, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>>& values,
                  Durability durability) {
  try {
    if (!NamesGiven(section, values)) return false;
    section = Trim(section);
    return Write(file, section, values, durability == Durability::kFlushed);
  } catch (...) {
    return false;
  }
}

bool WriteString(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value, Durability durability) {
  return WriteStrings(file, section, {{std::string(key), std::string(value)}}, durability);
}

std::vector<Section> ReadSections(const std::string& file, std::size_t* longLines) {
  std::vector<Section> sections;
  if (longLines != nullptr) *longLines = 0;
  try {
    profile::FolderLock lock(file);
    int rw = files::OpenRegular(file, O_RDWR);
    Fd data(rw >= 0 ? rw : files::OpenRegular(file, O_RDONLY));
    if (!data.ok()) return sections;
    if (lock.Held() && rw >= 0) Recover(file, data.get());
    struct stat st {};
    if (fstat(data.get(), &st) != 0) return sections;
    // Line by line: a line too long to be one of a record is skipped, never held.
    if (!ForEachLine(data.get(), st.st_size,
                     [&](std::string_view raw, off_t lineAt, std::size_t length) {
                       if (length > kLongestLine) {
                         if (longLines != nullptr) ++*longLines;
                         return;
                       }
                       std::string_view line = WithoutLineEnd(WithoutBom(raw, lineAt));
                       if (auto name = SectionOf(line)) {
                         sections.push_back({std::string(*name), {}});
                       } else if (auto entry = EntryOf(line); entry && !sections.empty()) {
                         sections.back().keys.emplace_back(std::string(entry->first),
                                                           Unquote(entry->second));
                       }
                     }))
      sections.clear();
  } catch (...) {
    sections.clear();
  }
  return sections;
}

bool Flush(const std::string& file) {
  Fd data(files::OpenRegular(file, O_RDONLY));
  return data.ok() && fdatasync(data.get()) == 0;
}

}  // namespace PRESCORA_NS::platform::profiletail
