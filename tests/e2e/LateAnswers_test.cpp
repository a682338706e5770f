// No dispensing lost: the front object in this process, executor.exe held at the exact point of
// its work that a test names (helpers/executor_retenido.cpp) or killed there, the simulator on a
// loopback port. The front object's tick counter moves only when the test times it out.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/platform/checkpoint.h"
#include "common/platform/clock.h"
#include "common/platform/profile.h"
#include "common/platform/profiletail.h"
#include "e2e/E2eFixture.h"
#include "interface/CAuditor.h"
#include "interface/CInterface.h"
#include "interface/modGlobalInterface.h"
#include "support/SampleRequest.h"

namespace e2e {
namespace {

namespace ns = PRESCORA_NS;

const std::string kSinRespuesta = "sinRespuesta";  // the sample settings' internal response

std::vector<int> Numbers(const std::vector<ns::CErrorItem>& items) {
  std::vector<int> numbers;
  for (const auto& item : items) numbers.push_back(item.Number());
  return numbers;
}

std::vector<std::string> Fields(const std::string& id) {
  return {"--id",      id,       "--farmacia",   "F0001",   "--provincia",    "48",
          "--usuario", "FARM01", "--clave",      "clave01", "--farmaceutico", "12345",
          "--importe", "12.50",  "--aportacion", "4.20",    "--idioma",       "es",
          "--envases", "1",      "--formato",    "tabulado"};
}

class HeldLauncher : public Installation {
 protected:
  void SetUp() override {
    Installation::SetUp();
    fs::copy_file(std::string(PRESCORA_TEST_DIR) + "/executor-retenido", Path("executor.exe"),
                  fs::copy_options::overwrite_existing);
    ns::platform::clock::SetTickSourceForTesting([this] { return tick_; });
  }

  void TearDown() override {
    // A launcher still held is let go, so that the folder can be.
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder_, ignored)) {
      if (entry.path().extension() == ".llegada")
        WriteFile(entry.path().parent_path() / entry.path().stem().concat(".seguir"), "");
    }
    Unhold();
    ns::platform::checkpoint::SetHookForTesting({});
    ns::platform::clock::SetTickSourceForTesting({});
    Installation::TearDown();
  }

  // The launchers handed a request from now on stop at these points (comma-separated). They
  // read them from the library folder once they have their request: the front object starts
  // each launcher ahead of need.
  void Hold(const std::string& points) { WriteFile(Path("PRESCORA_RETENER"), points); }
  void Unhold() {
    std::error_code ignored;
    fs::remove(Path("PRESCORA_RETENER"), ignored);
  }
  bool Arrived(const std::string& point) const { return Exists(point + ".llegada"); }
  void Release(const std::string& point) { WriteFile(Path(point + ".seguir"), ""); }
  void Kill(const std::string& point) {
    ASSERT_TRUE(WaitFor([&] { return Arrived(point); }));
    pid_t pid = std::stoi(ReadFile(Path(point + ".llegada")));
    ::kill(pid, SIGKILL);
    // Its memory goes before its files, and its first thread may be a zombie while others still
    // end: only a process that is gone, or a zombie with no thread left, has let go of its locks.
    ASSERT_TRUE(WaitFor([&] {
      const std::string proc = "/proc/" + std::to_string(pid);
      std::ifstream stat(proc + "/stat");
      std::string line;
      if (!std::getline(stat, line)) return true;
      auto close = line.rfind(')');
      if (close == std::string::npos || line.compare(close, 3, ") Z") != 0) return false;
      std::error_code ignored;
      auto threads = fs::directory_iterator(proc + "/task", ignored);
      return std::distance(threads, fs::directory_iterator()) <= 1;
    }));
    WaitForLaunchers();
    fs::remove(Path(point + ".llegada"));
  }
  // The front object's wait runs out at its next pass.
  void TimeOut() { tick_ += 1000000; }
  // Runs on every pass of the front object's wait.
  void OnPass(std::function<void()> action) {
    ns::platform::events::SetMessageLoopHook(std::move(action));
  }

