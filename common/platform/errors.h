// The runtime's error numbers and the exception that carries a failure to the trap of the
// operation that raised it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "common/Export.h"

namespace prescora {
// What every raised error is underneath, whichever module raised it. Each library has its own
// Failure type (the namespaces keep them apart), so a failure that crosses a late-bound call
// from another module is caught by this common base and keeps its number.
class RaisedError : public std::runtime_error {
 public:
  RaisedError(int32_t number, std::string source, std::string description)
      : std::runtime_error(description),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)) {}
  int32_t Number() const noexcept { return number_; }
  const std::string& Source() const noexcept { return source_; }
  const std::string& Description() const noexcept { return description_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};
}  // namespace prescora

namespace PRESCORA_NS::platform {

// A raised error: what the trap of the operation records as an error item.
class Failure : public prescora::RaisedError {
 public:
  Failure(int32_t number, std::string source, std::string description);
};

// Classic runtime error numbers used by the system.
enum RuntimeError : int32_t {
  errInvalidCall = 5,      // "Llamada a procedimiento o argumento no válidos"
  errOverflow = 6,         // "Desbordamiento"
  errOutOfMemory = 7,      // "Memoria insuficiente"
  errSubscript = 9,        // "El subíndice está fuera del intervalo"
  errDivisionByZero = 11,  // "División por cero"
  errTypeMismatch = 13,    // "No coinciden los tipos"
  errFileNotFound = 53,    // "No se ha encontrado el archivo"
  errPermissionDenied = 70,
  errPathFileAccess = 75,
  errPathNotFound = 76,
  errObjectNotSet = 91,
  errNoSuchMember = 438,  // "El objeto no acepta esta propiedad o método"
  errCannotCreateObject = 429,
  errDuplicateKey = 457,
};

// The runtime's own Spanish description of a runtime error number; a generic text for others.
std::string RuntimeDescription(int32_t number);

// Raises a runtime error with its own description. An empty source becomes the module's title,
// as the runtime names the project.
[[noreturn]] void RaiseRuntime(int32_t number, std::string source = {});

// Maps an errno value of a failed file operation to the runtime error the platform would give
// (2 -> 53, 13 -> 70, ...), and raises it.
[[noreturn]] void RaiseFromErrno(int err, std::string source = {});
int32_t RuntimeErrorFromErrno(int err) noexcept;

}  // namespace PRESCORA_NS::platform
