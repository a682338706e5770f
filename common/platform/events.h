// The message loop: a per-thread hook the host may set, called on every pass of a wait.
#pragma once

#include <functional>

#include "common/Export.h"

namespace PRESCORA_NS::platform::events {

// Sets the calling thread's hook; an empty function removes it. Exported: the application that
// links the library sets its own message loop here.
PRESCORA_API void SetMessageLoopHook(std::function<void()> hook);

// Yields once to the calling thread's message loop: calls the hook when one is set. A hook that
// throws is ignored.
PRESCORA_API void DoEvents() noexcept;

}  // namespace PRESCORA_NS::platform::events
