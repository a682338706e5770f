#include "common/platform/profiletail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "common/platform/auditindex.h"
#include "common/platform/auditjournal.h"
#include "common/platform/auditscan.h"
#include "common/platform/files.h"
#include "common/platform/inirules.h"
#include "common/platform/profile.h"

namespace PRESCORA_NS::platform::profiletail {

namespace {

using namespace inirules;
using auditindex::Index;
using auditindex::NameHash;
using auditjournal::Recover;
using auditjournal::Replace;
using auditscan::Fd;
using auditscan::kLongestLine;
using auditscan::Located;
using auditscan::ReadAt;

// The section's place: the index tells whether the file holds it at all and where it was last
// seen; otherwise, or when it has moved, a look from the end finds it (and the index learns).
std::optional<Located> Find(int fd, off_t size, std::string_view section, Index* index) {
  if (index == nullptr) return auditscan::FindFromEnd(fd, size, section);
  const uint32_t hash = NameHash(section);
  uint32_t place = Index::kUnknown;
  if (!index->MayContain(hash, place)) return std::nullopt;
  if (place != Index::kUnknown) {
    if (auto at = auditscan::FindAt(fd, size, section, static_cast<off_t>(place))) return at;
  }
  std::optional<Located> at = auditscan::FindFromEnd(fd, size, section);
  if (at) index->Set(hash, at->start);
  return at;
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
  const char* eol = auditscan::UsesCrlf(data.get(), st.st_size) ? "\r\n" : "\n";

  off_t offset = st.st_size;
  off_t newPlace = -1;  // where a new section's line goes
  std::string old, written;
  if (at) {
    offset = at->start;
    if (!ReadAt(data.get(), old, offset, static_cast<std::size_t>(st.st_size - offset)))
      return false;
    std::size_t regionLength = static_cast<std::size_t>(at->end - at->start);
    written = auditscan::SetInSection(std::string_view(old).substr(0, regionLength), section,
                                      values, eol);
    written.append(old, regionLength, std::string::npos);
  } else {
    std::string last;
    if (st.st_size > 0 && ReadAt(data.get(), last, st.st_size - 1, 1) && last != "\n")
      written = eol;  // the file's last line had no end of its own
    newPlace = st.st_size + static_cast<off_t>(written.size());
    written += auditscan::SetInSection({}, section, values, eol);
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
  std::vector<std::string> lines = auditscan::Lines(region);
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
    if (!auditscan::ForEachLine(
            data.get(), st.st_size, [&](std::string_view raw, off_t lineAt, std::size_t length) {
              if (length > kLongestLine) {
                if (longLines != nullptr) ++*longLines;
                return;
              }
              std::string_view line = auditscan::WithoutLineEnd(auditscan::WithoutBom(raw, lineAt));
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
