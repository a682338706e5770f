#include "interface/CInterface.h"

#include <chrono>
#include <cstdint>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/checkpoint.h"
#include "common/platform/clock.h"
#include "common/platform/component.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "common/platform/events.h"
#include "common/platform/files.h"
#include "common/platform/process.h"
#include "common/platform/soap.h"
#include "interface/CAuditor.h"
#include "interface/CConfig.h"
#include "interface/CEnCurso.h"
#include "interface/CFileAdmin.h"
#include "interface/PrescriptionId.h"
#include "interface/modGlobalInterface.h"

namespace PRESCORA_NS {

namespace {

constexpr const char* kInitialize = "CInterface.Class_Initialize";
constexpr const char* kTerminate = "CInterface.Class_Terminate";
constexpr const char* kSolicitud = "CInterface.SolicitudDispensacion";
constexpr const char* kWait = "CInterface.WaitResponse";

// Between two passes of the wait. A pause ends as soon as a file lands in the receiving folder,
// so it can be long enough for the waiting host to stay idle; where the folder cannot be watched,
// passes come often enough that an answer is taken within a few milliseconds of its arrival.
constexpr auto kWatchedPassPause = std::chrono::milliseconds(5);
constexpr auto kPassPause = std::chrono::milliseconds(1);
// Between two looks at the dispensing's state: soon enough for "not sent" to come back at once.
constexpr auto kStateLookPause = std::chrono::milliseconds(25);

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

// The counts of a response are values of their own: a count without its list must not turn an
// answer already in hand into a failed dispensing, so a missing item reads as empty.
std::string FirstItem(const std::vector<std::string>& items) {
  return items.empty() ? std::string() : items.front();
}

// Whole seconds since `start` on the wrapping tick counter: the difference is taken as a signed
// 32-bit subtraction (out of range is an overflow) and rounded with halves to even.
int32_t ElapsedSeconds(uint32_t start) {
  int64_t difference = static_cast<int64_t>(static_cast<int32_t>(platform::clock::TickCount())) -
                       static_cast<int64_t>(static_cast<int32_t>(start));
  if (difference < INT32_MIN || difference > INT32_MAX)
    platform::RaiseRuntime(platform::errOverflow);
  return platform::convert::RoundToInt32(static_cast<double>(difference) / 1000.0);
}

// An answer file already waiting under the identifier belongs to an earlier dispensing of it. It
// must not pass for this one's answer: an answer the application took in time (and the settings
// keep) is renamed beside itself; any other joins the late ones. Neither replaces a file.
void SetAsideEarlierAnswer(CFileAdmin& admin, const CEnCurso& enCurso) {
  const std::string& id = enCurso.IdPrescripcion();
  if (!admin.ExistResponseFile(id, fldReceived)) return;
  const std::string from = admin.GetReceivedPath() + id + ".xml";
  if (enCurso.Estado() == CEnCurso::kEntregada) {
    platform::files::MoveWithoutReplacing(from, admin.GetReceivedPath(), id, ".xml");
  } else {
    admin.MakeDelayed();
    platform::files::MoveWithoutReplacing(from, admin.GetDelayedPath(), id, ".xml");
  }
}

// Records, inside a step, which response the application gets. Without the answer the dispensing
// is closed, so that nothing of it goes out afterwards; when no executor can come any more (none
// was started, or it has come and gone) the state is simply removed.
void Close(CEnCurso& enCurso, bool found) {
  using protocolo::Actor;
  using protocolo::Estado;
  if (found) {
    // The token in the answer shows the executor took and sent it since this side wrote lanzada.
    enCurso.Mover(Actor::Frente, Estado::Lanzada, Estado::Entregada);
    return;
  }
  const Estado estado = protocolo::DeTexto(enCurso.Estado());
  // Only a taken dispensing can have an executor to wait for.
  const bool executorAlive =
      (estado == Estado::Tomada || estado == Estado::Enviada) && enCurso.EjecutorOcupado();
  enCurso.Mover(Actor::Frente, estado, protocolo::Cierre(estado, executorAlive), executorAlive);
}

}  // namespace

CInterface::CInterface() noexcept {
  const ErrorsOfCall errors;
  bool loaded = Trap(kInitialize, [&] {
    FrontObjectFiles files = PrepareSharedObjects(kInitialize, this);
    archivoLog_ = files.log;
    archivoTrace_ = files.trace;
    archivoIni_ = files.ini;
    const CConfig& config = objConfig();
    soapClient_ = std::make_unique<platform::soap::Client>();
    nombreServicio_ = config.Servicio();
    opciones_ = static_cast<InterfaceFlagsEnum>(opciones_ | config.GuardarPeticionSOAP());
    ApplyLoadedSettings(config);
    enabled_ = true;
    objLog().Writeln("Se cargó correctamente la configuración del archivo " + archivoIni_);
  });
  if (!loaded) enabled_ = false;
  if (enabled_) StartNextLauncher();
  // Why the object is not enabled, readable before its first call.
  errors.CopyTo(errores_);
  objTrace().WriteTrace(this, false, kInitialize, "");
}

CInterface::~CInterface() {
  objTrace().WriteTrace(this, true, kTerminate, "");
  nextLauncher_.reset();  // a launcher still waiting ends without doing anything
  soapClient_.reset();
  errores_.ResetErrorsCollection();
  objTrace().WriteTrace(this, false, kTerminate, "");
}

std::string CInterface::NombreServicio() noexcept {
  try {
    objLog().Writeln("Recuperado el valor '" + nombreServicio_ +
                     "' para la propiedad NombreServicio");
    return nombreServicio_;
  } catch (...) {
    return {};
  }
}

std::string CInterface::NombreLog() noexcept {
  try {
    std::string path = objLog().FileName();
    objLog().Writeln("Recuperado el valor '" + path + "' para la propiedad NombreLog");
    return path;
  } catch (...) {
    return {};
  }
}

int32_t CInterface::OpcionesLog() const noexcept {
  return objLog().Options();
}

void CInterface::set_OpcionesLog(int32_t value) noexcept {
  objLog().set_Options(value);
}

// One request of the application while it is in flight.
struct CInterface::Dispensing {
  std::string id;
  std::string sentFile;
  std::string receivedFile;
  std::unique_ptr<CEnCurso> enCurso;
  bool owned = false;   // this request reserved the identifier
  bool closed = false;  // and has chosen the response
};

CRespuestaPeticion CInterface::SolicitudDispensacion(
    CPeticionDispensacion& objPeticionDispensacion) noexcept {
  const ErrorsOfCall errors;
  CPeticionDispensacion& request = objPeticionDispensacion;
  CRespuestaPeticion response;
  bool failed = false;
  Dispensing d;
  bool restart = false;  // a launcher may be wanted for the next request: started once all is done
  // A launcher being started in the background holds copies of this process's descriptors until
  // it is created, and with them the locks they carry: none is taken before that is over.
  if (nextLauncher_) nextLauncher_->FinishStart();
  envio_ = envNoEnviado;
  try {
    d.id = AcceptRequest(request);
    CFileAdmin admin;
    d.sentFile = admin.GetSendedPath() + request.IDPrescripcion() + ".xml";
    d.receivedFile = admin.GetReceivedPath() + request.IDPrescripcion() + ".xml";
    Reserve(d, admin);
    WriteRequest(d, admin, request);
    Launch(d, admin, request);
    bool found = WaitResponse(d.id, d.enCurso.get());
    platform::checkpoint::Reach("CInterface.EsperaTerminada");
    found = Settle(d, admin);
    const ResponseTypeEnum type = ReadResponse(d, admin, found, response);
    RemoveSpooledFiles(d, admin, type);
    if (events_ != nullptr) events_->AlTerminarSolicitudDispensacion(found, type);
    restart = true;
  } catch (...) {
    HandleFailure(kSolicitud, std::current_exception());
    failed = true;
    response.SetInternalResponse(false);
    CloseAfterFailure(d);
  }
  CAuditor::Flush();
  d.enCurso.reset();
  ficha_.clear();
  // After this request's locks are let go: the new process must not hold copies of them.
  if (restart) StartNextLauncher();

  errors.CopyTo(errores_);
  response.set_DatosValidos(!failed);
  objTrace().WriteTrace(this, false, kSolicitud, platform::convert::BoolText(!failed));
  return response;
}

std::string CInterface::AcceptRequest(CPeticionDispensacion& request) {
  std::string id;
  std::string generatedPrefix;  // set when the identifier is generated
  if (IsBlank(request.IDPrescripcion())) {
    // Fields taken as they are; the pharmacy appears twice, as it always has.
    generatedPrefix = "ITP" + request.IdFarmacia() + request.IdProvincia() + request.IdFarmacia() +
                      request.IdUsuario() + request.TIS();
    id = generatedPrefix + platform::clock::Format(platform::clock::Now(), "yyMMddHHmmss");
    request.set_IDPrescripcion(id);
  } else {
    id = request.IDPrescripcion();
  }

  objTrace().WriteTrace(this, true, kSolicitud, "");
  objLog().Writeln(std::string(kSolicitud) + ":Iniciando una solicitud de dispensación " + id);

  if (!enabled_) Raise(errInterfaceDisabled, kSolicitud);
  if (!request.RequiredFields()) Raise(errRequiredFields, kSolicitud);
  // The identifier becomes file names, the launcher's argument and an audit section.
  if (!IsValidPrescriptionId(id)) Raise(errInvalidPrescriptionId, kSolicitud);
  // Reserved only once the request is accepted, so that a refused one costs no second.
  if (!generatedPrefix.empty()) {
    id = ReserveGeneratedId(generatedPrefix, kSolicitud);
    request.set_IDPrescripcion(id);
  }
  return id;
}

void CInterface::Reserve(Dispensing& d, CFileAdmin& admin) {
  // One identifier (letter case aside) is never in flight twice: another request of it, or its
  // executor, still at work refuses this one before anything is written.
  d.enCurso = std::make_unique<CEnCurso>(d.id);
  CEnCurso& enCurso = *d.enCurso;
  enCurso.set_Rechazo(errExportRequest, kSolicitud);
  ficha_.clear();
  ajenaAvisada_ = false;
  CEnCurso::Paso paso(enCurso);
  if (!enCurso.TomarFrente() || enCurso.EjecutorOcupado()) Raise(errDispensingInFlight, kSolicitud);
  SetAsideEarlierAnswer(admin, enCurso);
  admin.MakeSended();
  enCurso.set_Ficha(platform::files::RandomToken());
  ficha_ = enCurso.Ficha();
  enCurso.Mover(protocolo::Actor::Frente, protocolo::Estado::Desconocido,
                protocolo::Estado::Preparada);
  d.owned = true;
}

void CInterface::WriteRequest(Dispensing& d, CFileAdmin& admin, CPeticionDispensacion& request) {
  CAuditor& auditor = objAuditor();
  admin.MakeAuditor();
  auditor.Save(d.id, audHeader, rcvNone, "");
  if (!request.ToXMLFile(d.sentFile)) Raise(errExportRequest, kSolicitud);
  auditor.Save(d.id, audMarkPetitionDone, rcvNone, "");
  CEnCurso::Paso paso(*d.enCurso);
  d.enCurso->Mover(protocolo::Actor::Frente, protocolo::Estado::Preparada,
                   protocolo::Estado::Lanzada);
}

void CInterface::Launch(Dispensing& d, CFileAdmin& admin, CPeticionDispensacion& request) {
  if (events_ != nullptr) events_->AlIniciarSolicitudDispensacion(request.IDPrescripcion());
  // The argument travels as one piece; the launcher itself cuts it at the first space.
  const std::string program = admin.GetDllPath() + "executor.exe";
  if (!admin.ExistExecutorFile()) Raise(errExecutorNotFound, kSolicitud);
  // The launcher started ahead of need takes the request; without one, it starts now.
  const std::string argument = "IDPres=" + d.id;
  envio_ = envSinRespuesta;
  if (!nextLauncher_ || !nextLauncher_->Release(argument))
    platform::process::StartDetached(program, {argument});
}

bool CInterface::Settle(Dispensing& d, CFileAdmin& admin) {
  // The last look and the fallback mark in one step: the executor, in its own step, either has
  // put the answer where this look finds it, or will find the dispensing closed and neither send
  // it nor leave its answer in Recibidos.
  CEnCurso::Paso paso(*d.enCurso);
  // Looked at again in the step: what was found may have been replaced since.
  const bool found = AnswerArrived(admin, d.id);
  if (found) {
    envio_ = envRespondido;
  } else if (d.enCurso->Estado() == CEnCurso::kNoEnviada) {
    // The application gets the usual fallback, and the executor's reasons in Errores.
    envio_ = envNoEnviado;
    for (const CErrorItem& item : d.enCurso->ErroresNoEnviada()) objErrores().AddError2(item);
  }
  Close(*d.enCurso, found);
  d.closed = true;
  return found;
}

ResponseTypeEnum CInterface::ReadResponse(const Dispensing& d, CFileAdmin& admin, bool found,
                                          CRespuestaPeticion& response) {
  const std::string& id = d.id;
  CAuditor& auditor = objAuditor();
  ResponseTypeEnum type;
  std::string fileToRead;
  if (found) {
    type = rspReceived;
    fileToRead = d.receivedFile;
    auditor.Save(id, audSetResponse, rcvService, "");
  } else if (admin.ExistDefaultResponseFile()) {
    type = rspDefault;
    fileToRead = admin.DefaultResponseFile();
    auditor.Save(id, audSetResponse, rcvXML, "");
  } else {
    type = rspInternal;
    response.SetInternalResponse(true);
    auditor.Save(id, audSetResponse, rcvInternal, "");
  }
  if (!fileToRead.empty()) response.FromXMLFile(fileToRead);

  std::string text;
  if (response.m_intNAvisos() > 0) {
    text = FirstItem(response.m_colCodigoAviso()) + "." + FirstItem(response.m_colTextoAviso());
  } else if (response.m_intNMotivosRechazo() > 0) {
    text = FirstItem(response.m_colCodigoMotivosRechazo()) + "." +
           FirstItem(response.m_colTextoMotivosRechazo());
  } else {
    text = "No se puede interpretar la respuesta recibida";
  }
  auditor.Save(id, audSetTextResponse, rcvNone, text);
  return type;
}

void CInterface::RemoveSpooledFiles(Dispensing& d, CFileAdmin& admin, ResponseTypeEnum type) {
  const CConfig& config = objConfig();
  if (config.EliminarXMLPeticion() != 0) admin.DeleteFromSended(d.id);
  if (type == rspReceived && config.EliminarXMLRespuesta() != 0 && admin.DeleteFromReceived(d.id)) {
    // Nothing is left to tell apart: the state of a delivered answer is kept only beside the
    // file it speaks of.
    CEnCurso::Paso paso(*d.enCurso);
    d.enCurso->Mover(protocolo::Actor::Frente, protocolo::Estado::Entregada,
                     protocolo::Estado::Ninguno);
  }
}

void CInterface::CloseAfterFailure(Dispensing& d) noexcept {
  // The application gets the error response: the dispensing must not go out after it.
  if (!d.owned || d.closed) return;
  try {
    CEnCurso::Paso paso(*d.enCurso);
    if (d.enCurso->Estado() != CEnCurso::kEntregada) Close(*d.enCurso, false);
  } catch (...) {
  }
}

// The launcher loads the library and its dependencies before it does anything, which is most of
// its start; one started now does that while the pharmacy is not waiting, and then serves every
// later request of this front object with a copy of itself, one copy per request. It reads
// nothing else before it has a request, so settings changed meanwhile still apply; once the
// program or the library is replaced, it is dropped and a new one started.
void CInterface::StartNextLauncher() noexcept {
  try {
    if (nextLauncher_ && nextLauncher_->Waiting()) return;
    const std::string folder = platform::component::InLibraryFolder("");
    const std::string program = folder + "executor.exe";
    if (!platform::files::IsFile(program)) return;
    if (!nextLauncher_) nextLauncher_ = std::make_unique<platform::process::WaitingProgram>();
    nextLauncher_->StartSoon(program, {"Espera"}, {folder + "libInterface.so"});
  } catch (...) {
  }
}

bool CInterface::AnswerArrived(CFileAdmin& admin, const std::string& id) {
  if (!admin.ExistResponseFile(id, fldReceived)) return false;
  // Without a token (a wait not started by a dispensing) any answer file counts.
  if (ficha_.empty()) return true;
  const std::string path = admin.GetReceivedPath() + id + ".xml";
  if (CRespuestaPeticion::LlevaFicha(path, ficha_)) return true;
  // Not written by this dispensing's executor: never taken for the service's answer.
  if (!ajenaAvisada_) {
    ajenaAvisada_ = true;
    TrapOptions options;
    options.logTail = [&] { return ": " + path + " no es la respuesta de esta dispensación"; };
    Trap(
        kSolicitud, [] { Raise(errInvalidAnswer, kSolicitud); }, options);
  }
  return false;
}

bool CInterface::WaitResponse(const std::string& strIdPrescripcion,
                              const CEnCurso* enCurso) noexcept {
  objTrace().WriteTrace(this, true, kWait, "");
  bool found = false;
  Trap(kWait, [&] {
    const int16_t interval = objConfig().IntervaloComprobacion();
    const int16_t timeout = objConfig().PeticionTimeOut();
    const uint32_t start = platform::clock::TickCount();
    int32_t elapsed = 0;
    CFileAdmin admin;
    // Watched before the first look, so an answer that lands after it ends the next pause.
    // The folder is named here rather than asked of `admin`, whose path getters write trace lines.
    platform::files::FolderWatch arrivals(platform::component::InLibraryFolder("Recibidos"));
    const auto pause = arrivals.Watching() ? kWatchedPassPause : kPassPause;
    // The state is looked at now and then, not on every pass: it costs a file opened, and an
    // answer in time never needs it. Read outside a step, it is only a hint, confirmed later.
    auto nextStateLook = std::chrono::steady_clock::now() + kStateLookPause;
    for (;;) {
      if (elapsed >= timeout) {
        if (!found) found = AnswerArrived(admin, strIdPrescripcion);
        break;
      }
      if (found) break;
      elapsed = ElapsedSeconds(start);
      if (interval == 0) platform::RaiseRuntime(platform::errDivisionByZero);
      // Looked for on every pass of the seconds that are due, never in the others.
      if (elapsed % interval == 0) found = AnswerArrived(admin, strIdPrescripcion);
      platform::events::DoEvents();
      if (found) continue;
      if (arrivals.Pause(pause) || enCurso == nullptr) continue;
      if (std::chrono::steady_clock::now() < nextStateLook) continue;
      nextStateLook = std::chrono::steady_clock::now() + kStateLookPause;
      if (enCurso->Estado() == CEnCurso::kNoEnviada) break;
    }
  });
  objTrace().WriteTrace(this, false, kWait, platform::convert::BoolText(found));
  return found;
}

}  // namespace PRESCORA_NS
