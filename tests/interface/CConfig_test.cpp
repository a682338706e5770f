#include "interface/CConfig.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "RecordsFixture.h"
#include "common/platform/profile.h"
#include "interface/modGlobalInterface.h"

namespace {

using namespace records_test;
using ns::CConfig;

// Every key LoadIni reads, each value given unless a replacement says otherwise.
std::string Settings(const std::string& replace = "", const std::string& with = "") {
  std::string text =
      "[Configuracion]\n"
      "Servicio=http://host/wsdl\n"
      "EsquemaXML=xmlns:a=\"urn:a\"\n"
      "GuardarPeticionSOAP=1\n"
      "GenerarLog=1\n"
      "GenerarTrace=0\n"
      "TamanioMaximoLog=1500000\n"
      "CodigoDispensacionCorrecta=A1\n"
      "[Asincrono]\n"
      "PeticionTimeOut=60\n"
      "AutoRespuesta=0\n"
      "EliminarXMLPeticion=1\n"
      "EliminarXMLRespuesta=0\n"
      "IntervaloComprobacion=90\n"
      "[Seguimiento]\n"
      "ArchivoDiario=5\n"
      "Auditar=1\n";
  if (!replace.empty()) {
    auto at = text.find(replace);
    EXPECT_NE(at, std::string::npos) << replace;
    text.replace(at, replace.size(), with);
  }
  return text;
}

class ConfigTest : public RecordsTest {
 protected:
  bool Load(CConfig& config, const std::string& text) {
    WriteFile(Path("Interface.ini"), text);
    config.set_ArchivoIni(Path("Interface.ini"));
    return config.LoadIni();
  }
  std::string Counter(const char* key) {
    return ns::platform::profile::GetString(Path("Interface.ini"), "MensajeSOAP", key);
  }
};

TEST_F(ConfigTest, LoadsEveryKeyAsConverted) {
  CConfig config;
  ns::strEsquemaXML() = "";
  ASSERT_TRUE(Load(config, Settings()));
  EXPECT_EQ(config.Servicio(), "http://host/wsdl");
  EXPECT_EQ(config.EsquemaXML(), "xmlns:a=\"urn:a\" ");
  EXPECT_EQ(ns::strEsquemaXML(), "xmlns:a=\"urn:a\" ");
  EXPECT_EQ(config.GuardarPeticionSOAP(), 1);
  EXPECT_EQ(config.GenerarLog(), 1);
  EXPECT_EQ(config.GenerarTrace(), 0);
  EXPECT_EQ(config.EliminarXMLPeticion(), 1);
  EXPECT_EQ(config.EliminarXMLRespuesta(), 0);
  EXPECT_EQ(config.ArchivoDiario(), 5);
  EXPECT_TRUE(config.Auditar());
  EXPECT_EQ(config.TamanioMaximoLog(), 1500000);
  EXPECT_EQ(config.CodigoDispensacionOk(), "A1");
  // Stored unchanged, even an interval longer than the time-out.
  EXPECT_EQ(config.PeticionTimeOut(), 60);
  EXPECT_EQ(config.IntervaloComprobacion(), 90);
  EXPECT_TRUE(ErrorNumbers().empty());

  ASSERT_TRUE(Load(config, Settings("Auditar=1", "Auditar=2")));
  EXPECT_FALSE(config.Auditar());
  ASSERT_TRUE(Load(config, Settings("PeticionTimeOut=60", "PeticionTimeOut=0")));
  EXPECT_EQ(config.PeticionTimeOut(), 0);
}

TEST_F(ConfigTest, ABadValueStopsTheLoadAtItsKey) {
  CConfig config;
  ASSERT_TRUE(Load(config, Settings()));
  ns::strEsquemaXML() = "before";
  std::string changed = Settings("Servicio=http://host/wsdl", "Servicio=http://other/wsdl");
  changed.replace(changed.find("GuardarPeticionSOAP=1"), 21, "GuardarPeticionSOAP=3");
  changed.replace(changed.find("GenerarLog=1"), 12, "GenerarLog=");
  changed.replace(changed.find("ArchivoDiario=5"), 15, "ArchivoDiario=7");

  EXPECT_FALSE(Load(config, changed));
  // Before the bad key: the new values.
  EXPECT_EQ(config.Servicio(), "http://other/wsdl");
  EXPECT_EQ(config.GuardarPeticionSOAP(), 3);
  // From it on: the old ones; the schema text is not handed on.
  EXPECT_EQ(config.GenerarLog(), 1);
  EXPECT_EQ(config.ArchivoDiario(), 5);
  EXPECT_EQ(config.CodigoDispensacionOk(), "A1");
  EXPECT_EQ(ns::strEsquemaXML(), "before");
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{13});
  EXPECT_NE(Log().find("CConfig.LoadIni:(13)"), std::string::npos);

  // A number outside 16 bits fails the same way.
  EXPECT_FALSE(Load(config, Settings("PeticionTimeOut=60", "PeticionTimeOut=40000")));
  EXPECT_EQ(ErrorNumbers(), (std::vector<int>{13, 6}));
}

TEST_F(ConfigTest, AMissingFileFailsAtTheFirstNumber) {
  CConfig config;
  config.set_ArchivoIni(Path("none.ini"));
  EXPECT_FALSE(config.LoadIni());
  EXPECT_EQ(config.Servicio(), "");
  EXPECT_EQ(config.EsquemaXML(), " ");
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{13});
}

