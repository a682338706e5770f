#include "interface/CInterface.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "interface/CAuditor.h"
#include "interface/DispensingFixture.h"
#include "interface/modGlobalInterface.h"

namespace dispensing_test {
namespace {

struct RecordedEvents : ns::CInterfaceEvents {
  std::vector<std::string> seen;
  void AlIniciarSolicitudDispensacion(const std::string& id) override {
    seen.push_back("Iniciar " + id);
  }
  void AlTerminarSolicitudDispensacion(bool correcto, ns::ResponseTypeEnum tipo) override {
    seen.push_back(std::string("Terminar ") + (correcto ? "True " : "False ") +
                   std::to_string(tipo));
  }
};

const std::string kErrorCode = "errorInterface1.2";

class FrontObject : public DispensingTest {
 protected:
  // Drops the answer into Recibidos on the first pass of the wait, as the launcher would: with
  // the token the front object left in the dispensing's state file.
  void AnswerOnFirstPass(const std::string& id, const std::string& xml) {
    FakeClock(100000, 1000, [this, id, xml](uint32_t) {
      if (passes_ != 1) return;
      const std::string state = ReadFile(Path("EnCurso/" + id + ".estado"));
      const std::string token = state.substr(state.find('\n') + 1, 32);
      std::string signed_ = xml;
      const std::string root = "<RespuestaPeticion";
      signed_.insert(signed_.find(root) + root.size(), " ejecucion=\"" + token + "\"");
      fs::create_directories(Path("Recibidos"));
      WriteFile(Path("Recibidos/" + id + ".xml"), signed_);
    });
  }

  ns::CRespuestaPeticion Dispense(ns::CInterface& front, const std::string& id) {
    ns::CPeticionDispensacion request = FullRequest(id);
    return front.SolicitudDispensacion(request);
  }
};

TEST_F(FrontObject, ConstructionAppliesTheSettings) {
  WriteSettings(Path("Interface.ini"), {{"Configuracion.Servicio", "http://sitio/wsdl"},
                                        {"Configuracion.GuardarPeticionSOAP", "1"},
                                        {"Seguimiento.ArchivoDiario", "1"}});
  ns::CInterface front;
  EXPECT_TRUE(front.Enabled());
  EXPECT_EQ(front.Opciones(), ns::ifgSaveXMLSendedToFile);
  EXPECT_EQ(front.OpcionesLog(), 3);
  EXPECT_EQ(front.NombreServicio(), "http://sitio/wsdl");
  EXPECT_EQ(front.NombreLog(), Path("Interface.log"));
  EXPECT_TRUE(ns::objAuditor().Enable());
  EXPECT_TRUE(ns::objAuditor().DiaryStore());
  std::string log = Log();
  EXPECT_NE(
      log.find("Se cargó correctamente la configuración del archivo " + Path("Interface.ini")),
      std::string::npos);
  EXPECT_NE(log.find("Recuperado el valor 'http://sitio/wsdl' para la propiedad NombreServicio"),
            std::string::npos);
  EXPECT_NE(
      log.find("Recuperado el valor '" + Path("Interface.log") + "' para la propiedad NombreLog"),
      std::string::npos);

  WriteSettings(Path("Interface.ini"), {{"Configuracion.GenerarLog", "2"}});
  ns::CInterface quiet;
  EXPECT_EQ(quiet.OpcionesLog(), 0);
  EXPECT_FALSE(ns::objAuditor().DiaryStore());
}

TEST_F(FrontObject, FailedConstructionLeavesTheObjectDisabledAndWritesNothing) {
  fs::remove(Path("Interface.ini"));
  WriteIdleExecutor();
  ns::CInterface front;
  EXPECT_FALSE(front.Enabled());
  // Why, at once: the settings' own conversion failure comes first.
  EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{13, 32001}));
  ASSERT_EQ(front.Errores().size(), 2u);
  EXPECT_EQ(front.Errores()[1].Source(), "CInterface.Class_Initialize");
  EXPECT_EQ(front.Errores()[1].Description(),
            "No se puede leer la información del archivo de inicialización (.ini)");
  RecordedEvents events;
  front.set_Events(&events);

