#include "interface/CAuditor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RecordsFixture.h"
#include "common/platform/clock.h"
#include "common/platform/profile.h"
#include "interface/CFileAdmin.h"

namespace {

using namespace records_test;
using ns::CAuditor;
namespace clock = ns::platform::clock;
namespace profile = ns::platform::profile;

const char* kKeys[] = {"FECHA_ENVIO",      "PETICION_GENERADA",  "MENSAJE_ENVIADO",
                       "MENSAJE_RECIBIDO", "RESPUESTA_GENERADA", "TEXTO_RESPUESTA"};

class AuditorTest : public RecordsTest {
 protected:
  void SetUp() override {
    RecordsTest::SetUp();
    clock::SetNowForTesting([] { return clock::LocalTime{2026, 12, 7, 9, 5, 3}; });
    ns::CFileAdmin().MakeAuditor();
  }
  void TearDown() override {
    clock::SetNowForTesting({});
    RecordsTest::TearDown();
  }
  std::string Key(const CAuditor& auditor, const std::string& id, const char* key) {
    return profile::GetString(auditor.OutputFileName(), id, key, "<absent>");
  }
};

TEST_F(AuditorTest, DailyFileFollowsTheDayOfEachWrite) {
  CAuditor auditor;
  EXPECT_TRUE(auditor.Enable());
  EXPECT_FALSE(auditor.DiaryStore());
  EXPECT_EQ(auditor.OutputFileName(), Path("Auditoria/audit.log"));
  auditor.set_DiaryStore(true);
  EXPECT_EQ(auditor.OutputFileName(), Path("Auditoria/261207.log"));
  // Past midnight an auditor created the day before writes where a new executor writes: a late
  // answer's marks and the application's fallback mark meet in one record.
  clock::SetNowForTesting([] { return clock::LocalTime{2026, 12, 8, 0, 0, 1}; });
  EXPECT_EQ(auditor.OutputFileName(), Path("Auditoria/261208.log"));
  auditor.Save("RX1", ns::audSetResponse, ns::rcvXML);
  EXPECT_EQ(profile::GetString(Path("Auditoria/261208.log"), "RX1", "RESPUESTA_GENERADA"), "xml");
}

TEST_F(AuditorTest, AHeaderWritesSixKeysInOrder) {
  CAuditor auditor;
  ASSERT_TRUE(auditor.Save("P1", ns::audHeader));
  EXPECT_EQ(Key(auditor, "P1", "FECHA_ENVIO"), "26/12/07 09:05:03");
  EXPECT_EQ(Key(auditor, "P1", "MENSAJE_RECIBIDO"), "No");
  EXPECT_EQ(Key(auditor, "P1", "TEXTO_RESPUESTA"), "");
  // In the order the header creates them.
  std::string text = ReadAll(auditor.OutputFileName());
  std::size_t at = text.find("[P1]");
  for (const char* key : kKeys) {
    at = text.find(std::string(key) + "=", at);
    ASSERT_NE(at, std::string::npos) << key;
  }

  auditor.set_DiaryStore(true);
  ASSERT_TRUE(auditor.Save("P1", ns::audHeader));
  EXPECT_EQ(Key(auditor, "P1", "FECHA_ENVIO"), "09:05:03");
  EXPECT_TRUE(Exists(Path("Auditoria/261207.log")));
}

TEST_F(AuditorTest, MarksOverwriteOnlyTheirOwnKey) {
  CAuditor auditor;
  ASSERT_TRUE(auditor.Save("P1", ns::audHeader));
  EXPECT_TRUE(auditor.Save("P1", ns::audMarkPetitionDone));
  EXPECT_TRUE(auditor.Save("P1", ns::audMarkMsgSended));
  EXPECT_TRUE(auditor.Save("P1", ns::audMarkMsgReceived));
  EXPECT_TRUE(auditor.Save("P1", ns::audSetResponse, ns::rcvXML));
  EXPECT_TRUE(auditor.Save("P1", ns::audSetTextResponse, ns::rcvNone, "W1.Aviso & más"));
  EXPECT_EQ(Key(auditor, "P1", "PETICION_GENERADA"), "Si");
  EXPECT_EQ(Key(auditor, "P1", "MENSAJE_RECIBIDO"), "Si");
  EXPECT_EQ(Key(auditor, "P1", "RESPUESTA_GENERADA"), "xml");
  EXPECT_EQ(Key(auditor, "P1", "TEXTO_RESPUESTA"), "W1.Aviso & más");

  EXPECT_TRUE(auditor.Save("P1", ns::audSetResponse));
  EXPECT_EQ(Key(auditor, "P1", "RESPUESTA_GENERADA"), "");

  // A header again starts the record over.
  EXPECT_TRUE(auditor.Save("P1", ns::audHeader));
  EXPECT_EQ(Key(auditor, "P1", "MENSAJE_ENVIADO"), "No");
  EXPECT_EQ(Key(auditor, "P1", "RESPUESTA_GENERADA"), "");

  std::string before = ReadAll(auditor.OutputFileName());
  EXPECT_TRUE(auditor.Save("P1", static_cast<ns::AuditTypeEnum>(9)));
  EXPECT_EQ(ReadAll(auditor.OutputFileName()), before);
  EXPECT_TRUE(ErrorNumbers().empty());
}

TEST_F(AuditorTest, WithoutAnIdentifier) {
  CAuditor auditor;
  auditor.set_Enable(false);
  EXPECT_TRUE(auditor.Save("", ns::audHeader));
  EXPECT_TRUE(auditor.Save("P1", ns::audHeader));
  EXPECT_FALSE(Exists(auditor.OutputFileName()));
  EXPECT_TRUE(ErrorNumbers().empty());

  auditor.set_Enable(true);
  EXPECT_FALSE(auditor.Save("", ns::audHeader));
  EXPECT_FALSE(auditor.StoreInDelayed(""));
  EXPECT_EQ(ErrorNumbers(), (std::vector<int>{32006, 32006}));
  EXPECT_NE(Log().find("CAuditor.Save:(32006)No se encuentra el identificador de la "
                       "preescripción"),
            std::string::npos);

  // A write the file system refuses does not fail the audit.
  std::filesystem::remove_all(Path("Auditoria"));
  EXPECT_TRUE(auditor.Save("P1", ns::audHeader));
  EXPECT_EQ(ErrorNumbers().size(), 2u);
}

TEST_F(AuditorTest, AnAnswerIsLateOnceTheResponseKindIsRecorded) {
  CAuditor auditor;
  EXPECT_FALSE(auditor.StoreInDelayed("P1"));
  auditor.Save("P1", ns::audHeader);
  EXPECT_FALSE(auditor.StoreInDelayed("P1"));
  auditor.Save("P1", ns::audSetResponse, ns::rcvService);
  EXPECT_TRUE(auditor.StoreInDelayed("P1"));
  // Consulted whether auditing is on or not.
  auditor.set_Enable(false);
  EXPECT_TRUE(auditor.StoreInDelayed("P1"));
}

TEST_F(AuditorTest, ConcurrentProcessesLoseNoMark) {
  std::string file = CAuditor().OutputFileName();
  bool ok = RunInChildren(8, [](int child) {
    CAuditor auditor;
    for (int round = 0; round < 5; ++round) {
      std::string id = "P" + std::to_string(child) + "-" + std::to_string(round);
      if (!auditor.Save(id, ns::audHeader) || !auditor.Save(id, ns::audMarkPetitionDone) ||
          !auditor.Save(id, ns::audMarkMsgSended) || !auditor.Save(id, ns::audMarkMsgReceived) ||
          !auditor.Save(id, ns::audSetResponse, ns::rcvService) ||
          !auditor.Save(id, ns::audSetTextResponse, ns::rcvNone, "texto " + id))
        return false;
    }
    return true;
  });
  ASSERT_TRUE(ok);
  for (int child = 0; child < 8; ++child) {
    for (int round = 0; round < 5; ++round) {
      std::string id = "P" + std::to_string(child) + "-" + std::to_string(round);
      auto key = [&](const char* name) { return profile::GetString(file, id, name, "<absent>"); };
      EXPECT_EQ(key("FECHA_ENVIO"), "26/12/07 09:05:03") << id;
      EXPECT_EQ(key("PETICION_GENERADA"), "Si") << id;
      EXPECT_EQ(key("MENSAJE_ENVIADO"), "Si") << id;
      EXPECT_EQ(key("MENSAJE_RECIBIDO"), "Si") << id;
      EXPECT_EQ(key("RESPUESTA_GENERADA"), "srv") << id;
      EXPECT_EQ(key("TEXTO_RESPUESTA"), "texto " + id) << id;
    }
  }
}

// A hostile answer text of any size costs the audit file 254 characters, cut between characters.
TEST_F(AuditorTest, TheResponseTextIsBounded) {
  CAuditor auditor;
  std::string huge;
  for (int i = 0; i < 100000; ++i) huge += "ñ";
  ASSERT_TRUE(auditor.Save("P1", ns::audSetTextResponse, ns::rcvNone, "A" + huge));
  std::string kept = Key(auditor, "P1", "TEXTO_RESPUESTA");
  EXPECT_EQ(kept, "A" + huge.substr(0, 2 * 253));
  EXPECT_LT(std::filesystem::file_size(auditor.OutputFileName()), 1024u);
  ASSERT_TRUE(auditor.Save("P2", ns::audSetTextResponse, ns::rcvNone, "0000.Dispensación hecha"));
  EXPECT_EQ(Key(auditor, "P2", "TEXTO_RESPUESTA"), "0000.Dispensación hecha");
}

}  // namespace
