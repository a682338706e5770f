#include "common/platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <stdexcept>
#include <string>

#include "common/platform/convert.h"
#include "tests/common/TempFolder.h"

using namespace PRESCORA_NS::platform;

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  std::string Ini(const std::string& text) {
    WriteAll(file_, text);
    return file_;
  }
  TempFolder dir_;
  std::string file_ = dir_ / "Interface.ini";
};

TEST_F(ProfileTest, ReadsNamesWithoutRegardToCaseOrSpaces) {
  Ini("[Configuracion]\nServicio=http://a/b?wsdl\n  GenerarLog  =  1  \n[ Proxy ]\nPuerto=8080\n");
  EXPECT_EQ(profile::GetString(file_, "configuracion", "SERVICIO"), "http://a/b?wsdl");
  EXPECT_EQ(profile::GetString(file_, "Configuracion", "GenerarLog"), "1");
  EXPECT_EQ(profile::GetString(file_, "PROXY", "puerto"), "8080");
  EXPECT_EQ(profile::GetString(file_, " Proxy ", " Puerto "), "8080");
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(profile::GetString(dir_ / "none.ini", "A", "b"), "");
  Ini("[A]\nb=1\n; c=2\n[B]\nc=3\n");
  EXPECT_EQ(profile::GetString(file_, "Z", "b"), "");
  EXPECT_EQ(profile::GetString(file_, "A", "c"), "");  // c belongs to B; ";" is a comment
  EXPECT_EQ(profile::GetString(file_, "A", "z", "fallback"), "fallback");
  EXPECT_EQ(profile::GetString(file_, "A", ""), "");
}

TEST_F(ProfileTest, StripsMatchingQuotesOnly) {
  Ini("[A]\nd=\"quoted\"\ns='single'\nm=\"mixed'\nh=\"\nin=a \"b\" c\ne=\"\"\n");
  EXPECT_EQ(profile::GetString(file_, "A", "d"), "quoted");
  EXPECT_EQ(profile::GetString(file_, "A", "s"), "single");
  EXPECT_EQ(profile::GetString(file_, "A", "m"), "\"mixed'");
  EXPECT_EQ(profile::GetString(file_, "A", "h"), "\"");
  EXPECT_EQ(profile::GetString(file_, "A", "in"), "a \"b\" c");
  EXPECT_EQ(profile::GetString(file_, "A", "e"), "");
}

TEST_F(ProfileTest, FirstOccurrenceWinsAndOtherLinesAreNoKeys) {
  Ini("\xEF\xBB\xBF[A]\r\nk=first\r\nnot a key\r\nk=second\r\n[a]\r\nx=other\r\n");
  EXPECT_EQ(profile::GetString(file_, "A", "k"), "first");
  EXPECT_EQ(profile::GetString(file_, "A", "x"), "");  // only the first [A] is looked at
  EXPECT_EQ(profile::GetString(file_, "A", "not a key"), "");
}

TEST_F(ProfileTest, SettingsReadTogetherComeFromOneReadingUntilAWrite) {
  Ini("[A]\nb=1\nc=2\n");
  const std::string other = dir_ / "otro.ini";
  WriteAll(other, "[A]\nb=9\n");
  {
    profile::ReadTogether together(file_);
    EXPECT_EQ(profile::GetString(file_, "A", "b"), "1");
    Ini("[A]\nb=3\nc=4\n");  // changed by someone else meanwhile
    EXPECT_EQ(profile::GetString(file_, "A", "c"), "2");
    EXPECT_EQ(profile::GetString(file_, "A", "z", "x"), "x");
    WriteAll(other, "[A]\nb=8\n");  // another file is read as it is
    EXPECT_EQ(profile::GetString(other, "A", "b"), "8");
    ASSERT_TRUE(profile::WriteString(file_, "A", "c", "5"));  // this thread's own write is seen
    EXPECT_EQ(profile::GetString(file_, "A", "b"), "3");
    EXPECT_EQ(profile::GetString(file_, "A", "c"), "5");
  }
  Ini("[A]\nb=6\n");
  EXPECT_EQ(profile::GetString(file_, "A", "b"), "6");
}

