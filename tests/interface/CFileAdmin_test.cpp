#include "interface/CFileAdmin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "RecordsFixture.h"
#include "common/platform/errors.h"
#include "interface/CConfig.h"
#include "interface/modGlobalInterface.h"

namespace {

using namespace records_test;
using ns::CFileAdmin;
namespace fs = std::filesystem;

class FileAdminTest : public RecordsTest {
 protected:
  CFileAdmin admin;
};

TEST_F(FileAdminTest, PathsHangFromTheLibraryFolder) {
  EXPECT_EQ(admin.GetDllPath(), root_ + "/");
  EXPECT_EQ(admin.GetSendedPath(), root_ + "/Enviados/");
  EXPECT_EQ(admin.GetReceivedPath(), root_ + "/Recibidos/");
  EXPECT_EQ(admin.GetDelayedPath(), root_ + "/Retrasados/");
  EXPECT_EQ(admin.GetAuditorPath(), root_ + "/Auditoria/");
  EXPECT_EQ(admin.DefaultResponseFile(), root_ + "/defrespo.xml");
  EXPECT_EQ(admin.InternalResponseFile(), root_ + "/internal.xml");
}

TEST_F(FileAdminTest, MakeCreatesMissingFoldersAndLeavesExistingOnes) {
  EXPECT_TRUE(admin.MakeSended());
  EXPECT_TRUE(admin.MakeReceived());
  EXPECT_TRUE(admin.MakeDelayed());
  EXPECT_TRUE(admin.MakeAuditor());
  for (const char* name : {"Enviados", "Recibidos", "Retrasados", "Auditoria"})
    EXPECT_TRUE(fs::is_directory(Path(name))) << name;

  WriteFile(Path("Enviados/a.xml"), "x");
  EXPECT_TRUE(admin.MakeSended());
  EXPECT_EQ(ReadFile(Path("Enviados/a.xml")), "x");
  EXPECT_TRUE(ErrorNumbers().empty());
}

TEST_F(FileAdminTest, MakeTreatsAFileOfThatNameAsPresent) {
  WriteFile(Path("Recibidos"), "not a folder");
  EXPECT_TRUE(admin.MakeReceived());
  EXPECT_TRUE(fs::is_regular_file(Path("Recibidos")));
}

TEST_F(FileAdminTest, MakeInAMissingLibraryFolderFails) {
  ns::platform::component::SetLibraryFolderForTesting(Path("gone"));
  CFileAdmin elsewhere;
  EXPECT_FALSE(elsewhere.MakeSended());
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{76});
  EXPECT_NE(Log().find("CFileAdmin.MakeSended:(76)"), std::string::npos);
}

TEST_F(FileAdminTest, ExistenceLooksInTheFolderNamed) {
  admin.MakeSended();
  admin.MakeReceived();
  WriteFile(Path("Recibidos/R1.xml"), "x");
  WriteFile(Path("Enviados/S1.xml"), "x");
  WriteFile(Path("Root1.xml"), "x");
  WriteFile(Path("Recibidos/.hidden.xml"), "x");

  EXPECT_TRUE(admin.ExistResponseFile("R1"));
  EXPECT_FALSE(admin.ExistResponseFile("S1"));
  EXPECT_TRUE(admin.ExistResponseFile("S1", ns::fldSended));
  EXPECT_TRUE(admin.ExistResponseFile("Root1", ns::fldRoot));
  EXPECT_FALSE(admin.ExistResponseFile("Root1", static_cast<ns::FolderEnum>(4)));
  EXPECT_TRUE(admin.ExistResponseFile(".hidden"));
  // A folder is not a file.
  fs::create_directory(Path("Recibidos/D1.xml"));
  EXPECT_FALSE(admin.ExistResponseFile("D1"));
}

TEST_F(FileAdminTest, ExistenceOfTheFixedFiles) {
  EXPECT_FALSE(admin.ExistExecutorFile());
  EXPECT_FALSE(admin.ExistIniFile());
  EXPECT_FALSE(admin.ExistDefaultResponseFile());
  WriteFile(Path("executor.exe"), "");
  WriteFile(Path("Interface.ini"), "");
  WriteFile(Path("defrespo.xml"), "");
  EXPECT_TRUE(admin.ExistExecutorFile());
  EXPECT_TRUE(admin.ExistIniFile());
  EXPECT_TRUE(admin.ExistDefaultResponseFile());
}

TEST_F(FileAdminTest, DeleteRemovesReadOnlyFilesAndToleratesMissingOnes) {
  EXPECT_TRUE(admin.DeleteFromSended("none"));
  EXPECT_TRUE(admin.DeleteFromReceived("none"));

  admin.MakeSended();
  admin.MakeReceived();
  WriteFile(Path("Enviados/P1.xml"), "x");
  WriteFile(Path("Recibidos/P1.xml"), "x");
  chmod(Path("Enviados/P1.xml").c_str(), 0444);
  EXPECT_TRUE(admin.DeleteFromSended("P1"));
  EXPECT_FALSE(Exists(Path("Enviados/P1.xml")));
  EXPECT_TRUE(Exists(Path("Recibidos/P1.xml")));
  EXPECT_TRUE(admin.DeleteFromReceived("P1"));
  EXPECT_FALSE(Exists(Path("Recibidos/P1.xml")));
  EXPECT_TRUE(ErrorNumbers().empty());
}

