#include "interface/CAuditor.h"

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/clock.h"
#include "common/platform/profile.h"
#include "common/platform/text.h"
#include "interface/CFileAdmin.h"

namespace PRESCORA_NS {

namespace profile = platform::profile;

namespace {

constexpr const char* kFechaEnvio = "FECHA_ENVIO";
constexpr const char* kPeticionGenerada = "PETICION_GENERADA";
constexpr const char* kMensajeEnviado = "MENSAJE_ENVIADO";
constexpr const char* kMensajeRecibido = "MENSAJE_RECIBIDO";
constexpr const char* kRespuestaGenerada = "RESPUESTA_GENERADA";
constexpr const char* kTextoRespuesta = "TEXTO_RESPUESTA";
constexpr std::size_t kMaxTextResponse = 254;  // characters

}  // namespace

CAuditor::CAuditor() noexcept {
  static constexpr const char* kProcedure = "CAuditor.Class_Initialize";
  TraceScope trace(kProcedure);
  Trap(kProcedure, [&] {
    CFileAdmin admin;
    fixedFile_ = admin.GetAuditorPath() + "audit.log";
    folder_ = admin.GetAuditorPath();
  });
}

std::string CAuditor::OutputFileName() const noexcept {
  try {
    if (!diaryStore_) return fixedFile_;
    return folder_ + platform::clock::Format(platform::clock::Now(), "yyMMdd") + ".log";
  } catch (...) {
    return {};
  }
}

CAuditor::~CAuditor() {
  TraceScope trace("CAuditor.Class_Terminate");
}

const char* CAuditor::ResponseText(ReceivedTypeEnum value) noexcept {
  switch (value) {
    case rcvService:
      return "srv";
    case rcvXML:
      return "xml";
    case rcvIni:
      return "ini";
    case rcvInternal:
      return "int";
    case rcvNone:
      break;
  }
  return "";
}

const char* CAuditor::BoolText(BoolTypeEnum value) noexcept {
  switch (value) {
    case blnNo:
      return "No";
    case blnYes:
      return "Si";
    case blUnselected:
      break;
  }
  return "";
}

bool CAuditor::Save(const std::string& strIdPrescripcion, AuditTypeEnum intAction,
                    ReceivedTypeEnum intResponse, const std::string& strTextResponse) noexcept {
  static constexpr const char* kProcedure = "CAuditor.Save";
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    if (!enable_) {
      result = true;
      return;
    }
    if (strIdPrescripcion.empty()) Raise(errPrescriptionIdMissing, kProcedure);
    const std::string file = OutputFileName();
    const std::string& section = strIdPrescripcion;
    // A write the file system refuses is not a failure of the audit: the dispensing goes on.
    switch (intAction) {
      case audHeader: {
        std::string time = platform::clock::Format(platform::clock::Now(),
                                                   diaryStore_ ? "HH:mm:ss" : "yy/MM/dd HH:mm:ss");
        // One locked write of the six keys: a concurrent writer never sees half a header.
        profile::WriteStrings(file, section,
                              {{kFechaEnvio, time},
                               {kPeticionGenerada, BoolText(blnNo)},
                               {kMensajeEnviado, BoolText(blnNo)},
                               {kMensajeRecibido, BoolText(blnNo)},
                               {kRespuestaGenerada, ""},
                               {kTextoRespuesta, ""}});
        break;
      }
      case audMarkPetitionDone:
        profile::WriteString(file, section, kPeticionGenerada, BoolText(blnYes));
        break;
      case audMarkMsgSended:
        profile::WriteString(file, section, kMensajeEnviado, BoolText(blnYes));
        break;
      case audMarkMsgReceived:
        profile::WriteString(file, section, kMensajeRecibido, BoolText(blnYes));
        break;
      case audSetResponse:
        profile::WriteString(file, section, kRespuestaGenerada, ResponseText(intResponse));
        break;
      case audSetTextResponse:
        // Bounded: the text comes from the service, and every later write of the day rewrites
        // the whole file. Nothing reads back more than 254 characters anyway.
        profile::WriteString(file, section, kTextoRespuesta,
                             platform::text::CutChars(strTextResponse, kMaxTextResponse));
        break;
    }
    result = true;
  });
  return result;
}

bool CAuditor::StoreInDelayed(const std::string& strIdPrescripcion) noexcept {
  static constexpr const char* kProcedure = "CAuditor.StoreInDelayed";
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    if (strIdPrescripcion.empty()) Raise(errPrescriptionIdMissing, kProcedure);
    result =
        !GetPrivateProfileStringEx(OutputFileName(), strIdPrescripcion, kRespuestaGenerada).empty();
  });
  trace.set_Value(result);
  return result;
}

}  // namespace PRESCORA_NS
