// What a host asks of the library itself rather than of one of its classes: its version, the
// message loop its waits yield to, and the text of an error number.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/Export.h"

namespace PRESCORA_NS {

// The version of the library actually loaded, "major.minor.patch". Compare it with the version
// the host was built against (the VERSION macros of the library's Config.h) to catch a host run
// against an older library than it needs.
PRESCORA_API const char* Version() noexcept;

// Sets the calling thread's message loop: called on every pass of the library's waits (every few
// milliseconds while a dispensing waits for its answer or the card reader for a card), so that a
// host with a user interface keeps it alive. An empty function removes it; one that throws is
// ignored.
PRESCORA_API void SetMessageLoopHook(std::function<void()> hook);

// The Spanish description of an error number: the system's own (53, 32000 to 32021) or the
// runtime's classic ones; "Error definido por la aplicación o el objeto" for any other.
PRESCORA_API std::string ErrorText(int32_t number);

}  // namespace PRESCORA_NS
