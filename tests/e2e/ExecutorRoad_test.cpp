// The executor's half of a dispensing against the simulator: the executor object in this
// process, then executor.exe itself with the launcher's argument table. Also the logs the two
// front objects open with, and the GenerarTrace switch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/E2eFixture.h"
#include "interface/CAuditor.h"
#include "interface/CExecutor.h"
#include "interface/CFileAdmin.h"
#include "interface/CInterface.h"
#include "interface/CRespuestaPeticion.h"
#include "interface/modGlobalInterface.h"
#include "support/SampleRequest.h"

namespace e2e {
namespace {

namespace ns = PRESCORA_NS;

struct ExecutorEvents : ns::CExecutorEvents {
  std::vector<std::string> seen;
  void AlConectar() override { seen.push_back("Conectar"); }
  void AlIniciarSolicitudDispensacion() override { seen.push_back("Iniciar"); }
  void AlTerminarSolicitudDispensacion() override { seen.push_back("Terminar"); }
};

class ExecutorRoad : public Installation {
 protected:
  void Spool(const std::string& id) {
    ns::CFileAdmin admin;
    admin.MakeSended();
    ASSERT_TRUE(sample_data::Request(id).ToXMLFile(admin.GetSendedPath() + id + ".xml"));
  }
  std::string Counter(const char* key) const {
    return ns::GetPrivateProfileStringEx(Path("Interface.ini"), "MensajeSOAP", key);
  }
};

// An accepted dispensing: the events in order, both counters up by one, the answer in
// Recibidos, both audit marks. An empty or non-numeric TimeOut leaves the client's own time-out
// (it is no failure); a number applies.
TEST_F(ExecutorRoad, AnsweredDispensingWritesItsResponseCountsAndMarks) {
  StartSimulator();
  struct Case {
    std::string timeOut;
    std::string id;
    bool answered;
  };
  const std::vector<Case> cases = {{"", "RX0000000001", true},
                                   {"abc", "RX0000000002", true},
                                   {"8000", "RX0000000003", true},
                                   {"300", "RX-LENTA", false}};  // answered after 5 s
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id + " TimeOut=" + c.timeOut);
    Settings({{"Proxy.TimeOut", c.timeOut}, {"Seguimiento.Auditar", "1"}});  // counters at 0
    Spool(c.id);
    ns::CExecutor executor;
    ExecutorEvents events;
    executor.set_Events(&events);
    ns::objAuditor().Save(c.id, ns::audHeader);
    EXPECT_EQ(executor.SolicitudDispensacion(c.id), c.answered);
    const std::string audit = AuditSection(c.id);
    if (!c.answered) {
      EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar", "Conectar"}));
      EXPECT_FALSE(Exists("Recibidos/" + c.id + ".xml"));
      EXPECT_NE(audit.find("MENSAJE_RECIBIDO=No\n"), std::string::npos) << audit;
      EXPECT_EQ(Counter("Enviados"), "0");
      continue;
    }
    EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar", "Conectar", "Terminar"}));
    EXPECT_TRUE(executor.Errores().empty());
    EXPECT_EQ(Counter("Enviados"), "1");
    EXPECT_EQ(Counter("Recibidos"), "1");
    ns::CRespuestaPeticion response;
    ASSERT_TRUE(response.FromXMLFile(Path("Recibidos/" + c.id + ".xml")));
    EXPECT_TRUE(response.DispensacionRealizada());
    EXPECT_EQ(response.m_colCodigoAviso(), std::vector<std::string>{"0000"});
    EXPECT_NE(audit.find("MENSAJE_ENVIADO=Si\n"), std::string::npos) << audit;
    EXPECT_NE(audit.find("MENSAJE_RECIBIDO=Si\n"), std::string::npos) << audit;
  }
}

