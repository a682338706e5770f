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

TEST_F(FileAdminTest, MakeCreatesMissingFoldersOnly) {
  EXPECT_EQ(admin.GetSendedPath(), root_ + "/Enviados/");
  EXPECT_EQ(admin.DefaultResponseFile(), root_ + "/defrespo.xml");
  EXPECT_TRUE(admin.MakeSended());
  EXPECT_TRUE(admin.MakeDelayed());
  EXPECT_TRUE(admin.MakeAuditor());
  EXPECT_TRUE(fs::is_directory(admin.GetDelayedPath()));
  EXPECT_TRUE(fs::is_directory(admin.GetAuditorPath()));
  WriteAll(Path("Enviados/a.xml"), "x");
  EXPECT_TRUE(admin.MakeSended());
  EXPECT_EQ(ReadAll(Path("Enviados/a.xml")), "x");
  // A file of that name counts as present.
  WriteAll(Path("Recibidos"), "not a folder");
  EXPECT_TRUE(admin.MakeReceived());
  EXPECT_TRUE(fs::is_regular_file(Path("Recibidos")));
  EXPECT_TRUE(ErrorNumbers().empty());

  ns::platform::component::SetLibraryFolderForTesting(Path("gone"));
  EXPECT_FALSE(CFileAdmin().MakeSended());
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{76});
  EXPECT_NE(Log().find("CFileAdmin.MakeSended:(76)"), std::string::npos);
}

TEST_F(FileAdminTest, ExistenceLooksInTheFolderNamed) {
  admin.MakeSended();
  admin.MakeReceived();
  WriteAll(Path("Recibidos/R1.xml"), "x");
  WriteAll(Path("Enviados/S1.xml"), "x");
  WriteAll(Path("Root1.xml"), "x");
  WriteAll(Path("Recibidos/.hidden.xml"), "x");
  fs::create_directory(Path("Recibidos/D1.xml"));
  EXPECT_TRUE(admin.ExistResponseFile("R1"));
  EXPECT_FALSE(admin.ExistResponseFile("S1"));
  EXPECT_TRUE(admin.ExistResponseFile("S1", ns::fldSended));
  EXPECT_TRUE(admin.ExistResponseFile("Root1", ns::fldRoot));
  EXPECT_FALSE(admin.ExistResponseFile("Root1", static_cast<ns::FolderEnum>(4)));
  EXPECT_TRUE(admin.ExistResponseFile(".hidden"));
  EXPECT_FALSE(admin.ExistResponseFile("D1"));  // a folder is not a file

  EXPECT_FALSE(admin.ExistExecutorFile());
  WriteAll(Path("executor.exe"), "");
  WriteAll(Path("Interface.ini"), "");
  EXPECT_TRUE(admin.ExistExecutorFile());
  EXPECT_TRUE(admin.ExistIniFile());
  EXPECT_FALSE(admin.ExistDefaultResponseFile());
}

// The folder's own files are found whatever their letter case, by the same rule as the settings
// reader: a folder with "interface.ini" and "DEFRESPO.XML" has its settings and default response.
TEST_F(FileAdminTest, OwnFilesAreFoundWhateverTheirLetterCase) {
  WriteAll(Path("interface.ini"), "[RespuestaDefecto]\nCodigoAviso=A1\n");
  WriteAll(Path("DEFRESPO.XML"), "<RespuestaPeticion/>");
  EXPECT_TRUE(admin.ExistIniFile());
  EXPECT_TRUE(admin.ExistDefaultResponseFile());
  EXPECT_EQ(admin.DefaultResponseFile(), Path("DEFRESPO.XML"));
  ns::objConfig().set_ArchivoIni(Path("Interface.ini"));
  EXPECT_EQ(ns::objConfig().LoadInternalResponse("CodigoAviso"), "A1");
  // An exact name wins over one that differs only in case.
  WriteAll(Path("defrespo.xml"), "<RespuestaPeticion/>");
  EXPECT_EQ(admin.DefaultResponseFile(), Path("defrespo.xml"));
  EXPECT_FALSE(admin.ExistExecutorFile()) << "the launcher is started by its exact name";
  WriteAll(Path("Executor.exe"), "");
  EXPECT_FALSE(admin.ExistExecutorFile());
}

