// The retrieval front object without a service: construction, the checks before the call, the
// request copy and failed connections. The road with the simulator is in tests/e2e/retrieval.
#include "initiator/CInitiator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "InitiatorFixture.h"
#include "common/platform/errors.h"
#include "support/SettingsFile.h"

namespace {

using namespace initiator_test;
using ns::CArgument;
using ns::CInitiator;

class FrontTest : public InitiatorTest {
 protected:
  static CArgument Argument(const std::string& tis = "BBBB000001") {
    CArgument argument;
    argument.set_Usuario("FARM01");
    argument.set_Password("clave01");
    argument.set_TIS(tis);
    return argument;
  }
  // Nothing listens on port 1 of the loopback: the connection is refused at once.
  void Unreachable(SettingsChanges changes = {}) {
    changes.emplace("Configuracion.Servicio", "http://127.0.0.1:1/wsdl");
    WriteSettings(Path("Interface.ini"), changes);
  }
};

TEST_F(FrontTest, WithoutTheDispensingLibraryConstructionRecords429AndRetrievalsFail) {
  Unreachable();
  ns::objErrores().AddError(ns::platform::Failure(13, "antes", "anterior"));
  CInitiator initiator;
  // The failure came before the logs were set up and the collection emptied.
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), (std::vector<int>{13, 429}));
  CArgument argument = Argument();
  ns::CPrescripciones list = initiator.RecuperarPrescripciones(argument);
  EXPECT_FALSE(list.DatosValidos());
  EXPECT_TRUE(list.Registros().empty());
  std::vector<int> numbers = Numbers(initiator.Errores());
  ASSERT_GE(numbers.size(), 3u);
  EXPECT_EQ(numbers[1], 429);
  EXPECT_EQ(numbers.back(), 32010);
}

TEST_F(FrontTest, ABlankCardIdentifierStopsBeforeAnythingIsBuiltSavedOrConnected) {
  InstallDispensingLibrary();
  Unreachable({{"Initiator.GuardarPeticionSOAP", "1"}});
  CInitiator initiator;
  CArgument argument = Argument("");
  ns::CPrescripciones list = initiator.RecuperarPrescripciones(argument);
  EXPECT_FALSE(list.DatosValidos());
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
  Unreachable({{"Initiator.GuardarPeticionSOAP", " 1 "}});
  // A read-only copy of an earlier retrieval is replaced.
  WriteAll(Path("Initiator.xml"), "<viejo/>");
  chmod(Path("Initiator.xml").c_str(), 0444);

  CInitiator initiator;
  CArgument argument = Argument();
  initiator.RecuperarPrescripciones(argument);
  std::string copy = ReadAll(Path("Initiator.xml"));
  EXPECT_NE(copy.find("<TIS>BBBB000001</TIS>"), std::string::npos) << copy;
  // The first request on the thread went out before any connection loaded the declarations.
  EXPECT_NE(copy.find("<p70PeticionConsultaPNDPorTIS>"), std::string::npos) << copy;

  std::vector<int> first = Numbers(initiator.Errores());
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first.back(), 32010);
  EXPECT_EQ(initiator.Errores().back().Description(), "No se puede conectar con el servicio web");

  // The next call connects again from the settings, and reports the first call's errors too.
  initiator.RecuperarPrescripciones(argument);
  std::vector<int> second = Numbers(initiator.Errores());
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(second[0], first[0]);
  EXPECT_EQ(second[2], first[0]);
  EXPECT_EQ(second[3], 32010);
  std::string log = Log();
  auto connects = [&] {
    std::size_t n = 0;
    for (auto at = log.find("Se conectó con el servicio=False"); at != std::string::npos;
         at = log.find("Se conectó con el servicio=False", at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(connects(), 2u);
  EXPECT_EQ(log.find("ya está conectado"), std::string::npos);
  // The second request carries the declarations the first connection loaded.
  EXPECT_NE(ReadAll(Path("Initiator.xml")).find("xmlns:xsd"), std::string::npos);
}

TEST_F(FrontTest, SettingsThatCannotBeReadFailTheConnectionAndSaveNothing) {
  struct Case {
    SettingsChanges changes;
    int cause;  // what the connection trapped before 32010
  };
  const Case cases[] = {
      {{{"Proxy.UtilizarProxy", std::nullopt}}, 13},
      {{{"Proxy.UsarProxy", "x"}}, 13},
      {{{"Proxy.UsarProxy", std::nullopt}}, 13},
  };
  InstallDispensingLibrary();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.changes.begin()->first);
    SettingsChanges changes = c.changes;
    changes.emplace("Initiator.GuardarPeticionSOAP", "abc");
    Unreachable(changes);
    CInitiator initiator;
    CArgument argument = Argument();
    initiator.RecuperarPrescripciones(argument);
    EXPECT_EQ(Numbers(initiator.Errores()), (std::vector<int>{c.cause, 32010}));
    EXPECT_FALSE(Exists(Path("Initiator.xml")));
  }
  EXPECT_NE(Log().find("CInitiator.ConectarServicio:(13)"), std::string::npos);

  // No settings file at all reads as empty settings.
  std::filesystem::remove(Path("Interface.ini"));
  CInitiator initiator;
  CArgument argument = Argument();
  initiator.RecuperarPrescripciones(argument);
  EXPECT_EQ(Numbers(initiator.Errores()), (std::vector<int>{13, 32010}));
}

}  // namespace