TEST_F(ProfileTest, BufferOfNCharactersGivesAtMostNMinusOne) {
  std::string longValue(300, 'x');
  Ini("[A]\nlong=" + longValue + "\nacc=" + std::string(10, 'a') + "\n");
  EXPECT_EQ(profile::GetString(file_, "A", "long"), std::string(254, 'x'));
  EXPECT_EQ(profile::GetString(file_, "A", "long", "", 10), std::string(9, 'x'));
  EXPECT_EQ(profile::GetString(file_, "A", "long", "", 1), "");
  EXPECT_EQ(profile::GetString(file_, "A", "long", "", 0), "");
  // Characters, not bytes: a multi-byte letter is never cut in half.
  std::string enes;
  for (int i = 0; i < 300; ++i) enes += "ñ";
  Ini("[A]\nv=" + enes + "\n");
  std::string read = profile::GetString(file_, "A", "v");
  EXPECT_EQ(read.size(), 254u * 2);
  EXPECT_EQ(read, enes.substr(0, 254 * 2));
}

TEST_F(ProfileTest, WriteCreatesFileSectionAndKeyButNoFolder) {
  EXPECT_TRUE(profile::WriteString(file_, "Seguimiento", "Auditar", "1"));
  EXPECT_EQ(profile::GetString(file_, "Seguimiento", "Auditar"), "1");
  EXPECT_TRUE(profile::WriteString(file_, "MensajeSOAP", "Enviados", "0"));
  EXPECT_TRUE(profile::WriteString(file_, "Seguimiento", "ArchivoDiario", ""));
  EXPECT_EQ(ReadAll(file_),
            "[Seguimiento]\nAuditar=1\nArchivoDiario=\n[MensajeSOAP]\nEnviados=0\n");
  EXPECT_FALSE(profile::WriteString(dir_ / "missing/Interface.ini", "A", "b", "c"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
  EXPECT_FALSE(profile::WriteString(file_, "", "b", "c"));
  EXPECT_FALSE(profile::WriteString(file_, "A", " ", "c"));
}

TEST_F(ProfileTest, WriteKeepsEveryOtherLineCommentAndOrder) {
  const std::string before =
      "; Prescora settings\r\n"
      "[Configuracion]\r\n"
      "Servicio = http://host/ws?wsdl\r\n"
      "GenerarLog=1\r\n"
      "\r\n"
      "; counters\r\n"
      "[MensajeSOAP]\r\n"
      "ENVIADOS=41\r\n"
      "Recibidos=7\r\n"
      "\r\n"
      "[Proxy]\r\n"
      "Servidor=\r\n";
  Ini(before);
  EXPECT_TRUE(profile::WriteString(file_, "mensajesoap", "Enviados", "42"));
  EXPECT_TRUE(profile::WriteString(file_, "Configuracion", "GenerarTrace", "0"));
  std::string expected = before;
  expected.replace(expected.find("ENVIADOS=41"), 11, "ENVIADOS=42");
  expected.insert(expected.find("GenerarLog=1\r\n") + 14, "GenerarTrace=0\r\n");
  EXPECT_EQ(ReadAll(file_), expected);
}

TEST_F(ProfileTest, WriteStringsSetsSeveralKeysAtOnce) {
  Ini("[ID1]\nFECHA_ENVIO=old\n");
  EXPECT_TRUE(profile::WriteStrings(file_, "ID1",
                                    {{"FECHA_ENVIO", "26/12/07 10:00:00"},
                                     {"PETICION_GENERADA", "No"},
                                     {"RESPUESTA_GENERADA", ""}}));
  EXPECT_EQ(ReadAll(file_),
            "[ID1]\nFECHA_ENVIO=26/12/07 10:00:00\nPETICION_GENERADA=No\nRESPUESTA_GENERADA=\n");
}

TEST_F(ProfileTest, ValueCannotForgeLinesOfItsOwn) {
  Ini("[Proxy]\nUsarProxy=0\n");
  EXPECT_TRUE(profile::WriteString(file_, "ID1", "TEXTO_RESPUESTA", "x\n[Proxy]\r\nUsarProxy=1"));
  EXPECT_EQ(profile::GetString(file_, "Proxy", "UsarProxy"), "0");
  EXPECT_EQ(profile::GetString(file_, "ID1", "TEXTO_RESPUESTA"), "x [Proxy]  UsarProxy=1");
}

TEST_F(ProfileTest, WriteKeepsPermissionsAndLeavesNoTemporaryFile) {
  Ini("[A]\nk=1\n");
  ASSERT_EQ(chmod(file_.c_str(), 0640), 0);
  EXPECT_TRUE(profile::WriteString(file_, "A", "k", "2"));
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    names.insert(entry.path().filename());
  // The lock is the folder's own: no lock file stays behind.
  EXPECT_EQ(names, (std::set<std::string>{"Interface.ini"}));
}

TEST_F(ProfileTest, FolderInTheFilesPlaceIsLeftAlone) {
  std::filesystem::create_directory(dir_ / "folder.ini");
  WriteAll(dir_ / "folder.ini/inside", "x");
  EXPECT_FALSE(profile::WriteString(dir_ / "folder.ini", "A", "k", "1"));
  EXPECT_EQ(ReadAll(dir_ / "folder.ini/inside"), "x");
  EXPECT_EQ(profile::GetString(dir_ / "folder.ini", "A", "k", "default"), "default");
}

TEST_F(ProfileTest, FileNameDiffersOnlyInCase) {
  // One library names the file "Interface.ini", the other "interface.ini".
  Ini("[Tarjeta]\nQuitarCeros=1\n");
  std::string lower = dir_ / "interface.ini";
  EXPECT_EQ(profile::GetString(lower, "Tarjeta", "QuitarCeros"), "1");
  EXPECT_TRUE(profile::WriteString(lower, "Tarjeta", "QuitarCeros", "0"));
  EXPECT_FALSE(std::filesystem::exists(lower));  // no second file
  EXPECT_EQ(profile::GetString(file_, "Tarjeta", "QuitarCeros"), "0");
}

TEST_F(ProfileTest, UpdateReadsAndRewritesUnderTheLock) {
  Ini("[MensajeSOAP]\nEnviados=41\n");
  auto increment = [](const std::string& current) -> std::optional<std::string> {
    if (!convert::IsNumeric(current)) return "0";
    return std::to_string(convert::ToInt32(current) + 1);
  };
  EXPECT_TRUE(profile::Update(file_, "MensajeSOAP", "Enviados", increment));
  EXPECT_EQ(profile::GetString(file_, "MensajeSOAP", "Enviados"), "42");
  EXPECT_TRUE(profile::Update(file_, "MensajeSOAP", "Recibidos", increment));
  EXPECT_EQ(profile::GetString(file_, "MensajeSOAP", "Recibidos"), "0");

  std::string before = ReadAll(file_);
  EXPECT_TRUE(profile::Update(file_, "MensajeSOAP", "Enviados",
                              [](const std::string&) { return std::nullopt; }));
  EXPECT_EQ(ReadAll(file_), before);

  EXPECT_THROW(profile::Update(file_, "MensajeSOAP", "Enviados",
                               [](const std::string&) -> std::optional<std::string> {
                                 throw std::runtime_error("boom");
                               }),
               std::runtime_error);
  EXPECT_EQ(ReadAll(file_), before);
  // The lock was released: the next write goes through.
  EXPECT_TRUE(profile::WriteString(file_, "MensajeSOAP", "Enviados", "1"));
}

// A count of the old one's length is written over it where it stands: the same file, every other
// byte as it was. One that grows replaces the file as any write does.
TEST_F(ProfileTest, UpdateOfACountWritesItWhereItStands) {
  Ini("; settings\n[MensajeSOAP]\nEnviados=41\nRecibidos=99\n[Otra]\nk=v\n");
  auto increment = [](const std::string& current) -> std::optional<std::string> {
    return std::to_string(convert::ToInt32(current) + 1);
  };
  struct stat before {
  }, after{};
  ASSERT_EQ(stat(file_.c_str(), &before), 0);
  EXPECT_TRUE(profile::Update(file_, "MensajeSOAP", "Enviados", increment));
  ASSERT_EQ(stat(file_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadAll(file_), "; settings\n[MensajeSOAP]\nEnviados=42\nRecibidos=99\n[Otra]\nk=v\n");
  EXPECT_TRUE(profile::Update(file_, "MensajeSOAP", "Recibidos", increment));
  EXPECT_EQ(ReadAll(file_), "; settings\n[MensajeSOAP]\nEnviados=42\nRecibidos=100\n[Otra]\nk=v\n");
}

TEST_F(ProfileTest, ConcurrentWritersOfDifferentKeysLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kWrites = 250;
  Ini("; shared by every process\n[Configuracion]\nServicio=x\n");
  bool ok = RunInChildren(kProcesses, [&](int process) {
    bool all = true;
    for (int i = 0; i < kWrites; ++i) {
      // Each process writes keys of its own into a section shared by all, and one section of its
      // own, as the front object and the launcher do in the audit file.
      all &= profile::WriteString(file_, "Shared",
                                  "P" + std::to_string(process) + "K" + std::to_string(i),
                                  std::to_string(i));
      all &=
          profile::WriteString(file_, "Own" + std::to_string(process), "last", std::to_string(i));
    }
    return all;
  });
  EXPECT_TRUE(ok);
  for (int process = 0; process < kProcesses; ++process) {
    for (int i = 0; i < kWrites; ++i) {
      ASSERT_EQ(profile::GetString(file_, "Shared",
                                   "P" + std::to_string(process) + "K" + std::to_string(i)),
                std::to_string(i))
          << "process " << process << " write " << i;
    }
    EXPECT_EQ(profile::GetString(file_, "Own" + std::to_string(process), "last"),
              std::to_string(kWrites - 1));
  }
  EXPECT_EQ(profile::GetString(file_, "Configuracion", "Servicio"), "x");
  EXPECT_EQ(ReadAll(file_).rfind("; shared by every process\n", 0), 0u);
}

TEST_F(ProfileTest, ConcurrentUpdatesOfOneCounterLoseNoIncrement) {
  constexpr int kProcesses = 4;
  constexpr int kUpdates = 100;
  bool ok = RunInChildren(kProcesses, [&](int) {
    bool all = true;
    for (int i = 0; i < kUpdates; ++i) {
      all &= profile::Update(file_, "MensajeSOAP", "Enviados", [](const std::string& current) {
        return std::optional<std::string>(
            std::to_string(convert::IsNumeric(current) ? convert::ToInt32(current) + 1 : 1));
      });
    }
    return all;
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(profile::GetString(file_, "MensajeSOAP", "Enviados"),
            std::to_string(kProcesses * kUpdates));
}

TEST_F(ProfileTest, ReadersNeverSeeHalfAFile) {
  std::string filler(20000, 'z');
  Ini("[A]\nfiller=" + filler + "\nk=0\n");
  bool ok = RunInChildren(2, [&](int role) {
    if (role == 0) {
      bool all = true;
      for (int i = 1; i <= 200; ++i)
        all &= profile::WriteString(file_, "A", "k", std::to_string(i));
      return all;
    }
    for (int i = 0; i < 400; ++i) {
      if (profile::GetString(file_, "A", "k").empty()) return false;
    }
    return true;
  });
  EXPECT_TRUE(ok);
}

}  // namespace
