#include "common/modGlobal.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/modError.h"
#include "common/platform/clock.h"
#include "tests/common/TempFolder.h"

using namespace PRESCORA_NS;

namespace {

class SettingsReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::clock::SetNowForTesting(
        [] { return platform::clock::LocalTime{2026, 12, 7, 9, 5, 3}; });
    WriteAll(trace_, "");
    objTrace().set_FileName(trace_);
    objTrace().set_Options(1);
  }
  void TearDown() override {
    objTrace().set_Options(0);
    objTrace().set_FileName("");
    platform::clock::SetNowForTesting({});
  }
  TempFolder dir_;
  std::string ini_ = dir_ / "Interface.ini";
  std::string trace_ = dir_ / "Interface.txt";
};

TEST_F(SettingsReadTest, MissingValuesReadEmptyAndLongOnesAreCut) {
  WriteAll(ini_, "[Configuracion]\nServicio=http://x\nLargo=" + std::string(300, 'a') + "\n");
  EXPECT_EQ(GetPrivateProfileStringEx(ini_, "Configuracion", "Servicio"), "http://x");
  EXPECT_EQ(GetPrivateProfileStringEx(ini_, "Configuracion", "Nada"), "");
  EXPECT_EQ(GetPrivateProfileStringEx(dir_ / "none.ini", "Configuracion", "Servicio"), "");
  EXPECT_EQ(GetPrivateProfileStringEx(ini_, "Configuracion", "Largo"), std::string(254, 'a'));
}

TEST_F(SettingsReadTest, TracesEntryAndExitWithTheValue) {
  WriteAll(ini_, "[Proxy]\nServidor=proxy.local\n");
  GetPrivateProfileStringEx(ini_, "Proxy", "Servidor");
  EXPECT_EQ(ReadAll(trace_),
            "2026/12/07 09:05:03 IN \tmodGlobal.GetPrivateProfileStringEx\t\t\r\n"
            "2026/12/07 09:05:03 OUT\tmodGlobal.GetPrivateProfileStringEx\tproxy.local\t\r\n");
}

TEST_F(SettingsReadTest, PasswordIsReturnedButMaskedInTheTrace) {
  WriteAll(ini_, "[Proxy]\nPassword=s3cr3t\nUsuario=ana\n");
  EXPECT_EQ(GetPrivateProfileStringEx(ini_, "Proxy", "Password"), "s3cr3t");
  EXPECT_EQ(GetPrivateProfileStringEx(ini_, "Proxy", "PASSWORD"), "s3cr3t");
  EXPECT_EQ(GetPrivateProfileStringEx(ini_, "Proxy", "password"), "s3cr3t");
  EXPECT_EQ(GetPrivateProfileStringEx(ini_, "Proxy", "Usuario"), "ana");
  std::string trace = ReadAll(trace_);
  EXPECT_EQ(trace.find("s3cr3t"), std::string::npos);
  std::size_t masks = 0;
  for (std::size_t at = trace.find("\t********\t"); at != std::string::npos;
       at = trace.find("\t********\t", at + 1))
    ++masks;
  EXPECT_EQ(masks, 3u);
  EXPECT_NE(trace.find("\tana\t"), std::string::npos);
}

TEST(AddBackslash, AppendsOneSlashUnlessThereIsOne) {
  EXPECT_EQ(AddBackslash("/opt/prescora"), "/opt/prescora/");
  EXPECT_EQ(AddBackslash("/opt/prescora/"), "/opt/prescora/");
  EXPECT_EQ(AddBackslash(""), "/");
  EXPECT_EQ(AddBackslash("a//"), "a//");
  EXPECT_EQ(AddBackslash("a "), "a /");
}

TEST(FormatDate, SlashesACompactDate) {
  EXPECT_EQ(FormatDate("20240517"), "2024/05/17");
  // Anything but eight digits would show a date that does not exist.
  EXPECT_EQ(FormatDate("2024051"), "");
  EXPECT_EQ(FormatDate("202405170"), "");
  EXPECT_EQ(FormatDate(" 20240517"), "");
  EXPECT_EQ(FormatDate(""), "");
  EXPECT_EQ(FormatDate("2024-05-17"), "");
  EXPECT_EQ(FormatDate("abc"), "");
  EXPECT_EQ(FormatDate("12"), "");
}

TEST(SharedObjects, EachThreadHasItsOwnSet) {
  objErrores().ResetErrorsCollection();
  objErrores().AddError(platform::Failure(13, "main", "x"));
  objLog().set_FileName("/main.log");
  strEsquemaXML() = "main ";
  std::size_t seenErrors = 99;
  std::string seenLog = "?", seenSchema = "?";
  std::thread other([&] {
    seenErrors = objErrores().Errores().size();
    seenLog = objLog().FileName();
    seenSchema = strEsquemaXML();
    objErrores().AddError(platform::Failure(6, "other", "y"));
    objErrores().AddError(platform::Failure(7, "other", "z"));
  });
  other.join();
  EXPECT_EQ(seenErrors, 0u);
  EXPECT_EQ(seenLog, "");
  EXPECT_EQ(seenSchema, "");
  ASSERT_EQ(objErrores().Errores().size(), 1u);
  EXPECT_EQ(objErrores().Errores()[0].Source(), "main");
  EXPECT_EQ(&objLog(), &objLog());
  EXPECT_NE(&objLog(), &objTrace());
  objErrores().ResetErrorsCollection();
  objLog().set_FileName("");
  strEsquemaXML().clear();
}

TEST_F(SettingsReadTest, TraceScopeWritesTheValueSetLast) {
  {
    TraceScope scope("CConfig.UpdateAndSaveSended");
    scope.set_Value(false);
    scope.set_Value(true);
  }
  { TraceScope empty("CAuditor.Class_Initialize"); }
  EXPECT_EQ(ReadAll(trace_),
            "2026/12/07 09:05:03 IN \tCConfig.UpdateAndSaveSended\t\t\r\n"
            "2026/12/07 09:05:03 OUT\tCConfig.UpdateAndSaveSended\tTrue\t\r\n"
            "2026/12/07 09:05:03 IN \tCAuditor.Class_Initialize\t\t\r\n"
            "2026/12/07 09:05:03 OUT\tCAuditor.Class_Initialize\t\t\r\n");
}

}  // namespace
