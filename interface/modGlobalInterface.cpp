#include "interface/modGlobalInterface.h"

#include <atomic>
#include <cstdio>

#include <unistd.h>

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
  std::string folder = slash == std::string::npos ? "." : strPath.substr(0, slash);
  if (folder.empty()) folder = "/";
  if (!platform::files::IsDirectory(folder)) platform::RaiseRuntime(platform::errPathNotFound);

  static std::atomic<unsigned> saves{0};
  std::string temp =
      strPath + ".~" + std::to_string(::getpid()) + "-" + std::to_string(saves.fetch_add(1));
  if (!document.Save(temp)) {
    std::remove(temp.c_str());
    platform::RaiseRuntime(platform::errPathFileAccess);
  }
  try {
    platform::files::Rename(temp, strPath);
  } catch (...) {
    std::remove(temp.c_str());
    throw;
  }
}

}  // namespace PRESCORA_NS
