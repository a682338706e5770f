#include "interface/CExecutor.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/platform/soap.h"
#include "interface/DispensingFixture.h"

namespace dispensing_test {
namespace {

struct RecordedEvents : ns::CExecutorEvents {
  std::vector<std::string> seen;
  void AlConectar() override { seen.push_back("Conectar"); }
  void AlIniciarSolicitudDispensacion() override { seen.push_back("Iniciar"); }
  void AlTerminarSolicitudDispensacion() override { seen.push_back("Terminar"); }
};

// A service description on disk whose endpoint nobody listens on: the client initialises, and
// every call fails at the connection.
std::string Description(const std::string& endpoint) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<wsdl:definitions targetNamespace=\"urn:Dispensacion\" "
         "xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\" "
         "xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\" "
         "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:tns=\"urn:Dispensacion\">"
         "<wsdl:message name=\"solicitudDispensacionRequest\">"
         "<wsdl:part name=\"arg0\" type=\"xsd:anyType\"/></wsdl:message>"
         "<wsdl:message name=\"solicitudDispensacionResponse\">"
         "<wsdl:part name=\"return\" type=\"xsd:anyType\"/></wsdl:message>"
         "<wsdl:portType name=\"P\"><wsdl:operation name=\"solicitudDispensacion\">"
         "<wsdl:input message=\"tns:solicitudDispensacionRequest\"/>"
         "<wsdl:output message=\"tns:solicitudDispensacionResponse\"/></wsdl:operation>"
         "</wsdl:portType>"
         "<wsdl:binding name=\"B\" type=\"tns:P\">"
         "<soap:binding style=\"rpc\" transport=\"http://schemas.xmlsoap.org/soap/http\"/>"
         "<wsdl:operation name=\"solicitudDispensacion\">"
         "<soap:operation soapAction=\"urn:Dispensacion#solicitudDispensacion\" style=\"rpc\"/>"
         "<wsdl:input><soap:body use=\"encoded\" namespace=\"urn:Dispensacion\" "
         "encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"/></wsdl:input>"
         "<wsdl:output><soap:body use=\"encoded\" namespace=\"urn:Dispensacion\" "
         "encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"/></wsdl:output>"
         "</wsdl:operation></wsdl:binding>"
         "<wsdl:service name=\"S\"><wsdl:port name=\"SP\" binding=\"tns:B\">"
         "<soap:address location=\"" +
         endpoint + "\"/></wsdl:port></wsdl:service></wsdl:definitions>";
}

// Nothing listens on port 1 of the loopback interface.
const std::string kDeadEndpoint = "http://127.0.0.1:1/servicio";

class ExecutorObject : public DispensingTest {
 protected:
  void SetUp() override {
    DispensingTest::SetUp();
    WriteFile(Path("servicio.wsdl"), Description(kDeadEndpoint));
    Settings({});
  }
  void Settings(SettingsChanges changes) {
    changes.emplace("Configuracion.Servicio", Path("servicio.wsdl"));
    WriteSettings(Path("Interface.ini"), changes);
  }
  // The request file as the front object spools it.
  void Spool(const std::string& id) {
    fs::create_directories(Path("Enviados"));
    ns::CPeticionDispensacion request = FullRequest(id);
    ASSERT_TRUE(request.ToXMLFile(Path("Enviados/" + id + ".xml")));
  }
  std::string Counters() const {
    std::string ini = ReadFile(Path("Interface.ini"));
    auto at = ini.find("[MensajeSOAP]");
    return ini.substr(at, ini.find('[', at + 1) - at);
  }
};

TEST_F(ExecutorObject, PropertiesLogTheirValuesAfterTheIdentifier) {
  ns::CExecutor executor;
  EXPECT_TRUE(executor.Enabled());
  EXPECT_FALSE(executor.Conectado());
  executor.set_IDPrescripcion("RX9");
  EXPECT_FALSE(executor.DatosEnviados());
  EXPECT_EQ(executor.NombreServicio(), Path("servicio.wsdl"));
  EXPECT_EQ(executor.NombreLog(), Path("Interface.log"));
  std::string log = Log();
  // No identifier yet: the prefix is a lone space.
  EXPECT_NE(
      log.find("  Se cargó correctamente la configuración del archivo " + Path("Interface.ini")),
      std::string::npos);
  EXPECT_NE(log.find("  Recuperado el valor 'False' para la propiedad Conectado"),
            std::string::npos);
  EXPECT_NE(log.find(" RX9 Recuperado el valor 'False' para la propiedad DatosEnviados"),
            std::string::npos);
  EXPECT_NE(log.find(" RX9 Recuperado el valor '" + Path("servicio.wsdl") +
                     "' para la propiedad NombreServicio"),
            std::string::npos);
}

TEST_F(ExecutorObject, RefusesAtOnceWhenDisabledOrTheIdentifierIsUnsafe) {
  fs::remove(Path("Interface.ini"));
  {
    ns::CExecutor disabled;
    // The settings' own conversion failure comes first, readable before any request.
    EXPECT_EQ(Numbers(disabled.Errores()), (std::vector<int>{13, 32001}));
    RecordedEvents events;
    disabled.set_Events(&events);
    EXPECT_FALSE(disabled.SolicitudDispensacion("RX1"));
    EXPECT_EQ(Numbers(disabled.Errores()), (std::vector<int>{32005}));
    EXPECT_TRUE(events.seen.empty());
    EXPECT_NE(Log().find(" CExecutor.Class_Initialize:(32001)"), std::string::npos);
  }

  Settings({});
  // "../x" would read the request from the library folder and write the answer beside it.
  WriteFile(Path("x.xml"), ReadFile(Path("servicio.wsdl")));
  ns::CExecutor executor;
  RecordedEvents events;
  executor.set_Events(&events);
  for (const std::string& id : std::vector<std::string>{"../x", "A]", "[A", "A\nB", "A\rB"}) {
    SCOPED_TRACE(id);
    ns::objErrores().ResetErrorsCollection();
    EXPECT_FALSE(executor.SolicitudDispensacion(id));
    ASSERT_EQ(executor.Errores().size(), 1u);
    EXPECT_EQ(executor.Errores()[0].Number(), 32019);
    EXPECT_EQ(executor.Errores()[0].Source(), "CExecutor.SolicitudDispensacion");
  }
  EXPECT_TRUE(events.seen.empty());
  EXPECT_FALSE(executor.Conectado());
  EXPECT_FALSE(Exists("Auditoria"));
  EXPECT_FALSE(Exists("Recibidos"));
}

TEST_F(ExecutorObject, MissingRequestFileFailsBeforeAnyTraffic) {
  ns::CExecutor executor;
  RecordedEvents events;
  executor.set_Events(&events);
  EXPECT_FALSE(executor.SolicitudDispensacion("RX404"));
  EXPECT_EQ(Numbers(executor.Errores()), (std::vector<int>{32009}));
  EXPECT_EQ(executor.Errores()[0].Description(), "No se puede cargar el archivo XML");
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar"}));
  std::string log = Log();
  EXPECT_NE(
      log.find(" CExecutor.SolicitudDispensacion:Iniciando la solicitud de dispensación RX404"),
      std::string::npos);
  EXPECT_NE(log.find(" CExecutor.SolicitudDispensacion:(32009)No se puede cargar el archivo XML"),
            std::string::npos);
  EXPECT_EQ(log.find("Conectando con el servicio web"), std::string::npos);
  EXPECT_FALSE(Exists("Auditoria"));
  EXPECT_FALSE(Exists("Recibidos"));
}

TEST_F(ExecutorObject, ProxySwitchesMustBeNumbers) {
  Spool("RX1");
  for (const SettingsChanges& changes :
       std::vector<SettingsChanges>{{{"Proxy.UsarProxy", std::nullopt}},
                                    {{"Proxy.UtilizarProxy", "no"}},
                                    {{"Proxy.UtilizarProxy", "1"}, {"Proxy.Puerto", "ocho"}}}) {
    Settings(changes);
    ns::CExecutor executor;
    EXPECT_FALSE(executor.SolicitudDispensacion("RX1"));
    EXPECT_EQ(Numbers(executor.Errores()), (std::vector<int>{13, 32010}));
    EXPECT_FALSE(executor.Conectado());
  }
  std::string log = Log();
  EXPECT_NE(log.find(" CExecutor.ConectarServicio:(13)No coinciden los tipos"), std::string::npos);
  EXPECT_NE(
      log.find(" CExecutor.SolicitudDispensacion:(32010)No se puede conectar con el servicio web"),
      std::string::npos);
  EXPECT_FALSE(Exists("Auditoria"));
}

TEST_F(ExecutorObject, UnreadableDescriptionIsAConnectionFailure) {
  Spool("RX1");
  Settings({{"Configuracion.Servicio", "http://127.0.0.1:1/wsdl"}});
  ns::CExecutor executor;
  RecordedEvents events;
  executor.set_Events(&events);
  EXPECT_FALSE(executor.SolicitudDispensacion("RX1"));
  ASSERT_EQ(executor.Errores().size(), 2u);
  // The client's own reason, then the executor's.
  EXPECT_GE(executor.Errores()[0].Number(), 32100);
  EXPECT_LE(executor.Errores()[0].Number(), 32116);
  EXPECT_EQ(executor.Errores()[1].Number(), 32010);
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar"}));
  EXPECT_FALSE(executor.Conectado());
}

// A service whose description never comes: its download gives up at the configured time-out,
// not at the client's own 30 s, so the executor never sends long after the pharmacy was answered.
TEST_F(ExecutorObject, DescriptionDownloadIsBoundedByTheTimeOut) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);  // connections are taken by the system, never answered
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  Spool("RX1");
  Settings({{"Configuracion.Servicio",
             "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/wsdl"},
            {"Proxy.TimeOut", "300"}});
  ns::CExecutor executor;
  EXPECT_FALSE(executor.SolicitudDispensacion("RX1"));
  ::close(listener);
  ASSERT_EQ(executor.Errores().size(), 2u);
  EXPECT_EQ(executor.Errores()[0].Number(), ns::platform::soap::errSoapTimeout);
  EXPECT_NE(executor.Errores()[0].Description().find("(300 ms)"), std::string::npos);
  EXPECT_EQ(executor.Errores()[1].Number(), 32010);
}

