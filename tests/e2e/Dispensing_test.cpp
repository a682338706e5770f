// The road of one dispensing with real processes: the front object in this process, the real
// executor.exe started by it from the library folder, the simulator on a loopback port.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/xml.h"
#include "e2e/E2eFixture.h"
#include "interface/CAuditor.h"
#include "interface/CFileAdmin.h"
#include "interface/CInterface.h"
#include "interface/modGlobalInterface.h"
#include "support/ProxyOnlyService.h"
#include "support/SampleRequest.h"

namespace e2e {
namespace {

namespace ns = PRESCORA_NS;

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

using sample_data::Request;

std::vector<int> Numbers(const std::vector<ns::CErrorItem>& items) {
  std::vector<int> numbers;
  for (const auto& item : items) numbers.push_back(item.Number());
  return numbers;
}

const std::string kDone = "Dispensación realizada correctamente";

class Dispensing : public Installation {
 protected:
  ns::CRespuestaPeticion Dispense(ns::CInterface& front, const std::string& id) {
    ns::CPeticionDispensacion request = Request(id);
    return front.SolicitudDispensacion(request);
  }
  std::string Counters() const {
    std::string ini = ReadFile(Path("Interface.ini"));
    auto at = ini.find("[MensajeSOAP]");
    return at == std::string::npos ? std::string() : ini.substr(at, ini.find('[', at + 1) - at);
  }
  bool LogHas(const std::string& text) {
    return WaitFor([&] { return Log().find(text) != std::string::npos; }, 30s);
  }
};

TEST_F(Dispensing, AnswerInTimeReachesTheApplication) {
  StartSimulator();
  const std::string id = "RX0000000001";
  ns::CInterface front;
  ASSERT_TRUE(front.Enabled());
  RecordedEvents events;
  front.set_Events(&events);
  // Whenever the answer file can be seen, it is whole.
  bool partial = false;
  int passes = 0;
  ns::platform::events::SetMessageLoopHook([&] {
    ++passes;
    const std::string file = Path("Recibidos/" + id + ".xml");
    ns::platform::xml::Document document;
    if (fs::exists(file) && !document.Load(file) && fs::exists(file)) partial = true;
  });

  ns::CRespuestaPeticion response = Dispense(front, id);
  EXPECT_TRUE(response.DatosValidos());
  EXPECT_TRUE(response.DispensacionRealizada());
  EXPECT_EQ(response.m_intNAvisos(), 1);
  EXPECT_EQ(response.m_colCodigoAviso(), (std::vector<std::string>{"0000"}));
  EXPECT_EQ(response.m_colTextoAviso(), (std::vector<std::string>{kDone}));
  EXPECT_EQ(response.m_intNMotivosRechazo(), 0);
  EXPECT_TRUE(front.Errores().empty());
  EXPECT_EQ(front.Envio(), ns::envRespondido);
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar " + id, "Terminar True 1"}));
  EXPECT_GT(passes, 0);
  EXPECT_FALSE(partial);

  // Both processes left their marks.
  EXPECT_NE(AuditSection(id).find("PETICION_GENERADA=Si\nMENSAJE_ENVIADO=Si\nMENSAJE_RECIBIDO=Si\n"
                                  "RESPUESTA_GENERADA=srv\nTEXTO_RESPUESTA=0000." +
                                  kDone + "\n"),
            std::string::npos)
      << Audit();
  EXPECT_NE(Counters().find("Enviados=1\nRecibidos=1\n"), std::string::npos) << Counters();
  EXPECT_TRUE(Files("Enviados").empty());
  EXPECT_TRUE(Files("Recibidos").empty());
  std::string log = Log();
  EXPECT_NE(
      log.find("CInterface.SolicitudDispensacion:Iniciando una solicitud de dispensación " + id),
      std::string::npos);
  EXPECT_NE(
      log.find(" CExecutor.SolicitudDispensacion:Enviando mensaje SOAP 'PeticionDispensacion' " +
               id),
      std::string::npos);
  EXPECT_NE(
      log.find(id + " SolicitudDispensacion:Recibiendo mensaje SOAP 'RespuestaPeticion' " + id),
      std::string::npos);
  // The answer's line names where it ends, not the late answers' folder it is staged in.
  EXPECT_NE(log.find("CRespuestaPeticion.ToXML:Generando archivo " +
                     Path("Recibidos/" + id + ".xml") + " con la respuesta de la dispensación"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Generando archivo " + Path("Retrasados")), std::string::npos);
  EXPECT_TRUE(simulator_->EsperarLinea("solicitudDispensacion " + id + " aceptada: 0000"));
}

TEST_F(Dispensing, SpoolFilesStayWhenTheSettingsSaySo) {
  StartSimulator({},
                 {{"Asincrono.EliminarXMLPeticion", "0"}, {"Asincrono.EliminarXMLRespuesta", "0"}});
  const std::string id = "RX0000000002";
  ns::CInterface front;
  EXPECT_TRUE(Dispense(front, id).DispensacionRealizada());
  // Nothing but the two files: no temporary name is left behind.
  EXPECT_EQ(Files("Enviados"), (std::set<std::string>{id + ".xml"}));
  EXPECT_EQ(Files("Recibidos"), (std::set<std::string>{id + ".xml"}));
  ns::CRespuestaPeticion kept;
  EXPECT_TRUE(kept.FromXMLFile(Path("Recibidos/" + id + ".xml")));
  EXPECT_EQ(kept.m_colTextoAviso(), (std::vector<std::string>{kDone}));
}

TEST_F(Dispensing, OneObjectServesSeveralRequests) {
  StartSimulator();
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);

  EXPECT_TRUE(Dispense(front, "RX0000000001").DispensacionRealizada());
  ns::CPeticionDispensacion incomplete = Request("RX0000000002");
  incomplete.set_ClaveUsuario("");
  EXPECT_FALSE(front.SolicitudDispensacion(incomplete).DatosValidos());
  EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{32002}));
  EXPECT_TRUE(Dispense(front, "RX0000000002").DispensacionRealizada());

