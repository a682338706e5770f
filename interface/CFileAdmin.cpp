#include "interface/CFileAdmin.h"

#include <unistd.h>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/files.h"
#include "interface/CConfig.h"
#include "interface/modGlobalInterface.h"

namespace PRESCORA_NS {

namespace files = platform::files;

namespace {

// The library folder with its trailing "/"; path operations report no failures.
std::string Root() noexcept {
  try {
    return platform::component::InLibraryFolder("");
  } catch (...) {
    return AddBackslash("");
  }
}

std::string TracedPath(const char* procedure, const char* name) noexcept {
  TraceScope trace(procedure);
  try {
    return Root() + name;
  } catch (...) {
    return {};
  }
}

std::string ResponseName(const std::string& strIdPrescripcion) {
  return strIdPrescripcion + ".xml";
}

}  // namespace

CFileAdmin::CFileAdmin() noexcept {
  TraceScope trace("CFileAdmin.Class_Initialize");
}

CFileAdmin::CFileAdmin(const CFileAdmin&) noexcept : CFileAdmin() {}

CFileAdmin::~CFileAdmin() {
  TraceScope trace("CFileAdmin.Class_Terminate");
}

std::string CFileAdmin::DefaultResponseFile() const noexcept {
  try {
    return files::FindIgnoringCase(Root() + "defrespo.xml");
  } catch (...) {
    return {};
  }
}

std::string CFileAdmin::InternalResponseFile() const noexcept {
  try {
    return Root() + "internal.xml";
  } catch (...) {
    return {};
  }
}

std::string CFileAdmin::GetDllPath() const noexcept {
  return TracedPath("CFileAdmin.GetDllPath", "");
}

std::string CFileAdmin::GetSendedPath() const noexcept {
  return TracedPath("CFileAdmin.GetSendedPath", "Enviados/");
}

std::string CFileAdmin::GetAuditorPath() const noexcept {
  return TracedPath("CFileAdmin.GetAuditorPath", "Auditoria/");
}

std::string CFileAdmin::GetDelayedPath() const noexcept {
  return TracedPath("CFileAdmin.GetDelayedPath", "Retrasados/");
}

std::string CFileAdmin::GetReceivedPath() const noexcept {
  return TracedPath("CFileAdmin.GetReceivedPath", "Recibidos/");
}

bool CFileAdmin::MakeFolder(const char* procedure, const char* name) noexcept {
  TraceScope trace(procedure);
  return Trap(procedure, [&] {
    std::string path = Root() + name;
    // A file of that name counts as present: it is left alone.
    if (!files::Exists(path)) files::MakeDirectory(path);
  });
}

bool CFileAdmin::MakeSended() noexcept {
  return MakeFolder("CFileAdmin.MakeSended", "Enviados");
}

bool CFileAdmin::MakeReceived() noexcept {
  return MakeFolder("CFileAdmin.MakeReceived", "Recibidos");
}

bool CFileAdmin::MakeDelayed() noexcept {
  return MakeFolder("CFileAdmin.MakeDelayed", "Retrasados");
}

bool CFileAdmin::MakeAuditor() noexcept {
  return MakeFolder("CFileAdmin.MakeAuditor", "Auditoria");
}

bool CFileAdmin::Exist(const char* procedure, const std::string& path) noexcept {
  bool result = false;
  Trap(procedure, [&] { result = files::IsFile(path); });
  return result;
}

bool CFileAdmin::ExistExecutorFile() noexcept {
  static constexpr const char* kProcedure = "CFileAdmin.ExistExecutorFile";
  TraceScope trace(kProcedure);
  return Exist(kProcedure, Root() + "executor.exe");
}

bool CFileAdmin::ExistIniFile() noexcept {
  static constexpr const char* kProcedure = "CFileAdmin.ExistIniFile";
  TraceScope trace(kProcedure);
  // The same file the settings reader finds.
  return Exist(kProcedure, files::FindIgnoringCase(Root() + kLibraryTitle + ".ini"));
}

bool CFileAdmin::ExistDefaultResponseFile() noexcept {
  static constexpr const char* kProcedure = "CFileAdmin.ExistDefaultResponseFile";
  TraceScope trace(kProcedure);
  return Exist(kProcedure, DefaultResponseFile());
}

bool CFileAdmin::ExistResponseFile(const std::string& strIdPrescripcion,
                                   FolderEnum ResponseDir) noexcept {
  static constexpr const char* kProcedure = "CFileAdmin.ExistResponseFile";
  const char* folder = nullptr;
  switch (ResponseDir) {
    case fldRoot:
      folder = "";
      break;
    case fldSended:
      folder = "Enviados/";
      break;
    case fldReceived:
      folder = "Recibidos/";
      break;
  }
  if (folder == nullptr) return false;
  bool result = false;
  Trap(kProcedure,
       [&] { result = files::IsFile(Root() + folder + ResponseName(strIdPrescripcion)); });
  return result;
}

bool CFileAdmin::DeleteFrom(const char* procedure, const char* folder,
                            const std::string& strIdPrescripcion) noexcept {
  TraceScope trace(procedure);
  return Trap(procedure, [&] {
    std::string path = Root() + folder + ResponseName(strIdPrescripcion);
    if (files::IsFile(path)) {
      files::MakeWritable(path);
      files::Delete(path);
    }
  });
}

bool CFileAdmin::DeleteFromSended(const std::string& strIdPrescripcion) noexcept {
  return DeleteFrom("CFileAdmin.DeleteFromSended", "Enviados/", strIdPrescripcion);
}

bool CFileAdmin::DeleteFromReceived(const std::string& strIdPrescripcion) noexcept {
  return DeleteFrom("CFileAdmin.DeleteFromReceived", "Recibidos/", strIdPrescripcion);
}

bool CFileAdmin::MoveToDelayed(const std::string& strFolder,
                               const std::string& strFileTitle) noexcept {
  static constexpr const char* kProcedure = "CFileAdmin.MoveToDelayed";
  TraceScope trace(kProcedure);
  return Trap(kProcedure, [&] {
    std::string source = AddBackslash(strFolder) + strFileTitle;
    const std::string delayed = Root() + "Retrasados/";
    // Moving a file onto itself would delete the only copy.
    if (files::SameFile(source, delayed + strFileTitle)) return;
    // A late answer never replaces another one kept there: a taken name gets " (2)", " (3)", ...
    // The copy is made under a hidden name first, so a name is only ever given to a whole file.
    const std::string temp = delayed + "." + strFileTitle + "." + std::to_string(::getpid());
    files::Copy(source, temp);
    const auto point = strFileTitle.rfind('.');
    const std::string stem =
        point == std::string::npos ? strFileTitle : strFileTitle.substr(0, point);
    const std::string extension = point == std::string::npos ? "" : strFileTitle.substr(point);
    try {
      files::MoveWithoutReplacing(temp, delayed, stem, extension);
    } catch (...) {
      ::unlink(temp.c_str());
      throw;
    }
    if (files::IsFile(source)) {
      files::MakeWritable(source);
      files::Delete(source);
    }
  });
}

void CFileAdmin::DeleteLogFileIfExcededSize() noexcept {
  // Every step may fail on its own (no file, no permission); the next one is still tried.
  std::string log;
  bool exceeded = false;
  // A limit of 0 or less (the key absent, most often) is no limit: deleting the log at every
  // construction would delete the lines the front object just wrote for the same dispensing.
  if (objConfig().TamanioMaximoLog() <= 0) return;
  try {
    log = Root() + kLibraryTitle + ".log";
    exceeded = static_cast<int64_t>(files::Size(log)) >= objConfig().TamanioMaximoLog();
  } catch (...) {
    exceeded = true;
  }
  if (!exceeded) return;
  try {
    files::MakeWritable(log);
  } catch (...) {
  }
  try {
    files::Delete(log);
  } catch (...) {
  }
}

}  // namespace PRESCORA_NS
