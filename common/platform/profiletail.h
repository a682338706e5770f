// Private-profile files that grow at the end and are written near it: the audit trail, one
// section per dispensing, the section a write touches nearly always among the last.
//
// The file is the same INI text `profile` reads and writes, with the same rules for names,
// values and new keys, readable by any INI reader. What differs is the cost: a write rewrites
// only the file from the section it changes to the end, and a read looks for its section from
// the end, so neither grows with the file. Whether a section exists at all, and where it was
// last seen, is answered by an index of section names ("<file>.idx", kept for files past a few
// hundred kilobytes, rebuilt from the file whenever it does not match it), so neither a new
// section nor an old one costs a scan.
//
// Writes and reads hold an exclusive flock on the file's folder, as `profile` does, so
// concurrent writers lose nothing. A write that changes more than a few bytes in place first
// saves the bytes it replaces in "<file>.journal" (flushed first when they hold marks past the
// line it changes), then writes the file (flushed, see Durability), then removes the journal;
// whoever next opens the file under the lock puts a journal left by a killed writer back. A writer
// killed at any moment loses at most its own write, never an earlier section. A reader that takes
// no lock (any other INI reader) may see a write half done.
//
// The first section of a name is the one readers take; the file written here never holds two
// sections of one name, and in a file that does, the last one is the one read and written.
//
// The index, the journal and the line scanning live apart (auditindex, auditjournal, auditscan);
// the bytes of the index and journal files are described in docs/formatos.md.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Export.h"

namespace PRESCORA_NS::platform::profiletail {

// As profile::GetString: the value, or the default when the file, section or key is missing; a
// buffer of n characters returns at most n-1 of them.
std::string GetString(const std::string& file, std::string_view section, std::string_view key,
                      std::string_view defaultValue = "", std::size_t bufferChars = 255);

// Whether a write is on the disk when it returns. One left in memory survives its process
// however that ends (the system holds it) and is as safe from a killed writer; it reaches the
// disk with the next flushed write of the file, a Flush, or the system's own writing a few
// seconds later. A write that must save the bytes it replaces in the journal is always flushed.
enum class Durability { kFlushed, kInMemory };

// As profile::WriteStrings: several keys of one section in one locked write, creating the file
// (never its folder), the section and the keys when missing. False when the file could not be
// written; never throws.
bool WriteStrings(const std::string& file, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>>& values,
                  Durability durability = Durability::kFlushed);

bool WriteString(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value, Durability durability = Durability::kFlushed);

// Puts on the disk what was written to the file and is still in memory. False when it could not.
bool Flush(const std::string& file);

// One section of the file as read: its name and its keys with their values, in the file's order.
struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
};

// Every section of the file, in the file's order, read as GetString reads one: under the lock,
// after a journal left by a killed writer is put back (the index is not consulted). Nothing when
// the file is missing, is not a regular file or cannot be read. A line too long to be one of a
// record (over 64 KB) is skipped, never held; `longLines`, when given, counts them.
std::vector<Section> ReadSections(const std::string& file, std::size_t* longLines = nullptr);

}  // namespace PRESCORA_NS::platform::profiletail