  // Already dispensed at the service: an answer all the same, a rejection.
  ns::CRespuestaPeticion rejected = Dispense(front, "RX0000000004");
  EXPECT_TRUE(rejected.DatosValidos());
  EXPECT_FALSE(rejected.DispensacionRealizada());
  EXPECT_EQ(rejected.m_colCodigoMotivosRechazo(), (std::vector<std::string>{"1005"}));
  EXPECT_NE(AuditSection("RX0000000004")
                .find("TEXTO_RESPUESTA=1005.La prescripción ya ha sido dispensada\n"),
            std::string::npos);

  EXPECT_TRUE(front.Errores().empty());  // of the last request only
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar RX0000000001", "Terminar True 1",
                                                   "Iniciar RX0000000002", "Terminar True 1",
                                                   "Iniciar RX0000000004", "Terminar True 1"}));
  EXPECT_NE(Counters().find("Enviados=3\nRecibidos=3\n"), std::string::npos) << Counters();
}

TEST_F(Dispensing, SlowServiceGetsTheFallbacksAndItsLateAnswersAreSetAside) {
  // The answer comes 4 s after the request; the front object waits 2 s.
  StartSimulator({"--retraso", "4000"}, {{"Asincrono.PeticionTimeOut", "2"}});
  WriteFile(Path("defrespo.xml"),
            "<RespuestaPeticion xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">"
            "<NMotivosRechazo>0</NMotivosRechazo><NAvisos>1</NAvisos>"
            "<codigoAviso><SOAP-ENC:string>9999</SOAP-ENC:string></codigoAviso>"
            "<textoAviso><SOAP-ENC:string>Pendiente de confirmar</SOAP-ENC:string></textoAviso>"
            "</RespuestaPeticion>");
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);

  ns::CRespuestaPeticion byDefault = Dispense(front, "RX0000000001");
  EXPECT_TRUE(byDefault.DatosValidos());
  EXPECT_EQ(byDefault.m_colCodigoAviso(), (std::vector<std::string>{"9999"}));

  fs::remove(Path("defrespo.xml"));
  ns::CRespuestaPeticion internal = Dispense(front, "RX0000000002");
  EXPECT_TRUE(internal.DatosValidos());
  EXPECT_EQ(internal.m_colCodigoMotivosRechazo(), (std::vector<std::string>{"sinRespuesta"}));
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar RX0000000001", "Terminar False 2",
                                                   "Iniciar RX0000000002", "Terminar False 3"}));

  // The answers arrive later and are moved aside, whole.
  EXPECT_TRUE(WaitFor([&] {
    return Exists("Retrasados/RX0000000001.xml") && Exists("Retrasados/RX0000000002.xml");
  }));
  WaitForLaunchers();
  EXPECT_TRUE(Files("Recibidos").empty());
  EXPECT_TRUE(Files("Enviados").empty());
  ns::CRespuestaPeticion late;
  EXPECT_TRUE(late.FromXMLFile(Path("Retrasados/RX0000000001.xml")));
  EXPECT_EQ(late.m_colCodigoAviso(), (std::vector<std::string>{"0000"}));
  EXPECT_NE(AuditSection("RX0000000001")
                .find("MENSAJE_RECIBIDO=Si\nRESPUESTA_GENERADA=xml\nTEXTO_RESPUESTA=9999."
                      "Pendiente de confirmar\n"),
            std::string::npos)
      << Audit();
  EXPECT_NE(AuditSection("RX0000000002").find("MENSAJE_RECIBIDO=Si\nRESPUESTA_GENERADA=int\n"),
            std::string::npos)
      << Audit();
}

