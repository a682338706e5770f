// The system's own error numbers and the trap every operation uses at its boundary.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "common/CError.h"
#include "common/Export.h"
#include "common/platform/errors.h"

namespace PRESCORA_NS {

enum OwnError : int32_t {
  errExecutorNotFound = 53,  // "No se ha encontrado el archivo executor.exe"
  errNodeListToResponse = 32000,
  errIniRead = 32001,
  errRequiredFields = 32002,
  errSoapXml = 32003,
  errInvalidDate = 32004,
  errInterfaceDisabled = 32005,
  errPrescriptionIdMissing = 32006,
  errExportRequest = 32007,
  errExportDispensing = 32008,
  errLoadXmlFile = 32009,
  errConnectService = 32010,
  errInvalidIniField = 32011,
  errForcedInternalResponse = 32013,
  errBlankArguments = 32014,
  errArgumentXml = 32015,
  errIniNotFound = 32016,
  errCardTimeout = 32018,
  errInvalidPrescriptionId = 32019,  // "El identificador de la prescripción no es válido"
  errDispensingInFlight = 32020,     // "Ya hay una dispensación en curso para esta prescripción"
  errInvalidAnswer = 32021,          // "La respuesta del servicio no es válida"
};

// The fixed Spanish description of one of the system's own errors (53 is the executor's).
std::string OwnDescription(int32_t number);

// Raises one of the system's own errors with its fixed description.
[[noreturn]] void Raise(int32_t number, std::string source);

// Turns whatever was thrown into the failure to record: a Failure as it is, std::bad_alloc as
// runtime error 7, any other exception as runtime error 5 with its text.
platform::Failure ToFailure(std::exception_ptr error) noexcept;

// Records a failure in the library error collection (objErrores).
void StoreError(const platform::Failure& error) noexcept;

struct TrapOptions {
  // Put before the log line (the executor object's identifier and a space).
  std::string logPrefix;
  // False: log the failure but do not record it in objErrores.
  bool store = true;
  // Called with the failure before it is recorded, to adjust it.
  std::function<void(platform::Failure&)> adjust;
  // Its text is appended to the log line (after `adjust` ran).
  std::function<std::string()> logTail;
};

// Logs and records a trapped failure of `procedure`: StoreError, then the message-log line
// prefix + procedure + ":(" + number + ")" + description + tail. Returns the failure.
platform::Failure HandleFailure(std::string_view procedure, std::exception_ptr error,
                                const TrapOptions& options = {}) noexcept;

// Runs `body`; a failure is handled as above and the result is false. Never throws.
template <class Body>
bool Trap(std::string_view procedure, Body&& body, const TrapOptions& options = {}) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    HandleFailure(procedure, std::current_exception(), options);
    return false;
  }
}

// The errors of one operation of a front object. The thread's collection (objErrores) gathers
// every error of the library; a mark taken when the operation starts hands over only those
// recorded after it (all of them when the collection was emptied meanwhile, as a front object's
// construction does), so that Errores tells about one call.
class ErrorsOfCall {
 public:
  ErrorsOfCall() noexcept;
  // Replaces the items of `errores` with the errors recorded since the mark.
  void CopyTo(CError& errores) const noexcept;

 private:
  std::size_t start_;
  uint64_t resets_;
};

}  // namespace PRESCORA_NS
