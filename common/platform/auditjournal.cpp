#include "common/platform/auditjournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/platform/auditscan.h"
#include "common/platform/files.h"
#include "common/platform/inirules.h"

namespace PRESCORA_NS::platform::auditjournal {

using auditscan::Fd;
using auditscan::ReadAt;
using auditscan::WriteAt;
using inirules::Trim;

namespace {

// The bytes `sum` covers: all of the header before it.
constexpr std::size_t kSummed = offsetof(JournalHeader, sum);

}  // namespace

uint64_t Fnv64(std::string_view bytes, uint64_t hash) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string JournalPath(const std::string& file) {
  return file + ".journal";
}

std::string MakeJournal(off_t offset, std::string_view old, off_t newSize,
                        std::string_view written) {
  JournalHeader header{};
  std::memcpy(header.magic, kJournalMagic, sizeof kJournalMagic);
  header.offset = static_cast<uint64_t>(offset);
  header.oldLength = old.size();
  header.newSize = static_cast<uint64_t>(newSize);
  header.newHash = Fnv64(written);
  const std::string_view raw(reinterpret_cast<const char*>(&header), sizeof header);
  header.sum = Fnv64(old, Fnv64(raw.substr(0, kSummed)));
  std::string text(raw);
  text.append(old);
  return text;
}

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
  JournalHeader header{};
  bool whole = text.size() >= sizeof header &&
               std::memcmp(text.data(), kJournalMagic, sizeof kJournalMagic) == 0;
  if (whole) {
    std::memcpy(&header, text.data(), sizeof header);
    whole = text.size() == sizeof header + header.oldLength &&
            Fnv64(std::string_view(text).substr(sizeof header),
                  Fnv64(std::string_view(text).substr(0, kSummed))) == header.sum;
  }
  if (whole) {
    const off_t offset = static_cast<off_t>(header.offset);
    const off_t newSize = static_cast<off_t>(header.newSize);
    std::string now;
    struct stat ds {};
    bool completed = fstat(data, &ds) == 0 && ds.st_size == newSize && newSize >= offset &&
                     ReadAt(data, now, offset, static_cast<std::size_t>(newSize - offset)) &&
                     Fnv64(now) == header.newHash;
    if (!completed) {
      std::string_view old = std::string_view(text).substr(sizeof header);
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
    constexpr off_t kBlock = static_cast<off_t>(files::kAtomicWrite);
    if ((offset + static_cast<off_t>(first)) / kBlock ==
        (offset + static_cast<off_t>(last)) / kBlock) {
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

}  // namespace PRESCORA_NS::platform::auditjournal
