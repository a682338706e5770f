#include "interface/CConfig.h"

#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "common/platform/profile.h"

namespace PRESCORA_NS {

namespace convert = platform::convert;

CConfig::CConfig() noexcept {
  TraceScope trace("CConfig.Class_Initialize");
}

CConfig::~CConfig() {
  TraceScope trace("CConfig.Class_Terminate");
}

bool CConfig::LoadIni() noexcept {
  static constexpr const char* kProcedure = "CConfig.LoadIni";
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    platform::profile::ReadTogether together(archivoIni_);  // all of them from one reading
    auto text = [&](const char* section, const char* key) {
      return GetPrivateProfileStringEx(archivoIni_, section, key);
    };
    auto integer = [&](const char* section, const char* key) {
      return convert::ToInt16(text(section, key));
    };
    // Each value is stored as soon as it converts: a bad one stops the load right there.
    servicio_ = text("Configuracion", "Servicio");
    esquemaXML_ = text("Configuracion", "EsquemaXML") + " ";
    guardarPeticionSOAP_ = integer("Configuracion", "GuardarPeticionSOAP");
    generarLog_ = integer("Configuracion", "GenerarLog");
    generarTrace_ = integer("Configuracion", "GenerarTrace");
    peticionTimeOut_ = integer("Asincrono", "PeticionTimeOut");
    autoRespuesta_ = integer("Asincrono", "AutoRespuesta");
    eliminarXMLPeticion_ = integer("Asincrono", "EliminarXMLPeticion");
    eliminarXMLRespuesta_ = integer("Asincrono", "EliminarXMLRespuesta");
    archivoDiario_ = integer("Seguimiento", "ArchivoDiario");
    auditar_ = integer("Seguimiento", "Auditar") == 1;
    intervaloComprobacion_ = integer("Asincrono", "IntervaloComprobacion");
    tamanioMaximoLog_ =
        convert::RoundToInt32(convert::LeadingNumber(text("Configuracion", "TamanioMaximoLog")));
    codigoDispensacionOk_ = text("Configuracion", "CodigoDispensacionCorrecta");
    strEsquemaXML() = esquemaXML_;
    result = true;
  });
  trace.set_Value(result);
  return result;
}

bool CConfig::UpdateCounter(std::string_view procedure, std::string_view key) noexcept {
  TraceScope trace{std::string(procedure)};
  bool result = false;
  Trap(procedure, [&] {
    // Read, add one and write under the file's lock: concurrent executors never lose a count.
    // A counter that could not be written is a failure, not a count.
    errno = 0;
    const bool written =
        platform::profile::Update(archivoIni_, "MensajeSOAP", key,
                                  [](const std::string& current) -> std::optional<std::string> {
                                    if (!convert::IsNumeric(current)) return std::string("0");
                                    int32_t value = convert::ToInt32(current);
                                    if (value == std::numeric_limits<int32_t>::max())
                                      platform::RaiseRuntime(platform::errOverflow);
                                    return std::to_string(value + 1);
                                  });
    if (!written) platform::RaiseFromErrno(errno != 0 ? errno : EIO);
    result = true;
  });
  trace.set_Value(result);
  return result;
}

bool CConfig::UpdateAndSaveSended() noexcept {
  return UpdateCounter("CConfig.UpdateAndSaveSended", "Enviados");
}

bool CConfig::UpdateAndSaveReceived() noexcept {
  return UpdateCounter("CConfig.UpdateAndSaveReceived", "Recibidos");
}

std::string CConfig::LoadInternalResponse(std::string_view strKey) noexcept {
  static constexpr const char* kProcedure = "CConfig.LoadInternalResponse";
  std::string result;
  if (strKey.empty()) {
    Trap(kProcedure, [] { Raise(errInvalidIniField, kProcedure); });
    return result;
  }
  TraceScope trace(kProcedure);
  Trap(kProcedure,
       [&] { result = GetPrivateProfileStringEx(archivoIni_, "RespuestaDefecto", strKey); });
  trace.set_Value(result);
  return result;
}

}  // namespace PRESCORA_NS
