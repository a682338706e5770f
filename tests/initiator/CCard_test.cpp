// Reading the health card from a real NSS database with a SoftHSM token, made for the tests.
#include "initiator/CCard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/modGlobal.h"
#include "common/platform/certstore.h"
#include "common/platform/clock.h"
#include "common/platform/component.h"
#include "common/platform/events.h"
#include "tests/support/CardStore.h"
#include "tests/support/SettingsFile.h"

namespace {

namespace ns = PRESCORA_NS;
namespace clock = ns::platform::clock;

using Forgery = CardStore::Forgery;

// Each issuer stands for one kind of card in the one store the tests share.
const CardStore::Card kCards[] = {
    {"/C=ES/serialNumber=TIS 00012345/CN=ANA PEREZ", "Tarjeta Sanitaria"},
    {"/C=ES/serialNumber=TIS 00012345/CN=MARIA BAUTISTA GARCIA", "Emisor Bautista"},
    {"/C=ES/serialNumber=NIF 12345678Z - TIS 00067890/CN=LUIS CURTIS", "Emisor Segmentos"},
    {"/C=ES/serialNumber=TIS 0001234A/CN=EVA LOPEZ", "Emisor Letras"},
    // On two tokens: the order of the tokens holds from one look to the next, while SoftHSM gives
    // the objects of one token in an order of its own each session.
    {"/C=ES/serialNumber=TIS 111/CN=UNO", "Emisor Doble", "doble1"},
    {"/C=ES/serialNumber=TIS 222/CN=DOS", "Emisor Doble", "doble2"},
    // The holder's name, which the holder chooses, holds the marker too.
    {"/C=ES/serialNumber=TIS 00012345/CN=ANA TIS 66666666", "Emisor Orden"},
    {"/C=ES/CN=ANA+serialNumber=TIS 00012345", "Emisor Multiple"},
    // No serialNumber: the identifier in a quoted name, whose comma is not a separator.
    {"/C=ES/CN=GARCIA, ANA TIS 00012345", "Emisor Comillas"},
    {"/C=ES/serialNumber=TIS: 00012345/CN=LUIS", "Emisor Dos Puntos"},
    {"/C=ES/serialNumber=NIF 12345678Z TIS-00067890/CN=LUIS", "Emisor Guion"},
    // A NUL in the identifier: a C host would see 0001.
    {"/C=ES/serialNumber=TIS 0001X2345/CN=ANA", "Emisor Nulo", CardStore::kToken, Forgery::kNone,
     "0001X2345", std::string("0001\0002345", 9)},
    {"/C=ES/serialNumber=TIS 00012345/CN=ANA [31mROJA", "Emisor Escape", CardStore::kToken,
     Forgery::kNone, "[31m", "\x1b[31"},
    {"/C=ES/serialNumber=TIS 00012345/CN=ANA", "Emisor Falso", CardStore::kToken,
     Forgery::kUntrustedAuthority},
    {"/C=ES/serialNumber=TIS 00012345/CN=ANA", "Emisor Roto", CardStore::kToken,
     Forgery::kBrokenSignature},
};

// The clock as the wait sees it: every reading of the time of day a second later than the one
// before and every reading of the tick counter a second on, so each pass looks at the store and
// the time-out counts passes. The wait's own rules decide the rest, without real waiting.
class FastClock {
 public:
  FastClock() {
    clock::SetNowForTesting([this] {
      ++seconds_;
      return clock::LocalTime{2026, 12, 8, 10, seconds_ / 60 % 60, seconds_ % 60};
    });
    clock::SetTickSourceForTesting([this] { return ticks_ += 1000; });
  }
  ~FastClock() {
    clock::SetNowForTesting({});
    clock::SetTickSourceForTesting({});
  }

 private:
  int seconds_ = 0;
  uint32_t ticks_ = 0;
};

class CCardTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    store_ = std::make_unique<CardStore>();
    cardsMade_ = store_->ok() && store_->AddToken("doble1") && store_->AddToken("doble2");
    for (const CardStore::Card& card : kCards) cardsMade_ = cardsMade_ && store_->AddCard(card);
  }
  static void TearDownTestSuite() { store_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(cardsMade_) << store_->log();
    ns::platform::component::SetLibraryFolderForTesting(library_.path());
    ns::objErrores().ResetErrorsCollection();
  }
  void TearDown() override { ns::platform::component::SetLibraryFolderForTesting(""); }

  // The sample settings, pointed at the test store, with `changes` over them.
  void Settings(SettingsChanges changes = {}) {
    SettingsChanges all{{"Tarjeta.BaseDatosCertificados", store_->database()},
                        {"Tarjeta.InsercionTarjetaTimeOut", "5"},
                        {"Tarjeta.IntervaloComprobacion", "1"},
                        {"Tarjeta.QuitarCeros", "0"}};
    for (auto& [key, value] : changes) all[key] = value;
    WriteSettings(library_ / "Interface.ini", all);
  }

  bool Read() { return ns::CCard().GetCardData(argument_, error_); }

  static std::unique_ptr<CardStore> store_;
  static bool cardsMade_;
  TempFolder library_;
  ns::CArgument argument_;
  ns::CErrorItem error_;
};
std::unique_ptr<CardStore> CCardTest::store_;
bool CCardTest::cardsMade_ = false;

