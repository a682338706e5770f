// The retrieval front object without a service (construction, the checks before the call, the
// request copy and failed connections) and with a loopback service of canned answers. The road
// with the simulator is in tests/e2e/retrieval.
#include "initiator/CInitiator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "InitiatorFixture.h"
#include "common/platform/soap.h"
#include "support/SettingsFile.h"

namespace {

using namespace initiator_test;
using ns::CInitiator;

class FrontTest : public InitiatorTest {
 protected:
  void SetUp() override {
    InitiatorTest::SetUp();
    argument_.set_TIS("BBBB000001");
    // Nothing listens on port 1 of the loopback: the connection is refused at once.
    WriteSettings(Path("Interface.ini"), {{"Configuracion.Servicio", "http://127.0.0.1:1/wsdl"},
                                          {"Initiator.GuardarPeticionSOAP", " 1 "}});
  }
  ns::CArgument argument_;
};

TEST_F(FrontTest, WithoutTheDispensingLibraryConstructionRecords429AndRetrievalsFail) {
  CInitiator initiator;
  // Why the object cannot serve is readable at once, with where and what.
  ASSERT_EQ(Numbers(initiator.Errores()), std::vector<int>{429});
  EXPECT_FALSE(initiator.Errores()[0].Source().empty());
  EXPECT_FALSE(initiator.Errores()[0].Description().empty());
  ns::CPrescripciones list = initiator.RecuperarPrescripciones(argument_);
  EXPECT_FALSE(list.DatosValidos());
  // Construction stopped before it knew its settings: they read empty, and the switches that
  // must be numbers fail the connection. The call tells about itself only.
  EXPECT_EQ(Numbers(initiator.Errores()), (std::vector<int>{13, 32010}));
}

TEST_F(FrontTest, ABlankCardIdentifierStopsBeforeAnythingIsBuiltSavedOrConnected) {
  InstallDispensingLibrary();
  CInitiator initiator;
  argument_.set_TIS("");
  EXPECT_FALSE(initiator.RecuperarPrescripciones(argument_).DatosValidos());
  ASSERT_EQ(initiator.Errores().size(), 1u);
  const ns::CErrorItem& error = initiator.Errores().front();
  EXPECT_EQ(error.Number(), 32014);
  // No SOAP fault happened: the description stays the error's own.
  EXPECT_EQ(error.Description(),
            "Alguno de los argumentos de entrada a la función están en blanco");
  EXPECT_EQ(error.Source(), "CInitiator.RecuperarPrescripciones");
  EXPECT_FALSE(Exists(Path("Initiator.xml")));
  std::string log = Log();
  EXPECT_NE(log.find(" CInitiator.RecuperarPrescripcionesTrue\r\n"), std::string::npos);
  EXPECT_NE(log.find(" CInitiator.RecuperarPrescripciones:(32014)Alguno de los argumentos de "
                     "entrada a la función están en blanco.\r\n"),
            std::string::npos);
  EXPECT_EQ(log.find("ConectarServicio"), std::string::npos);

  // An absent argument counts as one with blank fields.
  initiator.RecuperarPrescripciones(nullptr);
  EXPECT_EQ(Numbers(initiator.Errores()), (std::vector<int>{32014}));
}

TEST_F(FrontTest, AFailedConnectionKeepsTheRequestCopyAndIsTriedAgainInFull) {
  InstallDispensingLibrary();
  // A read-only copy of an earlier retrieval is replaced.
  WriteAll(Path("Initiator.xml"), "<viejo/>");
  chmod(Path("Initiator.xml").c_str(), 0444);

  CInitiator initiator;
  initiator.RecuperarPrescripciones(argument_);
  std::string copy = ReadAll(Path("Initiator.xml"));
  EXPECT_NE(copy.find("<TIS>BBBB000001</TIS>"), std::string::npos) << copy;
  // The first request on the thread went out before any connection loaded the declarations.
  EXPECT_NE(copy.find("<p70PeticionConsultaPNDPorTIS>"), std::string::npos) << copy;
  std::vector<int> first = Numbers(initiator.Errores());
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first.back(), 32010);
  EXPECT_EQ(initiator.Errores().back().Description(), "No se puede conectar con el servicio web");

