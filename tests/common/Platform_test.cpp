// The clock, the message loop and the component runtime.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/platform/clock.h"
#include "common/platform/component.h"
#include "common/platform/errors.h"
#include "common/platform/events.h"
#include "tests/common/TempFolder.h"

using namespace PRESCORA_NS::platform;

namespace {

TEST(Clock, FormatsTheSystemsPatterns) {
  clock::LocalTime t{2026, 12, 7, 9, 5, 3};
  EXPECT_EQ(clock::Format(t, "yyyy/MM/dd HH:mm:ss "), "2026/12/07 09:05:03 ");
  EXPECT_EQ(clock::Format(t, "yymmdd"), "260507");  // mm is minutes
  EXPECT_EQ(clock::Format(t, "yyMMdd"), "261207");
  EXPECT_EQ(clock::Format(t, "yyMMddhhmmss"), "261207090503");
  EXPECT_EQ(clock::Format(t, "yy/MM/dd HH:mm:ss"), "26/12/07 09:05:03");
  EXPECT_EQ(clock::Format({2005, 1, 2, 23, 0, 0}, "[yy]"), "[05]");
  EXPECT_EQ(clock::GeneralDate(t), "07/12/2026 9:05:03");
  EXPECT_EQ(clock::GeneralDate({2026, 1, 31, 23, 59, 59}), "31/01/2026 23:59:59");
}

TEST(Clock, TickSourceAndLocalTimeCanBePinnedPerThread) {
  clock::SetTickSourceForTesting([] { return 0xFFFFFFF0u; });
  EXPECT_EQ(clock::TickCount(), 0xFFFFFFF0u);
  clock::SetTickSourceForTesting({});
  uint32_t a = clock::TickCount();
  uint32_t b = clock::TickCount();
  EXPECT_LT(static_cast<uint32_t>(b - a), 60000u);  // monotonic: never far backwards
  clock::SetNowForTesting([] { return clock::LocalTime{2030, 2, 3, 4, 5, 6}; });
  EXPECT_EQ(clock::Now().year, 2030);
  clock::SetNowForTesting({});
  clock::LocalTime now = clock::Now();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
}

TEST(Events, HookIsCalledAndItsFailuresIgnored) {
  events::DoEvents();  // no hook: nothing happens
  int calls = 0;
  events::SetMessageLoopHook([&] { ++calls; });
  events::DoEvents();
  EXPECT_EQ(calls, 1);
  events::SetMessageLoopHook([] { throw std::runtime_error("host failed"); });
  EXPECT_NO_THROW(events::DoEvents());
  events::SetMessageLoopHook([] { events::SetMessageLoopHook({}); });  // removes itself
  events::DoEvents();
  events::DoEvents();
}

int32_t CreateError(const std::string& progId) {
  try {
    component::CreateObject(progId);
  } catch (const Failure& failure) {
    return failure.Number();
  }
  return 0;
}

TEST(Component, LibraryFolderIsTheFolderOfTheCode) {
  // Linked into this program: the program's own folder.
  EXPECT_EQ(component::LibraryFolder(), PRESCORA_TEST_DIR);
  TempFolder dir;
  component::SetLibraryFolderForTesting(dir.path() + "/");
  EXPECT_EQ(component::LibraryFolder(), dir.path());
  component::SetLibraryFolderForTesting("");
  EXPECT_EQ(component::LibraryFolder(), PRESCORA_TEST_DIR);
}

TEST(Component, CreateObjectRaises429WhenTheClassCannotBeHad) {
  component::SetLibraryFolderForTesting(PRESCORA_BIN_DIR);
  EXPECT_EQ(CreateError("Interface.NoSuchClass"), 429);
  EXPECT_EQ(CreateError("NoSuchLibrary.CExecutor"), 429);
  EXPECT_EQ(CreateError("Interface"), 429);
  EXPECT_EQ(CreateError(".modGlobal"), 429);
  EXPECT_EQ(CreateError("Interface."), 429);
  auto object = component::CreateObject("interface.MODGLOBAL");  // identifiers ignore case
  ASSERT_TRUE(object);
  std::vector<std::string> none;
  EXPECT_EQ(object->Invoke("LibraryTitle", none), "Interface");
  EXPECT_EQ(object->Invoke("LibraryFolder", none), PRESCORA_BIN_DIR);
  try {
    object->Invoke("NoSuchMember", none);
    FAIL();
  } catch (const prescora::RaisedError& error) {
    EXPECT_EQ(error.Number(), 438);
    EXPECT_EQ(error.Description(), "El objeto no acepta esta propiedad o método");
  }
  TempFolder empty;
  component::SetLibraryFolderForTesting(empty.path());
  EXPECT_EQ(CreateError("Interface.modGlobal"), 429);
  WriteAll(empty / "libBroken.so", "not a library");
  EXPECT_EQ(CreateError("Broken.modGlobal"), 429);
  component::SetLibraryFolderForTesting("");
}

}  // namespace