  ns::CRespuestaPeticion Dispense(ns::CInterface& front, const std::string& id) {
    ns::CPeticionDispensacion request = sample_data::Request(id);
    return front.SolicitudDispensacion(request);
  }
  static bool IsFallback(const ns::CRespuestaPeticion& response) {
    return response.m_colCodigoMotivosRechazo() == std::vector<std::string>{kSinRespuesta};
  }
  std::string Mark(const std::string& id, const char* key) const {
    return ns::platform::profile::GetString(ns::objAuditor().OutputFileName(), id, key);
  }

  uint32_t tick_ = 1000;
};

// The front object's last look has found nothing; the answer lands before it records its
// fallback. It must reach the pharmacy, not stay in Recibidos for good.
TEST_F(HeldLauncher, AnswerLandingAtTheTimeOutReachesThePharmacy) {
  StartSimulator();
  const std::string id = "RX0000000001";
  Hold("CExecutor.Respuesta");
  OnPass([&] {
    if (Arrived("CExecutor.Respuesta")) TimeOut();
  });
  ns::platform::checkpoint::SetHookForTesting([&](std::string_view point) {
    if (point != "CInterface.EsperaTerminada") return;
    Release("CExecutor.Respuesta");
    WaitForLaunchers();
  });
  ns::CInterface front;
  ns::CRespuestaPeticion response = Dispense(front, id);
  EXPECT_TRUE(response.DispensacionRealizada());
  EXPECT_EQ(Mark(id, "RESPUESTA_GENERADA"), "srv");
  EXPECT_TRUE(Files("Recibidos").empty());
  EXPECT_TRUE(Files("Retrasados").empty());
}

// Whatever the audit and clean-up settings, an answer that comes after the fallback ends in
// Retrasados, and with auditing on the record says so.
TEST_F(HeldLauncher, LateAnswerGoesAsideWhateverTheSettings) {
  StartSimulator();
  int n = 0;
  for (const char* auditar : {"0", "1"})
    for (const char* diario : {"0", "1"})
      for (const char* peticion : {"0", "1"})
        for (const char* respuesta : {"0", "1"}) {
          const std::string id = "RX-TARDE-" + std::to_string(n++);
          SCOPED_TRACE(id + " Auditar=" + auditar + " ArchivoDiario=" + diario +
                       " EliminarXMLPeticion=" + peticion + " EliminarXMLRespuesta=" + respuesta);
          Settings({{"Seguimiento.Auditar", auditar},
                    {"Seguimiento.ArchivoDiario", diario},
                    {"Asincrono.EliminarXMLPeticion", peticion},
                    {"Asincrono.EliminarXMLRespuesta", respuesta}});
          Hold("CExecutor.Respuesta");
          OnPass([&] {
            if (Arrived("CExecutor.Respuesta")) TimeOut();
          });
          ns::CInterface front;
          ns::CRespuestaPeticion response = Dispense(front, id);
          EXPECT_TRUE(IsFallback(response));
          Release("CExecutor.Respuesta");
          WaitForLaunchers();
          EXPECT_TRUE(Exists("Retrasados/" + id + ".xml"));
          EXPECT_FALSE(Exists("Recibidos/" + id + ".xml"));
          // The log names the file where it ends, not where it was staged.
          const std::string generated = "CRespuestaPeticion.ToXML:Generando archivo ";
          EXPECT_NE(Log().find(generated + Path("Retrasados/" + id + ".xml") + " con la"),
                    std::string::npos);
          EXPECT_EQ(Log().find(generated + Path("Retrasados/." + id)), std::string::npos);
          if (std::string(auditar) == "1") {
            EXPECT_EQ(Mark(id, "MENSAJE_RECIBIDO"), "Si");
            EXPECT_EQ(Mark(id, "RESPUESTA_GENERADA"), "int");
          }
        }
}

