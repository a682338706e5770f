#include "common/platform/auditindex.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/platform/auditscan.h"
#include "common/platform/files.h"

namespace PRESCORA_NS::platform::auditindex {

using auditscan::Fd;
using auditscan::ReadAt;
using auditscan::WriteAt;

namespace {

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

}  // namespace

uint32_t NameHash(std::string_view name) {
  uint32_t hash = 2166136261U;
  for (unsigned char c : name) {
    hash ^= static_cast<uint32_t>(std::tolower(c));
    hash *= 16777619U;
  }
  return hash == 0 ? 1 : hash;
}

Index::Index(const std::string& file, int data, const struct stat& st) {
  if (st.st_size < kIndexFrom) return;
  fd_ = files::OpenRegular(file + ".idx", O_RDWR | O_CREAT);
  if (fd_ < 0) return;
  std::string raw;
  if (ReadAt(fd_, raw, 0, sizeof header_)) std::memcpy(&header_, raw.data(), sizeof header_);
  usable_ = Matches(st) || Rebuild(data, st);
}

Index::~Index() {
  if (fd_ >= 0) close(fd_);
}

bool Index::MayContain(uint32_t hash, uint32_t& place) {
  place = kUnknown;
  if (!usable_) return true;
  std::optional<uint64_t> slot = Probe(hash);
  if (slot && found_) place = foundPlace_;
  return !slot || found_;
}

void Index::Set(uint32_t hash, off_t place) {
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

void Index::Stamp(const struct stat& st) {
  if (!usable_) return;
  SetStamp(st);
  WriteHeader();
}

uint32_t Index::PlaceOf(off_t place) {
  return place >= 0 && place < static_cast<off_t>(kUnknown) ? static_cast<uint32_t>(place)
                                                            : kUnknown;
}

bool Index::Matches(const struct stat& st) const {
  return std::memcmp(header_.magic, kIndexMagic, sizeof kIndexMagic) == 0 && header_.slots >= 16 &&
         (header_.slots & (header_.slots - 1)) == 0 &&
         header_.dev == static_cast<uint64_t>(st.st_dev) &&
         header_.ino == static_cast<uint64_t>(st.st_ino) && header_.size == st.st_size &&
         header_.mtimeSec == st.st_mtim.tv_sec && header_.mtimeNsec == st.st_mtim.tv_nsec &&
         std::string_view(header_.boot, strnlen(header_.boot, sizeof header_.boot)) ==
             std::string_view(BootId()).substr(0, sizeof header_.boot - 1);
}

void Index::SetStamp(const struct stat& st) {
  std::memcpy(header_.magic, kIndexMagic, sizeof kIndexMagic);
  header_.dev = static_cast<uint64_t>(st.st_dev);
  header_.ino = static_cast<uint64_t>(st.st_ino);
  header_.size = st.st_size;
  header_.mtimeSec = st.st_mtim.tv_sec;
  header_.mtimeNsec = st.st_mtim.tv_nsec;
  std::memset(header_.boot, 0, sizeof header_.boot);
  BootId().copy(header_.boot, sizeof header_.boot - 1);
}

bool Index::WriteHeader() {
  return WriteAt(fd_, std::string_view(reinterpret_cast<const char*>(&header_), sizeof header_), 0);
}

bool Index::WriteSlot(uint64_t slot, IndexSlot value) {
  return WriteAt(fd_, std::string_view(reinterpret_cast<const char*>(&value), sizeof value),
                 kIndexTable + static_cast<off_t>(slot * sizeof(IndexSlot)));
}

// The slot holding `hash` (found_, foundPlace_) or the empty slot where it would go; reads a
// few slots at a time. Nothing when the table cannot be read.
std::optional<uint64_t> Index::Probe(uint32_t hash) {
  found_ = false;
  if (!usable_) return std::nullopt;
  const uint64_t mask = header_.slots - 1;
  uint64_t slot = hash & mask;
  std::string block;
  for (uint64_t seen = 0; seen < header_.slots;) {
    uint64_t run = std::min<uint64_t>(16, header_.slots - slot);
    if (!ReadAt(fd_, block, kIndexTable + static_cast<off_t>(slot * sizeof(IndexSlot)),
                run * sizeof(IndexSlot)))
      return std::nullopt;
    for (uint64_t i = 0; i < run; ++i, ++seen) {
      IndexSlot value;
      std::memcpy(&value, block.data() + i * sizeof(IndexSlot), sizeof(IndexSlot));
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
bool Index::WriteTable(const std::vector<IndexSlot>& entries, uint64_t slots) {
  std::vector<IndexSlot> table(slots, IndexSlot{0, 0});
  for (const IndexSlot& entry : entries) {
    uint64_t slot = entry.hash & (slots - 1);
    while (table[slot].hash != 0 && table[slot].hash != entry.hash) slot = (slot + 1) & (slots - 1);
    table[slot] = entry;
  }
  header_.slots = slots;
  header_.count = 0;
  for (const IndexSlot& value : table) header_.count += value.hash != 0;
  return ftruncate(fd_, kIndexTable + static_cast<off_t>(slots * sizeof(IndexSlot))) == 0 &&
         WriteAt(fd_,
                 std::string_view(reinterpret_cast<const char*>(table.data()),
                                  slots * sizeof(IndexSlot)),
                 kIndexTable);
}

uint64_t Index::SlotsFor(uint64_t count) {
  uint64_t slots = 4096;
  while (slots < 2 * count + 2) slots *= 2;
  return slots;
}

bool Index::Rebuild(int data, const struct stat& st) {
  std::vector<IndexSlot> entries;
  if (!auditscan::ForEachSection(data, st.st_size, [&](std::string_view name, off_t place) {
        entries.push_back({NameHash(name), PlaceOf(place)});
      }))
    return false;
  if (!WriteTable(entries, SlotsFor(entries.size()))) return false;
  SetStamp(st);
  return WriteHeader();
}

bool Index::Grow() {
  std::string raw;
  if (!ReadAt(fd_, raw, kIndexTable, header_.slots * sizeof(IndexSlot))) return false;
  std::vector<IndexSlot> entries;
  for (uint64_t i = 0; i < header_.slots; ++i) {
    IndexSlot value;
    std::memcpy(&value, raw.data() + i * sizeof(IndexSlot), sizeof(IndexSlot));
    if (value.hash != 0) entries.push_back(value);
  }
  return WriteTable(entries, header_.slots * 2);
}

}  // namespace PRESCORA_NS::platform::auditindex
