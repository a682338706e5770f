#include "interface/CConfig.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include <string>
#include <thread>

#include "RecordsFixture.h"
#include "common/platform/profile.h"
#include "interface/modGlobalInterface.h"

namespace {

using namespace records_test;
using ns::CConfig;

// Every key LoadIni reads; `replace` swaps one line for another.
std::string Settings(const std::string& replace = "", const std::string& with = "") {
  std::string text =
      "[Configuracion]\nServicio=http://host/wsdl\nEsquemaXML=xmlns:a=\"urn:a\"\n"
      "GuardarPeticionSOAP=1\nGenerarLog=1\nGenerarTrace=0\nTamanioMaximoLog=1500000\n"
      "CodigoDispensacionCorrecta=A1\n"
      "[Asincrono]\nPeticionTimeOut=60\nAutoRespuesta=0\nEliminarXMLPeticion=1\n"
      "EliminarXMLRespuesta=0\nIntervaloComprobacion=90\n"
      "[Seguimiento]\nArchivoDiario=5\nAuditar=1\n";
  if (!replace.empty()) text.replace(text.find(replace), replace.size(), with);
  return text;
}

class ConfigTest : public RecordsTest {
 protected:
  bool Load(CConfig& config, const std::string& text) {
    WriteAll(Path("Interface.ini"), text);
    config.set_ArchivoIni(Path("Interface.ini"));
    return config.LoadIni();
  }
  std::string Counter(const char* key) {
    return ns::platform::profile::GetString(Path("Interface.ini"), "MensajeSOAP", key);
  }
};

TEST_F(ConfigTest, LoadsEveryKeyAsConverted) {
  CConfig config;
  ASSERT_TRUE(Load(config, Settings()));
  EXPECT_EQ(config.Servicio(), "http://host/wsdl");
  EXPECT_EQ(config.EsquemaXML(), "xmlns:a=\"urn:a\" ");
  EXPECT_EQ(ns::strEsquemaXML(), "xmlns:a=\"urn:a\" ");
  EXPECT_EQ(config.GuardarPeticionSOAP(), 1);
  EXPECT_EQ(config.EliminarXMLPeticion(), 1);
  EXPECT_EQ(config.ArchivoDiario(), 5);
  EXPECT_TRUE(config.Auditar());
  EXPECT_EQ(config.TamanioMaximoLog(), 1500000);
  EXPECT_EQ(config.CodigoDispensacionOk(), "A1");
  // An interval longer than the time-out is kept as it is.
  EXPECT_EQ(config.PeticionTimeOut(), 60);
  EXPECT_EQ(config.IntervaloComprobacion(), 90);
  ASSERT_TRUE(Load(config, Settings("Auditar=1", "Auditar=2")));
  EXPECT_FALSE(config.Auditar());

  for (auto [line, expected] :
       {std::pair{"TamanioMaximoLog=100KB", 100}, {"TamanioMaximoLog=abc", 0}, {"", 0}}) {
    ASSERT_TRUE(Load(config, Settings("TamanioMaximoLog=1500000", line))) << line;
    EXPECT_EQ(config.TamanioMaximoLog(), expected) << line;
  }
  EXPECT_TRUE(ErrorNumbers().empty());
}

TEST_F(ConfigTest, ABadValueStopsTheLoadAtItsKey) {
  CConfig config;
  ASSERT_TRUE(Load(config, Settings()));
  ns::strEsquemaXML() = "before";
  std::string changed = Settings("GenerarLog=1", "GenerarLog=");
  changed.replace(changed.find("Servicio=http://host"), 20, "Servicio=http://other");
  changed.replace(changed.find("GuardarPeticionSOAP=1"), 21, "GuardarPeticionSOAP=3");
  changed.replace(changed.find("ArchivoDiario=5"), 15, "ArchivoDiario=7");
  EXPECT_FALSE(Load(config, changed));
  EXPECT_EQ(config.Servicio(), "http://other/wsdl");
  EXPECT_EQ(config.GuardarPeticionSOAP(), 3);
  EXPECT_EQ(config.ArchivoDiario(), 5);
  EXPECT_EQ(ns::strEsquemaXML(), "before");
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{13});
  EXPECT_NE(Log().find("CConfig.LoadIni:(13)"), std::string::npos);

  // Out of the 16-bit range; then no file at all.
  EXPECT_FALSE(Load(config, Settings("PeticionTimeOut=60", "PeticionTimeOut=40000")));
  CConfig missing;
  missing.set_ArchivoIni(Path("none.ini"));
  EXPECT_FALSE(missing.LoadIni());
  EXPECT_EQ(missing.EsquemaXML(), " ");
  EXPECT_EQ(ErrorNumbers(), (std::vector<int>{13, 6, 13}));
}

TEST_F(ConfigTest, TheSampleSettingsFileLoads) {
  CConfig config;
  config.set_ArchivoIni(std::string(PRESCORA_SOURCE_DIR) + "/config/Interface.ini");
  ASSERT_TRUE(config.LoadIni());
  EXPECT_EQ(config.EsquemaXML(), kStandardSchema + " ");
  EXPECT_EQ(config.Servicio(), "http://127.0.0.1:8080/wsdl");
  EXPECT_EQ(config.CodigoDispensacionOk(), "0000");
  EXPECT_EQ(config.PeticionTimeOut(), 10);
}

