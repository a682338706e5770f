// The component runtime: where a library lives, and creating a class by programmatic identifier.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/Export.h"

namespace prescora {
// A created object, called by member name (late binding). Arguments are texts, passed by
// reference so members may write them back; the result is a text ("True"/"False" for Booleans).
// This is the one type both libraries and the launcher agree on, so it lives outside the
// libraries' namespaces; it has no state and no code of its own.
class IComponent {
 public:
  virtual ~IComponent() = default;
  // Raises a Failure (438, "El objeto no acepta esta propiedad o método") for an unknown member.
  // A caller in another module catches it as prescora::RaisedError (platform/errors.h), which
  // keeps the number; ToFailure (common/modError.h) does that.
  virtual std::string Invoke(std::string_view member, std::vector<std::string>& arguments) = 0;
};
}  // namespace prescora

namespace PRESCORA_NS::platform::component {

// Identifiers and member names are matched without regard to case (ASCII).
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The folder of the library (or program) that holds this code, without a trailing "/".
std::string LibraryFolder();
// A path in that folder: the folder, "/" and `name`; "" gives the folder with its "/".
std::string InLibraryFolder(std::string_view name);

// Tests that link the code statically point the library folder at a temporary folder; an empty
// text restores the real one. Applies to the whole process.
void SetLibraryFolderForTesting(std::string folder);

using prescora::IComponent;

// Creates "Library.Class": loads lib<Library>.so from the library folder (never unloaded) and asks
// its exported PrescoraCreateObject for the class. Raises 429 when the library or the class
// cannot be had.
std::unique_ptr<IComponent> CreateObject(std::string_view progId);

// Loads lib<Library>.so from the library folder ahead of CreateObject, which then finds it loaded
// (the loading and relocation are most of a program's start), and lets it prepare itself through
// its exported PrescoraPrepare, when it has one. False when it cannot be loaded.
bool Preload(std::string_view library) noexcept;

}  // namespace PRESCORA_NS::platform::component

// Exported by each library: a new object of the named class, or null when the library has none.
// The caller owns it and deletes it through IComponent's virtual destructor.
// Defined once per library from its component registry (common/ComponentRegistry.h); the launcher
// defines none.
extern "C" PRESCORA_API prescora::IComponent* PrescoraCreateObject(const char* className);

// Exported by a library that has process-wide work to do before its first object is wanted
// (optional): called by Preload, in a process that loads the library ahead of need.
extern "C" PRESCORA_API void PrescoraPrepare();
