// The index of a growing private-profile file's section names, "<file>.idx": whether the file
// holds a section at all, and where it was last seen, without a look through the file.
//
// The index is an open-addressing table of name hashes, each with where its section was last
// seen. It is valid for the one state of the file recorded in its header (device, inode, size,
// modification time) in this boot; in any other it is rebuilt from the file. A hash found may be
// another name's, and a place may be out of date (a write moves the sections after the one it
// changes): the caller then looks through the file, so either costs time only, while "absent" is
// always right. It is never flushed: a power failure costs a rebuild, nothing more.
//
// Its layout (docs/formatos.md): the header below at offset 0, the slots from kIndexTable on, in
// the machine's own byte order.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/Export.h"

namespace PRESCORA_NS::platform::auditindex {

// Below this size a look from the end through the whole file costs less than keeping an index.
inline constexpr off_t kIndexFrom = 256 * 1024;

// Where the slots begin; the bytes between the header and this are left zero.
inline constexpr off_t kIndexTable = 128;

inline constexpr char kIndexMagic[8] = {'P', 'R', 'S', 'I', 'D', 'X', '0', '2'};

// The state of the file the table was built for. `boot` holds the system's boot id as read (its
// line end included), cut to 39 bytes and padded with zeros.
struct IndexHeader {
  char magic[8];
  uint64_t slots;  // a power of two, at least 16
  uint64_t count;  // slots in use
  uint64_t dev;
  uint64_t ino;
  int64_t size;
  int64_t mtimeSec;
  int64_t mtimeNsec;
  char boot[40];
};

// A hash of 0 marks an empty slot.
struct IndexSlot {
  uint32_t hash;
  uint32_t place;  // offset of the section line, or kUnknownPlace
};

inline constexpr uint32_t kUnknownPlace = UINT32_MAX;

// Both are written and read as raw bytes, and readers of an older or newer build find each field
// at the same place: the layout is fixed here, not left to the compiler.
static_assert(std::is_trivially_copyable_v<IndexHeader> && std::is_standard_layout_v<IndexHeader>);
static_assert(sizeof(IndexHeader) == 104 && alignof(IndexHeader) == 8);
static_assert(offsetof(IndexHeader, magic) == 0 && offsetof(IndexHeader, slots) == 8 &&
              offsetof(IndexHeader, count) == 16 && offsetof(IndexHeader, dev) == 24 &&
              offsetof(IndexHeader, ino) == 32 && offsetof(IndexHeader, size) == 40 &&
              offsetof(IndexHeader, mtimeSec) == 48 && offsetof(IndexHeader, mtimeNsec) == 56 &&
              offsetof(IndexHeader, boot) == 64);
static_assert(sizeof(IndexHeader) <= kIndexTable);
static_assert(std::is_trivially_copyable_v<IndexSlot> && std::is_standard_layout_v<IndexSlot>);
static_assert(sizeof(IndexSlot) == 8 && alignof(IndexSlot) == 4);
static_assert(offsetof(IndexSlot, hash) == 0 && offsetof(IndexSlot, place) == 4);

// The index's key of a section name: case folded as names are compared; never 0 (an empty slot).
uint32_t NameHash(std::string_view name);

// The index of one file, opened (created, rebuilt when it does not match the file) under the
// file's lock. A file under kIndexFrom has none, and an index that cannot be used knows nothing.
class Index {
 public:
  static constexpr uint32_t kUnknown = kUnknownPlace;

  Index(const std::string& file, int data, const struct stat& st);
  ~Index();
  Index(const Index&) = delete;
  Index& operator=(const Index&) = delete;

  // False only when the file surely holds no section of that name; an index that cannot be
  // used or read knows nothing. `place`: where the section was last seen, or kUnknown.
  bool MayContain(uint32_t hash, uint32_t& place);

  // Records where a name's section is, adding the name when it is new; the header follows with
  // Stamp.
  void Set(uint32_t hash, off_t place);

  // The file as it now is, after a write under the same lock.
  void Stamp(const struct stat& st);

 private:
  static uint32_t PlaceOf(off_t place);
  static uint64_t SlotsFor(uint64_t count);
  bool Matches(const struct stat& st) const;
  void SetStamp(const struct stat& st);
  bool WriteHeader();
  bool WriteSlot(uint64_t slot, IndexSlot value);
  std::optional<uint64_t> Probe(uint32_t hash);
  bool WriteTable(const std::vector<IndexSlot>& entries, uint64_t slots);
  bool Rebuild(int data, const struct stat& st);
  bool Grow();

  int fd_ = -1;
  bool usable_ = false;
  bool found_ = false;
  uint32_t foundPlace_ = kUnknown;
  IndexHeader header_{};
};

}  // namespace PRESCORA_NS::platform::auditindex
