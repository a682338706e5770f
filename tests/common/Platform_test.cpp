// The clock, the message loop, waiting on a folder and the component runtime.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "common/platform/clock.h"
#include "common/platform/component.h"
#include "common/platform/errors.h"
#include "common/platform/events.h"
#include "common/platform/files.h"
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

// A pause that should end at once ends at once; one that wrongly waits gives up after a while
// and fails the test by its result, not by its duration.
constexpr auto kLongPause = std::chrono::seconds(20);

TEST(FolderWatch, PausesEndWhenAFileLandsAndOnlyThen) {
  TempFolder dir;
  std::filesystem::create_directory(dir / "Recibidos");
  {
    files::FolderWatch watch(dir / "Recibidos");
    ASSERT_TRUE(watch.Watching());
    EXPECT_FALSE(watch.Pause(std::chrono::milliseconds(0)));
    // Renamed into place, as the answers are; then written in place.
    WriteAll(dir / "RX.tmp", "x");
    ASSERT_EQ(std::rename((dir / "RX.tmp").c_str(), (dir / "Recibidos/RX.xml").c_str()), 0);
    EXPECT_TRUE(watch.Pause(kLongPause));
    EXPECT_FALSE(watch.Pause(std::chrono::milliseconds(0)));  // that notice is used up
    WriteAll(dir / "Recibidos/RY.xml", "y");
    EXPECT_TRUE(watch.Pause(kLongPause));
    // Files elsewhere are not its business.
    WriteAll(dir / "RZ.xml", "z");
    EXPECT_FALSE(watch.Pause(std::chrono::milliseconds(1)));
    WriteAll(dir / "Recibidos/RW.xml", "w");  // left for the next watch, which must not see it
  }
  files::FolderWatch next(dir / "Recibidos");
  EXPECT_FALSE(next.Pause(std::chrono::milliseconds(0)));

  // A folder that is not there cannot be watched; the pause is a plain sleep.
  files::FolderWatch missing(dir / "Retrasados");
  EXPECT_FALSE(missing.Watching());
  EXPECT_FALSE(missing.Pause(std::chrono::milliseconds(1)));
}

TEST(FolderWatch, SurvivesAHostThatClosesItsDescriptor) {
  TempFolder dir;
  std::filesystem::create_directory(dir / "Recibidos");
  { files::FolderWatch first(dir / "Recibidos"); }
  // Some hosts close every descriptor they do not know of.
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error).string() == "anon_inode:inotify")
      ::close(std::stoi(entry.path().filename().string()));
  }
  // The number is given to a file of the host's, which must be left alone.
  WriteAll(dir / "host.txt", "host data");
  int host = ::open((dir / "host.txt").c_str(), O_RDONLY);
  ASSERT_GE(host, 0);
  {
    files::FolderWatch watch(dir / "Recibidos");
    ASSERT_TRUE(watch.Watching());
    WriteAll(dir / "Recibidos/RX.xml", "x");
    EXPECT_TRUE(watch.Pause(kLongPause));
  }
  EXPECT_EQ(::lseek(host, 0, SEEK_CUR), 0);
  ::close(host);
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
  EXPECT_EQ(CreateError(".CFileAdmin"), 429);
  EXPECT_EQ(CreateError("Interface.modGlobal"), 429);  // the test copies' window only
  EXPECT_EQ(CreateError("Interface."), 429);
  auto object = component::CreateObject("interface.CFILEADMIN");  // identifiers ignore case
  ASSERT_TRUE(object);
  std::vector<std::string> none;
  EXPECT_EQ(object->Invoke("GetDllPath", none), std::string(PRESCORA_BIN_DIR) + "/");
  try {
    object->Invoke("NoSuchMember", none);
    FAIL();
  } catch (const prescora::RaisedError& error) {
    EXPECT_EQ(error.Number(), 438);
    EXPECT_EQ(error.Description(), "El objeto no acepta esta propiedad o método");
  }
  TempFolder empty;
  component::SetLibraryFolderForTesting(empty.path());
  EXPECT_EQ(CreateError("Interface.CFileAdmin"), 429);
  WriteAll(empty / "libBroken.so", "not a library");
  EXPECT_EQ(CreateError("Broken.CFileAdmin"), 429);
  component::SetLibraryFolderForTesting("");
}

}  // namespace