  ns::CRespuestaPeticion response = Dispense(front, "RX1");
  EXPECT_FALSE(response.DatosValidos());
  ASSERT_EQ(response.m_colCodigoMotivosRechazo().size(), 1u);
  EXPECT_EQ(response.m_colCodigoMotivosRechazo()[0], kErrorCode);
  EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{32005}));
  EXPECT_EQ(front.Errores()[0].Source(), "CInterface.SolicitudDispensacion");
  EXPECT_TRUE(events.seen.empty());
  EXPECT_FALSE(Exists("Enviados"));
  EXPECT_FALSE(Exists("Auditoria"));

  std::string log = Log();
  auto start =
      log.find("CInterface.SolicitudDispensacion:Iniciando una solicitud de dispensación RX1");
  auto failure = log.find(
      "CInterface.SolicitudDispensacion:(32005)La interfaz Prescora no está activa. Posiblemente "
      "no se han cargado los daos del archivo de inicialización correctamente");
  EXPECT_NE(log.find("CInterface.Class_Initialize:(32001)No se puede leer la información del "
                     "archivo de inicialización (.ini)"),
            std::string::npos);
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(failure, std::string::npos);
  EXPECT_LT(start, failure);
}

TEST_F(FrontObject, BlankIdentifierIsGeneratedAndWrittenBackBeforeAnyCheck) {
  ns::platform::clock::SetNowForTesting(
      [] { return ns::platform::clock::LocalTime{2026, 12, 7, 9, 5, 3}; });
  const std::string expected = "ITPF148F1UT9261207090503";

  // Missing mandatory field: the request fails, yet carries its new identifier.
  ns::CInterface front;
  ns::CPeticionDispensacion incomplete = FullRequest("   ");
  incomplete.set_Importe("");
  ns::CRespuestaPeticion response = front.SolicitudDispensacion(incomplete);
  EXPECT_EQ(incomplete.IDPrescripcion(), expected);
  EXPECT_FALSE(response.DatosValidos());
  EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{32002}));

  // A generated identifier is checked in its with-identifier form: the prescription's own data
  // (prescriber, prescription date, regime, kind) is not demanded.
  WriteIdleExecutor();
  FakeClock();
  ns::CPeticionDispensacion request = FullRequest("");
  response = front.SolicitudDispensacion(request);
  EXPECT_EQ(request.IDPrescripcion(), expected);
  EXPECT_TRUE(response.DatosValidos());
  EXPECT_NE(Audit().find("[" + expected + "]"), std::string::npos);
}

// A generated identifier is given once per library folder: a second one of the same data in the
// same second is the next second's; another patient's is its own; a clock that stays on one
// second gives none, rather than a second dispensing under the same identifier.
TEST_F(FrontObject, GeneratedIdentifierIsGivenOnce) {
  using ns::platform::clock::LocalTime;
  const auto start = std::chrono::steady_clock::now();
  bool moving = true;
  // The clock reaches the next second some time after the first request.
  ns::platform::clock::SetNowForTesting([&] {
    const bool later =
        moving && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500);
    return LocalTime{2026, 12, 7, 9, 5, later ? 4 : 3};
  });
  WriteIdleExecutor();
  ns::CInterface front;
  auto dispense = [&](const std::string& tis) {
    FakeClock();
    ns::CPeticionDispensacion request = FullRequest("");
    request.set_TIS(tis);
    ns::objErrores().ResetErrorsCollection();
    const bool valid = front.SolicitudDispensacion(request).DatosValidos();
    return std::make_pair(request.IDPrescripcion(), valid);
  };
  EXPECT_EQ(dispense("T9"), std::make_pair(std::string("ITPF148F1UT9261207090503"), true));
  EXPECT_EQ(dispense("T8"), std::make_pair(std::string("ITPF148F1UT8261207090503"), true));
  EXPECT_EQ(dispense("T9"), std::make_pair(std::string("ITPF148F1UT9261207090504"), true));
  moving = false;
  EXPECT_FALSE(dispense("T9").second);
  EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{32020}));
  const std::string audit = Audit();
  for (const char* id :
       {"ITPF148F1UT9261207090503", "ITPF148F1UT8261207090503", "ITPF148F1UT9261207090504"}) {
    const std::string section = std::string("[") + id + "]";
    EXPECT_NE(audit.find(section), std::string::npos) << id;
    EXPECT_EQ(audit.find(section), audit.rfind(section)) << id;
  }
}