TEST_F(Dispensing, MissingLauncherOrSettingsFailTheRequest) {
  StartSimulator();
  fs::remove(Path("executor.exe"));
  {
    ns::CInterface front;
    RecordedEvents events;
    front.set_Events(&events);
    ns::CRespuestaPeticion response = Dispense(front, "RX0000000001");
    EXPECT_FALSE(response.DatosValidos());
    EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{53}));
    EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar RX0000000001"}));
    EXPECT_TRUE(Exists("Enviados/RX0000000001.xml"));
    EXPECT_NE(AuditSection("RX0000000001").find("PETICION_GENERADA=Si\nMENSAJE_ENVIADO=No\n"),
              std::string::npos);
  }

  fs::remove_all(Path("Enviados"));
  fs::remove_all(Path("Auditoria"));
  fs::remove(Path("Interface.ini"));
  ns::CInterface disabled;
  EXPECT_FALSE(disabled.Enabled());
  EXPECT_EQ(Numbers(disabled.Errores()), (std::vector<int>{13, 32001}));
  EXPECT_FALSE(Dispense(disabled, "RX0000000002").DatosValidos());
  EXPECT_EQ(Numbers(disabled.Errores()), (std::vector<int>{32005}));
  EXPECT_FALSE(Exists("Enviados"));
  EXPECT_FALSE(Exists("Auditoria"));
}

TEST_F(Dispensing, ServiceFailuresShowInTheSharedLogWhileTheFrontObjectFallsBack) {
  StartSimulator({}, {{"Asincrono.PeticionTimeOut", "2"}, {"Proxy.TimeOut", "500"}});
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);

  // A SOAP fault of the service.
  ns::CRespuestaPeticion fault = Dispense(front, "RX-FALLO-SOAP");
  EXPECT_TRUE(fault.DatosValidos());
  EXPECT_EQ(fault.m_colCodigoMotivosRechazo(), (std::vector<std::string>{"sinRespuesta"}));
  EXPECT_TRUE(LogHas(" CExecutor.SolicitudDispensacion:(32100)"));
  EXPECT_NE(AuditSection("RX-FALLO-SOAP").find("MENSAJE_ENVIADO=Si\nMENSAJE_RECIBIDO=No\n"),
            std::string::npos);

  // An answer slower than the client's own time-out.
  EXPECT_TRUE(Dispense(front, "RX-LENTA").DatosValidos());
  EXPECT_TRUE(LogHas(" CExecutor.SolicitudDispensacion:(32109)"));

  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar RX-FALLO-SOAP", "Terminar False 3",
                                                   "Iniciar RX-LENTA", "Terminar False 3"}));
  // The executor's failures after the request may have left belong to its own process: the
  // front object saw none, and the outcome is unknown.
  EXPECT_TRUE(front.Errores().empty());
  EXPECT_EQ(front.Envio(), ns::envSinRespuesta);
  WaitForLaunchers();
  EXPECT_TRUE(Files("Recibidos").empty());
  EXPECT_TRUE(Files("Retrasados").empty());
}