// Once the pharmacy has its fallback, the dispensing never goes out: neither when the executor
// was still connecting at the time-out, nor when the wait failed at once and the executor had not
// even taken the request.
TEST_F(HeldLauncher, NothingIsSentAfterTheFallback) {
  StartSimulator();
  struct Case {
    std::string id;
    std::string point;
    SettingsChanges settings;
  };
  const std::vector<Case> cases = {
      {"RX0000000003", "CExecutor.Conectado", {}},
      {"RX0000000005", "CExecutor.Inicio", {{"Asincrono.IntervaloComprobacion", "0"}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    Settings(c.settings);
    Hold(c.point);
    OnPass([&] {
      if (Arrived(c.point)) TimeOut();
    });
    ns::CInterface front;
    EXPECT_TRUE(IsFallback(Dispense(front, c.id)));
    ASSERT_TRUE(WaitFor([&] { return Arrived(c.point); }));
    Release(c.point);
    WaitForLaunchers();
    EXPECT_EQ(Mark(c.id, "MENSAJE_ENVIADO"), "No");
    EXPECT_TRUE(Files("Retrasados").empty());
    EXPECT_NE(Log().find("La dispensación " + c.id + " no se envía"), std::string::npos);
  }
  // The next request the service sees is a later one.
  Unhold();
  Settings({});
  ns::CInterface front;
  OnPass({});
  EXPECT_TRUE(Dispense(front, "RX0000000002").DispensacionRealizada());
  auto line = simulator_->EsperarLinea("solicitudDispensacion ");
  ASSERT_TRUE(line);
  EXPECT_NE(line->find("RX0000000002"), std::string::npos) << *line;
}

// A second host, or a retry, while the first dispensing of the identifier (in any letter case) is
// in flight is refused before anything is written; an executor that died holds nothing.
TEST_F(HeldLauncher, OneIdentifierIsNeverInFlightTwice) {
  StartSimulator();
  Hold("CExecutor.Conectado");
  Outcome same, lower;
  bool tried = false;
  OnPass([&] {
    if (tried || !Arrived("CExecutor.Conectado")) return;
    tried = true;
    same = RunProgram(Path("prescora-dispensar"), Fields("RX0000000001"));
    lower = RunProgram(Path("prescora-dispensar"), Fields("rx0000000001"));
    Release("CExecutor.Conectado");
  });
  ns::CInterface front;
  EXPECT_TRUE(Dispense(front, "RX0000000001").DispensacionRealizada());
  for (const Outcome* other : {&same, &lower}) {
    EXPECT_EQ(other->status, 4) << other->out;
    EXPECT_NE(other->out.find("error\t32020\tYa hay una dispensación en curso para esta "
                              "prescripción\tCInterface.SolicitudDispensacion"),
              std::string::npos)
        << other->out;
  }
  EXPECT_TRUE(simulator_->EsperarLinea("solicitudDispensacion RX0000000001 aceptada"));

  // The pharmacy got a fallback while the executor still lives: a retry is refused until it dies.
  OnPass([&] {
    if (Arrived("CExecutor.Conectado")) TimeOut();
  });
  EXPECT_TRUE(IsFallback(Dispense(front, "RX0000000002")));
  EXPECT_EQ(RunProgram(Path("prescora-dispensar"), Fields("RX0000000002")).status, 4);
  Kill("CExecutor.Conectado");
  Unhold();
  Outcome retry = RunProgram(Path("prescora-dispensar"), Fields("RX0000000002"));
  EXPECT_EQ(retry.status, 0) << retry.out;
}

// A request whose executor is still held after the pharmacy's fallback does not hold up the front
// object's next one: that one is carried out at once, not after the first ends.
TEST_F(HeldLauncher, AHeldExecutorDoesNotDelayTheNextRequest) {
  StartSimulator();
  Hold("CExecutor.Conectado");
  OnPass([&] {
    if (Arrived("CExecutor.Conectado")) TimeOut();
  });
  ns::CInterface front;
  EXPECT_TRUE(IsFallback(Dispense(front, "RX0000000001")));
  Unhold();
  const auto start = std::chrono::steady_clock::now();
  OnPass([&] {
    if (std::chrono::steady_clock::now() - start > 10s) TimeOut();
  });
  EXPECT_TRUE(Dispense(front, "RX0000000002").DispensacionRealizada());
  EXPECT_TRUE(Arrived("CExecutor.Conectado")) << "the first is still held";
  Release("CExecutor.Conectado");
}

// The executor killed at each point of its work: the pharmacy still gets a response in time, an
// answer already handed over is not lost, and the identifier is free again at once.
TEST_F(HeldLauncher, ExecutorKilledAtEachPoint) {
  StartSimulator();
  struct Case {
    std::string point;
    bool answered;  // the answer was in Recibidos before the kill
    const char* sent;
  };
  const std::vector<Case> cases = {{"CExecutor.Inicio", false, "No"},
                                   {"CExecutor.Conectado", false, "No"},
                                   {"CExecutor.Respuesta", false, "Si"},
                                   {"CExecutor.Entregada", true, "Si"}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    const std::string id = "RX-MUERTO-" + std::to_string(n++);
    Hold(c.point);
    bool killed = false;
    OnPass([&] {
      if (killed || !Arrived(c.point)) return;
      Kill(c.point);
      killed = true;
      TimeOut();
    });
    ns::CInterface front;
    ns::CRespuestaPeticion response = Dispense(front, id);
    // An answer in Recibidos ends the wait before its executor may reach the last point.
    if (!killed) Kill(c.point);
    EXPECT_TRUE(response.DatosValidos());
    EXPECT_EQ(IsFallback(response), !c.answered);
    EXPECT_EQ(Mark(id, "MENSAJE_ENVIADO"), c.sent);

    Unhold();
    OnPass({});
    ns::objErrores().ResetErrorsCollection();
    ns::CRespuestaPeticion again = Dispense(front, id);
    EXPECT_TRUE(again.DatosValidos());
    EXPECT_FALSE(IsFallback(again));  // the service's rejection of an unknown prescription
    EXPECT_TRUE(front.Errores().empty()) << Numbers(front.Errores()).size();
  }
}

// The executor cannot write the answer where the front object looks: the answer is kept in
// Retrasados all the same.
TEST_F(HeldLauncher, AnswerThatCannotBeWrittenForThePharmacyIsKept) {
  StartSimulator();
  WriteFile(Path("Recibidos"), "");  // a plain file where the folder should be
  const std::string id = "RX0000000001";
  OnPass([&] {
    if (Exists("Retrasados/" + id + ".xml")) {
      WaitForLaunchers();
      TimeOut();
    }
  });
  ns::CInterface front;
  EXPECT_TRUE(IsFallback(Dispense(front, id)));
  ns::CRespuestaPeticion kept;
  ASSERT_TRUE(kept.FromXMLFile(Path("Retrasados/" + id + ".xml")));
  EXPECT_EQ(kept.m_colCodigoAviso(), (std::vector<std::string>{"0000"}));
  EXPECT_NE(Log().find(" CExecutor.SolicitudDispensacion:(32008)"), std::string::npos);
}

// The reconciliation report on a folder the dispensings above leave: an answer in time (not
// listed), a late one, and one sent whose executor died with the answer in hand.
TEST_F(HeldLauncher, ReconciliationReportListsWhatNeedsAttention) {
  StartSimulator();
  ns::CInterface front;
  EXPECT_TRUE(Dispense(front, "RX0000000001").DispensacionRealizada());
  Hold("CExecutor.Respuesta");
  OnPass([&] {
    if (Arrived("CExecutor.Respuesta")) TimeOut();
  });
  EXPECT_TRUE(IsFallback(Dispense(front, "RX0000000002")));
  Release("CExecutor.Respuesta");
  WaitForLaunchers();
  OnPass([&] {
    if (!Arrived("CExecutor.Respuesta")) return;
    Kill("CExecutor.Respuesta");
    TimeOut();
  });
  EXPECT_TRUE(IsFallback(Dispense(front, "RX0000000003")));

  const std::string tool = std::string(PRESCORA_BIN_DIR) + "/prescora-auditoria";
  Outcome tabulated = RunProgram(tool, {"--carpeta", folder_, "--formato", "tabulado"});
  EXPECT_EQ(tabulated.status, 1);
  std::istringstream lines(tabulated.out);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    rows.push_back(fields);
  }
  ASSERT_EQ(rows.size(), 2u) << tabulated.out;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"no_vista", "RX0000000002", rows[0][2], "int",
                                               "Retrasados/RX0000000002.xml", "aceptada", "0000",
                                               "Dispensación realizada correctamente"}));
  EXPECT_EQ(rows[1],
            (std::vector<std::string>{"sin_respuesta", "RX0000000003", rows[1][2], "int", "Si"}));

  Outcome readable = RunProgram(tool, {"--carpeta", folder_});
  EXPECT_EQ(readable.status, 1);
  EXPECT_NE(readable.out.find("compruebe su estado en el servicio"), std::string::npos);

  // Dates: nothing was sent after today.
  const std::string today = rows[0][2].substr(0, 10);
  EXPECT_EQ(RunProgram(tool, {"--carpeta", folder_, "--hasta", today}).status, 1);
  std::time_t tomorrow = std::time(nullptr) + 86400;
  char next[16];
  std::strftime(next, sizeof next, "%d/%m/%Y", std::localtime(&tomorrow));
  Outcome later = RunProgram(tool, {"--carpeta", folder_, "--desde", next});
  EXPECT_EQ(later.status, 0) << later.out;
  EXPECT_NE(later.out.find("Nada que revisar."), std::string::npos);
  EXPECT_EQ(RunProgram(tool, {"--carpeta", folder_, "--desde", "ayer"}).status, 2);
}