TEST_F(FrontObject, IdentifierThatCouldEscapeTheSpoolOrTheAuditIsRefused) {
  WriteIdleExecutor();
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);
  const std::vector<std::string> ids = {"../../x", "../x", "A/B", "RX]1", "[RX1",
                                        "RX1\nPETICION_GENERADA=Si", std::string("RX\x01", 3),
                                        "RX\t1", std::string("RX\x7f", 3),
                                        // the launcher would cut these, and send another request
                                        "RX 1", "RX=1",
                                        // too long for the spool's file names
                                        std::string(201, 'R')};
  for (const std::string& id : ids) {
    SCOPED_TRACE(id);
    ns::objErrores().ResetErrorsCollection();
    ns::CRespuestaPeticion response = Dispense(front, id);
    EXPECT_FALSE(response.DatosValidos());
    ASSERT_EQ(response.m_colCodigoMotivosRechazo().size(), 1u);
    EXPECT_EQ(response.m_colCodigoMotivosRechazo()[0], kErrorCode);
    ASSERT_EQ(front.Errores().size(), 1u);
    EXPECT_EQ(front.Errores()[0].Number(), 32019);
    EXPECT_EQ(front.Errores()[0].Description(), "El identificador de la prescripción no es válido");
    EXPECT_EQ(front.Errores()[0].Source(), "CInterface.SolicitudDispensacion");
  }
  EXPECT_TRUE(events.seen.empty());
  EXPECT_FALSE(Exists("Enviados"));
  EXPECT_FALSE(Exists("Auditoria"));
  EXPECT_FALSE(Exists("x.xml"));
  EXPECT_FALSE(fs::exists(fs::path(root_).parent_path() / "x.xml"));

  // A generated identifier is checked too: it is made of the request's fields.
  ns::objErrores().ResetErrorsCollection();
  ns::CPeticionDispensacion generated = FullRequest("");
  generated.set_IdFarmacia("../F");
  front.SolicitudDispensacion(generated);
  EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{32019}));

  // The longest identifier allowed goes through.
  ns::objErrores().ResetErrorsCollection();
  FakeClock();
  const std::string longest(200, 'R');
  EXPECT_TRUE(Dispense(front, longest).DatosValidos());
  EXPECT_TRUE(front.Errores().empty());
  EXPECT_NE(Audit().find("[" + longest + "]"), std::string::npos);
}

TEST_F(FrontObject, AnswerInTimeIsTakenAuditedAndCleanedUp) {
  WriteIdleExecutor();
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);
  AnswerOnFirstPass("RX1", ResponseXml(1, {"0000"}, {"Hecho"}));
  ns::CRespuestaPeticion response = Dispense(front, "RX1");

  EXPECT_TRUE(response.DatosValidos());
  EXPECT_TRUE(response.DispensacionRealizada());
  EXPECT_EQ(response.m_intNAvisos(), 1);
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar RX1", "Terminar True 1"}));
  EXPECT_TRUE(front.Errores().empty());
  std::string audit = Audit();
  EXPECT_NE(audit.find("RESPUESTA_GENERADA=srv"), std::string::npos);
  EXPECT_NE(audit.find("TEXTO_RESPUESTA=0000.Hecho"), std::string::npos);
  EXPECT_FALSE(Exists("Enviados/RX1.xml"));
  EXPECT_FALSE(Exists("Recibidos/RX1.xml"));

  // With both settings at 0 the spool files stay.
  WriteSettings(Path("Interface.ini"),
                {{"Asincrono.EliminarXMLPeticion", "0"}, {"Asincrono.EliminarXMLRespuesta", "0"}});
  ns::CInterface keeping;
  AnswerOnFirstPass("RX2", ResponseXml(1, {"0000"}, {"Hecho"}));
  EXPECT_TRUE(Dispense(keeping, "RX2").DatosValidos());
  EXPECT_TRUE(Exists("Enviados/RX2.xml"));
  EXPECT_TRUE(Exists("Recibidos/RX2.xml"));
}

