// Named points on the road of a dispensing where a test may hold a process: the exact window
// between two steps of the front object or the executor, reached without sleeps that hope to hit
// it. By default nothing happens there. The setter is not exported from the shipped libraries:
// only a program linked with a library's static archive (the tests) can reach it.
#pragma once

#include <functional>
#include <string_view>

#include "common/Export.h"

namespace PRESCORA_NS::platform::checkpoint {

// Calls the hook set for the process with the point's name; a hook that throws is ignored.
void Reach(std::string_view name) noexcept;

// Sets the process's hook; an empty function removes it.
void SetHookForTesting(std::function<void(std::string_view)> hook);

}  // namespace PRESCORA_NS::platform::checkpoint
