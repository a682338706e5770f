// The dispensing front object: the object the pharmacy application creates to dispense one
// prescription at a time. It spools the request, starts executor.exe for it and waits a bounded
// time for the answer file, falling back on the default or the internal response, so the caller
// always gets a response.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/CError.h"
#include "common/Export.h"
#include "interface/CPeticionDispensacion.h"
#include "interface/CRespuestaPeticion.h"

namespace PRESCORA_NS {

namespace platform::soap {
class Client;
}
class CEnCurso;
namespace platform::process {
class WaitingProgram;
}

enum ResponseTypeEnum : int32_t {
  rspReceived = 1,  // the answer file written by the launcher arrived in time
  rspDefault = 2,   // the default response file was used
  rspInternal = 3,  // the internal response of the settings file was used
};

// What became of the request of the last dispensing, for the application to tell without reading
// any text.
enum EnvioTypeEnum : int32_t {
  envNoEnviado = 1,     // surely not sent: the service never saw it (Errores says why); the
                        // dispensing did not happen and may be asked for again
  envSinRespuesta = 2,  // sent, or perhaps sent, with no answer in time: whether the service
                        // dispensed is unknown until it is checked there
  envRespondido = 3,    // the service's answer arrived in time
};

enum InterfaceFlagsEnum : int32_t {
  ifgSaveXMLSendedToFile = 1,
};

// Events of the front object. Override what you need; the object does not own the sink.
class PRESCORA_API CInterfaceEvents {
 public:
  virtual ~CInterfaceEvents() = default;
  // Declared for compatibility; never raised.
  virtual void AlConectar() {}
  virtual void AlTerminarLeerIni() {}
  // The request file is written and the launcher is about to start.
  virtual void AlIniciarSolicitudDispensacion(const std::string& strIdPrescripcion) {
    (void)strIdPrescripcion;
  }
  // A request ended without failure; blnCorrecto only when the answer file arrived in time.
  virtual void AlTerminarSolicitudDispensacion(bool blnCorrecto,
                                               ResponseTypeEnum intTipoRespuesta) {
    (void)blnCorrecto;
    (void)intTipoRespuesta;
  }
};

class CFileAdmin;

class PRESCORA_API CInterface {
 public:
  // Loads Interface.ini from the library folder and configures the logs and the audit trail.
  // Never fails towards the caller: a failure leaves the object disabled.
  CInterface() noexcept;
  ~CInterface();
  CInterface(const CInterface&) = delete;
  CInterface& operator=(const CInterface&) = delete;

  // Both getters write a message-log line with the value.
  std::string NombreServicio() noexcept;
  std::string NombreLog() noexcept;
  // The failures of the last SolicitudDispensacion; before the first, those of the construction
  // (why the object is not enabled: settings file not found, a value not a number, ...).
  const std::vector<CErrorItem>& Errores() const noexcept { return errores_.Errores(); }
  int32_t OpcionesLog() const noexcept;
  void set_OpcionesLog(int32_t value) noexcept;
  InterfaceFlagsEnum Opciones() const noexcept { return opciones_; }
  void set_Opciones(InterfaceFlagsEnum value) noexcept { opciones_ = value; }
  bool Enabled() const noexcept { return enabled_; }
  // What became of the request of the last SolicitudDispensacion (envNoEnviado before any).
  EnvioTypeEnum Envio() const noexcept { return envio_; }

  // Event sink, not owned; nullptr detaches.
  CInterfaceEvents* Events() const noexcept { return events_; }
  void set_Events(CInterfaceEvents* sink) noexcept { events_ = sink; }

  // Dispenses one request. A blank IDPrescripcion is replaced by a generated one, written back
  // into the request. Failures come back as the internal error response (DatosValidos false)
  // and in Errores.
  CRespuestaPeticion SolicitudDispensacion(CPeticionDispensacion& objPeticionDispensacion) noexcept;

 protected:
  // Waits for the answer file of the identifier in Recibidos, up to PeticionTimeOut seconds. With
  // the dispensing's state, the wait also ends as soon as its executor says the request was not
  // sent.
  bool WaitResponse(const std::string& strIdPrescripcion,
                    const CEnCurso* enCurso = nullptr) noexcept;

 private:
  bool enabled_ = false;
  EnvioTypeEnum envio_ = envNoEnviado;
  std::string nombreServicio_;
  InterfaceFlagsEnum opciones_ = static_cast<InterfaceFlagsEnum>(0);
  CError errores_;
  std::string archivoLog_;
  std::string archivoTrace_;
  std::string archivoIni_;
  std::unique_ptr<platform::soap::Client> soapClient_;
  CInterfaceEvents* events_ = nullptr;
  // The launcher of the next dispensing, started ahead of need and waiting for its identifier.
  std::unique_ptr<platform::process::WaitingProgram> nextLauncher_;
  void StartNextLauncher() noexcept;
  // The token of the dispensing in flight, and whether a file that does not carry it has been
  // reported already.
  std::string ficha_;
  bool ajenaAvisada_ = false;
  // Whether this dispensing's answer is in Recibidos: the file is there and carries the token.
  bool AnswerArrived(CFileAdmin& admin, const std::string& id);
  // The steps of SolicitudDispensacion, in their order.
  struct Dispensing;
  // The identifier, given or generated, once the request is accepted.
  std::string AcceptRequest(CPeticionDispensacion& request);
  void Reserve(Dispensing& d, CFileAdmin& admin);
  void WriteRequest(Dispensing& d, CFileAdmin& admin, CPeticionDispensacion& request);
  void Launch(Dispensing& d, CFileAdmin& admin, CPeticionDispensacion& request);
  // The last look for the answer and the close of the dispensing, in one step.
  bool Settle(Dispensing& d, CFileAdmin& admin);
  ResponseTypeEnum ReadResponse(const Dispensing& d, CFileAdmin& admin, bool found,
                                CRespuestaPeticion& response);
  void RemoveSpooledFiles(Dispensing& d, CFileAdmin& admin, ResponseTypeEnum type);
  void CloseAfterFailure(Dispensing& d) noexcept;
};

}  // namespace PRESCORA_NS
