// Per-thread shared objects of the dispensing library, beside those of the common code.
#pragma once

#include "common/Export.h"

namespace PRESCORA_NS {

class CConfig;
class CAuditor;

// The calling thread's settings and audit writer, created on first use.
CConfig& objConfig() noexcept;
CAuditor& objAuditor() noexcept;

}  // namespace PRESCORA_NS
