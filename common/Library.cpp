#include "common/Library.h"

#include <utility>

#include "common/modError.h"
#include "common/platform/events.h"

namespace PRESCORA_NS {

namespace {
#define PRESCORA_STRINGIFY2(x) #x
#define PRESCORA_STRINGIFY(x) PRESCORA_STRINGIFY2(x)
constexpr const char* kVersion = PRESCORA_STRINGIFY(PRESCORA_VERSION_MAJOR) "." PRESCORA_STRINGIFY(
    PRESCORA_VERSION_MINOR) "." PRESCORA_STRINGIFY(PRESCORA_VERSION_PATCH);
}  // namespace

const char* Version() noexcept {
  return kVersion;
}

void SetMessageLoopHook(std::function<void()> hook) {
  platform::events::SetHook(std::move(hook));
}

std::string ErrorText(int32_t number) {
  return OwnDescription(number);
}

}  // namespace PRESCORA_NS
