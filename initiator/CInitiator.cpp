#include "initiator/CInitiator.h"

#include <optional>

#include "common/Trim.h"
#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "common/platform/files.h"
#include "common/platform/profile.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS {

namespace convert = platform::convert;
namespace xml = platform::xml;

namespace {

constexpr const char* kInitialize = "CInitiator.Class_Initialize";
constexpr const char* kConectar = "CInitiator.ConectarServicio";
constexpr const char* kRecuperar = "CInitiator.RecuperarPrescripciones";
constexpr const char* kOperation = "consultaPrescripcionesNoDispensadasPorTis";

// Used when the settings give no EsquemaXML: the three prefixes the request may rely on.
constexpr const char* kDefaultEsquemaXML =
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" ";

}  // namespace

CInitiator::CInitiator() noexcept {
  const ErrorsOfCall errors;
  Trap(kInitialize, [&] {
    // Only proves that the dispensing library is installed beside this one (429 when not).
    std::unique_ptr<prescora::IComponent> fileAdmin =
        platform::component::CreateObject("Interface.CFileAdmin");

    std::string folder = platform::component::InLibraryFolder("");
    archivoLog_ = folder + kLibraryTitle + ".log";
    archivoTrace_ = folder + kLibraryTitle + ".txt";
    archivoIni_ = folder + "interface.ini";

    CLog& log = objLog();
    ReportRefusedFiles();
    log.set_FileName(archivoLog_);
    log.set_Header("Log recepción prescripciones ");
    log.set_Options(CLog::optWriteToFile);
    CLog& trace = objTrace();
    trace.set_FileName(archivoTrace_);
    trace.set_Header("Log de trazas del ");
    trace.set_Options(0);

    objErrores().ResetErrorsCollection();
    soapClient_ = std::make_unique<platform::soap::Client>();
  });
  // Why the object cannot serve, readable before its first call.
  errors.CopyTo(errores_);
  objTrace().WriteTrace(this, false, kInitialize, "");
}

CInitiator::~CInitiator() = default;

bool CInitiator::ConectarServicio() noexcept {
  objTrace().WriteTrace(this, true, kConectar, "");
  bool result = false;
  bool ok = Trap(kConectar, [&] {
    if (conectado_) {
      objLog().Writeln("CInitiator.ConectarServicio:El servicio ya está conectado");
      result = true;
      return;
    }
    // The settings of the connection, from one reading of the file.
    platform::profile::ReadTogether together(archivoIni_);
    auto proxy = [&](const char* key) {
      return GetPrivateProfileStringEx(archivoIni_, "Proxy", key);
    };
    const std::string servidor = proxy("Servidor");
    const std::string puerto = proxy("Puerto");
    const std::string usuario = proxy("Usuario");
    const std::string password = proxy("Password");
    // Both switches must be numbers: a missing key fails the connection.
    const bool usarProxy = convert::ToInt16(proxy("UsarProxy")) != 0;
    const bool utilizarProxy = convert::ToInt16(proxy("UtilizarProxy")) != 0;
    const std::string timeOut = proxy("TimeOut");
    const std::string servicio =
        GetPrivateProfileStringEx(archivoIni_, "Configuracion", "Servicio");
    const std::string esquema =
        GetPrivateProfileStringEx(archivoIni_, "Configuracion", "EsquemaXML");
    const int32_t maxResponseSize = TamanioMaximoRespuesta(archivoIni_);

    strEsquemaXML() = esquema.empty() ? std::string(kDefaultEsquemaXML) : esquema;

    if (soapClient_ == nullptr) platform::RaiseRuntime(platform::errObjectNotSet);
    // Set before the service description is read, so that its download is bounded by the same
    // time-out and size as the call: the pharmacist waits at the counter for either.
    if (convert::IsNumeric(timeOut))
      soapClient_->ConnectorProperty("Timeout", convert::ToInt32(timeOut));
    soapClient_->ConnectorProperty("MaxResponseSize", maxResponseSize);
    if (utilizarProxy) {
      // The proxy before the description: a pharmacy's network may reach the service only
      // through it, the description as much as the call.
      soapClient_->ConnectorProperty("UseProxy", usarProxy);
      soapClient_->ConnectorProperty("ProxyPort", convert::ToInt32(puerto));
      soapClient_->ConnectorProperty("ProxyServer", servidor);
      soapClient_->ConnectorProperty("ProxyUser", usuario);
      soapClient_->ConnectorProperty("ProxyPassword", password);
      soapClient_->mssoapinit(servicio);
    } else {
      soapClient_->ClientProperty("ServerHTTPRequest", true);
      soapClient_->mssoapinit(servicio);
    }
    objLog().Writeln("CInitiator.ConectarServicio:" + DestinationText(*soapClient_));

    conectado_ = true;
    result = true;
  });
  if (!ok) {
    result = false;
    conectado_ = false;
  }
  objLog().Writeln(std::string("CInitiator.ConectarServicio:Se conectó con el servicio=") +
                   convert::BoolText(result));
  objTrace().WriteTrace(this, false, kConectar, convert::BoolText(result));
  return result;
}

