#include "common/platform/events.h"

#include <utility>

namespace PRESCORA_NS::platform::events {

namespace {
thread_local std::function<void()> hook;
}

void SetHook(std::function<void()> value) {
  hook = std::move(value);
}

void SetMessageLoopHook(std::function<void()> value) {
  SetHook(std::move(value));
}

void DoEvents() noexcept {
  if (!hook) return;
  try {
    // A copy, so a hook that replaces itself does not destroy the function being run.
    auto current = hook;
    current();
  } catch (...) {
  }
}

}  // namespace PRESCORA_NS::platform::events
