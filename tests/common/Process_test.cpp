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
  void TearDown() override { fs::remove_all(dir_); }

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
  fs::path out = dir_ / "done.txt";
  // The program outlives the call by far: the call must return before it ends.
  fs::path script = Script("sleep 1; echo ok > '" + out.string() + "'");
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(process::StartDetached(script, {}));
  EXPECT_FALSE(fs::exists(out));
  // No child of ours is left, running or zombie: the programs belong to init.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(WaitForLine(out), "ok");
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

}  // namespace