TEST_F(FrontObject, LateAnswerOfAnEarlierDispensingIsNotTakenForTheNewOne) {
  WriteIdleExecutor();
  fs::create_directories(Path("Recibidos"));
  WriteFile(Path("Recibidos/RX7.xml"), ResponseXml(1, {"0000"}, {"Respuesta antigua"}));
  ns::CInterface front;
  FakeClock();
  ns::CRespuestaPeticion response = Dispense(front, "RX7");
  EXPECT_FALSE(response.DispensacionRealizada());
  ASSERT_EQ(response.m_colCodigoMotivosRechazo().size(), 1u);
  EXPECT_EQ(response.m_colCodigoMotivosRechazo()[0], "sinRespuesta");
  EXPECT_NE(ReadFile(Path("Retrasados/RX7.xml")).find("Respuesta antigua"), std::string::npos);
  EXPECT_FALSE(Exists("Recibidos/RX7.xml"));
}

// An answer file left under the identifier is never taken for the new dispensing's and never
// replaces another: one the application took in time (kept by the settings) stays in Recibidos
// under the next free name; an unread one joins the late ones; one that cannot be moved stops the
// new dispensing.
TEST_F(FrontObject, EarlierAnswerIsSetAsideWithoutReplacingAnything) {
  WriteIdleExecutor();
  WriteSettings(Path("Interface.ini"), {{"Asincrono.EliminarXMLRespuesta", "0"}});
  ns::CInterface front;
  AnswerOnFirstPass("RX8", ResponseXml(1, {"0000"}, {"Entregada"}));
  EXPECT_TRUE(Dispense(front, "RX8").DispensacionRealizada());
  FakeClock();
  EXPECT_FALSE(Dispense(front, "RX8").DispensacionRealizada());
  EXPECT_NE(ReadFile(Path("Recibidos/RX8 (2).xml")).find("Entregada"), std::string::npos);
  EXPECT_FALSE(Exists("Retrasados/RX8.xml"));

  fs::create_directories(Path("Retrasados"));
  WriteFile(Path("Retrasados/RX9.xml"), ResponseXml(1, {"0000"}, {"Tardía anterior"}));
  WriteFile(Path("Recibidos/RX9.xml"), ResponseXml(1, {"0000"}, {"Sin leer"}));
  FakeClock();
  EXPECT_FALSE(Dispense(front, "RX9").DispensacionRealizada());
  EXPECT_NE(ReadFile(Path("Retrasados/RX9.xml")).find("Tardía anterior"), std::string::npos);
  EXPECT_NE(ReadFile(Path("Retrasados/RX9 (2).xml")).find("Sin leer"), std::string::npos);

  fs::remove_all(Path("Retrasados"));
  WriteFile(Path("Retrasados"), "");  // a plain file where the folder should be
  WriteFile(Path("Recibidos/RX10.xml"), ResponseXml(1, {"0000"}, {"Sin leer"}));
  ns::objErrores().ResetErrorsCollection();
  FakeClock();
  EXPECT_FALSE(Dispense(front, "RX10").DatosValidos());
  EXPECT_FALSE(Exists("Enviados/RX10.xml"));
  EXPECT_NE(ReadFile(Path("Recibidos/RX10.xml")).find("Sin leer"), std::string::npos);
}

