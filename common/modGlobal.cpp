#include "common/modGlobal.h"

#include "common/platform/files.h"

#include <cctype>

#include "common/platform/convert.h"
#include "common/platform/profile.h"
#include "common/platform/soap.h"

namespace PRESCORA_NS {

namespace {

// The thread's set of shared objects. Each library has its own (the type lives in the library's
// namespace and is hidden), created when the thread first uses one and destroyed with the thread.
struct SharedObjects {
  CLog log;
  CLog trace;
  CError errores;
  std::string esquemaXML;
};

SharedObjects& Shared() noexcept {
  thread_local SharedObjects objects;
  return objects;
}

constexpr const char* kReadProcedure = "modGlobal.GetPrivateProfileStringEx";

bool IsPasswordKey(std::string_view key) {
  constexpr std::string_view password = "password";
  if (key.size() != password.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(key[i])) != password[i]) return false;
  }
  return true;
}

}  // namespace

CLog& objLog() noexcept {
  return Shared().log;
}
CLog& objTrace() noexcept {
  return Shared().trace;
}
CError& objErrores() noexcept {
  return Shared().errores;
}
std::string& strEsquemaXML() noexcept {
  return Shared().esquemaXML;
}

std::string GetPrivateProfileStringEx(const std::string& strFile, std::string_view strSection,
                                      std::string_view strKey) noexcept {
  objTrace().WriteTrace(nullptr, true, kReadProcedure, "");
  std::string value;
  try {
    value = platform::profile::GetString(strFile, strSection, strKey, "", 255);
  } catch (...) {
  }
  // The proxy password must not reach the trace file in clear.
  objTrace().WriteTrace(nullptr, false, kReadProcedure, IsPasswordKey(strKey) ? "********" : value);
  return value;
}

int32_t TamanioMaximoRespuesta(const std::string& strFile) noexcept {
  try {
    return platform::convert::RoundToInt32(platform::convert::LeadingNumber(
        GetPrivateProfileStringEx(strFile, "Configuracion", "TamanioMaximoRespuesta")));
  } catch (...) {
    return 0;
  }
}

std::string DestinationText(const platform::soap::Client& client) {
  std::string text = "Las peticiones al servicio web se envían a " + client.Destination();
  if (client.DestinationElsewhere())
    text += ", otro servidor que el de la descripción del servicio";
  return text;
}

std::string AddBackslash(std::string_view strPath) noexcept {
  try {
    std::string path(strPath);
    if (path.empty() || path.back() != '/') path += '/';
    return path;
  } catch (...) {
    return {};
  }
}

std::string FormatDate(std::string_view strDate) noexcept {
  try {
    // Only a whole yyyymmdd: a shorter or longer number would come out as a date that does not
    // exist ("2024051" as 2024/05/51).
    if (strDate.size() != 8) return {};
    for (char c : strDate)
      if (c < '0' || c > '9') return {};
    std::string out(strDate.substr(0, 4));
    out += '/';
    out.append(strDate.substr(4, 2));
    out += '/';
    out.append(strDate.substr(6, 2));
    return out;
  } catch (...) {
    return {};
  }
}

TraceScope::TraceScope(std::string procedure) noexcept {
  try {
    procedure_ = std::move(procedure);
  } catch (...) {
  }
  objTrace().WriteTrace(nullptr, true, procedure_, "");
}

TraceScope::~TraceScope() {
  objTrace().WriteTrace(nullptr, false, procedure_, value_);
}

namespace {

void WriteRefusal(const std::string& path, const char* reason) {
  // A wait looks at the same file on every pass: one line for it, not one per pass.
  thread_local std::string last;
  std::string line = std::string("Se rechaza el archivo ") + path + ": " + reason;
  if (line == last) return;
  objLog().Writeln(line);
  last = std::move(line);
}

}  // namespace

void ReportRefusedFiles() noexcept {
  platform::files::SetRefusalReporter(&WriteRefusal);
}

}  // namespace PRESCORA_NS
