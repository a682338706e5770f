// The road of one retrieval with the real parts: the front object in this process (or the
// command-line host), the dispensing library created beside it, the simulator on a loopback port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/E2eFixture.h"
#include "initiator/CInitiator.h"
#include "support/LibraryCopy.h"
#include "support/ProxyOnlyService.h"

namespace e2e {
namespace {

namespace ns = PRESCORA_NS;

class Retrieval : public Installation {
 protected:
  void SetUp() override {
    Installation::SetUp();
    for (const char* binary : {"libInitiator.so", "prescora-recuperar"})
      CopyIntoFolder(binary, Path(""));
    ns::strEsquemaXML().clear();
  }

  static ns::CArgument Argument(const std::string& tis, const std::string& clave = "clave01") {
    ns::CArgument argument;
    argument.set_Usuario("FARM01");
    argument.set_Password(clave);
    argument.set_TIS(tis);
    return argument;
  }

  std::string InitiatorLog() const { return ReadFile(Path("Initiator.log")); }

  Outcome Recuperar(const std::string& tis) {
    return RunProgram(Path("prescora-recuperar"), {"--tis", tis, "--usuario", "FARM01", "--clave",
                                                   "clave01", "--formato", "tabulado"});
  }
};

TEST_F(Retrieval, ThePendingPrescriptionsHoweverTheServiceEncodesThem) {
  const std::vector<std::vector<std::string>> encodings = {
      {}, {"--sin-referencias"}, {"--retorno-referencia"}};
  for (const auto& options : encodings) {
    SCOPED_TRACE(options.empty() ? "references" : options.front());
    StartSimulator(options, {{"Initiator.GuardarPeticionSOAP", "1"}});
    ns::CInitiator initiator;
    ns::CArgument argument = Argument("BBBB000001");
    ns::CPrescripciones list = initiator.RecuperarPrescripciones(argument);
    EXPECT_TRUE(list.DatosValidos()) << InitiatorLog();
    EXPECT_TRUE(initiator.Errores().empty());
    EXPECT_EQ(list.CodigoError(), 0);
    const auto& r = list.Registros();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].IDPrescripcion(), "RX0000000001");
    EXPECT_EQ(r[0].CodigoProducto(), "654321");
    EXPECT_EQ(r[0].FechaPrescripcion(), "2026/12/01");
    EXPECT_EQ(r[0].EnvasesPrescritos(), 1);
    EXPECT_EQ(r[1].IDPrescripcion(), "RX0000000002");
    EXPECT_EQ(r[1].FechaPrescripcion(), "2026/11/15");
    EXPECT_EQ(r[1].EnvasesPrescritos(), 2);
    EXPECT_EQ(r[1].RegimenReceta(), ns::Pensionista);
    EXPECT_EQ(r[1].RequiereVisado(), ns::YaVisada);
    EXPECT_TRUE(simulator_->EsperarLinea(
        "consultaPrescripcionesNoDispensadasPorTis BBBB000001 correcta, pendientes: 2"));
    EXPECT_NE(ReadFile(Path("Initiator.xml")).find("<TIS>BBBB000001</TIS>"), std::string::npos);

    // The instance keeps its connection.
    ns::CPrescripciones again = initiator.RecuperarPrescripciones(argument);
    EXPECT_EQ(again.Registros().size(), 2u);
    EXPECT_NE(InitiatorLog().find("CInitiator.ConectarServicio:El servicio ya está conectado"),
              std::string::npos);
  }
}

TEST_F(Retrieval, ServiceErrorCodesAndFaultsReachTheCaller) {
  StartSimulator();
  ns::CInitiator initiator;
  ns::CArgument wrong = Argument("BBBB000001", "mala");
  ns::CPrescripciones refused = initiator.RecuperarPrescripciones(wrong);
  EXPECT_FALSE(refused.DatosValidos());
  EXPECT_EQ(refused.CodigoError(), 2);
  ASSERT_EQ(initiator.Errores().size(), 1u);
  const ns::CErrorItem& code = initiator.Errores().back();
  EXPECT_EQ(code.Number(), 2);
  EXPECT_EQ(code.Description(), refused.DescripcionError());
  EXPECT_FALSE(code.Description().empty());
  EXPECT_EQ(code.Source(), "CPrescripciones.IObject_FromXML");

  // A SOAP fault: its detail is the description.
  ns::CArgument faulted = Argument("BBBB999999");
  ns::CPrescripciones failed = initiator.RecuperarPrescripciones(faulted);
  EXPECT_FALSE(failed.DatosValidos());
  ASSERT_EQ(initiator.Errores().size(), 1u);
  EXPECT_EQ(initiator.Errores().back().Description(), "Consulta no disponible temporalmente");
  EXPECT_NE(InitiatorLog().find("CInitiator.RecuperarPrescripciones:(" +
                                std::to_string(initiator.Errores().back().Number()) +
                                ")Consulta no disponible temporalmente.Consulta no disponible "
                                "temporalmente\r\n"),
            std::string::npos);
}

