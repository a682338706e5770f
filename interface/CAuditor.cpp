#include "interface/CAuditor.h"

#include <algorithm>
#include <string>
#include <vector>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/clock.h"
#include "common/platform/profiletail.h"
#include "common/platform/text.h"
#include "interface/CFileAdmin.h"

namespace PRESCORA_NS {

// The audit file grows for years: writes and reads cost what its last sections cost.
namespace profile = platform::profiletail;

namespace {

constexpr const char* kFechaEnvio = "FECHA_ENVIO";
constexpr const char* kPeticionGenerada = "PETICION_GENERADA";
constexpr const char* kMensajeEnviado = "MENSAJE_ENVIADO";
constexpr const char* kMensajeRecibido = "MENSAJE_RECIBIDO";
constexpr const char* kRespuestaGenerada = "RESPUESTA_GENERADA";
constexpr const char* kTextoRespuesta = "TEXTO_RESPUESTA";
constexpr std::size_t kMaxTextResponse = 254;  // characters

// The files in which this thread's auditor left marks in memory (two around midnight, with a
// file a day).
thread_local std::vector<std::string> unflushed;

// An audit key, traced as every settings-file read is.
std::string ReadAuditKey(const std::string& file, const std::string& section, const char* key) {
  static constexpr const char* kReadProcedure = "modGlobal.GetPrivateProfileStringEx";
  objTrace().WriteTrace(nullptr, true, kReadProcedure, "");
  std::string value = profile::GetString(file, section, key, "", 255);
  objTrace().WriteTrace(nullptr, false, kReadProcedure, value);
  return value;
}

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
    // Two marks are flushed: the message sent, before the request leaves the machine, and the
    // response text, the last before the application has its answer. Each takes the earlier marks
    // of the file to the disk with it; until then nothing is lost by their waiting in memory.
    const profile::Durability durability =
        intAction == audMarkMsgSended || intAction == audSetTextResponse
            ? profile::Durability::kFlushed
            : profile::Durability::kInMemory;
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
                               {kTextoRespuesta, ""}},
                              durability);
        break;
      }
      case audMarkPetitionDone:
        profile::WriteString(file, section, kPeticionGenerada, BoolText(blnYes), durability);
        break;
      case audMarkMsgSended:
        profile::WriteString(file, section, kMensajeEnviado, BoolText(blnYes), durability);
        break;
      case audMarkMsgReceived:
        profile::WriteString(file, section, kMensajeRecibido, BoolText(blnYes), durability);
        break;
      case audSetResponse:
        profile::WriteString(file, section, kRespuestaGenerada, ResponseText(intResponse),
                             durability);
        break;
      case audSetTextResponse:
        // Bounded: the text comes from the service, and every later write of the day rewrites
        // the whole file. Nothing reads back more than 254 characters anyway.
        profile::WriteString(file, section, kTextoRespuesta,
                             platform::text::CutChars(strTextResponse, kMaxTextResponse),
                             durability);
        break;
    }
    // A flushed write puts the file's earlier ones on the disk with it.
    auto at = std::find(unflushed.begin(), unflushed.end(), file);
    if (durability == profile::Durability::kFlushed && at != unflushed.end())
      unflushed.erase(at);
    else if (durability == profile::Durability::kInMemory && at == unflushed.end())
      unflushed.push_back(file);
    result = true;
  });
  return result;
}

void CAuditor::Flush() noexcept {
  for (const std::string& file : unflushed) profile::Flush(file);
  unflushed.clear();
}

std::string CAuditor::RecordedResponse(const std::string& strIdPrescripcion) const noexcept {
  try {
    return ReadAuditKey(OutputFileName(), strIdPrescripcion, kRespuestaGenerada);
  } catch (...) {
    return {};
  }
}

bool CAuditor::StoreInDelayed(const std::string& strIdPrescripcion) noexcept {
  static constexpr const char* kProcedure = "CAuditor.StoreInDelayed";
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    if (strIdPrescripcion.empty()) Raise(errPrescriptionIdMissing, kProcedure);
    result = !ReadAuditKey(OutputFileName(), strIdPrescripcion, kRespuestaGenerada).empty();
  });
  trace.set_Value(result);
  return result;
}

}  // namespace PRESCORA_NS
