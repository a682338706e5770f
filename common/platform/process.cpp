#include "common/platform/process.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "common/LauncherConventions.h"

extern char** environ;

namespace PRESCORA_NS::platform::process {

namespace {

using prescora::launcher::kArgumentsChannel;
using prescora::launcher::kBindNow;

// The intermediate's stack: posix_spawn needs little, sanitizers more; pages never touched cost
// nothing.
constexpr std::size_t kIntermediateStack = 256 * 1024;

struct Launch {
  const char* program;
  char* const* argv;
  char* const* envp;
  const posix_spawn_file_actions_t* actions;
  const posix_spawnattr_t* attributes;
  int result;  // posix_spawn's, written by the intermediate into the host's memory
};

// The intermediate: starts the program and ends, leaving it to init. It runs in the host's memory
// while the host's thread is held (vfork), with every signal blocked, so no handler of the host
// runs here; it calls nothing but posix_spawn, which is made to run in such a process.
int Intermediate(void* data) {
  auto* launch = static_cast<Launch*>(data);
  pid_t pid = 0;
  launch->result = posix_spawn(&pid, launch->program, launch->actions, launch->attributes,
                               launch->argv, launch->envp);
  return 0;  // the end of the process: clone's own exit, nothing of the host's run
}

// Starts the program; `channel`, when not negative, becomes its descriptor 3 and the program is
// one started ahead of need (common/LauncherConventions.h). False when the start failed.
bool Spawn(const std::string& program, const std::vector<std::string>& arguments, int channel) {
  std::vector<std::string> argv_storage;
  argv_storage.reserve(arguments.size() + 1);
  argv_storage.push_back(program);
  for (const auto& a : arguments) argv_storage.push_back(a);
  std::vector<char*> argv;
  argv.reserve(argv_storage.size() + 1);
  for (auto& a : argv_storage) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The host's environment, with the binding of one started ahead of need.
  std::string bindNow = kBindNow;
  std::vector<char*> envp;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (channel >= 0 && std::strncmp(*e, "LD_BIND_NOW=", 12) == 0) continue;
    envp.push_back(*e);
  }
  if (channel >= 0) envp.push_back(bindNow.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // Nothing else the host has open (sockets, locks, files) leaks into the launcher. The channel
  // is above 3 (see WaitingProgram::Start), so the dup2 clears its close-on-exec.
  if (channel >= 0) posix_spawn_file_actions_adddup2(&actions, channel, kArgumentsChannel);
  posix_spawn_file_actions_addclosefrom_np(
      &actions, channel >= 0 ? kArgumentsChannel + 1 : kArgumentsChannel);

  // A session of its own, so the launcher outlives a host that is stopped with its terminal, and
  // default signal handling and an empty mask, whatever the host has set.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  Launch launch{program.c_str(), argv.data(), envp.data(), &actions, &attributes, -1};
  void* stack = mmap(nullptr, kIntermediateStack, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (stack != MAP_FAILED) {
    // No exit signal: the intermediate is a "clone" child, which only __WCLONE waits for.
    sigset_t previous;
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t intermediate = clone(Intermediate, static_cast<char*>(stack) + kIntermediateStack,
                                     CLONE_VM | CLONE_VFORK, &launch);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    // It has ended by now (vfork): reaped at once, by its own id.
    if (intermediate > 0) {
      while (waitpid(intermediate, nullptr, __WCLONE) < 0 && errno == EINTR) {
      }
    }
    munmap(stack, kIntermediateStack);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return launch.result == 0;
}

}  // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments) {
  try {
    return Spawn(program, arguments, -1);
  } catch (...) {
    return false;
  }
}

WaitingProgram::WaitingProgram() {
  auto guard = forks::Guard();
  forks::Add(*this);
}

WaitingProgram::~WaitingProgram() {
  Drop();
  auto guard = forks::Guard();
  forks::Remove(*this);
}

void WaitingProgram::InChild() noexcept {
  if (channel_ >= 0) close(channel_);
  channel_ = -1;
  // A start begun on another thread of the parent has no thread here: forgotten, never joined.
  new (&starting_) std::thread();
}

void WaitingProgram::FinishStart() noexcept {
  if (starting_.joinable()) starting_.join();
}

bool WaitingProgram::Waiting() noexcept {
  FinishStart();
  return channel_ >= 0;
}

void WaitingProgram::StartSoon(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::vector<std::string>& watched) noexcept {
  FinishStart();
  try {
    starting_ =
        std::thread([this, program, arguments, watched] { StartNow(program, arguments, watched); });
  } catch (...) {
    StartNow(program, arguments, watched);
  }
}

void WaitingProgram::Drop() noexcept {
  FinishStart();
  DropStarted();
}

void WaitingProgram::DropStarted() noexcept {
  if (channel_ < 0) return;
  auto guard = forks::Guard();
  close(channel_);
  channel_ = -1;
}

std::string WaitingProgram::Versions(const std::vector<std::string>& files) {
  std::string versions;
  for (const auto& file : files) {
    struct stat s {};
    if (stat(file.c_str(), &s) != 0) {
      versions += "-;";
      continue;
    }
    for (auto value :
         {static_cast<long long>(s.st_dev), static_cast<long long>(s.st_ino),
          static_cast<long long>(s.st_size), static_cast<long long>(s.st_mtim.tv_sec),
          static_cast<long long>(s.st_mtim.tv_nsec), static_cast<long long>(s.st_ctim.tv_sec),
          static_cast<long long>(s.st_ctim.tv_nsec)})
      versions += std::to_string(value) + ",";
    versions += ';';
  }
  return versions;
}

bool WaitingProgram::Start(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& watched) noexcept {
  FinishStart();
  return StartNow(program, arguments, watched);
}

bool WaitingProgram::StartNow(const std::string& program, const std::vector<std::string>& arguments,
                              const std::vector<std::string>& watched) noexcept {
  DropStarted();
  try {
    // The whole start under the guard: a fork of the host meanwhile waits, so that its child
    // finds the channel either not made or known here, and these members whole.
    auto guard = forks::Guard();
    watched_ = watched;
    watched_.insert(watched_.begin(), program);
    versions_ = Versions(watched_);
    int ends[2];
    // A socket rather than a pipe: a send to a program that is gone fails instead of raising
    // SIGPIPE in the host.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    int theirs = fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    close(ends[1]);
    const bool started = theirs >= 0 && Spawn(program, arguments, theirs);
    if (theirs >= 0) close(theirs);
    if (!started) {
      close(ends[0]);
      return false;
    }
    channel_ = ends[0];
    return true;
  } catch (...) {
    return false;
  }
}

bool WaitingProgram::Release(std::string_view line) noexcept {
  FinishStart();
  if (channel_ < 0) return false;
  try {
    // A program started before a new version was installed would go on with the old one.
    if (Versions(watched_) != versions_) {
      Drop();
      return false;
    }
    std::string text(line);
    text += '\n';
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = send(channel_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (done != text.size()) {
      Drop();
      return false;
    }
    return true;
  } catch (...) {
    Drop();
    return false;
  }
}

}  // namespace PRESCORA_NS::platform::process
