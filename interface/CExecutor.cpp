#include "interface/CExecutor.h"

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/convert.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"
#include "interface/CAuditor.h"
#include "interface/CConfig.h"
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
  std::string kind = GetPrivateProfileStringEx(auditor.OutputFileName(), id, "RESPUESTA_GENERADA");
  return kind == CAuditor::ResponseText(rcvXML) || kind == CAuditor::ResponseText(rcvIni) ||
         kind == CAuditor::ResponseText(rcvInternal);
}

}  // namespace

CExecutor::CExecutor() noexcept {
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
        // Both switches must be numbers: an absent key is a failure too.
        const bool useProxy = convert::ToInt16(usarProxy) != 0;
        const bool applyProxy = convert::ToInt16(utilizarProxy) != 0;

        if (soapClient_ == nullptr) platform::RaiseRuntime(platform::errObjectNotSet);
        soapClient_->mssoapinit(nombreServicio_);

        if (applyProxy) {
          soapClient_->ConnectorProperty("UseProxy", useProxy);
          soapClient_->ConnectorProperty("ProxyPort", convert::ToInt32(puerto));
          soapClient_->ConnectorProperty("ProxyServer", servidor);
          soapClient_->ConnectorProperty("ProxyUser", usuario);
          soapClient_->ConnectorProperty("ProxyPassword", password);
        }
        if (convert::IsNumeric(timeOut))
          soapClient_->ConnectorProperty("Timeout", convert::ToInt32(timeOut));
        soapClient_->ConnectorProperty("MaxResponseSize", TamanioMaximoRespuesta(archivoIni_));

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

bool CExecutor::SolicitudDispensacion(const std::string& strIdPrescripcion) noexcept {
  const std::string& id = strIdPrescripcion;
  bool result = false;
  objTrace().WriteTrace(this, true, kSolicitud, "");
  TrapOptions options;
  try {
    options.logPrefix = Prefix();
  } catch (...) {
  }
  Trap(
      kSolicitud,
      [&] {
        objLog().Writeln(Prefix() + kSolicitud + ":Iniciando la solicitud de dispensación " + id);
        if (!enabled_) Raise(errInterfaceDisabled, kSolicitud);
        // Nothing is read or written under an identifier that could leave the spool folders or
        // break the audit file.
        if (!IsValidPrescriptionId(id)) Raise(errInvalidPrescriptionId, kSolicitud);
        if (events_ != nullptr) events_->AlIniciarSolicitudDispensacion();

        CFileAdmin admin;
        xml::Document request;
        if (!request.Load(admin.GetSendedPath() + id + ".xml")) Raise(errLoadXmlFile, kSolicitud);

        if (!ConectarServicio()) Raise(errConnectService, kSolicitud);

        objLog().Writeln(Prefix() + kSolicitud + ":Enviando mensaje SOAP 'PeticionDispensacion' " +
                         id);
        CAuditor& auditor = objAuditor();
        admin.MakeAuditor();
        auditor.Save(id, audMarkMsgSended, rcvNone, "");

        std::optional<xml::NodeList> answer =
            soapClient_->Call("SolicitudDispensacion", request.documentElement().childNodes());

        datosEnviados_ = true;
        auditor.Save(id, audMarkMsgReceived, rcvNone, "");
        CConfig& config = objConfig();
        config.UpdateAndSaveSended();

        if (!answer) Raise(errNodeListToResponse, kSolicitud);

        objLog().Writeln(id + " " + "SolicitudDispensacion:Recibiendo mensaje SOAP " +
                         "'RespuestaPeticion' " + id);
        config.UpdateAndSaveReceived();

        CRespuestaPeticion response;
        if (!response.FromXML(*answer)) Raise(errNodeListToResponse, kSolicitud);

        // Written under another name and renamed into place: the waiting front object never
        // reads half a file.
        admin.MakeReceived();
        if (!response.ToXMLFile(admin.GetReceivedPath() + id + ".xml"))
          Raise(errExportDispensing, kSolicitud);

        if (AnsweredWithFallback(id)) {
          admin.MakeDelayed();
          admin.MoveToDelayed(admin.GetReceivedPath(), id + ".xml");
        }

        if (events_ != nullptr) events_->AlTerminarSolicitudDispensacion();
        result = true;
      },
      options);

  try {
    errores_.ResetErrorsCollection();
    for (const CErrorItem& item : objErrores().Errores()) errores_.AddError2(item);
  } catch (...) {
  }
  objTrace().WriteTrace(this, false, kSolicitud, convert::BoolText(result));
  return result;
}

}  // namespace PRESCORA_NS
