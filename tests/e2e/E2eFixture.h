// A real installation for the end-to-end tests: a library folder in a temporary directory with
// copies of libInterface.so, executor.exe and prescora-dispensar, a settings file pointing at a
// simulator on a loopback port, and the programs run as real processes.
//
// The thread's shared objects keep the folder they were first used with, so a test process keeps
// one folder; each test starts from the binaries alone and a simulator of its own.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/events.h"
#include "support/LibraryCopy.h"
#include "support/SettingsFile.h"
#include "support/SimuladorProceso.h"

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Polls `condition` until it holds or `limit` passes; the machine may be slow, never the code.
inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 30s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

struct Outcome {
  int status = -1;  // exit code, -1 when killed or not started
  std::string out;
};

// Runs a program to its end (bounded), with its standard output captured.
inline Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                          std::chrono::milliseconds limit = 60s) {
  Outcome outcome;
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return outcome;
  std::vector<std::string> storage{program};
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipefd[1]);
  if (rc != 0) {
    close(pipefd[0]);
    return outcome;
  }
  const auto end = std::chrono::steady_clock::now() + limit;
  char buffer[4096];
  for (;;) {
    pollfd p{pipefd[0], POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      ssize_t n = read(pipefd[0], buffer, sizeof buffer);
      if (n <= 0) break;
      outcome.out.append(buffer, static_cast<std::size_t>(n));
    }
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid, SIGKILL);
      break;
    }
  }
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

// A library folder and its simulator.
class Installation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Loopback traffic must not wander off to a proxy of the machine.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
      unsetenv(name);
    char pattern[] = "/tmp/prescora-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }

  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void SetUp() override {
    WaitForLaunchers();
    for (const auto& entry : fs::directory_iterator(folder_)) fs::remove_all(entry.path());
    for (const char* binary : {"libInterface.so", "executor.exe", "prescora-dispensar"})
      CopyIntoFolder(binary, Path(""));
    PRESCORA_NS::platform::component::SetLibraryFolderForTesting(folder_);
    PRESCORA_NS::objErrores().ResetErrorsCollection();
  }

  void TearDown() override {
    // A launcher still at work must not find its folder gone.
    WaitForLaunchers();
    PRESCORA_NS::platform::events::SetMessageLoopHook({});
    PRESCORA_NS::objLog().set_Options(0);
    PRESCORA_NS::objTrace().set_Options(0);
    PRESCORA_NS::platform::component::SetLibraryFolderForTesting("");
    if (simulator_) simulator_->Detener(SIGTERM);
  }

  // Starts the simulator on the sample data with these options, and points the settings at it.
  void StartSimulator(std::vector<std::string> options = {}, SettingsChanges changes = {}) {
    options.insert(options.begin(), {"--datos", std::string(PRESCORA_SOURCE_DIR) +
                                                    "/tools/simulador/datos-ejemplo.ini"});
    simulator_ = std::make_unique<SimuladorProceso>(options);
    ASSERT_TRUE(simulator_->Arrancado()) << simulator_->Errores();
    changes.emplace("Configuracion.Servicio", simulator_->Url());
    Settings(changes);
  }

  // Rewrites the settings file: the sample one, pointing at the simulator, with these changes.
  void Settings(SettingsChanges changes) {
    if (simulator_) changes.emplace("Configuracion.Servicio", simulator_->Url());
    // Long enough that a loaded machine never falls back by mistake; the wait ends with the
    // answer, not with the time-out.
    changes.emplace("Asincrono.PeticionTimeOut", "20");
    WriteSettings(Path("Interface.ini"), changes);
  }

  static std::string Path(const std::string& name) { return folder_ + "/" + name; }
  static bool Exists(const std::string& name) { return fs::exists(Path(name)); }
  std::string Log() const { return ReadFile(Path("Interface.log")); }
  std::string Audit() const { return ReadFile(Path("Auditoria/audit.log")); }

  // The keys of one audit section, as "KEY=value" lines.
  std::string AuditSection(const std::string& id) const {
    std::string audit = Audit();
    auto start = audit.find("[" + id + "]\n");
    if (start == std::string::npos) return {};
    start += id.size() + 3;
    auto end = audit.find("\n[", start);
    return audit.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
  }

  std::set<std::string> Files(const std::string& folder) const {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(Path(folder), ignored))
      names.insert(entry.path().filename().string());
    return names;
  }

  // A launcher started as "executor.exe Espera" that still holds the channel its request comes
  // through (descriptor 3; once it has its request, that number is taken by /dev/null).
  static bool StillWaiting(const fs::path& process) {
    std::ifstream in(process / "cmdline", std::ios::binary);
    std::string program, first;
    std::getline(in, program, '\0');
    std::getline(in, first, '\0');
    std::error_code e;
    return first == "Espera" &&
           fs::read_symlink(process / "fd/3", e).string().rfind("socket:", 0) == 0;
  }

  // Launchers started from this folder that are running; `waiting`: only those started ahead of
  // need that still wait for their request (they hold the channel it comes through, descriptor 3).
  static int Launchers(bool waiting) {
    auto [still, working] = LauncherProcesses();
    return static_cast<int>(still.size()) + (waiting ? 0 : working);
  }

  // The process ids of the launchers started from this folder that wait for a request.
  static std::set<int> WaitingLaunchers() { return LauncherProcesses().first; }

  // In one look at the processes: the launchers started from this folder that wait for a
  // request, and how many others (at work) there are.
  static std::pair<std::set<int>, int> LauncherProcesses() {
    const std::string launcher = folder_ + "/executor.exe";
    std::pair<std::set<int>, int> found{{}, 0};
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
      std::error_code e;
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos ||
          fs::read_symlink(entry.path() / "exe", e).string() != launcher)
        continue;
      if (StillWaiting(entry.path()))
        found.first.insert(std::stoi(name));
      else
        ++found.second;
    }
    return found;
  }

  // The process has ended (it may be left unreaped where nobody reaps orphans).
  static bool Ended(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto name = stat.rfind(')');
    return !in || name == std::string::npos || stat.compare(name + 1, 3, " Z ") == 0 ||
           stat.compare(name + 1, 3, " X ") == 0;
  }

  // Waits until no launcher started from this folder is at work; one waiting for a request does
  // nothing until a front object hands it one, and ends with that front object.
  static void WaitForLaunchers() {
    if (folder_.empty()) return;
    WaitFor([&] { return Working() == 0; }, 30s);
  }

  // Launchers started from this folder that are at work, counted in one look: a launcher that
  // starts meanwhile waits, and two looks could count it in one and not the other.
  static int Working() { return LauncherProcesses().second; }

  static inline std::string folder_;
  std::unique_ptr<SimuladorProceso> simulator_;
};

}  // namespace e2e
