#include "common/modError.h"

#include <new>

#include "common/modGlobal.h"
#include "common/platform/text.h"

namespace PRESCORA_NS {

std::string OwnDescription(int32_t number) {
  switch (number) {
    case errExecutorNotFound:
      return "No se ha encontrado el archivo executor.exe";
    case errNodeListToResponse:
      return "No se puede pasar los valores del objeto IXMLNodeList al objeto CRespuestaPeticion";
    case errIniRead:
      return "No se puede leer la información del archivo de inicialización (.ini)";
    case errRequiredFields:
      return "Inicialice los campos obligatorios";
    case errSoapXml:
      return "La petición SOAP/XML generada tiene errores";
    case errInvalidDate:
      return "La fecha no es válida";
    case errInterfaceDisabled:
      return "La interfaz Prescora no está activa. Posiblemente no se han cargado los daos del "
             "archivo de inicialización correctamente";
    case errPrescriptionIdMissing:
      return "No se encuentra el identificador de la preescripción";
    case errExportRequest:
      return "No se puede exportar la petición de dispensación";
    case errExportDispensing:
      return "No se puede exportar la dispensación";
    case errLoadXmlFile:
      return "No se puede cargar el archivo XML";
    case errConnectService:
      return "No se puede conectar con el servicio web";
    case errInvalidIniField:
      return "El nombre del campo a buscar en el archivo .ini para generar la respuesta por "
             "defecto no es válido";
    case errForcedInternalResponse:
      return "Se ha forzado la respuesta interna de 'Interface Prescora' para la dispensación";
    case errBlankArguments:
      return "Alguno de los argumentos de entrada a la función están en blanco";
    case errArgumentXml:
      return "No se puede leer el contenido XML para la calse CArgument";
    case errIniNotFound:
      return "No se ha encontrado el archivo de inicialización";
    case errCardTimeout:
      return "Se ha excedido el tiempo máximo de espera para leer los datos de la tarjeta";
    case errInvalidPrescriptionId:
      return "El identificador de la prescripción no es válido";
    case errDispensingInFlight:
      return "Ya hay una dispensación en curso para esta prescripción";
    case errInvalidAnswer:
      return "La respuesta del servicio no es válida";
    default:
      return platform::RuntimeDescription(number);
  }
}

void Raise(int32_t number, std::string source) {
  throw platform::Failure(number, std::move(source), OwnDescription(number));
}

platform::Failure ToFailure(std::exception_ptr error) noexcept {
  try {
    try {
      if (error) std::rethrow_exception(error);
      return platform::Failure(platform::errInvalidCall, kLibraryTitle,
                               platform::RuntimeDescription(platform::errInvalidCall));
    } catch (const platform::Failure& failure) {
      return failure;
    } catch (const prescora::RaisedError& raised) {
      // Raised by another module behind a late-bound call.
      return platform::Failure(raised.Number(), raised.Source(), raised.Description());
    } catch (const std::bad_alloc&) {
      return platform::Failure(platform::errOutOfMemory, kLibraryTitle,
                               platform::RuntimeDescription(platform::errOutOfMemory));
    } catch (const std::exception& other) {
      std::string text = other.what();
      if (text.empty()) text = platform::RuntimeDescription(platform::errInvalidCall);
      return platform::Failure(platform::errInvalidCall, kLibraryTitle, std::move(text));
    } catch (...) {
      return platform::Failure(platform::errInvalidCall, kLibraryTitle,
                               platform::RuntimeDescription(platform::errInvalidCall));
    }
  } catch (...) {
    // Not even the failure could be built (no memory): an item with no texts.
    return platform::Failure(platform::errOutOfMemory, {}, {});
  }
}

void StoreError(const platform::Failure& error) noexcept {
  try {
    // The application shows these texts to people: no password of a URL in them.
    objErrores().AddError(platform::Failure(error.Number(),
                                            platform::text::MaskUserInfo(error.Source()),
                                            platform::text::MaskUserInfo(error.Description())));
  } catch (...) {
    objErrores().AddError(error);
  }
}

platform::Failure HandleFailure(std::string_view procedure, std::exception_ptr error,
                                const TrapOptions& options) noexcept {
  platform::Failure failure = ToFailure(error);
  try {
    if (options.adjust) options.adjust(failure);
  } catch (...) {
  }
  if (options.store) StoreError(failure);
  try {
    std::string line = options.logPrefix;
    line.append(procedure);
    line += ":(" + std::to_string(failure.Number()) + ")" + failure.Description();
    if (options.logTail) line += options.logTail();
    objLog().Writeln(line);
  } catch (...) {
  }
  return failure;
}

ErrorsOfCall::ErrorsOfCall() noexcept
    : start_(objErrores().Errores().size()), resets_(objErrores().Resets()) {}

void ErrorsOfCall::CopyTo(CError& errores) const noexcept {
  const CError& all = objErrores();
  const std::vector<CErrorItem>& items = all.Errores();
  const std::size_t from = all.Resets() == resets_ && start_ <= items.size() ? start_ : 0;
  errores.ResetErrorsCollection();
  for (std::size_t i = from; i < items.size(); ++i) errores.AddError2(items[i]);
}

}  // namespace PRESCORA_NS