// A call for the same identifier (letter case aside) made from the message loop while the first
// waits is refused before anything is written.
TEST_F(FrontObject, SecondRequestOfAnIdentifierInFlightIsRefused) {
  WriteIdleExecutor();
  ns::CInterface front;
  std::vector<int> nested;
  bool done = false;
  FakeClock(100000, 1, [&](uint32_t) {
    if (done) return;
    done = true;
    ns::CInterface other;
    ns::CPeticionDispensacion request = FullRequest("rx5");
    ns::CRespuestaPeticion response = other.SolicitudDispensacion(request);
    EXPECT_FALSE(response.DatosValidos());
    nested = Numbers(other.Errores());
    ASSERT_FALSE(other.Errores().empty());
    EXPECT_EQ(other.Errores().back().Description(),
              "Ya hay una dispensación en curso para esta prescripción");
    EXPECT_EQ(other.Errores().back().Source(), "CInterface.SolicitudDispensacion");
    tick_ += 100000;
  });
  EXPECT_TRUE(Dispense(front, "RX5").DatosValidos());
  EXPECT_EQ(nested, (std::vector<int>{32020}));
  EXPECT_FALSE(Exists("Enviados/rx5.xml"));
  EXPECT_EQ(Audit().find("[rx5]"), std::string::npos);
}

TEST_F(FrontObject, NoAnswerFallsBackOnTheDefaultFileThenOnTheSettings) {
  WriteIdleExecutor();
  WriteFile(Path("defrespo.xml"), ResponseXml(1, {"9999"}, {"Dispensación pendiente"}));
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);
  FakeClock();
  ns::CRespuestaPeticion byDefault = Dispense(front, "RX1");
  EXPECT_TRUE(byDefault.DatosValidos());
  EXPECT_FALSE(byDefault.DispensacionRealizada());
  ASSERT_EQ(byDefault.m_colCodigoAviso().size(), 1u);
  EXPECT_EQ(byDefault.m_colCodigoAviso()[0], "9999");
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar RX1", "Terminar False 2"}));
  std::string audit = Audit();
  EXPECT_NE(audit.find("RESPUESTA_GENERADA=xml"), std::string::npos);
  EXPECT_NE(audit.find("TEXTO_RESPUESTA=9999.Dispensación pendiente"), std::string::npos);
  EXPECT_FALSE(Exists("Enviados/RX1.xml"));

  fs::remove(Path("defrespo.xml"));
  events.seen.clear();
  FakeClock();
  ns::CRespuestaPeticion internal = Dispense(front, "RX2");
  EXPECT_TRUE(internal.DatosValidos());
  ASSERT_EQ(internal.m_colCodigoMotivosRechazo().size(), 1u);
  EXPECT_EQ(internal.m_colCodigoMotivosRechazo()[0], "sinRespuesta");
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar RX2", "Terminar False 3"}));
  EXPECT_NE(Audit().find("RESPUESTA_GENERADA=int\nTEXTO_RESPUESTA=sinRespuesta.No se ha recibido "
                         "respuesta del servicio de receta electrónica"),
            std::string::npos);
  EXPECT_TRUE(front.Errores().empty());
}

TEST_F(FrontObject, AuditTextNamesTheFirstWarningOrRejection) {
  WriteIdleExecutor();
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);
  struct Case {
    std::string id;
    std::string xml;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"RX1", ResponseXml(0, {}, {}, 2, {"1001", "1002"}, {"Falta", "Mal"}), "1001.Falta"},
      {"RX2", ResponseXml(0, {}, {}), "No se puede interpretar la respuesta recibida"},
      // Unreadable: the response becomes the error response, but the request does not fail.
      {"RX3", "<RespuestaPeticion><NAvisos>1",
       kErrorCode + ".Errores internos en la aplicación 'Interface Prescora' impiden la realizar "
                    "la dispensación. Consulte el archivo de log para determinar la causa del "
                    "error"},
      // A count without its list: the answer in hand must not become a failed request.
      {"RX4", ResponseXml(1, {}, {}), "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    events.seen.clear();
    AnswerOnFirstPass(c.id, c.xml);
    ns::CRespuestaPeticion response = Dispense(front, c.id);
    EXPECT_TRUE(response.DatosValidos());
    EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar " + c.id, "Terminar True 1"}));
    std::string audit = Audit();
    auto section = audit.find("[" + c.id + "]");
    ASSERT_NE(section, std::string::npos);
    EXPECT_NE(audit.find("TEXTO_RESPUESTA=" + c.text + "\n", section), std::string::npos);
  }
}