TEST_F(ConfigTest, CountersAddOneOrRestartAtZero) {
  CConfig config;
  config.set_ArchivoIni(Path("Interface.ini"));
  WriteAll(Path("Interface.ini"), "[MensajeSOAP]\nRecibidos=abc\n");
  EXPECT_TRUE(config.UpdateAndSaveSended());
  EXPECT_TRUE(config.UpdateAndSaveReceived());
  EXPECT_EQ(Counter("Enviados"), "0");
  EXPECT_EQ(Counter("Recibidos"), "0");
  ns::platform::profile::WriteString(Path("Interface.ini"), "MensajeSOAP", "Enviados", "41");
  EXPECT_TRUE(config.UpdateAndSaveSended());
  EXPECT_EQ(Counter("Enviados"), "42");

  // Beyond the 32-bit range: nothing is written.
  ns::platform::profile::WriteString(Path("Interface.ini"), "MensajeSOAP", "Enviados",
                                     "2147483647");
  EXPECT_FALSE(config.UpdateAndSaveSended());
  EXPECT_EQ(Counter("Enviados"), "2147483647");
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{6});
}

// Runs `body` in a child process as a user who may not create files in `folder`: as root, the
// unprivileged user nobody (the test folder opened to it); otherwise with the folder read-only.
template <class Body>
bool WithoutWriteAccessTo(const std::string& root, const std::string& folder, Body&& body) {
  const bool root_user = getuid() == 0;
  if (root_user)
    std::filesystem::permissions(root, std::filesystem::perms(0755));
  else
    std::filesystem::permissions(folder, std::filesystem::perms(0555));
  bool ok = RunInChildren(1, [&](int) {
    if (root_user && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    return body();
  });
  std::filesystem::permissions(folder, std::filesystem::perms(0755));
  return ok;
}

TEST_F(ConfigTest, CountersReportFailedWritesAndCountWhereOnlyTheFileIsWritable) {
  CConfig config;
  std::filesystem::create_directory(Path("carpeta.ini"));
  config.set_ArchivoIni(Path("carpeta.ini"));
  EXPECT_FALSE(config.UpdateAndSaveSended());
  EXPECT_FALSE(config.UpdateAndSaveReceived());
  EXPECT_EQ(ErrorNumbers().size(), 2u);
  EXPECT_NE(Log().find("CConfig.UpdateAndSaveSended:("), std::string::npos);
  EXPECT_NE(Log().find("CConfig.UpdateAndSaveReceived:("), std::string::npos);

  // The administrator's folder, the pharmacy user's settings file.
  const std::string folder = Path("lib");
  const std::string ini = folder + "/Interface.ini";
  std::filesystem::create_directory(folder);
  WriteAll(ini, "; contadores\n[MensajeSOAP]\nEnviados=41\n");
  std::filesystem::permissions(ini, std::filesystem::perms(0666));
  EXPECT_TRUE(WithoutWriteAccessTo(root_, folder, [&] {
    CConfig other;
    other.set_ArchivoIni(ini);
    return other.UpdateAndSaveSended() && other.UpdateAndSaveReceived() &&
           other.UpdateAndSaveSended();
  }));
  EXPECT_EQ(ReadAll(ini), "; contadores\n[MensajeSOAP]\nEnviados=43\nRecibidos=0\n");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"Interface.ini"});
}

TEST_F(ConfigTest, ConcurrentExecutorsNeverLoseACount) {
  WriteAll(Path("Interface.ini"), "[MensajeSOAP]\nEnviados=7\n");
  std::string file = Path("Interface.ini");
  EXPECT_TRUE(RunInChildren(8, [&](int) {
    CConfig config;
    config.set_ArchivoIni(file);
    for (int i = 0; i < 50; ++i) {
      if (!config.UpdateAndSaveSended()) return false;
    }
    return true;
  }));
  EXPECT_EQ(Counter("Enviados"), "407");
}

TEST_F(ConfigTest, InternalResponseKeys) {
  CConfig config;
  WriteAll(Path("Interface.ini"), "[RespuestaDefecto]\nTextoAviso=Sin conexión\n");
  config.set_ArchivoIni(Path("Interface.ini"));
  EXPECT_EQ(config.LoadInternalResponse("textoaviso"), "Sin conexión");
  EXPECT_EQ(config.LoadInternalResponse(""), "");
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{32011});
  EXPECT_NE(Log().find("CConfig.LoadInternalResponse:(32011)El nombre del campo a buscar en el "
                       "archivo .ini para generar la respuesta por defecto no es válido"),
            std::string::npos);
}

TEST_F(ConfigTest, EachThreadHasItsOwnSettingsTracedFromCreationToEnd) {
  std::string trace = Path("trace.txt");
  CConfig* theirs = nullptr;
  std::thread([&] {
    ns::objTrace().set_FileName(trace);
    ns::objTrace().set_Options(1);
    theirs = &ns::objConfig();
  }).join();
  EXPECT_NE(&ns::objConfig(), theirs);
  std::string text = ReadAll(trace);
  auto created = text.find("IN \tCConfig.Class_Initialize\t\t");
  auto ended = text.find("OUT\tCConfig.Class_Terminate\t\t");
  ASSERT_NE(created, std::string::npos);
  ASSERT_NE(ended, std::string::npos);
  EXPECT_LT(created, ended);
}

}  // namespace