TEST_F(ExecutorObject, FailedCallLeavesTheSentMarkOnlyAndConnectsOnce) {
  Spool("RX1");
  Spool("RX2");
  ns::CExecutor executor;
  RecordedEvents events;
  executor.set_Events(&events);
  EXPECT_FALSE(executor.SolicitudDispensacion("RX1"));
  EXPECT_EQ(Numbers(executor.Errores()),
            (std::vector<int>{ns::platform::soap::errSoapConnectionRefused}));
  EXPECT_TRUE(executor.Conectado());
  EXPECT_FALSE(executor.DatosEnviados());
  std::string audit = Audit();
  EXPECT_NE(audit.find("MENSAJE_ENVIADO=Si"), std::string::npos);
  EXPECT_EQ(audit.find("MENSAJE_RECIBIDO"), std::string::npos);
  EXPECT_NE(Counters().find("Enviados=0\nRecibidos=0"), std::string::npos);
  EXPECT_FALSE(Exists("Recibidos/RX1.xml"));

  // The second request on the object does not initialise the client again.
  EXPECT_FALSE(executor.SolicitudDispensacion("RX2"));
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Iniciar", "Conectar", "Iniciar"}));
  EXPECT_NE(Log().find(" CExecutor.ConectarServicio:El servicio ya está conectado"),
            std::string::npos);
  // Errores tells about the second request only.
  EXPECT_EQ(Numbers(executor.Errores()),
            (std::vector<int>{ns::platform::soap::errSoapConnectionRefused}));
}