// A request that surely never left the machine comes back at once, long before the time-out,
// with the usual fallback, the executor's reasons in Errores and the outcome "not sent".
TEST_F(Dispensing, ARequestThatNeverLeftComesBackAtOnceAsNotSent) {
  struct Case {
    std::string id;
    std::string servicio;
    std::vector<int> errores;  // the executor's
  };
  WriteFile(Path("roto.wsdl"), "<definitions>");
  const std::vector<Case> cases = {
      {"RX0000000001", "http://127.0.0.1:1/wsdl", {32107, 32010}},  // connection refused
      {"RX0000000002", Path("roto.wsdl"), {32102, 32010}},          // description unreadable
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.servicio);
    // Without the executor's word the front object would wait the whole minute.
    Settings({{"Configuracion.Servicio", c.servicio}, {"Asincrono.PeticionTimeOut", "60"}});
    ns::CInterface fresh;
    RecordedEvents events;
    fresh.set_Events(&events);
    ns::CRespuestaPeticion response = Dispense(fresh, c.id);
    EXPECT_TRUE(response.DatosValidos());
    EXPECT_EQ(response.m_colCodigoMotivosRechazo(), (std::vector<std::string>{"sinRespuesta"}));
    EXPECT_EQ(fresh.Envio(), ns::envNoEnviado);
    EXPECT_EQ(Numbers(fresh.Errores()), c.errores);
    ASSERT_FALSE(fresh.Errores().empty());
    EXPECT_EQ(fresh.Errores().back().Source(), "CExecutor.SolicitudDispensacion");
    EXPECT_EQ(fresh.Errores().back().Description(), "No se puede conectar con el servicio web");
    EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar " + c.id, "Terminar False 3"}));
    // The audit keeps its keys and values.
    EXPECT_NE(AuditSection(c.id).find("MENSAJE_RECIBIDO=No\nRESPUESTA_GENERADA=int\n"),
              std::string::npos)
        << AuditSection(c.id);
    WaitForLaunchers();
    EXPECT_FALSE(Exists("EnCurso/" + c.id + ".estado"));
  }
}

// Dispensings without an identifier, for one patient, from four threads at once: each gets an
// identifier of its own, so none is refused as in flight and each has its own audit record.
TEST_F(Dispensing, GeneratedIdentifiersAreNeverGivenTwice) {
  StartSimulator();
  constexpr int kThreads = 4;
  constexpr int kEach = 3;
  std::mutex mutex;
  std::vector<std::string> ids;
  int accepted = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ns::CInterface front;
      for (int i = 0; i < kEach; ++i) {
        ns::CPeticionDispensacion request = sample_data::RequestWithoutId();
        ns::CRespuestaPeticion response = front.SolicitudDispensacion(request);
        std::lock_guard<std::mutex> lock(mutex);
        ids.push_back(request.IDPrescripcion());
        if (response.DispensacionRealizada()) ++accepted;
      }
    });
  }
  for (auto& thread : threads) thread.join();

  const std::set<std::string> distinct(ids.begin(), ids.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(accepted, kThreads * kEach);
  const std::string prefix = "ITPF000148F0001FARM01BBBB000001";
  for (const std::string& id : distinct) {
    EXPECT_EQ(id.substr(0, prefix.size()), prefix);
    EXPECT_EQ(id.size(), prefix.size() + 12);
    EXPECT_NE(AuditSection(id).find("RESPUESTA_GENERADA=srv"), std::string::npos) << id;
  }
  const std::string audit = Audit();
  std::size_t sections = 0;
  for (std::size_t at = audit.find("[ITP"); at != std::string::npos;
       at = audit.find("[ITP", at + 1))
    ++sections;
  EXPECT_EQ(sections, static_cast<std::size_t>(kThreads * kEach));
}

