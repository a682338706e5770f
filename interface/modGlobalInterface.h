// Per-thread shared objects of the dispensing library, beside those of the common code.
#pragma once

#include <string>

#include "common/Export.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS {

class CConfig;
class CAuditor;

// The calling thread's settings and audit writer, created on first use.
CConfig& objConfig() noexcept;
CAuditor& objAuditor() noexcept;

// Saves the document to `strPath` (atomically: a reader polling for the file never finds half of
// it). Raises 76 when the folder is missing, the file system's error when it cannot be written.
void SaveXMLFile(const platform::xml::Document& document, const std::string& strPath);

}  // namespace PRESCORA_NS
