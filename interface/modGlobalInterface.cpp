#include "interface/modGlobalInterface.h"

#include <cerrno>

#include "common/platform/errors.h"
#include "common/platform/files.h"
#include "interface/CAuditor.h"
#include "interface/CConfig.h"

namespace PRESCORA_NS {

CConfig& objConfig() noexcept {
  thread_local CConfig instance;
  return instance;
}

CAuditor& objAuditor() noexcept {
  thread_local CAuditor instance;
  return instance;
}

void SaveXMLFile(const platform::xml::Document& document, const std::string& strPath) {
  auto slash = strPath.find_last_of('/');
  if (slash != std::string::npos &&
      !platform::files::IsDirectory(slash == 0 ? std::string(1, '/') : strPath.substr(0, slash)))
    platform::RaiseRuntime(platform::errPathNotFound);

  // The document layer writes beside the file and renames it into place.
  if (!document.Save(strPath)) {
    int err = document.saveErrno();
    if (err == 0 || err == ENOENT) platform::RaiseRuntime(platform::errPathFileAccess);
    platform::RaiseFromErrno(err);
  }
}

}  // namespace PRESCORA_NS
