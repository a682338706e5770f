#include "common/platform/profiletail.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/platform/profile.h"
#include "tests/common/TempFolder.h"

using namespace PRESCORA_NS::platform;

namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

struct Write {
  std::string section;
  Values values;
};

const Values kHeader = {
    {"FECHA_ENVIO", "26/12/07 09:05:03"}, {"PETICION_GENERADA", "No"}, {"MENSAJE_ENVIADO", "No"},
    {"MENSAJE_RECIBIDO", "No"},           {"RESPUESTA_GENERADA", ""},  {"TEXTO_RESPUESTA", ""}};

// Sections as a dispensing leaves them, up to about `bytes`.
std::string Trail(std::size_t bytes, const std::string& prefix = "OLD") {
  std::string text;
  for (int i = 0; text.size() < bytes; ++i) {
    text += "[" + prefix + std::to_string(i) + "]\nFECHA_ENVIO=26/12/07 09:05:03\n" +
            "PETICION_GENERADA=Si\nMENSAJE_ENVIADO=Si\nMENSAJE_RECIBIDO=Si\n" +
            "RESPUESTA_GENERADA=srv\nTEXTO_RESPUESTA=0000.Dispensación realizada\n";
  }
  return text;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ProfileTailTest : public ::testing::Test {
 protected:
  TempFolder dir_;
  std::string file_ = dir_ / "audit.log";
  std::string model_ = dir_ / "model.log";
};

// Whatever the file looks like, the result is the one the whole-file writer gives.
TEST_F(ProfileTailTest, WritesTheSameTextAsTheWholeFileWriter) {
  const std::vector<std::pair<const char*, std::string>> starts = {
      {"no file", ""},
      {"plain", "[A]\nx=1\n[B]\ny=2\n"},
      {"CR LF", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
      {"byte-order mark", "\xEF\xBB\xBF[B]\ny=2\n"},
      {"no final line end", "[A]\nx=1\n[B]\ny=2"},
      {"comments and blanks end a section", "; top\n[B]\ny=2\n\n; next\n[A]\n x = 1 \n"},
      {"names in other case, quoted value", "[b]\nY=\"2\"\n[C]\nz=3\n"},
  };
  const std::vector<Write> writes = {
      {"B", {{"y", "20"}}},
      {"B", {{"new", "v"}, {"y", ""}}},
      {"A", {{"x", "line\nbreak"}}},
      {" RX1 ", kHeader},
      {"RX1", {{"MENSAJE_ENVIADO", "Si"}}},
      {"RX1", {{"TEXTO_RESPUESTA", "0000.Dispensación realizada"}}},
      {"B", kHeader},
  };
  for (const auto& [name, start] : starts) {
    SCOPED_TRACE(name);
    std::remove(file_.c_str());
    std::remove(model_.c_str());
    if (std::string(name) != "no file") {
      WriteAll(file_, start);
      WriteAll(model_, start);
    }
    for (const Write& w : writes) {
      ASSERT_TRUE(profiletail::WriteStrings(file_, w.section, w.values));
      ASSERT_TRUE(profile::WriteStrings(model_, w.section, w.values));
      ASSERT_EQ(ReadAll(file_), ReadAll(model_)) << "after a write of " << w.section;
    }
    for (const auto& [section, key] : std::vector<std::pair<std::string, std::string>>{
             {"b", "Y"}, {"A", "x"}, {"RX1", "TEXTO_RESPUESTA"}, {"C", "z"}, {"none", "x"}}) {
      EXPECT_EQ(profiletail::GetString(file_, section, key, "<none>"),
                profile::GetString(model_, section, key, "<none>"))
          << section << "." << key;
    }
  }
  EXPECT_FALSE(profiletail::WriteString(dir_ / "missing/audit.log", "A", "x", "1"));
  EXPECT_EQ(profiletail::GetString(dir_ / "missing/audit.log", "A", "x", "d"), "d");
}

// A file long enough to keep an index: old sections are found, never added twice, also after
// other programs changed the file.
TEST_F(ProfileTailTest, LongFileFindsOldSectionsAndNeverAddsOneTwice) {
  WriteAll(file_, Trail(400 * 1024));
  ASSERT_TRUE(profiletail::WriteStrings(file_, "OLD0", kHeader));  // the oldest one
  ASSERT_TRUE(profiletail::WriteStrings(file_, "NEW", kHeader));
  ASSERT_TRUE(profiletail::WriteString(file_, "new", "MENSAJE_ENVIADO", "Si"));
  EXPECT_EQ(profiletail::GetString(file_, "OLD0", "PETICION_GENERADA"), "No");
  EXPECT_EQ(profiletail::GetString(file_, "OLD1", "PETICION_GENERADA"), "Si");
  EXPECT_EQ(profiletail::GetString(file_, "NEW", "MENSAJE_ENVIADO"), "Si");
  EXPECT_EQ(profiletail::GetString(file_, "ABSENT", "MENSAJE_ENVIADO", "-"), "-");

  // Replaced whole by another writer (a new file), then grown in place by another.
  ASSERT_TRUE(profile::WriteString(file_, "OLD5", "EXTRA", "1"));
  ASSERT_TRUE(profile::WriteString(file_, "BYHAND", "k", "1"));
  { std::ofstream(file_, std::ios::app) << "[APPENDED]\nk=1\n"; }
  for (const char* section : {"BYHAND", "APPENDED", "OLD5", "NEW"})
    ASSERT_TRUE(profiletail::WriteString(file_, section, "k", "2"));
  std::string text = ReadAll(file_);
  for (const char* section : {"[OLD0]", "[NEW]", "[BYHAND]", "[APPENDED]", "[OLD5]"})
    EXPECT_EQ(Count(text, section), 1u) << section;
  EXPECT_EQ(profile::GetString(file_, "APPENDED", "k"), "2");
  EXPECT_EQ(profile::GetString(file_, "OLD5", "EXTRA"), "1");
}

TEST_F(ProfileTailTest, EightWritersLoseNoMark) {
  constexpr int kProcesses = 8;
  constexpr int kDispensings = 15;
  WriteAll(file_, Trail(300 * 1024));
  const Values marks = {{"PETICION_GENERADA", "Si"},
                        {"MENSAJE_ENVIADO", "Si"},
                        {"MENSAJE_RECIBIDO", "Si"},
                        {"RESPUESTA_GENERADA", "srv"},
                        {"TEXTO_RESPUESTA", "0000.Dispensación realizada"}};
  bool ok = RunInChildren(kProcesses, [&](int process) {
    bool all = true;
    for (int i = 0; i < kDispensings; ++i) {
      std::string id = "P" + std::to_string(process) + "-" + std::to_string(i);
      all &= profiletail::WriteStrings(file_, id, kHeader);
      for (const auto& mark : marks) all &= profiletail::WriteStrings(file_, id, {mark});
      // Now and then an old section is written again, in the middle of the file.
      if (i % 5 == 4) all &= profiletail::WriteString(file_, "OLD" + std::to_string(i), "K", id);
    }
    return all;
  });
  ASSERT_TRUE(ok);
  std::string text = ReadAll(file_);
  for (int process = 0; process < kProcesses; ++process) {
    for (int i = 0; i < kDispensings; ++i) {
      std::string id = "P" + std::to_string(process) + "-" + std::to_string(i);
      ASSERT_EQ(Count(text, "[" + id + "]\n"), 1u) << id;
      for (const auto& [key, value] : marks)
        ASSERT_EQ(profile::GetString(file_, id, key), value) << id << " " << key;
    }
  }
  EXPECT_EQ(Count(text, "[OLD4]\n"), 1u);
  EXPECT_FALSE(std::filesystem::exists(file_ + ".journal"));
}

// A writer stopped halfway through its write (the file-size limit cuts the write short and
// kills the process), after it had overwritten later sections: the next one to open the file
// puts it back as it was.
TEST_F(ProfileTailTest, AWriterKilledHalfwayLeavesTheFileAsItWas) {
  const std::string before = "; preamble of the audit file\n" + Trail(8 * 1024);
  WriteAll(file_, before);
  pid_t child = fork();
  if (child == 0) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    rlimit limit{static_cast<rlim_t>(before.size() + 10), static_cast<rlim_t>(before.size() + 10)};
    setrlimit(RLIMIT_FSIZE, &limit);
    profiletail::WriteString(file_, "OLD1", "TEXTO_RESPUESTA", std::string(600, 'x'));
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
  ASSERT_NE(ReadAll(file_), before) << "the write was not cut short";
  ASSERT_TRUE(std::filesystem::exists(file_ + ".journal"));

  EXPECT_EQ(profiletail::GetString(file_, "OLD2", "RESPUESTA_GENERADA"), "srv");
  EXPECT_EQ(ReadAll(file_), before);
  EXPECT_FALSE(std::filesystem::exists(file_ + ".journal"));
  ASSERT_TRUE(profiletail::WriteString(file_, "OLD1", "TEXTO_RESPUESTA", "y"));
  EXPECT_EQ(profile::GetString(file_, "OLD2", "TEXTO_RESPUESTA"), "0000.Dispensación realizada");
}

// Writers killed at random moments: the file is always the one the writes that returned give,
// plus at most the write that was going on, whole.
TEST_F(ProfileTailTest, WritersKilledAtRandomLoseAtMostTheWriteInProgress) {
  std::mt19937 random(12345);
  const std::string seed = Trail(300 * 1024);
  WriteAll(file_, seed);
  WriteAll(model_, seed);
  int serial = 0;
  for (int round = 0; round < 30; ++round) {
    std::vector<Write> writes;
    for (int i = 0; i < 40; ++i) {
      std::string id = "R" + std::to_string(serial++ / 6);
      std::string tag = "w" + std::to_string(serial);
      switch (random() % 4) {
        case 0:
          writes.push_back({id, {{"FECHA_ENVIO", tag}, {"PETICION_GENERADA", "No"}}});
          break;
        case 1:
          writes.push_back({id, {{"TEXTO_RESPUESTA", tag + std::string(random() % 300, 't')}}});
          break;
        case 2:  // sections far back, followed by many others
          writes.push_back({"OLD" + std::to_string(random() % 50), {{"TEXTO_RESPUESTA", tag}}});
          break;
        default:
          writes.push_back({id, {{"MENSAJE_ENVIADO", tag}}});
      }
    }
    int progress[2];
    ASSERT_EQ(pipe(progress), 0);
    pid_t child = fork();
    if (child == 0) {
      close(progress[0]);
      for (const Write& w : writes) {
        // Half the writes are left in memory, as the marks before a flushed one are.
        const auto durability = (&w - writes.data()) % 2 == 0 ? profiletail::Durability::kInMemory
                                                              : profiletail::Durability::kFlushed;
        if (!profiletail::WriteStrings(file_, w.section, w.values, durability)) _exit(1);
        if (::write(progress[1], "+", 1) != 1) _exit(1);
      }
      _exit(0);
    }
    close(progress[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 6000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    std::size_t done = 0;
    char buffer[64];
    for (ssize_t n; (n = read(progress[0], buffer, sizeof buffer)) > 0;)
      done += static_cast<std::size_t>(n);
    close(progress[0]);

    for (std::size_t i = 0; i < done; ++i)
      ASSERT_TRUE(profile::WriteStrings(model_, writes[i].section, writes[i].values));
    if (done < writes.size()) {
      const Write& inProgress = writes[done];
      // Read through the writer's own reader, which also puts back a write left half done.
      bool applied = true;
      for (const auto& [key, value] : inProgress.values)
        applied &= profiletail::GetString(file_, inProgress.section, key, "", 4096) == value;
      if (applied) {
        ASSERT_TRUE(profile::WriteStrings(model_, inProgress.section, inProgress.values));
      }
    }
    ASSERT_EQ(profiletail::GetString(file_, "OLD0", "FECHA_ENVIO"), "26/12/07 09:05:03");
    ASSERT_EQ(ReadAll(file_), ReadAll(model_)) << "round " << round << ", " << done << " written";
  }
}

}  // namespace
