#include "executor/Copies.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "executor/WorkingSet.h"

namespace executor {

namespace {

// The serving process's, and so every copy's.
WorkingSet workingSet;

// In a copy at work: one end of a pipe from the process that made it, let go by WorkDone.
int copyAtWork = -1;

// The status EndCopy ends the process with.
int endStatus = 0;

}  // namespace

int ThreadCount() {
  const int stat = open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
  if (stat < 0) return 0;
  char text[1024];
  const ssize_t n = read(stat, text, sizeof text - 1);
  close(stat);
  if (n <= 0) return 0;
  text[n] = '\0';
  // The name, in parentheses, may hold anything; the fields counted from its end. The number of
  // threads is the 20th field, the 18th after the name.
  const char* field = std::strrchr(text, ')');
  for (int i = 0; field != nullptr && i < 18; ++i) field = std::strchr(field + 1, ' ');
  return field != nullptr ? std::atoi(field + 1) : 0;
}

bool WorkDone() {
  if (copyAtWork < 0) return false;
  close(copyAtWork);
  copyAtWork = -1;
  // What is left (telling the pages it needed, giving the memory back) must not delay the front
  // object, which may still be reading the answer and closing the dispensing.
  (void)!nice(19);
  workingSet.Learn();
  return true;
}

void EndCopy(int status) {
  endStatus = status;
  // The first thing the end of the process runs after the objects of its thread.
  std::atexit([] {
    std::fflush(nullptr);
    _exit(endStatus);
  });
  std::exit(status);
}

std::optional<std::string> TakeArgumentLine(int maker) {
  pollfd watch[2] = {{kArgumentsChannel, POLLIN, 0}, {maker, 0, 0}};
  while (poll(watch, 2, -1) < 0 && errno == EINTR) {
  }
  // A pipe's writing end shows an error once no reader is left.
  if (watch[0].revents == 0 && watch[1].revents != 0) shutdown(kArgumentsChannel, SHUT_RD);
  return ReadArgumentLine();
}

bool TellTaken(int maker) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  sigaction(SIGPIPE, &ignore, &previous);
  const bool told = write(maker, "", 1) == 1;
  sigaction(SIGPIPE, &previous, nullptr);
  return told;
}

std::optional<std::string> ReadArgumentLine() {
  std::string line;
  char c;
  while (line.size() < prescora::launcher::kMaxArgumentLine) {
    ssize_t n = read(kArgumentsChannel, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    if (c == '\n') return line;
    line += c;
  }
  return line;
}

void ReleaseArgumentsChannel() {
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null < 0 || null == kArgumentsChannel) return;
  dup3(null, kArgumentsChannel, O_CLOEXEC);
  close(null);
}

std::optional<std::string> ServeArgumentLines() {
  // Copies are never waited for, and never left as zombies.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  sigaction(SIGCHLD, &ignore, &previous);
  // Woken by a copy that took its line, this process must not take the processor from it: a
  // batch process does not preempt the one that wakes it. Copies go back to the ordinary policy.
  sched_param none{};
  const bool batch = sched_setscheduler(0, SCHED_BATCH, &none) == 0;
  workingSet.Prepare();
  std::optional<std::chrono::steady_clock::time_point> lastTaken;
  for (;;) {
    int atWork[2];
    pid_t pid = -1;
    if (ThreadCount() > 1) {
      std::fputs("executor.exe: otro hilo en marcha; la petición se atiende sin copia\n", stderr);
    } else if (pipe2(atWork, O_CLOEXEC) == 0) {
      pid = fork();
      if (pid < 0) {
        close(atWork[0]);
        close(atWork[1]);
      }
    }
    if (pid <= 0) {
      sigaction(SIGCHLD, &previous, nullptr);
      if (pid == 0) {
        close(atWork[0]);
        if (batch) sched_setscheduler(0, SCHED_OTHER, &none);
        setsid();
        pollfd next = {kArgumentsChannel, POLLIN, 0};
        if (poll(&next, 1, 0) == 0) workingSet.Own();  // a line already there is taken at once
      }
      std::optional<std::string> line = pid == 0 ? TakeArgumentLine(atWork[1]) : ReadArgumentLine();
      if (pid == 0) {
        if (line && TellTaken(atWork[1])) {
          copyAtWork = atWork[1];
        } else {
          close(atWork[1]);
        }
      }
      ReleaseArgumentsChannel();
      return line;
    }
    close(atWork[1]);
    char taken = 0;
    ssize_t n;
    do {
      n = read(atWork[0], &taken, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1) {
      close(atWork[0]);
      return std::nullopt;
    }
    const auto now = std::chrono::steady_clock::now();
    const bool quick = lastTaken && now - *lastTaken < kQuickSuccession;
    lastTaken = now;
    if (!quick) {
      // Until the copy is done (or gone), and the front object has had the time to finish with
      // its answer; or until the next line is there.
      pollfd either[2] = {{atWork[0], POLLIN, 0}, {kArgumentsChannel, POLLIN, 0}};
      while (poll(either, 2, -1) < 0 && errno == EINTR) {
      }
      if (either[1].revents == 0) {
        while (poll(&either[1], 1, kAfterWorkMs) < 0 && errno == EINTR) {
        }
      }
    }
    close(atWork[0]);
  }
}

}  // namespace executor