TEST_F(ConfigTest, SizeLimitIsTheLeadingNumber) {
  struct Case {
    const char* line;
    int32_t expected;
  } cases[] = {{"TamanioMaximoLog=100KB", 100},
               {"TamanioMaximoLog=abc", 0},
               {"TamanioMaximoLog=2.5", 2},
               {"", 0}};
  for (const Case& c : cases) {
    CConfig config;
    ASSERT_TRUE(Load(config, Settings("TamanioMaximoLog=1500000", c.line))) << c.line;
    EXPECT_EQ(config.TamanioMaximoLog(), c.expected) << c.line;
  }
  CConfig config;
  EXPECT_FALSE(Load(config, Settings("TamanioMaximoLog=1500000", "TamanioMaximoLog=9e12")));
  EXPECT_EQ(config.CodigoDispensacionOk(), "");
}

TEST_F(ConfigTest, TheSampleSettingsFileLoads) {
  CConfig config;
  config.set_ArchivoIni(std::string(PRESCORA_SOURCE_DIR) + "/config/Interface.ini");
  ASSERT_TRUE(config.LoadIni());
  EXPECT_EQ(config.EsquemaXML(), kStandardSchema + " ");
  EXPECT_EQ(config.Servicio(), "http://127.0.0.1:8080/wsdl");
  EXPECT_EQ(config.CodigoDispensacionOk(), "0000");
  EXPECT_EQ(config.PeticionTimeOut(), 10);
  EXPECT_EQ(config.IntervaloComprobacion(), 1);
  EXPECT_EQ(config.GenerarLog(), 1);
}

TEST_F(ConfigTest, CountersAddOneOrRestartAtZero) {
  CConfig config;
  config.set_ArchivoIni(Path("Interface.ini"));
  WriteFile(Path("Interface.ini"), "[MensajeSOAP]\nRecibidos=abc\n");
  EXPECT_TRUE(config.UpdateAndSaveSended());
  EXPECT_EQ(Counter("Enviados"), "0");
  EXPECT_TRUE(config.UpdateAndSaveReceived());
  EXPECT_EQ(Counter("Recibidos"), "0");

  ns::platform::profile::WriteString(Path("Interface.ini"), "MensajeSOAP", "Enviados", "41");
  EXPECT_TRUE(config.UpdateAndSaveSended());
  EXPECT_EQ(Counter("Enviados"), "42");
  EXPECT_EQ(Counter("Recibidos"), "0");

  // Beyond the 32-bit range: nothing written, and the failure is recorded.
  ns::platform::profile::WriteString(Path("Interface.ini"), "MensajeSOAP", "Enviados",
                                     "2147483647");
  EXPECT_FALSE(config.UpdateAndSaveSended());
  EXPECT_EQ(Counter("Enviados"), "2147483647");
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{6});
  EXPECT_NE(Log().find("CConfig.UpdateAndSaveSended:(6)"), std::string::npos);
}

TEST_F(ConfigTest, ConcurrentExecutorsNeverLoseACount) {
  WriteFile(Path("Interface.ini"), "[MensajeSOAP]\nEnviados=7\n");
  std::string file = Path("Interface.ini");
  bool ok = RunInChildren(8, [&](int) {
    CConfig config;
    config.set_ArchivoIni(file);
    for (int i = 0; i < 50; ++i) {
      if (!config.UpdateAndSaveSended()) return false;
    }
    return true;
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(Counter("Enviados"), "407");
}

TEST_F(ConfigTest, InternalResponseKeys) {
  CConfig config;
  WriteFile(Path("Interface.ini"), "[RespuestaDefecto]\nTextoAviso=Sin conexión\n");
  config.set_ArchivoIni(Path("Interface.ini"));
  EXPECT_EQ(config.LoadInternalResponse("textoaviso"), "Sin conexión");
  EXPECT_EQ(config.LoadInternalResponse("CodigoAviso"), "");
  EXPECT_TRUE(ErrorNumbers().empty());

  EXPECT_EQ(config.LoadInternalResponse(""), "");
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{32011});
  EXPECT_EQ(ns::objErrores().Errores().front().Source(), "CConfig.LoadInternalResponse");
  EXPECT_NE(Log().find("CConfig.LoadInternalResponse:(32011)El nombre del campo a buscar en el "
                       "archivo .ini para generar la respuesta por defecto no es válido"),
            std::string::npos);
}

TEST_F(ConfigTest, EachThreadHasItsOwnSettingsTracedFromCreationToEnd) {
  std::string trace = Path("trace.txt");
  CConfig* mine = &ns::objConfig();
  CConfig* theirs = nullptr;
  std::thread([&] {
    ns::objTrace().set_FileName(trace);
    ns::objTrace().set_Options(1);
    theirs = &ns::objConfig();
    EXPECT_EQ(theirs, &ns::objConfig());
  }).join();
  EXPECT_NE(mine, theirs);
  std::string text = ReadFile(trace);
  auto created = text.find("IN \tCConfig.Class_Initialize\t\t");
  auto ended = text.find("OUT\tCConfig.Class_Terminate\t\t");
  EXPECT_NE(created, std::string::npos);
  EXPECT_NE(ended, std::string::npos);
  EXPECT_LT(created, ended);
}

}  // namespace
