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

// The files of the library folder that a front object works with.
struct FrontObjectFiles {
  std::string log;    // Interface.log
  std::string trace;  // Interface.txt
  std::string ini;    // Interface.ini
};

// The start of a front object's construction, shared by CInterface and CExecutor: the file paths,
// the logs as the settings load needs them (message log on, trace off), an empty library error
// collection, the settings, the log size limit and the entry trace line of `procedure`. Raises
// 32001 with source `procedure` when the settings do not load.
FrontObjectFiles PrepareSharedObjects(const char* procedure, const void* caller);

// After a successful settings load: the logs and the audit writer as the settings say.
void ApplyLoadedSettings(const CConfig& config);

// Saves the document to `strPath` (atomically: a reader polling for the file never finds half of
// it). Raises 76 when the folder is missing, the file system's error when it cannot be written.
void SaveXMLFile(const platform::xml::Document& document, const std::string& strPath);

}  // namespace PRESCORA_NS
