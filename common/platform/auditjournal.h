// The journal of a growing private-profile file, "<file>.journal": the bytes a write replaces,
// saved before the write, so that a write cut short by a killed writer is put back whole by
// whoever next opens the file under its lock. Every function here runs under that lock.
//
// Its layout (docs/formatos.md): the header below, in the machine's own byte order, then the old
// bytes. `sum` is the 64-bit FNV-1a hash of the header's first 40 bytes followed by the old bytes,
// so that a journal cut short (left before its write began) is told apart and dropped; `newHash`
// (FNV-1a of the bytes from `offset` to the end after the write) tells a completed write, which
// is kept.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "common/Export.h"

namespace PRESCORA_NS::platform::auditjournal {

inline constexpr char kJournalMagic[8] = {'P', 'R', 'S', 'J', 'R', 'N', '0', '1'};

struct JournalHeader {
  char magic[8];
  uint64_t offset;     // where the replaced bytes began
  uint64_t oldLength;  // how many follow the header: the file from `offset` to its end before
  uint64_t newSize;    // the file's length after the write
  uint64_t newHash;    // hash of the file from `offset` to its end after the write
  uint64_t sum;        // hash of the 40 bytes before it and of the old bytes
};

// Written and read as raw bytes; `sum` covers exactly the bytes before it.
static_assert(std::is_trivially_copyable_v<JournalHeader> &&
              std::is_standard_layout_v<JournalHeader>);
static_assert(sizeof(JournalHeader) == 48 && alignof(JournalHeader) == 8);
static_assert(offsetof(JournalHeader, offset) == 8 && offsetof(JournalHeader, oldLength) == 16 &&
              offsetof(JournalHeader, newSize) == 24 && offsetof(JournalHeader, newHash) == 32 &&
              offsetof(JournalHeader, sum) == 40);

// 64-bit FNV-1a, continued from `hash`.
uint64_t Fnv64(std::string_view bytes, uint64_t hash = 1469598103934665603ULL);

std::string JournalPath(const std::string& file);

// The journal of a write of `written` over the file from `offset` on (`old`), leaving the file
// `newSize` bytes long.
std::string MakeJournal(off_t offset, std::string_view old, off_t newSize,
                        std::string_view written);

// Puts back a write that a killed writer left half done. A journal cut short was left before its
// write began, and is simply dropped. False only when the file could not be put back.
bool Recover(const std::string& file, int data);

// Whether bytes that a write replaces hold anything past the end of the line it changes but keys
// without a value (a header's keys not yet set): a section's name or a value already written.
bool HoldsMarks(std::string_view old);

// Replaces the file from `offset` to its end (`old`) with `written`, flushed when asked or when
// earlier marks are at stake.
bool Replace(const std::string& file, int data, off_t offset, std::string_view old,
             std::string_view written, bool flush);

}  // namespace PRESCORA_NS::platform::auditjournal