TEST_F(FrontObject, FailedWaitGoesOnWithTheFallbacks) {
  WriteIdleExecutor();
  WriteSettings(Path("Interface.ini"), {{"Asincrono.IntervaloComprobacion", "0"}});
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);
  FakeClock();
  ns::CRespuestaPeticion response = Dispense(front, "RX1");
  EXPECT_TRUE(response.DatosValidos());
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar RX1", "Terminar False 3"}));
  EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{11}));
  EXPECT_NE(Log().find("CInterface.WaitResponse:(11)División por cero"), std::string::npos);
}

TEST_F(FrontObject, ErroresTellsAboutTheLastRequestOnly) {
  WriteIdleExecutor();
  ns::CInterface front;
  ns::CPeticionDispensacion incomplete = FullRequest("RX1");
  incomplete.set_Idioma("");
  EXPECT_FALSE(front.SolicitudDispensacion(incomplete).DatosValidos());
  EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{32002}));
  FakeClock();
  EXPECT_TRUE(Dispense(front, "RX2").DatosValidos());
  EXPECT_TRUE(front.Errores().empty());

  // A new front object empties the thread's collection.
  ns::CInterface fresh;
  FakeClock();
  EXPECT_TRUE(Dispense(fresh, "RX3").DatosValidos());
  EXPECT_TRUE(fresh.Errores().empty());
}

// The wait itself, on a tick counter that moves only when the test says so.
struct WaitingInterface : ns::CInterface {
  using CInterface::WaitResponse;
};

class Wait : public DispensingTest {
 protected:
  void Settings(int timeout, int interval) {
    WriteSettings(Path("Interface.ini"),
                  {{"Asincrono.PeticionTimeOut", std::to_string(timeout)},
                   {"Asincrono.IntervaloComprobacion", std::to_string(interval)}});
    fs::create_directories(Path("Recibidos"));
  }
  void Present(bool present) {
    if (present)
      WriteFile(Path("Recibidos/RX.xml"), "x");
    else
      fs::remove(Path("Recibidos/RX.xml"));
  }
  // Runs one wait whose answer file is there exactly while `present(ms elapsed)` holds.
  template <class Present>
  bool Run(uint32_t start, uint32_t step, Present present) {
    FakeClock(start, step, [this, present](uint32_t ms) { this->Present(present(ms)); });
    this->Present(present(0));
    WaitingInterface front;
    return front.WaitResponse("RX");
  }
};

TEST_F(Wait, TimeoutOfZeroOrLessLooksOnceAtOnce) {
  for (int timeout : {0, -5}) {
    SCOPED_TRACE(timeout);
    Settings(timeout, 1);
    EXPECT_TRUE(Run(1000, 1000, [](uint32_t) { return true; }));
    EXPECT_EQ(passes_, 0);
    EXPECT_FALSE(Run(1000, 1000, [](uint32_t) { return false; }));
    EXPECT_EQ(passes_, 0);
  }
}

TEST_F(Wait, LooksOnlyInTheSecondsThatAreMultiplesOfTheInterval) {
  Settings(6, 2);
  // Second 1 (0.5 s exclusive to 1.5 s exclusive) is never due.
  EXPECT_FALSE(Run(5000, 250, [](uint32_t ms) { return ms >= 750 && ms <= 1250; }));
  EXPECT_GE(passes_, 20);  // every pass of the six seconds yields once
  EXPECT_TRUE(Run(5000, 250, [](uint32_t ms) { return ms >= 1750 && ms <= 2250; }));
  EXPECT_TRUE(ns::objErrores().Errores().empty());
}