// The service stops between the reading of its description and the call: the request never
// leaves, and the front object, told so by the executor, answers at once with its fallback, the
// executor's reasons and the outcome "not sent". The audit keeps its usual marks.
TEST_F(HeldLauncher, ARefusedCallComesBackAtOnceAsNotSent) {
  StartSimulator();
  const std::string id = "RX0000000001";
  Hold("CExecutor.Conectado");
  // Never reached with the change; without it, the wait ends here rather than never.
  std::chrono::steady_clock::time_point released{};
  OnPass([&] {
    if (released == std::chrono::steady_clock::time_point{}) {
      if (!Arrived("CExecutor.Conectado")) return;
      simulator_->Detener(SIGTERM);
      Release("CExecutor.Conectado");
      released = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - released > std::chrono::seconds(10)) {
      TimeOut();
    }
  });
  ns::CInterface front;
  ns::CRespuestaPeticion response = Dispense(front, id);
  EXPECT_TRUE(IsFallback(response));
  EXPECT_TRUE(response.DatosValidos());
  EXPECT_EQ(front.Envio(), ns::envNoEnviado);
  ASSERT_EQ(Numbers(front.Errores()), (std::vector<int>{32107})) << Log();
  EXPECT_EQ(front.Errores()[0].Source(), "SoapClient");
  EXPECT_NE(front.Errores()[0].Description().find("conexión rechazada"), std::string::npos);
  EXPECT_EQ(Mark(id, "RESPUESTA_GENERADA"), "int");
  EXPECT_EQ(Mark(id, "MENSAJE_RECIBIDO"), "No");
  WaitForLaunchers();
  // Nothing is left in flight: the identifier may be asked for again at once.
  EXPECT_FALSE(Exists("EnCurso/" + id + ".estado"));
  EXPECT_TRUE(Files("Retrasados").empty());
}