TEST_F(FileAdminTest, DeleteRemovesReadOnlyFilesAndToleratesMissingOnes) {
  EXPECT_TRUE(admin.DeleteFromSended("none"));
  admin.MakeSended();
  admin.MakeReceived();
  WriteAll(Path("Enviados/P1.xml"), "x");
  WriteAll(Path("Recibidos/P1.xml"), "x");
  chmod(Path("Enviados/P1.xml").c_str(), 0444);
  EXPECT_TRUE(admin.DeleteFromSended("P1"));
  EXPECT_FALSE(Exists(Path("Enviados/P1.xml")));
  EXPECT_TRUE(Exists(Path("Recibidos/P1.xml")));
  EXPECT_TRUE(admin.DeleteFromReceived("P1"));
  EXPECT_FALSE(Exists(Path("Recibidos/P1.xml")));
}

TEST_F(FileAdminTest, MoveToDelayed) {
  admin.MakeReceived();
  WriteAll(Path("Recibidos/P1.xml"), "late answer");
  // No Retrasados folder: the source stays.
  EXPECT_FALSE(admin.MoveToDelayed(admin.GetReceivedPath(), "P1.xml"));
  EXPECT_TRUE(Exists(Path("Recibidos/P1.xml")));
  admin.MakeDelayed();
  EXPECT_FALSE(admin.MoveToDelayed(admin.GetReceivedPath(), "P2.xml"));
  EXPECT_EQ(ErrorNumbers(), (std::vector<int>{76, 53}));

  // Given without its trailing separator; a late answer already there is kept, the new one gets
  // the next free name, no more readable than the answer was.
  WriteAll(Path("Retrasados/P1.xml"), "older");
  WriteAll(Path("Retrasados/P1 (2).xml"), "old too");
  chmod(Path("Recibidos/P1.xml").c_str(), 0600);
  EXPECT_TRUE(admin.MoveToDelayed(Path("Recibidos"), "P1.xml"));
  EXPECT_EQ(ReadAll(Path("Retrasados/P1.xml")), "older");
  EXPECT_EQ(ReadAll(Path("Retrasados/P1 (2).xml")), "old too");
  EXPECT_EQ(ReadAll(Path("Retrasados/P1 (3).xml")), "late answer");
  struct stat st {};
  ASSERT_EQ(stat(Path("Retrasados/P1 (3).xml").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(Exists(Path("Recibidos/P1.xml")));
  // Onto itself: the only copy stays.
  EXPECT_TRUE(admin.MoveToDelayed(admin.GetDelayedPath(), "P1.xml"));
  EXPECT_EQ(ReadAll(Path("Retrasados/P1.xml")), "older");
}

TEST_F(FileAdminTest, TheMessageLogGoesOnceItReachesTheLimit) {
  ns::objLog().set_Options(0);
  auto limit = [&](const std::string& line) {
    WriteAll(Path("Interface.ini"),
             "[Configuracion]\n" + line +
                 "\nGuardarPeticionSOAP=0\nGenerarLog=1\nGenerarTrace=0\n[Asincrono]\n"
                 "PeticionTimeOut=1\nAutoRespuesta=0\nEliminarXMLPeticion=0\n"
                 "EliminarXMLRespuesta=0\nIntervaloComprobacion=1\n[Seguimiento]\n"
                 "ArchivoDiario=0\nAuditar=0\n");
    ns::objConfig().set_ArchivoIni(Path("Interface.ini"));
    ASSERT_TRUE(ns::objConfig().LoadIni());
  };
  std::string log = Path("Interface.log");
  limit("TamanioMaximoLog=1000");
  WriteAll(log, std::string(999, 'x'));
  admin.DeleteLogFileIfExcededSize();
  EXPECT_TRUE(Exists(log));
  WriteAll(log, std::string(1000, 'x'));
  admin.DeleteLogFileIfExcededSize();
  EXPECT_FALSE(Exists(log));
  admin.DeleteLogFileIfExcededSize();  // nothing there: nothing happens
  // No limit (absent, 0 or negative): the log stays, whatever its size.
  for (const char* none : {"", "TamanioMaximoLog=0", "TamanioMaximoLog=-5"}) {
    limit(none);
    WriteAll(log, std::string(2000, 'x'));
    admin.DeleteLogFileIfExcededSize();
    EXPECT_TRUE(Exists(log)) << none;
  }
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
