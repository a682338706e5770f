// The card road end to end: prescora-tarjeta in a library folder of its own with the shared
// retrieval library, reading a SoftHSM card through an NSS database made for the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/E2eFixture.h"
#include "support/CardStore.h"
#include "support/LibraryCopy.h"

namespace {

namespace fs = std::filesystem;

struct Reading {
  SettingsChanges settings;
  std::vector<std::string> arguments;
  int status;
  std::vector<std::string> lines;  // each in the output
};

TEST(CardRoad, PrescoraTarjetaReadsTheCardThroughTheSharedLibrary) {
  CardStore store;
  ASSERT_TRUE(store.ok()) << store.log();
  ASSERT_TRUE(store.AddCard("/C=ES/serialNumber=TIS 00012345/CN=ANA PEREZ")) << store.log();
  TempFolder library;
  for (const char* file : {"libInitiator.so", "prescora-tarjeta"})
    CopyIntoFolder(file, library.path());

  const Reading readings[] = {
      {{}, {}, 0, {"Tarjeta leída", "TIS:      00012345", "Titular:  ANA PEREZ"}},
      {{{"Tarjeta.QuitarCeros", "1"}},
       {"--formato", "tabulado"},
       0,
       {"tis\t12345\n", "titular\tANA PEREZ\n", "salida\t0\n"}},
      {{{"Tarjeta.CertIssuerSimpleName", "otro emisor"}, {"Tarjeta.InsercionTarjetaTimeOut", "1"}},
       {},
       3,
       {"No se ha leído la tarjeta",
        "(32018) Se ha excedido el tiempo máximo de espera para leer los datos de la tarjeta"}},
      {{{"Tarjeta.InsercionTarjetaTimeOut", std::nullopt}}, {}, 4, {"(13) "}},
      {{{"Tarjeta.BaseDatosCertificados", "sql:" + (library / "no-existe")}}, {}, 4, {"(75) "}},
      {{}, {"--no-existe"}, 2, {}},
  };
  for (const Reading& run : readings) {
    SettingsChanges settings{{"Tarjeta.BaseDatosCertificados", store.database()},
                             {"Tarjeta.InsercionTarjetaTimeOut", "10"}};
    for (const auto& [key, value] : run.settings) settings[key] = value;
    WriteSettings(library / "Interface.ini", settings);
    const e2e::Outcome outcome = e2e::RunProgram(library / "prescora-tarjeta", run.arguments);
    SCOPED_TRACE(outcome.out);
    EXPECT_EQ(outcome.status, run.status);
    for (const std::string& line : run.lines)
      EXPECT_NE(outcome.out.find(line), std::string::npos) << line;
  }
}

TEST(CardRoad, PrescoraTarjetaPrintsControlCharactersAndInvalidUtf8Escaped) {
  // A setting that steers the terminal and is not UTF-8 comes back in the error's description.
  TempFolder library;
  for (const char* file : {"libInitiator.so", "prescora-tarjeta"})
    CopyIntoFolder(file, library.path());
  const CardStore store;
  ASSERT_TRUE(store.ok()) << store.log();
  WriteSettings(library / "Interface.ini",
                {{"Tarjeta.BaseDatosCertificados", store.database()},
                 {"Tarjeta.ModuloPKCS11", "\x1b]0;titulo\x07\x1b[2J\xff\\.so"}});

  const std::vector<std::string> runs[] = {{}, {"--formato", "tabulado"}};
  for (const std::vector<std::string>& arguments : runs) {
    const e2e::Outcome outcome = e2e::RunProgram(library / "prescora-tarjeta", arguments);
    EXPECT_EQ(outcome.status, 4) << outcome.out;
    EXPECT_NE(outcome.out.find("\\x1B]0;titulo\\x07\\x1B[2J\\xFF\\\\.so"), std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.out.find_first_of("\x1b\x07\xff"), std::string::npos) << outcome.out;
  }
}

}  // namespace

namespace e2e {
namespace {

class CardRetrieval : public Installation {};

TEST_F(CardRetrieval, PrescoraRecuperarReadsTheCardThenRetrievesThatPatient) {
  CardStore store;
  ASSERT_TRUE(store.ok()) << store.log();
  ASSERT_TRUE(store.AddCard("/C=ES/serialNumber=TIS BBBB000001/CN=PACIENTE UNO")) << store.log();
  for (const char* binary : {"libInitiator.so", "prescora-recuperar"})
    CopyIntoFolder(binary, Path(""));
  StartSimulator({}, {{"Tarjeta.BaseDatosCertificados", store.database()}});

  const Outcome outcome = RunProgram(
      Path("prescora-recuperar"),
      {"--tarjeta", "--usuario", "FARM01", "--clave", "clave01", "--formato", "tabulado"});
  EXPECT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_NE(outcome.out.find("tis\tBBBB000001\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("prescripciones\t2\nprescripcion\tRX0000000001\t"), std::string::npos)
      << outcome.out;
  // The patient comes from the card or from --tis, never both.
  EXPECT_EQ(RunProgram(Path("prescora-recuperar"), {"--tarjeta", "--tis", "BBBB000001"}).status, 2);
}

}  // namespace
}  // namespace e2e