// A write of the audit cut short (its writer killed, its journal left) while a dispensing sent
// without an answer is on record: the report reads the trail as the library does and lists it.
TEST_F(HeldLauncher, TheReportReadsTheTrailAsTheLibraryDoesAfterAWriteCutShort) {
  StartSimulator();
  {
    ns::CInterface front;
    EXPECT_TRUE(Dispense(front, "RX0000000001").DispensacionRealizada());
    OnPass([&] {
      if (!Arrived("CExecutor.Respuesta")) return;
      Kill("CExecutor.Respuesta");
      TimeOut();
    });
    Hold("CExecutor.Respuesta");
    EXPECT_TRUE(IsFallback(Dispense(front, "RX0000000003")));
    Unhold();
  }
  WaitForLaunchers();
  ns::CAuditor::Flush();
  simulator_.reset();  // its reader thread too: the child below is forked alone
  const std::string audit = Path("Auditoria/audit.log");
  const std::string before = ReadFile(audit);
  ASSERT_NE(before.find("[RX0000000003]"), std::string::npos) << before;
  // The earlier section grows past everything after it; the file may not grow enough for it.
  pid_t child = fork();
  if (child == 0) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    rlimit limit{static_cast<rlim_t>(before.size() + 10), static_cast<rlim_t>(before.size() + 10)};
    setrlimit(RLIMIT_FSIZE, &limit);
    ns::platform::profiletail::WriteString(audit, "RX0000000001", "TEXTO_RESPUESTA",
                                           std::string(before.size(), 'x'));
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
  ASSERT_TRUE(Exists("Auditoria/audit.log.journal"));
  ASSERT_EQ(ReadFile(audit).find("[RX0000000003]"), std::string::npos) << "not cut short";

  const std::string tool = std::string(PRESCORA_BIN_DIR) + "/prescora-auditoria";
  Outcome report = RunProgram(tool, {"--carpeta", folder_, "--formato", "tabulado"});
  EXPECT_EQ(report.status, 1) << report.out;
  EXPECT_NE(report.out.find("sin_respuesta\tRX0000000003\t"), std::string::npos) << report.out;
  EXPECT_EQ(ReadFile(audit), before);
}