  // The next call connects again from the settings, and reports its own errors only.
  initiator.RecuperarPrescripciones(argument_);
  EXPECT_EQ(Numbers(initiator.Errores()), first);
  std::string log = Log();
  EXPECT_NE(log.find("Se conectó con el servicio=False"),
            log.rfind("Se conectó con el servicio=False"));
  EXPECT_NE(ReadAll(Path("Initiator.xml")).find("xmlns:xsd"), std::string::npos);

  // Without a settings file every key reads empty, and the proxy switches fail the connection.
  std::filesystem::remove(Path("Interface.ini"));
  CInitiator other;
  other.RecuperarPrescripciones(argument_);
  EXPECT_EQ(Numbers(other.Errores()), (std::vector<int>{13, 32010}));
}

// A service whose description never comes: the download gives up at the configured time-out, not
// at the client's own 30 s.
TEST_F(FrontTest, TheDescriptionDownloadIsBoundedByTheTimeOut) {
  InstallDispensingLibrary();
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);  // connections are taken by the system, never answered
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  WriteSettings(Path("Interface.ini"),
                {{"Configuracion.Servicio",
                  "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/wsdl"},
                 {"Proxy.TimeOut", "300"}});
  CInitiator initiator;
  initiator.RecuperarPrescripciones(argument_);
  ::close(listener);
  EXPECT_EQ(Numbers(initiator.Errores()),
            (std::vector<int>{ns::platform::soap::errSoapTimeout, 32010}));
  EXPECT_NE(initiator.Errores()[0].Description().find("(300 ms)"), std::string::npos);
}

// A service on a loopback port that publishes its description and answers every call with what
// the test sets.
class CannedService {
 public:
  CannedService() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    const std::string base = "http://127.0.0.1:" + std::to_string(port_);
    server_.Get("/wsdl", [base](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<definitions xmlns='http://schemas.xmlsoap.org/wsdl/' "
          "xmlns:soap='http://schemas.xmlsoap.org/wsdl/soap/' xmlns:tns='urn:C' "
          "targetNamespace='urn:C'><message name='pet'><part name='p' type='tns:P'/></message>"
          "<message name='res'><part name='return' type='tns:R'/></message>"
          "<portType name='T'><operation name='consultaPrescripcionesNoDispensadasPorTis'>"
          "<input message='tns:pet'/><output message='tns:res'/></operation></portType>"
          "<binding name='B' type='tns:T'><soap:binding style='rpc' "
          "transport='http://schemas.xmlsoap.org/soap/http'/>"
          "<operation name='consultaPrescripcionesNoDispensadasPorTis'>"
          "<soap:operation soapAction=''/><input><soap:body use='encoded' namespace='urn:C' "
          "encodingStyle='http://schemas.xmlsoap.org/soap/encoding/'/></input>"
          "<output><soap:body use='encoded' namespace='urn:C'/></output></operation></binding>"
          "<service name='S'><port name='P' binding='tns:B'><soap:address location='" +
              base + "/servicio'/></port></service></definitions>",
          "text/xml");
    });
    server_.Post("/servicio", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex_);
      res.status = status_;
      res.set_content(body_, "text/xml; charset=utf-8");
    });
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 500 && !server_.is_running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~CannedService() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/wsdl"; }
  void Answer(const std::string& body, int status = 200) {
    std::lock_guard<std::mutex> lock(mutex_);
    body_ =
        "<soapenv:Envelope xmlns:soapenv='http://schemas.xmlsoap.org/soap/envelope/' "
        "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
        "xmlns:xsd='http://www.w3.org/2001/XMLSchema'><soapenv:Body>" +
        body + "</soapenv:Body></soapenv:Envelope>";
    status_ = status;
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::string body_;
  int status_ = 200;
};

class AnsweredTest : public FrontTest {
 protected:
  void SetUp() override {
    FrontTest::SetUp();
    InstallDispensingLibrary();
    WriteSettings(Path("Interface.ini"), {{"Configuracion.Servicio", service_.Url()}});
  }
  static std::string Return(const std::string& content, const std::string& after = "") {
    return "<ns:consultaResponse xmlns:ns='urn:C'><return>" + content +
           "</return></ns:consultaResponse>" + after;
  }
  CannedService service_;
};

