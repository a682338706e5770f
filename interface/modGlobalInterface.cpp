#include "interface/modGlobalInterface.h"

#include <cerrno>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/errors.h"
#include "common/platform/files.h"
#include "interface/CAuditor.h"
#include "interface/CConfig.h"
#include "interface/CFileAdmin.h"

namespace PRESCORA_NS {

CConfig& objConfig() noexcept {
  thread_local CConfig instance;
  return instance;
}

CAuditor& objAuditor() noexcept {
  thread_local CAuditor instance;
  return instance;
}

FrontObjectFiles PrepareSharedObjects(const char* procedure, const void* caller) {
  std::string folder = platform::component::InLibraryFolder("");
  FrontObjectFiles files{folder + kLibraryTitle + ".log", folder + kLibraryTitle + ".txt",
                         folder + kLibraryTitle + ".ini"};
  ReportRefusedFiles();
  CLog& log = objLog();
  log.set_FileName(files.log);
  log.set_Header("Log envío/recepción mensajes con SOAP ");
  log.set_Options(3);
  CLog& trace = objTrace();
  trace.set_FileName(files.trace);
  trace.set_Header("Log de trazas del ");
  trace.set_Options(0);

  objErrores().ResetErrorsCollection();

  CConfig& config = objConfig();
  config.set_ArchivoIni(files.ini);
  if (!config.LoadIni()) Raise(errIniRead, procedure);

  CFileAdmin().DeleteLogFileIfExcededSize();
  trace.WriteTrace(caller, true, procedure, "");
  return files;
}

void ApplyLoadedSettings(const CConfig& config) {
  objLog().set_Options(config.GenerarLog() == 1 ? 3 : 0);
  objTrace().set_Options(config.GenerarTrace() == 1 ? 1 : 0);
  CAuditor& auditor = objAuditor();
  auditor.set_Enable(config.Auditar());
  auditor.set_DiaryStore(config.ArchivoDiario() != 0);
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
