// The personal certificate store on a real NSS database with a SoftHSM token.
#include "common/platform/certstore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "common/platform/errors.h"
#include "tests/support/CardStore.h"

namespace {

namespace certstore = PRESCORA_NS::platform::certstore;
using PRESCORA_NS::platform::Failure;

// HOME pointed elsewhere for one test.
class HomeAt {
 public:
  explicit HomeAt(const std::string& folder) {
    if (const char* home = std::getenv("HOME")) previous_ = home;
    setenv("HOME", folder.c_str(), 1);
  }
  ~HomeAt() { setenv("HOME", previous_.c_str(), 1); }

 private:
  std::string previous_;
};

TEST(Certstore, NamesAsTheDesktopPlatformWritesThem) {
  CardStore store;
  ASSERT_TRUE(store.ok()) << store.log();
  ASSERT_TRUE(store.AddCard(
      "/C=ES/O=Salud, S.A./serialNumber=TIS 00012345/SN=BAUTISTA/GN=MARIA/CN=MARIA BAUTISTA"))
      << store.log();
  ASSERT_TRUE(store.AddCard("/C=ES/O=Servicio/OU=Farmacia Central", "Autoridad Única"))
      << store.log();

  auto certificates = certstore::Look({store.database(), ""});
  ASSERT_EQ(certificates.size(), 2u);
  if (certificates[0].issuerSimpleName != "Tarjeta Sanitaria")
    std::swap(certificates[0], certificates[1]);

  EXPECT_EQ(certificates[0].issuerSimpleName, "Tarjeta Sanitaria");
  EXPECT_EQ(certificates[0].subjectSimpleName, "MARIA BAUTISTA");
  // Most specific part first; a value holding a comma is quoted.
  EXPECT_EQ(certificates[0].subjectName,
            "CN=MARIA BAUTISTA, G=MARIA, SN=BAUTISTA, SERIALNUMBER=TIS 00012345, "
            "O=\"Salud, S.A.\", C=ES");
  // No common name: the organizational unit stands in; UTF-8 kept.
  EXPECT_EQ(certificates[1].issuerSimpleName, "Autoridad Única");
  EXPECT_EQ(certificates[1].subjectSimpleName, "Farmacia Central");
  EXPECT_EQ(certificates[1].subjectName, "OU=Farmacia Central, O=Servicio, C=ES");
}

TEST(Certstore, TheSubjectAsNssParsedIt) {
  CardStore store;
  ASSERT_TRUE(store.ok()) << store.log();
  ASSERT_TRUE(store.AddCard("/C=ES/CN=GARCIA, ANA+serialNumber=TIS 1")) << store.log();

  const auto certificates = certstore::Look({store.database(), ""});
  ASSERT_EQ(certificates.size(), 1u);
  const auto& subject = certificates[0].subject;
  // A multi-valued part keeps its attributes together; a comma is part of a value, never quoted.
  ASSERT_EQ(subject.size(), 2u);
  ASSERT_EQ(subject[0].size(), 2u);
  std::map<std::string, std::string> part;
  for (const auto& attribute : subject[0]) part[attribute.key] = attribute.value;
  EXPECT_EQ(part["CN"], "GARCIA, ANA");
  EXPECT_EQ(part["SERIALNUMBER"], "TIS 1");
  EXPECT_EQ(subject[1][0].key, "C");
  EXPECT_EQ(subject[1][0].value, "ES");
  EXPECT_NE(certificates[0].subjectName.find("CN=\"GARCIA, ANA\""), std::string::npos)
      << certificates[0].subjectName;
}

TEST(Certstore, CertificatesAreVerifiedAgainstTheDatabasesAuthorities) {
  CardStore store;
  ASSERT_TRUE(store.ok()) << store.log();
  using Forgery = CardStore::Forgery;
  for (Forgery forgery : {Forgery::kNone, Forgery::kUntrustedAuthority, Forgery::kBrokenSignature})
    ASSERT_TRUE(store.AddCard({"/CN=" + std::to_string(static_cast<int>(forgery)),
                               "Tarjeta Sanitaria", CardStore::kToken, forgery}))
        << store.log();

  for (bool verify : {true, false}) {
    SCOPED_TRACE(verify);
    std::map<std::string, std::string> refusals;
    for (const auto& certificate : certstore::Look({store.database(), "", verify}))
      refusals[certificate.subjectSimpleName] = certificate.refusal;
    ASSERT_EQ(refusals.size(), 3u);
    EXPECT_EQ(refusals["0"], "");
    EXPECT_EQ(refusals["1"].empty(), !verify) << refusals["1"];
    EXPECT_EQ(refusals["2"].empty(), !verify) << refusals["2"];
  }
  // Only the certificates the caller wants are kept.
  const auto wanted = certstore::Look(
      {store.database(), ""}, [](const auto& names) { return names.subjectSimpleName == "1"; });
  ASSERT_EQ(wanted.size(), 1u);
  EXPECT_NE(wanted[0].refusal, "");
}

TEST(Certstore, EveryLookSeesTheStoreAsItIsNow) {
  CardStore store;
  ASSERT_TRUE(store.ok()) << store.log();
  const certstore::Location location{store.database(), ""};
  EXPECT_TRUE(certstore::Look(location).empty());

  // A certificate written onto a token already there.
  ASSERT_TRUE(store.AddCard("/serialNumber=TIS 1/CN=PRIMERA")) << store.log();
  EXPECT_EQ(certstore::Look(location).size(), 1u);

  // A token that appears after the earlier looks (a card put into the reader).
  ASSERT_TRUE(store.AddToken("segunda")) << store.log();
  ASSERT_TRUE(store.AddCard("/serialNumber=TIS 2/CN=SEGUNDA", "Tarjeta Sanitaria", "segunda"))
      << store.log();
  EXPECT_EQ(certstore::Look(location).size(), 2u);
}

TEST(Certstore, WhereTheStoreIs) {
  CardStore store;
  ASSERT_TRUE(store.ok()) << store.log();
  ASSERT_TRUE(store.AddCard("/serialNumber=TIS 7/CN=SIETE")) << store.log();
  TempFolder emptyHome;

  {
    // No database named: the user's own, under HOME.
    HomeAt home(store.home());
    EXPECT_EQ(certstore::DefaultDatabase(), "sql:" + store.home() + "/.pki/nssdb");
    EXPECT_EQ(certstore::Look({}).size(), 1u);
  }
  {
    // A user without a database: an empty store, which the card reader's module alone fills.
    HomeAt home(emptyHome.path());
    EXPECT_TRUE(certstore::Look({}).empty());
    EXPECT_EQ(certstore::Look({"", store.module()}).size(), 1u);
  }
  // A misspelt module fails the call instead of leaving it to time out.
  try {
    certstore::Look({store.database(), emptyHome.path() + "/no-existe.so"});
    ADD_FAILURE() << "a module that does not load must fail";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Number(), 48);
  }
}

}  // namespace
