// Per-thread shared objects of the library and the small helpers every class uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/CError.h"
#include "common/CLog.h"
#include "common/Export.h"

namespace PRESCORA_NS {

namespace platform::soap {
class Client;
}

// Library title and version: "Interface" or "Initiator", 1.2.
inline constexpr const char* kLibraryTitle = PRESCORA_TITLE;
inline constexpr int kVersionMajor = PRESCORA_VERSION_MAJOR;
inline constexpr int kVersionMinor = PRESCORA_VERSION_MINOR;

// The calling thread's shared objects, created on first use.
CLog& objLog() noexcept;
// Makes every refused file of the library folder (a link, a pipe, a device) a line of the
// message log of the thread that met it.
void ReportRefusedFiles() noexcept;
CLog& objTrace() noexcept;
CError& objErrores() noexcept;
std::string& strEsquemaXML() noexcept;

// The value of a key of a settings file, "" when the file, section or key is missing; at most 254
// characters. Traced; a key named Password (any case) is masked in the trace.
std::string GetPrivateProfileStringEx(const std::string& strFile, std::string_view strSection,
                                      std::string_view strKey) noexcept;

// The most bytes of a service answer to take, from [Configuracion] TamanioMaximoRespuesta of the
// settings file (its leading number); 0 when absent, not a number or out of range, which leaves
// the SOAP client's own limit.
int32_t TamanioMaximoRespuesta(const std::string& strFile) noexcept;

// For the message log, once a SOAP client has read its description: where its calls go, and
// whether that is another server than the description's (allowed, as real services do, but then
// the log tells it).
std::string DestinationText(const platform::soap::Client& client);

// The path with a trailing "/" unless it already ends with one; "" gives "/".
std::string AddBackslash(std::string_view strPath) noexcept;

template <class T>
void ClearCollection(std::vector<T>& col) noexcept {
  col.clear();
}

// "yyyymmdd" to "yyyy/mm/dd"; "" for anything but exactly eight digits.
std::string FormatDate(std::string_view strDate) noexcept;

// Entry and exit trace lines of an operation. The exit line is written when the scope ends, with
// the value set last ("" by default).
class TraceScope {
 public:
  explicit TraceScope(std::string procedure) noexcept;
  ~TraceScope();
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;
  void set_Value(std::string value) noexcept { value_ = std::move(value); }
  void set_Value(bool value) noexcept { value_ = value ? "True" : "False"; }

 private:
  std::string procedure_;
  std::string value_;
};

}  // namespace PRESCORA_NS
