#include "interface/CExecutor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common/modError.h"
#include "common/modGlobal.h"

#include "common/platform/checkpoint.h"
#include "common/platform/component.h"
#include "common/platform/convert.h"
#include "common/platform/files.h"
#include "common/platform/profile.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"
#include "interface/CAuditor.h"
#include "interface/CConfig.h"
#include "interface/CEnCurso.h"
#include "interface/CFileAdmin.h"
#include "interface/CRespuestaPeticion.h"
#include "interface/PrescriptionId.h"
#include "interface/modGlobalInterface.h"

namespace PRESCORA_NS {

namespace convert = platform::convert;
namespace xml = platform::xml;

namespace {

constexpr const char* kInitialize = "CExecutor.Class_Initialize";
constexpr const char* kTerminate = "CExecutor.Class_Terminate";
constexpr const char* kConectar = "CExecutor.ConectarServicio";
constexpr const char* kSolicitud = "CExecutor.SolicitudDispensacion";

// Whether the front object has already answered the application with a fallback (the default
// file, the settings or the internal response), so that the answer stored now is late. A
// recorded "srv" means the front object took this very file in time: it must stay where it is.
bool AnsweredWithFallback(const std::string& id) {
  CAuditor& auditor = objAuditor();
  if (!auditor.StoreInDelayed(id)) return false;
  std::string kind = auditor.RecordedResponse(id);
  return kind == CAuditor::ResponseText(rcvXML) || kind == CAuditor::ResponseText(rcvIni) ||
         kind == CAuditor::ResponseText(rcvInternal);
}

// Writes the answer into Recibidos, where the front object is waiting for it, or into Retrasados
// when the front object has already answered the application. It is first written into
// Retrasados and only then, in a step, moved into Recibidos: a process that dies in between
// leaves it among the late answers, never nowhere. Raises 32008 when it cannot be written, or
// cannot reach Recibidos while the front object waits (it stays in Retrasados then).
// Returns where the answer ended, for the log to name it once the step is over.
std::string Deliver(CFileAdmin& admin, CEnCurso& enCurso, bool handedOver,
                    CRespuestaPeticion& response) {
  const std::string& id = enCurso.IdPrescripcion();
  const std::string hidden = "." + id + "." + std::to_string(::getpid()) + ".xml";
  admin.MakeDelayed();
  admin.MakeReceived();
  std::string staged;  // where the whole answer lies, under a name that replaced nothing
  bool inDelayed = false;
  std::string stagedName;  // its name in Retrasados
  if (response.ToXMLFile(admin.GetDelayedPath() + hidden, enCurso.Ficha(), false)) {
    try {
      stagedName = platform::files::MoveWithoutReplacing(admin.GetDelayedPath() + hidden,
                                                         admin.GetDelayedPath(), id, ".xml");
      staged = admin.GetDelayedPath() + stagedName;
      inDelayed = true;
    } catch (...) {
      std::remove((admin.GetDelayedPath() + hidden).c_str());
    }
  }
  if (staged.empty()) {
    // Retrasados cannot take it: the answer goes straight to where the front object looks.
    if (!response.ToXMLFile(admin.GetReceivedPath() + hidden, enCurso.Ficha(), false)) {
      // Written nowhere: the message log keeps what the service said.
      std::string said;
      auto add = [&](const std::vector<std::string>& codes, const std::vector<std::string>& texts) {
        for (std::size_t i = 0; i < codes.size(); ++i)
          said += " " + codes[i] + "." + (i < texts.size() ? texts[i] : std::string());
      };
      add(response.m_colCodigoAviso(), response.m_colTextoAviso());
      add(response.m_colCodigoMotivosRechazo(), response.m_colTextoMotivosRechazo());
      objLog().Writeln(id + " " + kSolicitud + ":Respuesta del servicio no guardada para " + id +
                       ":" + said);
      Raise(errExportDispensing, kSolicitud);
    }
    staged = admin.GetReceivedPath() + hidden;
  }

  CEnCurso::Paso paso(enCurso);
  const bool late = protocolo::RespuestaTardia(
      handedOver, handedOver ? protocolo::DeTexto(enCurso.Estado()) : protocolo::Estado::Ninguno,
      [&] { return AnsweredWithFallback(id); });
  if (late) {
    if (!inDelayed) {
      try {
        stagedName =
            platform::files::MoveWithoutReplacing(staged, admin.GetDelayedPath(), id, ".xml");
        inDelayed = true;
      } catch (...) {
      }
    }
    // Nothing more can come for this dispensing.
    if (handedOver && inDelayed)
      enCurso.Mover(protocolo::Actor::Ejecutor, protocolo::Estado::Cerrada,
                    protocolo::Estado::Ninguno);
    if (inDelayed) return admin.GetDelayedPath() + stagedName;
  }
  try {
    platform::files::Rename(staged, admin.GetReceivedPath() + id + ".xml");
  } catch (...) {
    if (inDelayed)
      objLog().Writeln(CRespuestaPeticion::GeneratedLine(admin.GetDelayedPath() + stagedName));
    Raise(errExportDispensing, kSolicitud);
  }
  return admin.GetReceivedPath() + id + ".xml";
}

// An answer that does not read as a response is kept as the service sent it.
void KeepRawAnswer(CFileAdmin& admin, const std::string& id, const xml::NodeList& answer) noexcept {
  try {
    std::string text = "<RespuestaServicio>";
    for (const xml::Node& node : answer.items()) text += node.xml();
    text += "</RespuestaServicio>\n";
    admin.MakeDelayed();
    const std::string hidden =
        admin.GetDelayedPath() + "." + id + "." + std::to_string(::getpid()) + ".xml";
    {
      const int fd = platform::files::OpenRegular(hidden, O_WRONLY | O_CREAT | O_EXCL, 0600);
      if (fd < 0) return;
      const bool written = platform::files::WriteAll(fd, text);
      if (::close(fd) != 0 || !written) {
        std::remove(hidden.c_str());
        return;
      }
    }
    platform::files::MoveWithoutReplacing(hidden, admin.GetDelayedPath(), id, ".xml");
  } catch (...) {
  }
}

}  // namespace

// The dispensing is no longer this executor's to send: the front object answered the application
// already, or another executor has it.
void CExecutor::NotSent(CEnCurso& enCurso, const std::string& estado) {
  objLog().Writeln(Prefix() + kSolicitud + ":La dispensación " + enCurso.IdPrescripcion() +
                   " no se envía: ya no está pendiente (" + estado + ")");
  if (estado == CEnCurso::kCerrada)
    enCurso.Mover(protocolo::Actor::Ejecutor, protocolo::Estado::Cerrada,
                  protocolo::Estado::Ninguno);
}

CExecutor::CExecutor() noexcept {
  const ErrorsOfCall errors;
  TrapOptions options;
  options.logPrefix = " ";  // no identifier yet
  bool loaded = Trap(
      kInitialize,
      [&] {
        FrontObjectFiles files = PrepareSharedObjects(kInitialize, this);
        archivoLog_ = files.log;
        archivoTrace_ = files.trace;
        archivoIni_ = files.ini;
        const CConfig& config = objConfig();
        soapClient_ = std::make_unique<platform::soap::Client>();
        nombreServicio_ = config.Servicio();
        opciones_ = static_cast<InterfaceFlagsEnum>(opciones_ | config.GuardarPeticionSOAP());
        ApplyLoadedSettings(config);
        conectado_ = false;
        datosEnviados_ = false;
        enabled_ = true;
        objLog().Writeln(Prefix() + "Se cargó correctamente la configuración del archivo " +
                         archivoIni_);
      },
      options);
  if (!loaded) enabled_ = false;
  errors.CopyTo(errores_);
  objTrace().WriteTrace(this, false, kInitialize, "");
}

CExecutor::~CExecutor() {
  objTrace().WriteTrace(this, true, kTerminate, "");
  soapClient_.reset();
  errores_.ResetErrorsCollection();
  objTrace().WriteTrace(this, false, kTerminate, "");
}

std::string CExecutor::Prefix() const {
  return idPrescripcion_ + " ";
}

void CExecutor::LogLine(const std::string& text) noexcept {
  try {
    objLog().Writeln(Prefix() + text);
  } catch (...) {
  }
}

bool CExecutor::Conectado() noexcept {
  LogLine(std::string("Recuperado el valor '") + convert::BoolText(conectado_) +
          "' para la propiedad Conectado");
  return conectado_;
}

std::string CExecutor::NombreServicio() noexcept {
  LogLine("Recuperado el valor '" + nombreServicio_ + "' para la propiedad NombreServicio");
  return nombreServicio_;
}

std::string CExecutor::NombreLog() noexcept {
  try {
    std::string path = objLog().FileName();
    LogLine("Recuperado el valor '" + path + "' para la propiedad NombreLog");
    return path;
  } catch (...) {
    return {};
  }
}

bool CExecutor::DatosEnviados() noexcept {
  LogLine(std::string("Recuperado el valor '") + convert::BoolText(datosEnviados_) +
          "' para la propiedad DatosEnviados");
  return datosEnviados_;
}

int32_t CExecutor::OpcionesLog() const noexcept {
  return objLog().Options();
}

void CExecutor::set_OpcionesLog(int32_t value) noexcept {
  objLog().set_Options(value);
}

bool CExecutor::ConectarServicio() noexcept {
  objTrace().WriteTrace(this, true, kConectar, "");
  bool result = false;
  TrapOptions options;
  try {
    options.logPrefix = Prefix();
  } catch (...) {
  }
  bool ok = Trap(
      kConectar,
      [&] {
        if (conectado_) {
          objLog().Writeln(Prefix() + kConectar + ":El servicio ya está conectado");
          result = true;
          return;
        }
        objLog().Writeln(Prefix() + kConectar + ":Conectando con el servicio web");
        // The settings of the connection, from one reading of the file.
        platform::profile::ReadTogether together(archivoIni_);
        auto setting = [&](const char* key) {
          return GetPrivateProfileStringEx(archivoIni_, "Proxy", key);
        };
        const std::string servidor = setting("Servidor");
        const std::string puerto = setting("Puerto");
        const std::string usuario = setting("Usuario");
        const std::string password = setting("Password");
        const std::string usarProxy = setting("UsarProxy");
        const std::string utilizarProxy = setting("UtilizarProxy");
        const std::string timeOut = setting("TimeOut");
        const int32_t maxResponseSize = TamanioMaximoRespuesta(archivoIni_);
        // Both switches must be numbers: an absent key is a failure too.
        const bool useProxy = convert::ToInt16(usarProxy) != 0;
        const bool applyProxy = convert::ToInt16(utilizarProxy) != 0;

        if (soapClient_ == nullptr) platform::RaiseRuntime(platform::errObjectNotSet);
        // Set before the service description is read, so that its download is bounded by the
        // same time-out as the call: a slow description must not hold the executor while the
        // application is answered without it.
        if (convert::IsNumeric(timeOut))
          soapClient_->ConnectorProperty("Timeout", convert::ToInt32(timeOut));
        soapClient_->ConnectorProperty("MaxResponseSize", maxResponseSize);
        // The proxy before the description: a pharmacy's network may reach the service only
        // through it, the description as much as the call.
        if (applyProxy) {
          soapClient_->ConnectorProperty("UseProxy", useProxy);
          soapClient_->ConnectorProperty("ProxyPort", convert::ToInt32(puerto));
          soapClient_->ConnectorProperty("ProxyServer", servidor);
          soapClient_->ConnectorProperty("ProxyUser", usuario);
          soapClient_->ConnectorProperty("ProxyPassword", password);
        }
        soapClient_->mssoapinit(nombreServicio_);
        objLog().Writeln(Prefix() + kConectar + ":" + DestinationText(*soapClient_));

        conectado_ = true;
        if (events_ != nullptr) events_->AlConectar();
        result = true;
      },
      options);
  if (!ok) {
    result = false;
    conectado_ = false;
  }
  objTrace().WriteTrace(this, false, kConectar, convert::BoolText(result));
  return result;
}

// One dispensing as this executor performs it.
struct CExecutor::Dispensing {
  explicit Dispensing(const std::string& idPrescripcion) : id(idPrescripcion) {}
  const std::string& id;
  std::unique_ptr<CEnCurso> enCurso;
  // Whether a front object handed it over (it has a state); a request spooled by other means is
  // performed on its own, as it always was.
  bool handedOver = false;
  // Whether this executor took it from a front object, and whether the request may have left the
  // machine: a failure without that is told to the waiting front object at once.
  bool taken = false;
  bool mayHaveLeft = false;
};

bool CExecutor::SolicitudDispensacion(const std::string& strIdPrescripcion) noexcept {
  const ErrorsOfCall errors;
  bool result = false;
  objTrace().WriteTrace(this, true, kSolicitud, "");
  TrapOptions options;
  try {
    options.logPrefix = Prefix();
  } catch (...) {
  }
  Dispensing dispensing(strIdPrescripcion);
  Trap(
      kSolicitud,
      [&] {
        Begin(dispensing.id);
        CFileAdmin admin;
        if (!Take(dispensing)) return;
        xml::Document request;
        if (!request.Load(admin.GetSendedPath() + dispensing.id + ".xml"))
          Raise(errLoadXmlFile, kSolicitud);
        if (!ConectarServicio()) Raise(errConnectService, kSolicitud);
        platform::checkpoint::Reach("CExecutor.Conectado");
        if (!MarkSending(dispensing)) return;
        xml::NodeList answer = Send(dispensing, admin, request);
        Store(dispensing, admin, answer);
        if (events_ != nullptr) events_->AlTerminarSolicitudDispensacion();
        result = true;
      },
      options);
  CAuditor::Flush();
  // After the marks are on the disk: the front object goes on from here.
  if (!result) TellNotSent(dispensing);
  dispensing.enCurso.reset();

  errors.CopyTo(errores_);
  objTrace().WriteTrace(this, false, kSolicitud, convert::BoolText(result));
  return result;
}

void CExecutor::Begin(const std::string& id) {
  objLog().Writeln(Prefix() + kSolicitud + ":Iniciando la solicitud de dispensación " + id);
  if (!enabled_) Raise(errInterfaceDisabled, kSolicitud);
  // Nothing is read or written under an identifier that could leave the spool folders or break
  // the audit file.
  if (!IsValidPrescriptionId(id)) Raise(errInvalidPrescriptionId, kSolicitud);
  if (events_ != nullptr) events_->AlIniciarSolicitudDispensacion();
  platform::checkpoint::Reach("CExecutor.Inicio");
}

bool CExecutor::Take(Dispensing& d) {
  d.enCurso = std::make_unique<CEnCurso>(d.id);
  CEnCurso& enCurso = *d.enCurso;
  enCurso.set_Rechazo(errExportDispensing, kSolicitud);
  CEnCurso::Paso paso(enCurso);
  const std::string estado = enCurso.Estado();
  const protocolo::Estado actual = protocolo::DeTexto(estado);
  const bool otherAlive =
      (actual == protocolo::Estado::Tomada || actual == protocolo::Estado::Enviada) &&
      enCurso.EjecutorOcupado();
  switch (protocolo::AlLlegar(actual, otherAlive)) {
    case protocolo::Llegada::Tomar:
      if (!enCurso.TomarEjecutor()) Raise(errDispensingInFlight, kSolicitud);
      d.handedOver = actual != protocolo::Estado::Ninguno;
      if (d.handedOver) {
        // The front object's token goes into the answer, which it takes by it.
        enCurso.set_Ficha(enCurso.FichaGuardada());
        enCurso.Mover(protocolo::Actor::Ejecutor, actual, protocolo::Estado::Tomada);
        d.taken = true;
      }
      return true;
    case protocolo::Llegada::EnCurso:
      Raise(errDispensingInFlight, kSolicitud);
    case protocolo::Llegada::NoEnviar:
      break;
  }
  NotSent(enCurso, estado);
  return false;
}

bool CExecutor::MarkSending(Dispensing& d) {
  if (!d.handedOver) return true;
  // Decided in a step: once the front object has answered with a fallback, nothing goes out;
  // once this says "enviada", the front object knows an answer may still come.
  CEnCurso::Paso paso(*d.enCurso);
  const std::string estado = d.enCurso->Estado();
  if (estado != CEnCurso::kTomada) {
    d.taken = false;
    NotSent(*d.enCurso, estado);
    return false;
  }
  d.enCurso->Mover(protocolo::Actor::Ejecutor, protocolo::Estado::Tomada,
                   protocolo::Estado::Enviada);
  return true;
}

xml::NodeList CExecutor::Send(Dispensing& d, CFileAdmin& admin, xml::Document& request) {
  const std::string& id = d.id;
  objLog().Writeln(Prefix() + kSolicitud + ":Enviando mensaje SOAP 'PeticionDispensacion' " + id);
  CAuditor& auditor = objAuditor();
  admin.MakeAuditor();
  auditor.Save(id, audMarkMsgSended, rcvNone, "");

  std::optional<xml::NodeList> answer;
  try {
    d.mayHaveLeft = true;
    answer = soapClient_->Call("SolicitudDispensacion", request.documentElement().childNodes());
  } catch (...) {
    d.mayHaveLeft = soapClient_->RequestMayHaveLeft();
    throw;
  }

  datosEnviados_ = true;
  auditor.Save(id, audMarkMsgReceived, rcvNone, "");
  CConfig& config = objConfig();
  config.UpdateAndSaveSended();

  if (!answer) Raise(errNodeListToResponse, kSolicitud);

  objLog().Writeln(id + " " + "SolicitudDispensacion:Recibiendo mensaje SOAP " +
                   "'RespuestaPeticion' " + id);
  config.UpdateAndSaveReceived();
  platform::checkpoint::Reach("CExecutor.Respuesta");
  return std::move(*answer);
}

void CExecutor::Store(Dispensing& d, CFileAdmin& admin, xml::NodeList& answer) {
  CRespuestaPeticion response;
  if (!response.FromXML(answer)) {
    // The service answered: what it said is kept among the late answers, as it came.
    KeepRawAnswer(admin, d.id, answer);
    Raise(errNodeListToResponse, kSolicitud);
  }
  // Named in the log where it ended, not under the name it was written with.
  objLog().Writeln(
      CRespuestaPeticion::GeneratedLine(Deliver(admin, *d.enCurso, d.handedOver, response)));
  platform::checkpoint::Reach("CExecutor.Entregada");
}

void CExecutor::TellNotSent(Dispensing& d) noexcept {
  if (!d.taken || d.mayHaveLeft) return;
  try {
    CEnCurso::Paso paso(*d.enCurso);
    const protocolo::Estado estado = protocolo::DeTexto(d.enCurso->Estado());
    if (estado == protocolo::Estado::Tomada || estado == protocolo::Estado::Enviada)
      d.enCurso->set_NoEnviada(estado, objErrores().Errores());
  } catch (...) {
  }
}

}  // namespace PRESCORA_NS