TEST_F(Wait, FinalLookAfterTheTimeout) {
  Settings(3, 2);
  // Second 3 is not due; the answer that arrives in it is taken by the final look.
  EXPECT_TRUE(Run(5000, 500, [](uint32_t ms) { return ms >= 2750; }));
}

TEST_F(Wait, ElapsedSecondsRoundHalvesToEven) {
  Settings(10, 3);
  // 2.5 s counts as second 2, not 3.
  EXPECT_FALSE(Run(5000, 500, [](uint32_t ms) { return ms == 2500; }));
  Settings(10, 2);
  EXPECT_TRUE(Run(5000, 500, [](uint32_t ms) { return ms == 2500; }));
}

TEST_F(Wait, DivisionByZeroAndOverflowEndTheWait) {
  Settings(5, 0);
  EXPECT_FALSE(Run(5000, 1000, [](uint32_t) { return true; }));
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), (std::vector<int>{11}));
  EXPECT_NE(Log().find("CInterface.WaitResponse:(11)División por cero"), std::string::npos);

  // From just below 2^31 to just above it: the signed difference leaves the 32-bit range.
  ns::objErrores().ResetErrorsCollection();
  Settings(5, 1);
  EXPECT_FALSE(Run(0x7FFFFC00u, 0x800, [](uint32_t ms) { return ms > 0; }));
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), (std::vector<int>{6}));
  EXPECT_NE(Log().find("CInterface.WaitResponse:(6)Desbordamiento"), std::string::npos);
}

TEST_F(Wait, CounterWrappingThroughZeroIsNoOverflow) {
  Settings(5, 1);
  EXPECT_TRUE(Run(0xFFFFFC00u, 0x400, [](uint32_t ms) { return ms >= 2000; }));
  EXPECT_TRUE(ns::objErrores().Errores().empty());
}

// Pipes and links planted among the files a dispensing opens: the request ends at once (never
// waits on a pipe), with the operation's error where it cannot go on, nothing is written through
// a link, and the refusal is in the message log.
TEST_F(FrontObject, PlantedPipesAndLinksNeitherHoldNorSteerTheDispensing) {
  struct Case {
    std::string planted;
    bool pipe;
    std::vector<int> errors;
  };
  const std::vector<Case> cases = {
      {"EnCurso/RX1.estado", true, {32007}},        {"EnCurso/RX1.estado", false, {32007}},
      {"EnCurso/RX1.estado.nuevo", false, {32007}}, {"defrespo.xml", true, {32009}},
      {"Auditoria/audit.log.journal", true, {}},
  };
  WriteIdleExecutor();
  const std::string victim = Path("fuera.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.planted + (c.pipe ? " pipe" : " link"));
    fs::remove_all(Path("EnCurso"));
    fs::remove_all(Path("Auditoria"));
    fs::remove(Path("defrespo.xml"));
    fs::create_directories(Path("EnCurso"));
    fs::create_directories(Path("Auditoria"));
    WriteFile(victim, "intacto");
    if (c.pipe) {
      ASSERT_EQ(::mkfifo(Path(c.planted).c_str(), 0600), 0);
    } else {
      fs::create_symlink(victim, Path(c.planted));
    }
    ns::CInterface front;
    FakeClock();
    ns::CRespuestaPeticion response = Dispense(front, "RX1");
    std::vector<int> numbers = Numbers(front.Errores());
    EXPECT_EQ(numbers, c.errors);
    EXPECT_EQ(response.DatosValidos(), c.errors != std::vector<int>{32007});
    EXPECT_EQ(ReadFile(victim), "intacto");
    EXPECT_NE(Log().find("Se rechaza el archivo " + Path(c.planted)), std::string::npos);
  }
}

}  // namespace
}  // namespace dispensing_test