// executor.exe with the launcher's argument table: which request, if any, it performs.
TEST_F(ExecutorRoad, LauncherTakesTheIdentifierFromItsFirstArgumentOnly) {
  StartSimulator();
  for (const char* id : {"ABC123", "A"}) Spool(id);
  struct Case {
    std::vector<std::string> arguments;
    const char* performed;  // the identifier of the request performed; null: none
  };
  const std::vector<Case> cases = {
      {{"IDPres=ABC123"}, "ABC123"},
      {{"IDPres=ABC123", "extra"}, "ABC123"},
      {{"IDPres=A=B"}, "A"},
      {{"IDPres"}, ""},
      {{"IDPres="}, ""},
      {{"idpres=ABC123"}, nullptr},
      {{"ID=ABC123"}, nullptr},
      {{}, nullptr},
  };
  const std::string start =
      " CExecutor.SolicitudDispensacion:Iniciando la solicitud de dispensación ";
  for (const Case& c : cases) {
    std::string args;
    for (const auto& a : c.arguments) args += "[" + a + "]";
    SCOPED_TRACE(args);
    fs::remove(Path("Interface.log"));
    fs::remove_all(Path("Recibidos"));
    RunProgram(Path("executor.exe"), c.arguments);
    const std::string log = ReadFile(Path("Interface.log"));
    if (c.performed == nullptr) {
      EXPECT_EQ(log.find(start), std::string::npos) << log;
      EXPECT_TRUE(Files("Recibidos").empty());
      continue;
    }
    EXPECT_NE(log.find(start + c.performed + "\r\n"), std::string::npos) << log;
    if (*c.performed != '\0') {
      EXPECT_EQ(Files("Recibidos"), std::set<std::string>{std::string(c.performed) + ".xml"});
    } else {
      EXPECT_TRUE(Files("Recibidos").empty());
      EXPECT_NE(log.find(" CExecutor.SolicitudDispensacion:(320"), std::string::npos) << log;
    }
  }
}

// Both front objects open the message log with its banner and the trace log only when
// GenerarTrace is exactly 1.
TEST_F(ExecutorRoad, FrontObjectsOpenTheirLogsAsTheSettingsSay) {
  const std::string stars(80, '*');
  const std::string messageBanner =
      stars + "\r\nLog envío/recepción mensajes con SOAP  Interface 1.2\t";
  const std::string traceBanner = stars + "\r\nLog de trazas del  Interface 1.2\t";
  struct Case {
    std::string generarTrace;
    bool traced;
  };
  const std::vector<Case> cases = {{"1", true}, {"0", false}, {"2", false}, {"-1", false}};
  for (const char* front : {"CInterface", "CExecutor"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(front) + " GenerarTrace=" + c.generarTrace);
      Settings({{"Configuracion.GenerarTrace", c.generarTrace}});
      fs::remove(Path("Interface.log"));
      fs::remove(Path("Interface.txt"));
      if (std::string(front) == "CInterface") {
        ns::CInterface object;
        EXPECT_TRUE(object.Enabled());
      } else {
        ns::CExecutor object;
        EXPECT_TRUE(object.Enabled());
      }
      const std::string log = ReadFile(Path("Interface.log"));
      EXPECT_EQ(log.rfind(messageBanner, 0), 0u) << log;
      const auto firstLine = log.find(stars + "\r\n", stars.size() + 2) + stars.size() + 2;
      EXPECT_EQ(log.substr(firstLine + 19, 31), "  Iniciando la clase CInterface") << log;
      EXPECT_NE(
          log.find("Se cargó correctamente la configuración del archivo " + Path("Interface.ini")),
          std::string::npos)
          << log;
      const std::string trace = ReadFile(Path("Interface.txt"));
      EXPECT_EQ(Exists("Interface.txt"), c.traced) << trace;
      if (c.traced) {
        EXPECT_EQ(trace.rfind(traceBanner, 0), 0u) << trace;
        EXPECT_NE(trace.find("OUT\t" + std::string(front) + ".Class_Terminate\t\t\r\n"),
                  std::string::npos)
            << trace;
      }
    }
  }
}

}  // namespace
}  // namespace e2e
