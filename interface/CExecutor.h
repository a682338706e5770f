// The dispensing executor object: runs in executor.exe, performs one spooled request. It reads the
// request file from Enviados, sends it to the web service and writes the answer into Recibidos,
// where the front object is waiting for it (or into Retrasados when the front object has already
// answered with a fallback).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/CError.h"
#include "common/Export.h"
#include "interface/CInterface.h"

namespace PRESCORA_NS {

namespace platform::soap {
class Client;
}
namespace platform::xml {
class NodeList;
class Document;
}  // namespace platform::xml
class CFileAdmin;
class CEnCurso;

// Events of the executor object. Override what you need; the object does not own the sink.
class PRESCORA_API CExecutorEvents {
 public:
  virtual ~CExecutorEvents() = default;
  // The SOAP client has just been initialised.
  virtual void AlConectar() {}
  // Declared for compatibility; never raised.
  virtual void AlTerminarLeerIni() {}
  // A request passed the Enabled check.
  virtual void AlIniciarSolicitudDispensacion() {}
  // A request completed without failure.
  virtual void AlTerminarSolicitudDispensacion() {}
};

class PRESCORA_API CExecutor {
 public:
  // Loads Interface.ini from the library folder, as the front object does. A failure leaves the
  // object disabled.
  CExecutor() noexcept;
  ~CExecutor();
  CExecutor(const CExecutor&) = delete;
  CExecutor& operator=(const CExecutor&) = delete;

  // These getters write a message-log line with the value.
  bool Conectado() noexcept;
  std::string NombreServicio() noexcept;
  std::string NombreLog() noexcept;
  bool DatosEnviados() noexcept;

  // The failures of the last SolicitudDispensacion; before the first, those of the construction.
  const std::vector<CErrorItem>& Errores() const noexcept { return errores_.Errores(); }
  int32_t OpcionesLog() const noexcept;
  void set_OpcionesLog(int32_t value) noexcept;
  InterfaceFlagsEnum Opciones() const noexcept { return opciones_; }
  void set_Opciones(InterfaceFlagsEnum value) noexcept { opciones_ = value; }
  bool Enabled() const noexcept { return enabled_; }
  // Only the prefix of this object's message-log lines.
  const std::string& IDPrescripcion() const noexcept { return idPrescripcion_; }
  void set_IDPrescripcion(std::string value) noexcept { idPrescripcion_ = std::move(value); }

  // Event sink, not owned; nullptr detaches.
  CExecutorEvents* Events() const noexcept { return events_; }
  void set_Events(CExecutorEvents* sink) noexcept { events_ = sink; }

  // Performs the spooled request with that identifier; true when every step succeeded.
  bool SolicitudDispensacion(const std::string& strIdPrescripcion) noexcept;

 private:
  // Initialises the SOAP client once, with the proxy and time-out settings.
  bool ConectarServicio() noexcept;
  void NotSent(CEnCurso& enCurso, const std::string& estado);
  // The steps of SolicitudDispensacion, in their order.
  struct Dispensing;
  void Begin(const std::string& id);
  // False when the dispensing is no longer this executor's to send.
  bool Take(Dispensing& d);
  bool MarkSending(Dispensing& d);
  platform::xml::NodeList Send(Dispensing& d, CFileAdmin& admin, platform::xml::Document& request);
  void Store(Dispensing& d, CFileAdmin& admin, platform::xml::NodeList& answer);
  // A failure before the request could leave, told to the waiting front object.
  void TellNotSent(Dispensing& d) noexcept;
  // What every message-log line of this object begins with.
  std::string Prefix() const;
  void LogLine(const std::string& text) noexcept;

  bool enabled_ = false;
  bool conectado_ = false;
  bool datosEnviados_ = false;
  std::string idPrescripcion_;
  std::string nombreServicio_;
  InterfaceFlagsEnum opciones_ = static_cast<InterfaceFlagsEnum>(0);
  CError errores_;
  std::string archivoLog_;
  std::string archivoTrace_;
  std::string archivoIni_;
  std::unique_ptr<platform::soap::Client> soapClient_;
  CExecutorEvents* events_ = nullptr;
};

}  // namespace PRESCORA_NS
