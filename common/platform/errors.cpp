#include "common/platform/errors.h"

#include <cerrno>

namespace PRESCORA_NS::platform {

Failure::Failure(int32_t number, std::string source, std::string description)
    : prescora::RaisedError(number, std::move(source), std::move(description)) {}

std::string RuntimeDescription(int32_t number) {
  switch (number) {
    case 3:
      return "Return sin GoSub";
    case 5:
      return "Llamada a procedimiento o argumento no válidos";
    case 6:
      return "Desbordamiento";
    case 7:
      return "Memoria insuficiente";
    case 9:
      return "El subíndice está fuera del intervalo";
    case 10:
      return "Esta matriz está fija o temporalmente bloqueada";
    case 11:
      return "División por cero";
    case 13:
      return "No coinciden los tipos";
    case 28:
      return "No hay espacio suficiente en la pila";
    case 48:
      return "Error al cargar la DLL";
    case 52:
      return "Nombre o número de archivo incorrecto";
    case 53:
      return "No se ha encontrado el archivo";
    case 54:
      return "Modo de archivo incorrecto";
    case 55:
      return "El archivo ya está abierto";
    case 57:
      return "Error de E/S de dispositivo";
    case 58:
      return "El archivo ya existe";
    case 61:
      return "Disco lleno";
    case 62:
      return "La entrada pasó del final del archivo";
    case 67:
      return "Demasiados archivos";
    case 68:
      return "Dispositivo no disponible";
    case 70:
      return "Permiso denegado";
    case 71:
      return "El disco no está listo";
    case 75:
      return "Error de acceso a la ruta o el archivo";
    case 76:
      return "No se ha encontrado la ruta de acceso";
    case 91:
      return "Variable de tipo Object o la variable de bloque With no está establecida";
    case 94:
      return "Uso no válido de Null";
    case 424:
      return "Se requiere un objeto";
    case 429:
      return "El componente ActiveX no puede crear el objeto";
    case 438:
      return "El objeto no acepta esta propiedad o método";
    case 457:
      return "Esta clave ya está asociada con un elemento de esta colección";
    default:
      return "Error definido por la aplicación o el objeto";
  }
}

void RaiseRuntime(int32_t number, std::string source) {
  if (source.empty()) source = PRESCORA_TITLE;
  throw Failure(number, std::move(source), RuntimeDescription(number));
}

int32_t RuntimeErrorFromErrno(int err) noexcept {
  switch (err) {
    case ENOENT:
      return 53;
    case ENOTDIR:
      return 76;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
    case ETXTBSY:
      return 70;
    case EEXIST:
      return 58;
    case ENOSPC:
    case EDQUOT:
      return 61;
    case EIO:
      return 57;
    case ENAMETOOLONG:
      return 52;
    case EMFILE:
    case ENFILE:
      return 67;
    case ENOMEM:
      return 7;
    case EINVAL:
      return 5;
    default:
      return 75;
  }
}

void RaiseFromErrno(int err, std::string source) {
  RaiseRuntime(RuntimeErrorFromErrno(err), std::move(source));
}

}  // namespace PRESCORA_NS::platform