CPrescripciones CInitiator::RecuperarPrescripciones(CArgument* objArg) noexcept {
  objTrace().WriteTrace(this, true, kRecuperar, "True");
  objLog().Writeln("CInitiator.RecuperarPrescripcionesTrue");

  const ErrorsOfCall errors;
  CPrescripciones list;
  std::optional<CErrorItem> serviceError;
  // A fault's detail belongs to the call that brought it: a failure before this retrieval's own
  // call must not be described by an earlier one.
  bool called = false;
  bool refused = false;

  auto detail = [&]() -> std::string {
    try {
      return called && soapClient_ ? soapClient_->detail() : std::string();
    } catch (...) {
      return {};
    }
  };
  TrapOptions options;
  // A SOAP fault's detail says more than the raised text; without one, the raised text stays.
  options.adjust = [&](platform::Failure& failure) {
    std::string text = detail();
    if (!text.empty())
      failure = platform::Failure(failure.Number(), failure.Source(), std::move(text));
  };
  options.logTail = [&] { return "." + detail(); };

  bool clean = Trap(
      kRecuperar,
      [&] {
        if (objArg == nullptr || !objArg->RequiredFields()) Raise(errBlankArguments, kRecuperar);

        xml::Document request;
        if (!request.Loadxml(objArg->ToString())) Raise(errArgumentXml, kRecuperar);

        const std::string guardar(prescora::TrimSpaces(
            GetPrivateProfileStringEx(archivoIni_, "Initiator", "GuardarPeticionSOAP")));
        if (convert::IsNumeric(guardar) && convert::LeadingNumber(guardar) != 0) {
          std::string copy = platform::component::InLibraryFolder("Initiator.xml");
          if (platform::files::IsFile(copy)) {
            platform::files::MakeWritable(copy);
            platform::files::Delete(copy);
          }
          if (!request.Save(copy)) {
            if (request.saveErrno() == 0) platform::RaiseRuntime(platform::errPathFileAccess);
            platform::RaiseFromErrno(request.saveErrno());
          }
        }

        if (!ConectarServicio()) Raise(errConnectService, kRecuperar);

        called = true;
        std::optional<xml::NodeList> answer =
            soapClient_->Call(kOperation, request.documentElement().childNodes());
        if (!answer) Raise(errNodeListToResponse, kRecuperar);

        // An answer read whole but unsound has said what is wrong in its own items (32021).
        if (!list.FromXML(*answer) && !list.invalida_) Raise(errNodeListToResponse, kRecuperar);
        refused = list.invalida_;

        if (list.CodigoError() != 0) {
          CErrorItem item;
          item.set_Number(list.CodigoError());
          item.set_Description(list.DescripcionError());
          item.set_Source("CPrescripciones.IObject_FromXML");
          serviceError = std::move(item);
        } else if (!refused) {
          list.set_DatosValidos(true);
        }
      },
      options);

  try {
    errors.CopyTo(errores_);
    if (!list.DatosValidos() && serviceError) errores_.AddError2(*serviceError);
  } catch (...) {
  }
  objTrace().WriteTrace(this, false, kRecuperar, convert::BoolText(clean && !refused));
  return list;
}

}  // namespace PRESCORA_NS
