#include <gtest/gtest.h>

#include "executor/CommandLine.h"

namespace {

TEST(LauncherArguments, KeyMustBeExactlyIDPres) {
  EXPECT_EQ(executor::RequestIdentifier("IDPres=ABC123"), "ABC123");
  EXPECT_EQ(executor::RequestIdentifier("idpres=ABC123"), std::nullopt);
  EXPECT_EQ(executor::RequestIdentifier("ID=ABC123"), std::nullopt);
  EXPECT_EQ(executor::RequestIdentifier(""), std::nullopt);
  EXPECT_EQ(executor::RequestIdentifier(" IDPres=ABC123"), std::nullopt);
}

TEST(LauncherArguments, OnlyTheFirstPieceAndItsSecondPartCount) {
  EXPECT_EQ(executor::RequestIdentifier("IDPres=ABC123 extra"), "ABC123");
  EXPECT_EQ(executor::RequestIdentifier("IDPres=A=B"), "A");
  // An identifier holding a space arrives cut at it.
  EXPECT_EQ(executor::RequestIdentifier("IDPres=ITP 1"), "ITP");
}

TEST(LauncherArguments, KeyWithoutValueGivesTheEmptyIdentifier) {
  EXPECT_EQ(executor::RequestIdentifier("IDPres"), "");
  EXPECT_EQ(executor::RequestIdentifier("IDPres="), "");
  EXPECT_EQ(executor::RequestIdentifier("IDPres= ABC"), "");
}

TEST(LauncherArguments, ArgumentStringJoinsTheProgramArguments) {
  char program[] = "executor.exe", first[] = "IDPres=A B", second[] = "x";
  char* argv[] = {program, first, second, nullptr};
  EXPECT_EQ(executor::ArgumentString(3, argv), "IDPres=A B x");
  EXPECT_EQ(executor::ArgumentString(1, argv), "");
}

}  // namespace
