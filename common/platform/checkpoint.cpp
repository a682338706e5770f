#include "common/platform/checkpoint.h"

#include <mutex>

namespace PRESCORA_NS::platform::checkpoint {

namespace {

std::mutex hookMutex;
std::function<void(std::string_view)> hook;

}  // namespace

void Reach(std::string_view name) noexcept {
  std::function<void(std::string_view)> current;
  {
    std::lock_guard lock(hookMutex);
    if (!hook) return;
    current = hook;
  }
  try {
    current(name);
  } catch (...) {
  }
}

void SetHookForTesting(std::function<void(std::string_view)> value) {
  std::lock_guard lock(hookMutex);
  hook = std::move(value);
}

}  // namespace PRESCORA_NS::platform::checkpoint
