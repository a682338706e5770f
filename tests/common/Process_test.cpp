#include "common/platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace PRESCORA_NS::platform;

namespace {

class StartDetachedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/prescora-process-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Waits (bounded) until a file appears and holds a full line.
  std::string WaitForLine(const fs::path& file) {
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(file);
      std::string line;
      if (in && std::getline(in, line) && in.good()) return line;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
  }

  // Writes a script that records its arguments, one per line, then the end marker.
  fs::path Script(const std::string& body) {
    fs::path script = dir_ / "launcher with space.sh";
    std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
  }

  fs::path dir_;
};

TEST_F(StartDetachedTest, ArgumentsArriveUnchangedAndNoShellParsing) {
  fs::path out = dir_ / "args.txt";
  fs::path script = Script("for a in \"$@\"; do printf '%s|' \"$a\"; done > '" + out.string() +
                           ".tmp'; echo >> '" + out.string() + ".tmp'; mv '" + out.string() +
                           ".tmp' '" + out.string() + "'");
  ASSERT_TRUE(process::StartDetached(script, {"IDPres=A B", "$(touch pwned)", "*", ""}));
  EXPECT_EQ(WaitForLine(out), "IDPres=A B|$(touch pwned)|*||");
  EXPECT_FALSE(fs::exists(dir_ / "pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(StartDetachedTest, LeavesNoChildBehindAndDoesNotWaitForTheProgram) {
  // Each program waits until the test lets it go (bounded, so none is left behind for long):
  // the calls returning at all shows that none waited for its program.
  fs::path go = dir_ / "go";
  fs::path script = Script("i=0; while [ ! -e '" + go.string() +
                           "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; echo ok > '" +
                           (dir_ / "done").string() + ".'$$");
  constexpr int kPrograms = 20;
  for (int i = 0; i < kPrograms; ++i) ASSERT_TRUE(process::StartDetached(script, {}));
  // No child of ours is left, running or zombie: the programs belong to init.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  std::ofstream(go) << "go\n";
  auto finished = [&] {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir_))
      if (entry.path().filename().string().rfind("done.", 0) == 0) ++n;
    return n;
  };
  for (int i = 0; i < 1000 && finished() < kPrograms; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(finished(), kPrograms);
}

TEST_F(StartDetachedTest, StandardStreamsAreNullAndHostDescriptorsAreNotInherited) {
  fs::path out = dir_ / "fds.txt";
  int leaked = open((dir_ / "host-file").c_str(), O_CREAT | O_WRONLY, 0600);  // no O_CLOEXEC
  ASSERT_GE(leaked, 3);
  std::string fd = std::to_string(leaked);
  fs::path script =
      Script("{ readlink /proc/$$/fd/0; readlink /proc/$$/fd/2; if [ -e /proc/$$/fd/" + fd +
             " ]; then echo leaked; else echo clean; fi; } | tr '\\n' ' ' > '" + out.string() +
             ".tmp'; echo >> '" + out.string() + ".tmp'; mv '" + out.string() + ".tmp' '" +
             out.string() + "'");
  ASSERT_TRUE(process::StartDetached(script, {}));
  std::string line = WaitForLine(out);
  close(leaked);
  EXPECT_EQ(line, "/dev/null /dev/null clean ");
}

// A program started ahead of need binds its libraries' symbols as it loads them, for the copies
// it makes of itself; one started for its work alone is left to the system's lazy binding.
TEST_F(StartDetachedTest, OnlyAProgramStartedAheadOfNeedBindsAsItLoads) {
  fs::path script = Script("echo \"bind:$LD_BIND_NOW\" > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"");
  process::WaitingProgram ahead;
  ASSERT_TRUE(ahead.Start(script, {(dir_ / "ahead").string()}));
  ASSERT_TRUE(process::StartDetached(script, {(dir_ / "detached").string()}));
  EXPECT_EQ(WaitForLine(dir_ / "ahead"), "bind:1");
  EXPECT_EQ(WaitForLine(dir_ / "detached"), "bind:");
}

// A program started ahead of need gets exactly the lines it is handed, and keeps waiting for more;
// one dropped reads the end of its input; handing a line to one that is gone, or whose program
// has been replaced since it started, fails instead of killing the host or reaching old code.
TEST_F(StartDetachedTest, WaitingProgramGetsItsLinesOrTheEnd) {
  fs::path script = Script(
      "n=0; while IFS= read -r line <&3; do n=$((n+1)); echo \"line:$line\" > \"$1.$n.tmp\"; "
      "mv \"$1.$n.tmp\" \"$1.$n\"; [ $n = 2 ] && exit 0; done; echo end > \"$1.tmp\"; "
      "mv \"$1.tmp\" \"$1\"");
  process::WaitingProgram released, dropped, gone;
  ASSERT_TRUE(released.Start(script, {(dir_ / "released").string()}));
  ASSERT_TRUE(dropped.Start(script, {(dir_ / "dropped").string()}));
  ASSERT_TRUE(gone.Start("/bin/true", {}));
  EXPECT_TRUE(released.Waiting());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(dir_ / "released.1")) << "it did not wait";

  EXPECT_TRUE(released.Release("IDPres=A B"));
  EXPECT_TRUE(released.Waiting());
  EXPECT_EQ(WaitForLine(dir_ / "released.1"), "line:IDPres=A B");
  EXPECT_TRUE(released.Release("IDPres=C"));
  EXPECT_EQ(WaitForLine(dir_ / "released.2"), "line:IDPres=C");
  dropped.Drop();
  EXPECT_EQ(WaitForLine(dir_ / "dropped"), "end");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(gone.Release("IDPres=X"));
  EXPECT_FALSE(released.Release("IDPres=again")) << "the program has ended";
  EXPECT_FALSE(released.Waiting());

  process::WaitingProgram outdated;
  fs::path library = dir_ / "library.so";
  std::ofstream(library) << "1";
  ASSERT_TRUE(outdated.Start(script, {(dir_ / "outdated").string()}, {library.string()}));
  EXPECT_TRUE(outdated.Release("IDPres=O1"));
  fs::remove(library);
  std::ofstream(library) << "22";
  EXPECT_FALSE(outdated.Release("IDPres=O2"));
  EXPECT_FALSE(outdated.Waiting());
  EXPECT_EQ(WaitForLine(dir_ / "outdated.1"), "line:IDPres=O1");
  EXPECT_EQ(WaitForLine(dir_ / "outdated"), "end") << "dropped, it got no second line";

  // Started in the background, it is handed its line or dropped as soon as the caller wants,
  // however far its start has gone; a second start replaces the first.
  process::WaitingProgram soon, replaced;
  soon.StartSoon(script, {(dir_ / "soon").string()});
  EXPECT_TRUE(soon.Release("IDPres=S"));
  replaced.StartSoon(script, {(dir_ / "first").string()});
  replaced.StartSoon(script, {(dir_ / "second").string()});
  EXPECT_TRUE(replaced.Waiting());
  replaced.Drop();
  soon.Drop();
  EXPECT_EQ(WaitForLine(dir_ / "soon.1"), "line:IDPres=S");
  EXPECT_EQ(WaitForLine(dir_ / "first"), "end");
  EXPECT_EQ(WaitForLine(dir_ / "second"), "end");
}

// The host's own wait() gets its own children only: nothing the library started is ever left
// for it, not even for a moment after a start.
TEST_F(StartDetachedTest, HostsOwnWaitGetsItsOwnChild) {
  fs::path script = Script("exit 0");
  const pid_t own = fork();
  if (own == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    _exit(7);
  }
  ASSERT_GT(own, 0);
  process::WaitingProgram ahead;
  ASSERT_TRUE(ahead.Start(script, {}));
  ASSERT_TRUE(process::StartDetached(script, {}));
  int status = 0;
  EXPECT_EQ(wait(&status), own);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

// A host that forks without exec leaves its child no hold on a waiting program: the program reads
// the end of its input when the parent drops it, though the child lives on, and the child cannot
// hand it a line.
TEST_F(StartDetachedTest, AForkedChildOfTheHostHoldsNoWaitingProgram) {
  fs::path script = Script(
      "while IFS= read -r line <&3; do echo \"line:$line\" > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"; "
      "done; echo end > \"$1.end.tmp\"; mv \"$1.end.tmp\" \"$1.end\"");
  process::WaitingProgram ahead;
  ASSERT_TRUE(ahead.Start(script, {(dir_ / "ahead").string()}));
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(gate[1]);
    const bool handed = ahead.Release("IDPres=hijo");
    char c;
    (void)!read(gate[0], &c, 1);  // lives until the parent has looked
    _exit(handed ? 1 : 0);
  }
  ASSERT_GT(child, 0);
  close(gate[0]);
  ahead.Drop();
  EXPECT_EQ(WaitForLine(dir_ / "ahead.end"), "end");
  EXPECT_FALSE(fs::exists(dir_ / "ahead")) << "the child handed it a line";
  close(gate[1]);
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