TEST_F(Dispensing, GeneratedIdentifierIsWrittenBackAndTheServiceGetsThePrescriptionData) {
  StartSimulator();
  ns::CInterface front;
  ns::CPeticionDispensacion request = sample_data::RequestWithoutId();
  ns::CRespuestaPeticion response = front.SolicitudDispensacion(request);

  const std::string prefix = "ITPF000148F0001FARM01BBBB000001";
  ASSERT_EQ(request.IDPrescripcion().substr(0, prefix.size()), prefix);
  EXPECT_EQ(request.IDPrescripcion().size(), prefix.size() + 12);
  EXPECT_TRUE(response.DispensacionRealizada());
  EXPECT_NE(AuditSection(request.IDPrescripcion()).find("RESPUESTA_GENERADA=srv"),
            std::string::npos);
  EXPECT_TRUE(simulator_->EsperarLinea("(sin identificador, TIS BBBB000001) aceptada"));
}

TEST_F(Dispensing, UnsafeIdentifiersAreRefusedBeforeAnythingIsWritten) {
  StartSimulator({}, {{"Asincrono.PeticionTimeOut", "2"}});
  ns::CInterface front;
  RecordedEvents events;
  front.set_Events(&events);
  // A space would cut the launcher's argument, so that it sent another prescription's request.
  for (const std::string& id :
       std::vector<std::string>{"../RX0000000001", "RX]0000000001", "RX0000000001 B"}) {
    ns::objErrores().ResetErrorsCollection();
    EXPECT_FALSE(Dispense(front, id).DatosValidos());
    EXPECT_EQ(Numbers(front.Errores()), (std::vector<int>{32019}));
  }
  EXPECT_TRUE(events.seen.empty());
  EXPECT_FALSE(Exists("Enviados"));
  EXPECT_FALSE(Exists("Auditoria"));
  EXPECT_FALSE(fs::exists(fs::path(folder_).parent_path() / "RX0000000001.xml"));
}

// The front object keeps one launcher waiting, loaded while nobody waits; each request is carried
// out by a copy of it, with the settings of that moment, while the launcher itself stays for the
// next. A new version of the launcher installed meanwhile is the one that runs the next request.
// None is left behind.
TEST_F(Dispensing, ALauncherWaitsForTheNextRequestAndEndsWithTheFrontObject) {
  StartSimulator({}, {{"Asincrono.PeticionTimeOut", "5"}});
  {
    ns::CInterface front;
    EXPECT_TRUE(WaitFor([] { return Launchers(true) > 0; }, 10s));
    const std::set<int> waiting = WaitingLaunchers();
    EXPECT_TRUE(Dispense(front, "RX0000000001").DispensacionRealizada());
    EXPECT_TRUE(Dispense(front, "RX0000000002").DispensacionRealizada());
    EXPECT_TRUE(WaitFor([] { return Working() == 0; }, 10s));
    EXPECT_TRUE(std::any_of(waiting.begin(), waiting.end(), [](int pid) {
      return WaitingLaunchers().count(pid) > 0;
    })) << "the launcher that waited at first still waits: none was started again";
    const std::string launcher = Path("executor.exe");
    fs::copy_file(launcher, launcher + ".nuevo");
    fs::rename(launcher + ".nuevo", launcher);
    Settings({{"Configuracion.Servicio", "http://127.0.0.1:1/wsdl"}});
    EXPECT_FALSE(Dispense(front, "RX0000000003").DispensacionRealizada());
    EXPECT_TRUE(WaitFor([&] { return LogHas(" CExecutor.SolicitudDispensacion:(32010)"); }, 10s));
    EXPECT_TRUE(WaitFor([&] { return Working() == 0 && Launchers(true) > 0; }, 10s));
    for (int pid : waiting) EXPECT_TRUE(WaitFor([&] { return Ended(pid); }, 10s)) << "old one";
  }
  EXPECT_TRUE(WaitFor([] { return Launchers(false) == 0; }, 10s));
}

