#include "common/platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

extern char** environ;

namespace PRESCORA_NS::platform::process {

namespace {

// The program runs as a background job of a short-lived /bin/sh: the shell starts it and ends at
// once, so the only child of the host is reaped here within a few milliseconds and the program
// itself is adopted by init. No fork of the host (it may be large), no thread left behind to reap
// it, no signal disposition changed, and the arguments never pass through shell parsing: they are
// the shell's positional parameters.
constexpr const char* kShell = "/bin/sh";
constexpr const char* kScript = "\"$0\" \"$@\" &";
// A program started ahead of need binds every symbol of its libraries as it loads them, while
// nobody waits: the copies it makes of itself then find them bound, instead of each looking up
// the ones it is the first to call.
constexpr const char* kScriptAhead = "LD_BIND_NOW=1 \"$0\" \"$@\" &";

// Waits for the intermediate shell, which ends as soon as it has started the program.
bool Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts the program; `channel`, when not negative, becomes its descriptor 3 and the program is
// one started ahead of need. The intermediate shell's process id, or -1 when the start failed.
pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments, int channel) {
  std::vector<std::string> argv_storage;
  argv_storage.reserve(arguments.size() + 4);
  argv_storage.emplace_back("sh");
  argv_storage.emplace_back("-c");
  argv_storage.emplace_back(channel >= 0 ? kScriptAhead : kScript);
  argv_storage.push_back(program);
  for (const auto& a : arguments) argv_storage.push_back(a);
  std::vector<char*> argv;
  argv.reserve(argv_storage.size() + 1);
  for (auto& a : argv_storage) argv.push_back(a.data());
  argv.push_back(nullptr);

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
  if (channel >= 0) posix_spawn_file_actions_adddup2(&actions, channel, 3);
  posix_spawn_file_actions_addclosefrom_np(&actions, channel >= 0 ? 4 : 3);

  // A session of its own, so the launcher outlives a host that is stopped with its terminal, and
  // default signal handling and an empty mask, whatever the host has set.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, kShell, &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return rc == 0 ? pid : -1;
}

}  // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments) {
  pid_t shell = Spawn(program, arguments, -1);
  return shell > 0 && Reap(shell);
}

WaitingProgram::~WaitingProgram() {
  Drop();
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
  if (channel_ >= 0) close(channel_);
  channel_ = -1;
  ReapShell();
}

void WaitingProgram::ReapShell() noexcept {
  if (shell_ > 0) Reap(shell_);
  shell_ = -1;
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
    watched_ = watched;
    watched_.insert(watched_.begin(), program);
    versions_ = Versions(watched_);
    int ends[2];
    // A socket rather than a pipe: a send to a program that is gone fails instead of raising
    // SIGPIPE in the host.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    int theirs = fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    close(ends[1]);
    // The shell is reaped later (Drop): the caller does not wait for it now.
    shell_ = theirs >= 0 ? Spawn(program, arguments, theirs) : -1;
    if (theirs >= 0) close(theirs);
    if (shell_ <= 0) {
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
    ReapShell();
    return true;
  } catch (...) {
    Drop();
    return false;
  }
}

}  // namespace PRESCORA_NS::platform::process