TEST_F(Retrieval, TheCommandLineHostListsDispensesAndListsAgain) {
  StartSimulator();
  Outcome before = Recuperar("BBBB000001");
  EXPECT_EQ(before.status, 0) << before.out;
  EXPECT_NE(before.out.find("datos_validos\tTrue\ncodigo_error\t0\ndescripcion_error\t\n"
                            "prescripciones\t2\n"
                            "prescripcion\tRX0000000001\t654321\t2026/12/01\t1\t0\t0\n"
                            "prescripcion\tRX0000000002\t712345\t2026/11/15\t2\t1\t2\n"
                            "salida\t0\n"),
            std::string::npos)
      << before.out;

  Outcome dispensed = RunProgram(Path("prescora-dispensar"),
                                 {"--id",        "RX0000000001", "--farmacia",     "F0001",
                                  "--provincia", "48",           "--usuario",      "FARM01",
                                  "--clave",     "clave01",      "--farmaceutico", "12345",
                                  "--importe",   "12.50",        "--aportacion",   "4.20",
                                  "--idioma",    "es",           "--envases",      "1",
                                  "--silencioso"});
  EXPECT_EQ(dispensed.status, 0) << dispensed.out;

  Outcome after = Recuperar("BBBB000001");
  EXPECT_EQ(after.status, 0) << after.out;
  EXPECT_NE(after.out.find("prescripciones\t1\nprescripcion\tRX0000000002\t"), std::string::npos)
      << after.out;

  EXPECT_EQ(Recuperar("BBBB999999").status, 4);
  EXPECT_EQ(RunProgram(Path("prescora-recuperar"), {"--usuario", "FARM01"}).status, 2);
  Outcome unknown = Recuperar("ZZZZ000000");
  EXPECT_EQ(unknown.status, 1) << unknown.out;
  EXPECT_NE(unknown.out.find("codigo_error\t3\n"), std::string::npos);
}

// On a network that reaches the service only through the proxy, the description is read
// through it as well as the call goes. The description's address names another host (the same
// server by another name): allowed, and the log says so.
TEST_F(Retrieval, WithTheProxyOnTheDescriptionAndTheCallBothGoThroughIt) {
  StartSimulator();
  proxy_only::Tinyproxy proxy;
  ASSERT_TRUE(proxy.Ready()) << "tinyproxy did not start";
  proxy_only::Gate gate(simulator_->Base(), "localhost");
  Settings({{"Configuracion.Servicio", gate.Url()},
            {"Proxy.UtilizarProxy", "1"},
            {"Proxy.UsarProxy", "1"},
            {"Proxy.Servidor", "127.0.0.1"},
            {"Proxy.Puerto", std::to_string(proxy.Port())}});
  ns::CInitiator initiator;
  ns::CArgument argument = Argument("BBBB000001");
  ns::CPrescripciones list = initiator.RecuperarPrescripciones(argument);
  EXPECT_TRUE(list.DatosValidos()) << InitiatorLog();
  EXPECT_EQ(list.Registros().size(), 2u);
  EXPECT_EQ(gate.Refused(), 0);
  EXPECT_EQ(gate.Forwarded(), 2);
  EXPECT_NE(InitiatorLog().find("CInitiator.ConectarServicio:Las peticiones al servicio web se "
                                "envían a " +
                                gate.Address() +
                                ", otro servidor que el de la descripción del servicio\r\n"),
            std::string::npos)
      << InitiatorLog();
}

}  // namespace
}  // namespace e2e