struct Reading {
  const char* issuer;
  const char* marker;
  const char* quitarCeros;
  const char* tis;     // expected; nullptr: the call fails
  const char* holder;  // expected holder, or the failure's number as text
};

TEST_F(CCardTest, IdentifierAndHolderFromTheSubject) {
  const Reading readings[] = {
      {"tarjeta sanitaria", "TIS", "0", "00012345", "ANA PEREZ"},
      {"tarjeta sanitaria", "TIS", "True", "12345", "ANA PEREZ"},
      // The surname holds the marker; the common name comes first in the subject.
      {"emisor bautista", "TIS", "-1", "12345", "MARIA BAUTISTA GARCIA"},
      // The marker in the second segment, after a blank.
      {"emisor segmentos", "TIS", "0", "00067890", "LUIS CURTIS"},
      {"emisor letras", "TIS", "Falso", "0001234A", "EVA LOPEZ"},
      {"emisor letras", "TIS", "1", nullptr, "13"},
      // The issuer is lower-cased before the comparison: capitals never match.
      {"Tarjeta Sanitaria", "TIS", "0", nullptr, "32018"},
      // The subject is split at "-" first: such a marker is never found.
      {"tarjeta sanitaria", "-TIS", "0", nullptr, "32018"},
      // The serialNumber, when there is one, and nothing else.
      {"emisor orden", "TIS", "0", "00012345", "ANA TIS 66666666"},
      {"emisor multiple", "TIS", "0", "00012345", "ANA"},
      {"emisor comillas", "TIS", "1", "12345", "GARCIA, ANA TIS 00012345"},
      // The marker followed by punctuation is still the marker.
      {"emisor dos puntos", "TIS", "0", "00012345", "LUIS"},
      {"emisor guion", "TIS", "0", "00067890", "LUIS"},
      // Control characters in what the card gives: refused at once, not waited on.
      {"emisor nulo", "TIS", "0", nullptr, "5"},
      {"emisor escape", "TIS", "0", nullptr, "5"},
  };
  for (const Reading& reading : readings) {
    SCOPED_TRACE(std::string(reading.issuer) + " / " + reading.marker + " / " +
                 reading.quitarCeros);
    Settings({{"Tarjeta.CertIssuerSimpleName", reading.issuer},
              {"Tarjeta.IdentificadorTIS", reading.marker},
              {"Tarjeta.QuitarCeros", reading.quitarCeros}});
    argument_ = ns::CArgument();
    error_.set_Number(999);  // cleared by every call
    FastClock fast;
    if (reading.tis != nullptr) {
      EXPECT_TRUE(Read()) << error_.Description();
      EXPECT_EQ(argument_.TIS(), reading.tis);
      EXPECT_EQ(argument_.TitularTarjeta(), reading.holder);
      EXPECT_EQ(error_.Number(), 0);
    } else {
      EXPECT_FALSE(Read());
      EXPECT_EQ(std::to_string(error_.Number()), reading.holder);
      EXPECT_EQ(argument_.TIS(), "");
    }
  }
}

TEST_F(CCardTest, OnlyCertificatesTheDatabaseVerifiesAreRead) {
  struct Case {
    const char* issuer;
    const char* verify;  // VerificarCertificado; nullptr: not in the file
    bool read;
  };
  const Case cases[] = {
      {"tarjeta sanitaria", nullptr, true},
      // Signed by another key under the trusted authority's name, or with its signature broken.
      {"emisor falso", nullptr, false},
      {"emisor roto", "1", false},
      // A site that turned the check off reads them, and the log says so.
      {"emisor falso", "0", true},
      {"emisor roto", "0", true},
  };
  ns::objLog().set_FileName(library_ / "Initiator.log");
  ns::objLog().set_Options(ns::CLog::optWriteToFile);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.issuer) + " / " + (c.verify ? c.verify : "-"));
    Settings({{"Tarjeta.CertIssuerSimpleName", c.issuer},
              {"Tarjeta.VerificarCertificado",
               c.verify ? std::optional<std::string>(c.verify) : std::nullopt}});
    argument_ = ns::CArgument();
    FastClock fast;
    EXPECT_EQ(Read(), c.read) << error_.Description();
    if (c.read) {
      EXPECT_EQ(argument_.TIS(), "00012345");
    } else {
      // At once, with why, rather than 32018 after the whole wait.
      EXPECT_EQ(error_.Number(), 5);
      EXPECT_NE(error_.Description().find("no es de confianza"), std::string::npos)
          << error_.Description();
      EXPECT_EQ(argument_.TIS(), "");
    }
  }
  ns::objLog().set_Options(0);
  const std::string log = ReadAll(library_ / "Initiator.log");
  EXPECT_NE(log.find("VerificarCertificado=0"), std::string::npos) << log;
}