TEST_F(FileAdminTest, MoveToDelayedReplacesAndRemovesTheSource) {
  admin.MakeReceived();
  admin.MakeDelayed();
  WriteFile(Path("Recibidos/P1.xml"), "late answer");
  WriteFile(Path("Retrasados/P1.xml"), "older");
  chmod(Path("Recibidos/P1.xml").c_str(), 0444);

  // The folder given without its trailing separator.
  EXPECT_TRUE(admin.MoveToDelayed(Path("Recibidos"), "P1.xml"));
  EXPECT_EQ(ReadFile(Path("Retrasados/P1.xml")), "late answer");
  EXPECT_FALSE(Exists(Path("Recibidos/P1.xml")));
}

TEST_F(FileAdminTest, MoveToDelayedThatCannotCopyKeepsTheSource) {
  admin.MakeReceived();
  WriteFile(Path("Recibidos/P1.xml"), "answer");
  EXPECT_FALSE(admin.MoveToDelayed(admin.GetReceivedPath(), "P1.xml"));
  EXPECT_EQ(ReadFile(Path("Recibidos/P1.xml")), "answer");

  admin.MakeDelayed();
  EXPECT_FALSE(admin.MoveToDelayed(admin.GetReceivedPath(), "P2.xml"));
  EXPECT_EQ(ErrorNumbers(), (std::vector<int>{76, 53}));
  EXPECT_NE(Log().find("CFileAdmin.MoveToDelayed:(53)"), std::string::npos);
}

TEST_F(FileAdminTest, MoveToDelayedOntoItselfKeepsTheFile) {
  admin.MakeDelayed();
  WriteFile(Path("Retrasados/P1.xml"), "answer");
  EXPECT_TRUE(admin.MoveToDelayed(admin.GetDelayedPath(), "P1.xml"));
  EXPECT_EQ(ReadFile(Path("Retrasados/P1.xml")), "answer");
}

TEST_F(FileAdminTest, TheMessageLogGoesOnceItReachesTheLimit) {
  ns::objLog().set_Options(0);
  auto limit = [&](const char* line) {
    WriteFile(Path("Interface.ini"), std::string("[Configuracion]\n") + line +
                                         "\nGuardarPeticionSOAP=0\nGenerarLog=1\nGenerarTrace=0\n"
                                         "[Asincrono]\nPeticionTimeOut=1\nAutoRespuesta=0\n"
                                         "EliminarXMLPeticion=0\nEliminarXMLRespuesta=0\n"
                                         "IntervaloComprobacion=1\n[Seguimiento]\n"
                                         "ArchivoDiario=0\nAuditar=0\n");
    ns::objConfig().set_ArchivoIni(Path("Interface.ini"));
    ASSERT_TRUE(ns::objConfig().LoadIni());
  };
  std::string log = Path("Interface.log");
  limit("TamanioMaximoLog=1000");
  WriteFile(log, std::string(999, 'x'));
  admin.DeleteLogFileIfExcededSize();
  EXPECT_TRUE(Exists(log));
  WriteFile(log, std::string(1000, 'x'));
  admin.DeleteLogFileIfExcededSize();
  EXPECT_FALSE(Exists(log));
  admin.DeleteLogFileIfExcededSize();  // nothing there: nothing happens

  // No limit in the settings: any log goes.
  limit("");
  WriteFile(log, "");
  admin.DeleteLogFileIfExcededSize();
  EXPECT_FALSE(Exists(log));
  EXPECT_TRUE(ErrorNumbers().empty());
}

TEST(FileAdminComponent, IsCreatedByItsProgrammaticIdentifier) {
  // Unit tests do not build the shared library; the full build does.
  if (!Exists(std::string(PRESCORA_BIN_DIR) + "/libInterface.so"))
    GTEST_SKIP() << "libInterface.so not built";
  ns::platform::component::SetLibraryFolderForTesting(PRESCORA_BIN_DIR);
  auto object = ns::platform::component::CreateObject("Interface.CFileAdmin");
  ns::platform::component::SetLibraryFolderForTesting("");
  ASSERT_NE(object, nullptr);
  std::vector<std::string> none;
  EXPECT_EQ(object->Invoke("getsendedpath", none), std::string(PRESCORA_BIN_DIR) + "/Enviados/");
  std::vector<std::string> id{"no-such-id", "2"};
  EXPECT_EQ(object->Invoke("ExistResponseFile", id), "False");
  EXPECT_THROW(object->Invoke("Nothing", none), prescora::RaisedError);
}

}  // namespace