const char* kTwoItems =
    "<prescripciones><item><idPrescripcion>RX1</idPrescripcion>"
    "<fechaPrescripcion href='#_8'/><envasesPrescritos>1</envasesPrescritos></item>"
    "<item><idPrescripcion>RX2</idPrescripcion><fechaPrescripcion href='#_8'/>"
    "<envasesPrescritos href='#_9'/><visado href='#_9'/></item></prescripciones>";

// A list that looks valid holds only what the service said; anything else fails the retrieval.
TEST_F(AnsweredTest, OnlyASoundAnswerIsAValidList) {
  struct Case {
    std::string body;
    bool valid;
    std::vector<int> errores;
    int codigoError;
  } const cases[] = {
      {Return("<codigoError>0</codigoError>" + std::string(kTwoItems),
              "<id id='_8' xsi:type='xsd:string'>20261130</id>"
              "<id id='_9' xsi:type='xsd:short'>2</id>"),
       true,
       {},
       0},
      // A value that is not in the answer.
      {Return("<codigoError>0</codigoError>" + std::string(kTwoItems),
              "<id id='_8' xsi:type='xsd:string'>20261130</id>"),
       false,
       {32021, 32021},
       0},
      // A refusal in words: not a list of nothing to dispense.
      {Return("<codigoError>E01</codigoError><mensajeError>Usuario no autorizado</mensajeError>"
              "<prescripciones/>"),
       false,
       {32021},
       0},
      {Return("<codigoError>3</codigoError><mensajeError>TIS desconocido</mensajeError>"),
       false,
       {3},
       3},
  };
  CInitiator initiator;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    service_.Answer(c.body);
    ns::CPrescripciones list = initiator.RecuperarPrescripciones(argument_);
    EXPECT_EQ(list.DatosValidos(), c.valid) << Log();
    EXPECT_EQ(Numbers(initiator.Errores()), c.errores);
    EXPECT_EQ(list.CodigoError(), c.codigoError);
    if (c.body.find("RX1") != std::string::npos) {
      ASSERT_EQ(list.Registros().size(), 2u);  // read whole, for diagnosis
      EXPECT_EQ(list.Registros()[1].FechaPrescripcion(), "2026/11/30");
      EXPECT_EQ(list.Registros()[1].EnvasesPrescritos(), c.valid ? 2 : 0);
    }
  }
}

// A fault's detail describes the failure of its own call, and Errores tells about one call: a
// later failure keeps its own text, a later success reports nothing.
TEST_F(AnsweredTest, AFaultsDetailAndErrorsBelongToTheirOwnCall) {
  CInitiator initiator;
  service_.Answer(
      "<soapenv:Fault><faultcode>soapenv:Server</faultcode><faultstring>Error interno"
      "</faultstring><detail>Consulta no disponible temporalmente</detail></soapenv:Fault>",
      500);
  initiator.RecuperarPrescripciones(argument_);
  ASSERT_EQ(Numbers(initiator.Errores()), std::vector<int>{ns::platform::soap::errSoapFault});
  EXPECT_EQ(initiator.Errores()[0].Description(), "Consulta no disponible temporalmente");

  ns::CArgument blank;
  initiator.RecuperarPrescripciones(blank);
  ASSERT_EQ(Numbers(initiator.Errores()), std::vector<int>{32014});
  EXPECT_EQ(initiator.Errores()[0].Description(),
            "Alguno de los argumentos de entrada a la función están en blanco");
  EXPECT_NE(Log().find("(32014)Alguno de los argumentos de entrada a la función están en "
                       "blanco.\r\n"),
            std::string::npos);

  service_.Answer(Return("<codigoError>0</codigoError><prescripciones/>"));
  EXPECT_TRUE(initiator.RecuperarPrescripciones(argument_).DatosValidos());
  EXPECT_TRUE(initiator.Errores().empty());
}

}  // namespace