// A file dropped into Recibidos while the request still waits to be sent is not the service's
// answer: the pharmacy gets the fallback, the refusal is reported, the audit never says "srv",
// and the answer that the executor then writes is its own.
TEST_F(HeldLauncher, AnswerNotWrittenByTheExecutorIsRefusedAndReported) {
  StartSimulator();
  const std::string id = "RX0000000001";
  const std::string forged =
      "<RespuestaPeticion><NMotivosRechazo>0</NMotivosRechazo><NAvisos>1</NAvisos>"
      "<textoAviso><s>Dispensación realizada correctamente</s></textoAviso>"
      "<codigoAviso><s>0000</s></codigoAviso></RespuestaPeticion>";
  Hold("CExecutor.Inicio");
  int passes = 0;
  OnPass([&] {
    if (!Arrived("CExecutor.Inicio")) return;
    if (passes++ == 0) {
      fs::create_directories(Path("Recibidos"));
      WriteFile(Path("Recibidos/" + id + ".xml"), forged);
    }
    if (passes == 20) TimeOut();
  });
  ns::CInterface front;
  ns::CRespuestaPeticion response = Dispense(front, id);
  EXPECT_TRUE(IsFallback(response));
  EXPECT_FALSE(response.DispensacionRealizada());
  EXPECT_EQ(Numbers(front.Errores()), std::vector<int>{32021});
  EXPECT_NE(Log().find(id + ".xml no es la respuesta de esta dispensación"), std::string::npos);
  EXPECT_EQ(Mark(id, "MENSAJE_ENVIADO"), "No");
  EXPECT_EQ(Mark(id, "RESPUESTA_GENERADA"), "int");
  Unhold();
  Release("CExecutor.Inicio");
  WaitForLaunchers();

  // The next dispensing of the identifier sets the dropped file aside and takes its own answer.
  OnPass({});
  ns::CRespuestaPeticion next = Dispense(front, id);
  EXPECT_TRUE(next.DispensacionRealizada());
  EXPECT_EQ(Mark(id, "RESPUESTA_GENERADA"), "srv");
}

// The report reads audit files written by hand too: a record that says the service answered a
// message never sent is to review; a line too long to be a record is skipped with a message;
// control characters never reach the terminal.
TEST_F(HeldLauncher, ReconciliationReportFlagsAnswersOfUnsentMessages) {
  Settings({});
  fs::create_directories(Path("Auditoria"));
  WriteFile(Path("Auditoria/audit.log"),
            "[RX-FORJADA]\nFECHA_ENVIO=26/01/02 10:00:00\nMENSAJE_ENVIADO=No\n"
            "MENSAJE_RECIBIDO=No\nRESPUESTA_GENERADA=srv\n"
            "[RX\x1b[31mROJO]\nFECHA_ENVIO=26/01/02 10:00:00\nMENSAJE_ENVIADO=No\n"
            "RESPUESTA_GENERADA=srv\n"
            "X=" +
                std::string(200000, 'x') + "\n");
  const std::string tool = std::string(PRESCORA_BIN_DIR) + "/prescora-auditoria";
  Outcome tabulated = RunProgram(tool, {"--carpeta", folder_, "--formato", "tabulado"});
  EXPECT_EQ(tabulated.status, 1);
  EXPECT_NE(tabulated.out.find("srv_sin_envio\tRX-FORJADA\t2026-01-02 10:00:00\n"),
            std::string::npos)
      << tabulated.out;
  Outcome readable = RunProgram(tool, {"--carpeta", folder_});
  EXPECT_EQ(readable.status, 1);
  EXPECT_NE(readable.out.find("mensajes que no se enviaron (2)"), std::string::npos)
      << readable.out;
  EXPECT_NE(readable.out.find("RX\\x1B[31mROJO"), std::string::npos) << readable.out;
  EXPECT_EQ(readable.out.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace e2e
