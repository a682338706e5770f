// Files of the library folder that are not what they seem: links planted where the library
// writes, pipes where it reads. None is written through, none is waited on, and each refusal is a
// line of the message log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "RecordsFixture.h"
#include "common/modError.h"
#include "common/platform/errors.h"
#include "common/platform/files.h"
#include "common/platform/profile.h"
#include "common/platform/profiletail.h"
#include "common/platform/xml.h"
#include "interface/CEnCurso.h"

namespace {

using namespace records_test;
using ns::CEnCurso;
namespace fs = std::filesystem;
namespace tail = ns::platform::profiletail;

class HostileFiles : public RecordsTest {
 protected:
  void SetUp() override {
    RecordsTest::SetUp();
    ns::ReportRefusedFiles();
    fs::create_directory(Path("EnCurso"));
    fs::create_directory(Path("Auditoria"));
    WriteAll(victim_, "original\n");
  }

  // Runs `action`, which must neither hang on a pipe nor succeed through a link.
  static void Quickly(const std::function<void()>& action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }

  void Fifo(const std::string& name) { ASSERT_EQ(::mkfifo(Path(name).c_str(), 0600), 0); }
  void Link(const std::string& name) { fs::create_symlink(victim_, Path(name)); }

  TempFolder elsewhere_;
  const std::string victim_ = elsewhere_ / "victim";
};

TEST_F(HostileFiles, StateFileThatIsALinkOrAPipeIsRefusedWithTheOperationsError) {
  struct Case {
    const char* planted;
    bool fifo;
  };
  for (const Case& c :
       {Case{"EnCurso/ID-1.estado", false}, Case{"EnCurso/ID-1.estado.nuevo", false},
        Case{"EnCurso/ID-1.estado", true}}) {
    SCOPED_TRACE(std::string(c.planted) + (c.fifo ? " pipe" : " link"));
    fs::remove(Path("EnCurso/ID-1.estado"));
    fs::remove(Path("EnCurso/ID-1.estado.nuevo"));
    ns::objErrores().ResetErrorsCollection();
    if (c.fifo)
      Fifo(c.planted);
    else
      Link(c.planted);
    CEnCurso enCurso("ID-1");
    enCurso.set_Rechazo(ns::errExportRequest, "CInterface.SolicitudDispensacion");
    CEnCurso::Paso paso(enCurso);
    Quickly([&] {
      try {
        enCurso.set_Estado(CEnCurso::kPreparada);
        ADD_FAILURE() << "written";
      } catch (const ns::platform::Failure& failure) {
        EXPECT_EQ(failure.Number(), ns::errExportRequest);
      }
      if (std::string(c.planted) == "EnCurso/ID-1.estado") {
        EXPECT_THROW(enCurso.Estado(), ns::platform::Failure);
      }
    });
    EXPECT_EQ(ReadAll(victim_), "original\n");
    EXPECT_NE(Log().find("Se rechaza el archivo " + Path(c.planted)), std::string::npos);
  }
}

// The answer is taken only with the token its dispensing drew; the token stays through every
// state written after it, and a file without one (or cut short) gives none.
TEST_F(HostileFiles, StateFileKeepsTheTokenThroughItsStates) {
  const std::string token(CEnCurso::kLargoFicha, 'a');
  CEnCurso front("ID-2");
  front.set_Ficha(token);
  CEnCurso::Paso paso(front);
  front.set_Estado(CEnCurso::kPreparada);
  front.set_Estado(CEnCurso::kLanzada);
  CEnCurso executor("ID-2");
  EXPECT_EQ(executor.Estado(), CEnCurso::kLanzada);
  EXPECT_EQ(executor.FichaGuardada(), token);

  struct Case {
    std::string text;
    std::string estado;
    std::string ficha;
  };
  for (const Case& c :
       {Case{"tomada\n" + token + "\n", "tomada", token}, Case{"tomada\n" + token, "tomada", ""},
        Case{"tomada\n" + token.substr(1) + "\n", "tomada", ""},
        Case{"tomada\n" + token.substr(1) + "g\n", "tomada", ""}, Case{"lanzada", "lanzada", ""},
        Case{"", "", ""}}) {
    SCOPED_TRACE(c.text);
    CEnCurso::Contenido read = CEnCurso::Leer(c.text);
    EXPECT_EQ(read.estado, c.estado);
    EXPECT_EQ(read.ficha, c.ficha);
  }
}

// The audit file, its index and its journal: a link is never written through (a crafted journal
// would otherwise put chosen bytes into the link's target), a pipe never waited on.
TEST_F(HostileFiles, AuditFilesThatAreLinksOrPipesAreNeverWrittenThroughNorWaitedOn) {
  const std::string audit = Path("Auditoria/audit.log");
  // Large enough to be indexed.
  std::string big;
  for (int i = 0; i < 6000; ++i)
    big += "[S" + std::to_string(i) + "]\nCLAVE=" + std::string(40, 'x') + "\n";

  struct Case {
    const char* what;
    std::function<void()> plant;
  };
  const std::vector<Case> cases = {
      {"index link",
       [&] {
         WriteAll(audit, big);
         Link("Auditoria/audit.log.idx");
       }},
      {"audit link with journal",
       [&] {
         Link("Auditoria/audit.log");
         WriteAll(Path("Auditoria/audit.log.journal"), std::string(200, 'J'));
       }},
      {"journal pipe",
       [&] {
         WriteAll(audit, "[A]\nX=1\n");
         Fifo("Auditoria/audit.log.journal");
       }},
      {"audit pipe", [&] { Fifo("Auditoria/audit.log"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Path("Auditoria"));
    fs::create_directory(Path("Auditoria"));
    c.plant();
    Quickly([&] {
      tail::WriteString(audit, "S1", "CLAVE", "nuevo");
      tail::WriteString(audit, "NUEVA", "MARCA", "Si");
      tail::GetString(audit, "S1", "CLAVE");
    });
    EXPECT_EQ(ReadAll(victim_), "original\n");
  }
}

// Pipes where documents and settings are read: the default response, the settings file.
TEST_F(HostileFiles, PipesInPlaceOfDocumentsAndSettingsAreNotWaitedOn) {
  Fifo("defrespo.xml");
  Fifo("Interface.ini");
  Quickly([&] {
    ns::platform::xml::Document document;
    EXPECT_FALSE(document.Load(Path("defrespo.xml")));
    EXPECT_EQ(
        ns::platform::profile::GetString(Path("Interface.ini"), "Asincrono", "Servicio", "nada"),
        "nada");
  });
  EXPECT_NE(Log().find("Se rechaza el archivo " + Path("defrespo.xml")), std::string::npos);
}

// A settings file far larger than any real one is not read (nor held in memory).
TEST_F(HostileFiles, OversizedSettingsFileIsRefusedWithALogLine) {
  std::string huge = "[Asincrono]\nServicio=http://x\n";
  huge += std::string(5u << 20, ';');
  WriteAll(Path("Interface.ini"), huge);
  EXPECT_EQ(ns::platform::profile::GetString(Path("Interface.ini"), "Asincrono", "Servicio", "no"),
            "no");
  EXPECT_NE(Log().find("supera el tamaño máximo"), std::string::npos);
}

// A subfolder or log kept elsewhere by the installation is followed when the link and its target
// belong to the folder's owner and others may not write the target; anything else is refused.
TEST_F(HostileFiles, LinkedFoldersAreFollowedOnlyWhenTrusted) {
  namespace files = ns::platform::files;
  TempFolder spool;
  fs::remove(Path("Auditoria"));
  fs::create_directory_symlink(spool.path(), Path("Auditoria"));
  ::chmod(spool.path().c_str(), 0755);
  EXPECT_TRUE(files::TrustedFolder(Path("Auditoria")));
  int fd = files::OpenRegular(Path("Auditoria/audit.log"), O_WRONLY | O_CREAT);
  EXPECT_GE(fd, 0);
  if (fd >= 0) ::close(fd);

  ::chmod(spool.path().c_str(), 0777);
  EXPECT_FALSE(files::TrustedFolder(Path("Auditoria")));
  EXPECT_LT(files::OpenRegular(Path("Auditoria/audit.log"), O_WRONLY), 0);
  EXPECT_TRUE(files::Refused(errno));
  ::chmod(spool.path().c_str(), 0700);

  // A log that is a link to a file the owner keeps elsewhere is written; a plain file link is not
  // (not allowed by the caller).
  ::chmod(victim_.c_str(), 0644);
  Link("Interface.log");
  fd = files::OpenRegular(Path("Interface.log"), O_WRONLY | O_APPEND, 0666, true);
  EXPECT_GE(fd, 0);
  if (fd >= 0) ::close(fd);
  EXPECT_LT(files::OpenRegular(Path("Interface.log"), O_WRONLY | O_APPEND), 0);
  ::chmod(victim_.c_str(), 0666);
  EXPECT_LT(files::OpenRegular(Path("Interface.log"), O_WRONLY | O_APPEND, 0666, true), 0);
}

// A line far longer than any record is looked through without being held, and the sections
// around it keep their places.
TEST_F(HostileFiles, AuditLineLongerThanAnyRecordLeavesTheSectionsAroundIt) {
  const std::string audit = Path("Auditoria/audit.log");
  WriteAll(audit, "[ANTES]\nA=1\nLARGA=" + std::string(3u << 20, 'x') + "\n[DESPUES]\nB=2\n[" +
                      std::string(100000, 'y') + "]\n");
  EXPECT_EQ(tail::GetString(audit, "DESPUES", "B"), "2");
  EXPECT_TRUE(tail::WriteString(audit, "DESPUES", "B", "3"));
  EXPECT_TRUE(tail::WriteString(audit, "NUEVA", "C", "4"));
  EXPECT_EQ(tail::GetString(audit, "DESPUES", "B"), "3");
  EXPECT_EQ(tail::GetString(audit, "NUEVA", "C"), "4");
  EXPECT_EQ(tail::GetString(audit, "ANTES", "A"), "1");
  EXPECT_EQ(tail::GetString(audit, std::string(100000, 'y'), "B"), "");
}

}  // namespace