// A launcher killed while it waits (by an administrator, or by the system short of memory) costs
// no dispensing a fallback: the copy it kept waiting takes no request any more, and the front
// object's hand-over starts a launcher the ordinary way.
TEST_F(Dispensing, AKilledLauncherCostsNoDispensingAFallback) {
  StartSimulator({}, {{"Asincrono.PeticionTimeOut", "5"}});
  const auto parentOf = [](int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    std::string state;
    int parent = 0;
    rest >> state >> parent;
    return parent;
  };
  int n = 0;
  for (int signal : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(signal);
    {
      ns::CInterface front;
      // The launcher and the copy it keeps waiting; the launcher is the copy's parent.
      ASSERT_TRUE(WaitFor([] { return WaitingLaunchers().size() == 2; }, 10s));
      const std::set<int> waiting = WaitingLaunchers();
      int launcher = 0;
      for (int pid : waiting)
        if (waiting.count(parentOf(pid)) == 0) launcher = pid;
      ASSERT_GT(launcher, 0);
      ASSERT_EQ(kill(launcher, signal), 0);
      ASSERT_TRUE(WaitFor([&] { return Ended(launcher); }, 10s));
      const std::string id = "RX000000000" + std::to_string(++n);
      EXPECT_TRUE(Dispense(front, id).DispensacionRealizada());
      EXPECT_TRUE(simulator_->EsperarLinea("solicitudDispensacion " + id + " aceptada: 0000"));
    }
    EXPECT_TRUE(WaitFor([] { return Launchers(false) == 0; }, 10s));
  }
}

// The launcher on its own, against audit records prepared by the test: only a recorded fallback
// makes its answer late.
TEST_F(Dispensing, LauncherMovesItsAnswerAsideOnlyAfterAFallback) {
  StartSimulator();
  ns::CInterface front;  // loads the settings, as the application's process would
  ns::CFileAdmin admin;
  admin.MakeSended();
  admin.MakeAuditor();
  struct Case {
    std::string id;
    ns::ReceivedTypeEnum recorded;
    bool late;
  };
  const std::vector<Case> cases = {{"RX-SRV", ns::rcvService, false},
                                   {"RX-NONE", ns::rcvNone, false},
                                   {"RX-XML", ns::rcvXML, true},
                                   {"RX-INI", ns::rcvIni, true},
                                   {"RX-INT", ns::rcvInternal, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_TRUE(Request(c.id).ToXMLFile(admin.GetSendedPath() + c.id + ".xml"));
    ns::objAuditor().Save(c.id, ns::audHeader);
    if (c.recorded != ns::rcvNone) ns::objAuditor().Save(c.id, ns::audSetResponse, c.recorded);
    // An unknown prescription: the service answers with a rejection, an answer all the same.
    EXPECT_EQ(RunProgram(Path("executor.exe"), {"IDPres=" + c.id}).status, 0);
    EXPECT_EQ(Exists("Recibidos/" + c.id + ".xml"), !c.late);
    EXPECT_EQ(Exists("Retrasados/" + c.id + ".xml"), c.late);
  }
}

// On a network that reaches the service only through the proxy, the launcher reads the
// description through it as well as it sends the call. The description's address names another
// host (the same server by another name): allowed, and the log says so.
TEST_F(Dispensing, WithTheProxyOnTheDescriptionAndTheCallBothGoThroughIt) {
  StartSimulator();
  proxy_only::Tinyproxy proxy;
  ASSERT_TRUE(proxy.Ready()) << "tinyproxy did not start";
  proxy_only::Gate gate(simulator_->Base(), "localhost");
  Settings({{"Configuracion.Servicio", gate.Url()},
            {"Proxy.UtilizarProxy", "1"},
            {"Proxy.UsarProxy", "1"},
            {"Proxy.Servidor", "127.0.0.1"},
            {"Proxy.Puerto", std::to_string(proxy.Port())}});
  ns::CInterface front;
  ASSERT_TRUE(front.Enabled());
  ns::CRespuestaPeticion response = Dispense(front, "RX0000000001");
  EXPECT_TRUE(response.DispensacionRealizada()) << Log();
  EXPECT_TRUE(front.Errores().empty());
  EXPECT_EQ(gate.Refused(), 0);
  EXPECT_EQ(gate.Forwarded(), 2);
  EXPECT_TRUE(LogHas("CExecutor.ConectarServicio:Las peticiones al servicio web se envían a " +
                     gate.Address() + ", otro servidor que el de la descripción del servicio\r\n"));
}

}  // namespace
}  // namespace e2e
