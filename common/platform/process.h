// Starting the launcher: a new process, detached, not waited for.
#pragma once

#include <string>
#include <vector>

#include "common/Export.h"

namespace PRESCORA_NS::platform::process {

// Starts `program` with `arguments` (argv[1..]) through posix_spawn, standard streams on
// /dev/null, in a session of its own. The host is never left with a zombie: the child is the
// grandchild of a short-lived intermediate, or is reaped. False when the start failed.
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace PRESCORA_NS::platform::process
