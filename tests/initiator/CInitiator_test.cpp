// The retrieval front object without a service: construction, the checks before the call, the
// request copy and failed connections. The road with the simulator is in tests/e2e/retrieval.
#include "initiator/CInitiator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "InitiatorFixture.h"
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
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), std::vector<int>{429});
  ns::CPrescripciones list = initiator.RecuperarPrescripciones(argument_);
  EXPECT_FALSE(list.DatosValidos());
  // Construction stopped before it knew its settings: they read empty, and the switches that
  // must be numbers fail the connection.
  EXPECT_EQ(Numbers(initiator.Errores()), (std::vector<int>{429, 13, 32010}));
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
  EXPECT_EQ(Numbers(initiator.Errores()), (std::vector<int>{32014, 32014}));
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

  // The next call connects again from the settings, and reports the first call's errors too.
  initiator.RecuperarPrescripciones(argument_);
  EXPECT_EQ(Numbers(initiator.Errores()), (std::vector<int>{first[0], 32010, first[0], 32010}));
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

}  // namespace
