// The dispensing library's settings, loaded from Interface.ini, and the two message counters kept
// in that same file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/Export.h"

namespace PRESCORA_NS {

class PRESCORA_API CConfig {
 public:
  CConfig() noexcept;
  ~CConfig();
  CConfig(const CConfig&) = delete;
  CConfig& operator=(const CConfig&) = delete;

  const std::string& ArchivoIni() const noexcept { return archivoIni_; }
  void set_ArchivoIni(std::string value) noexcept { archivoIni_ = std::move(value); }

  const std::string& Servicio() const noexcept { return servicio_; }
  int16_t GuardarPeticionSOAP() const noexcept { return guardarPeticionSOAP_; }
  int16_t GenerarLog() const noexcept { return generarLog_; }
  int16_t GenerarTrace() const noexcept { return generarTrace_; }
  int16_t PeticionTimeOut() const noexcept { return peticionTimeOut_; }
  int16_t AutoRespuesta() const noexcept { return autoRespuesta_; }
  int16_t EliminarXMLPeticion() const noexcept { return eliminarXMLPeticion_; }
  int16_t EliminarXMLRespuesta() const noexcept { return eliminarXMLRespuesta_; }
  int16_t ArchivoDiario() const noexcept { return archivoDiario_; }
  bool Auditar() const noexcept { return auditar_; }
  int16_t IntervaloComprobacion() const noexcept { return intervaloComprobacion_; }
  int32_t TamanioMaximoLog() const noexcept { return tamanioMaximoLog_; }
  // Namespace declarations for the opening tags of the renderings, with one space appended.
  const std::string& EsquemaXML() const noexcept { return esquemaXML_; }
  const std::string& CodigoDispensacionOk() const noexcept { return codigoDispensacionOk_; }

  // Reads every setting from ArchivoIni in a fixed order; a value that does not convert stops
  // the load there (earlier settings keep their new values, later ones their old). True when
  // every setting was loaded.
  bool LoadIni() noexcept;

  // Adds one to the counter [MensajeSOAP] Enviados / Recibidos (a value that is not a number
  // restarts it at 0). Read and write happen under the settings file's lock, so concurrent
  // processes never lose a count.
  bool UpdateAndSaveSended() noexcept;
  bool UpdateAndSaveReceived() noexcept;

  // The value of a key of [RespuestaDefecto], or "" (error 32011 for an empty key).
  std::string LoadInternalResponse(std::string_view strKey) noexcept;

 private:
  bool UpdateCounter(std::string_view procedure, std::string_view key) noexcept;

  std::string archivoIni_;
  std::string servicio_;
  int16_t guardarPeticionSOAP_ = 0;
  int16_t generarLog_ = 0;
  int16_t generarTrace_ = 0;
  int16_t peticionTimeOut_ = 0;
  int16_t autoRespuesta_ = 0;
  int16_t eliminarXMLPeticion_ = 0;
  int16_t eliminarXMLRespuesta_ = 0;
  int16_t archivoDiario_ = 0;
  bool auditar_ = false;
  int16_t intervaloComprobacion_ = 0;
  int32_t tamanioMaximoLog_ = 0;
  std::string esquemaXML_;
  std::string codigoDispensacionOk_;
};

}  // namespace PRESCORA_NS