TEST_F(ExecutorObject, ProxySettingsApplyOnlyWhenUtilizarProxySaysSo) {
  Spool("RX1");
  // The proxy is as dead as the endpoint, but fails with a proxy error of its own.
  const SettingsChanges proxy = {{"Proxy.Servidor", "127.0.0.1"}, {"Proxy.Puerto", "1"}};
  struct Case {
    std::string utilizar, usar;
    int expected;
  };
  for (const Case& c :
       std::vector<Case>{{"1", "1", ns::platform::soap::errSoapProxy},
                         {"0", "1", ns::platform::soap::errSoapConnectionRefused},
                         {"1", "0", ns::platform::soap::errSoapConnectionRefused}}) {
    SCOPED_TRACE("UtilizarProxy=" + c.utilizar + " UsarProxy=" + c.usar);
    SettingsChanges changes = proxy;
    changes["Proxy.UtilizarProxy"] = c.utilizar;
    changes["Proxy.UsarProxy"] = c.usar;
    Settings(changes);
    ns::CExecutor executor;
    EXPECT_FALSE(executor.SolicitudDispensacion("RX1"));
    EXPECT_EQ(Numbers(executor.Errores()), (std::vector<int>{c.expected}));
  }
}

}  // namespace
}  // namespace dispensing_test
