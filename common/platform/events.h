// The message loop: a per-thread hook the host may set, called on every pass of a wait.
#pragma once

#include <functional>

#include "common/Export.h"

// Hosts set the hook with SetMessageLoopHook of common/Library.h; the name below stays for those
// built against it before.
#ifndef PRESCORA_DEPRECATED_HOOK
#define PRESCORA_DEPRECATED_HOOK
#endif

namespace PRESCORA_NS::platform::events {

// Sets the calling thread's hook; an empty function removes it.
void SetHook(std::function<void()> hook);

// The former public name of SetHook, kept for hosts built against it.
PRESCORA_DEPRECATED_HOOK PRESCORA_API void SetMessageLoopHook(std::function<void()> hook);

// Yields once to the calling thread's message loop: calls the hook when one is set. A hook that
// throws is ignored.
PRESCORA_API void DoEvents() noexcept;

}  // namespace PRESCORA_NS::platform::events