TEST_F(CCardTest, TheFirstMatchingCertificateInTheStoresOrderWins) {
  // The test store's order, which the real parts choose.
  std::string first;
  for (const auto& certificate : ns::platform::certstore::Look({store_->database(), ""})) {
    if (certificate.issuerSimpleName == "Emisor Doble") {
      first = certificate.subjectSimpleName;
      break;
    }
  }
  Settings({{"Tarjeta.CertIssuerSimpleName", "emisor doble"}});
  FastClock fast;
  ASSERT_TRUE(Read()) << error_.Description();
  EXPECT_EQ(argument_.TitularTarjeta(), first);
  EXPECT_EQ(argument_.TIS(), first == "UNO" ? "111" : "222");
}

TEST_F(CCardTest, SettingsThatStopTheCallAtOnce) {
  struct Case {
    const char* key;  // removed from the file; nullptr: no settings file at all
    int32_t number;
    const char* source;
  };
  const Case cases[] = {
      {"Tarjeta.InsercionTarjetaTimeOut", 13, "Initiator"},
      {"Tarjeta.IntervaloComprobacion", 13, "Initiator"},
      {"Tarjeta.QuitarCeros", 13, "Initiator"},
      {nullptr, 32016, "GetCardData"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key ? c.key : "no settings file");
    std::remove((library_ / "Interface.ini").c_str());
    if (c.key != nullptr) Settings({{c.key, std::nullopt}});
    EXPECT_FALSE(Read());
    EXPECT_EQ(error_.Number(), c.number);
    EXPECT_EQ(error_.Source(), c.source);
    EXPECT_FALSE(error_.Description().empty());
  }
  EXPECT_EQ(error_.Description(), "No se ha encontrado el archivo de inicialización");
}

TEST_F(CCardTest, TimeOfZeroEndsAfterOnePassWithoutALookInTheSameSecond) {
  Settings({{"Tarjeta.InsercionTarjetaTimeOut", "0"}});
  clock::SetNowForTesting([] { return clock::LocalTime{2026, 12, 8, 10, 0, 0}; });
  int passes = 0;
  ns::platform::events::SetMessageLoopHook([&] { ++passes; });
  EXPECT_FALSE(Read());
  ns::platform::events::SetMessageLoopHook({});
  clock::SetNowForTesting({});
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(error_.Number(), 32018);
  EXPECT_EQ(argument_.TIS(), "");
}

TEST_F(CCardTest, ACardReadInThePassWhereTheTimeRunsOutIsRead) {
  Settings({{"Tarjeta.InsercionTarjetaTimeOut", "5"}});
  // The first pass sees the clock second change and a tick five seconds after the start.
  int nowCalls = 0;
  clock::SetNowForTesting(
      [&] { return clock::LocalTime{2026, 12, 8, 10, 0, nowCalls++ == 0 ? 0 : 1}; });
  int tickCalls = 0;
  clock::SetTickSourceForTesting([&] { return tickCalls++ == 0 ? 100u : 5100u; });
  const bool read = Read();
  clock::SetNowForTesting({});
  clock::SetTickSourceForTesting({});
  EXPECT_TRUE(read) << error_.Description();
  EXPECT_EQ(argument_.TIS(), "00012345");
  EXPECT_EQ(error_.Number(), 0);
}

TEST_F(CCardTest, ACardPutInWhileWaitingIsRead) {
  // Real time: the card's certificate lands on the token a while after the wait began.
  Settings({{"Tarjeta.CertIssuerSimpleName", "emisor tardío"},
            {"Tarjeta.InsercionTarjetaTimeOut", "20"},
            {"Tarjeta.QuitarCeros", "1"}});
  bool written = false;
  std::thread card([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    written = store_->AddCard("/C=ES/serialNumber=TIS 00099999/CN=PEDRO TARDE", "Emisor TARDÍO");
  });
  const bool read = Read();
  card.join();
  ASSERT_TRUE(written) << store_->log();
  EXPECT_TRUE(read) << error_.Description();
  EXPECT_EQ(argument_.TIS(), "99999");
  EXPECT_EQ(argument_.TitularTarjeta(), "PEDRO TARDE");
}

}  // namespace
