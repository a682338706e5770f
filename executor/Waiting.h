// A launcher started ahead of need ("executor.exe Espera") serves its front object for as long as
// that one keeps it, without loading anything again: every request is carried out by a copy of
// the loaded process (forked), one copy per request.
//
// The process started by the front object never works itself. It keeps one copy waiting on the
// channel (descriptor 3). That copy takes one argument line, tells the process that made it so,
// lets the channel go and carries the line out in a session of its own. The next copy is made once
// that work is done (WorkDone), so that the work has the machine to itself; when requests come in
// quick succession, or the next line is already there, it is made at once.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "executor/CommandLine.h"

namespace executor {

// Lines taken closer together than this count as quick succession.
constexpr std::chrono::milliseconds kQuickSuccession{30};
// How long after a copy's work the next copy is made, unless a line comes first (milliseconds).
constexpr int kAfterWorkMs = 10;

// Makes the pages of a copy its own before it waits, rather than one fault at a time once it has
// work: the private writable mappings it shares with the process it was copied from (data of the
// program and the libraries, heap, stack) are copied, and the private read-only ones (code,
// constants) mapped. Large ones, such as a thread stack kept for reuse or a library's data tables,
// are left alone. Nothing happens where the system cannot do it.
inline void OwnPages() {
#if defined(MADV_POPULATE_WRITE) && defined(MADV_POPULATE_READ)
  FILE* maps = std::fopen("/proc/self/maps", "re");
  if (maps == nullptr) return;
  char line[512];
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    unsigned long from = 0, to = 0;
    char mode[5] = {};
    if (std::sscanf(line, "%lx-%lx %4s", &from, &to, mode) != 3 || mode[3] != 'p') continue;
    const unsigned long size = to - from;
    void* start = reinterpret_cast<void*>(from);
    if (mode[1] == 'w' && size <= (1ul << 20)) {
      madvise(start, size, MADV_POPULATE_WRITE);
    } else if (mode[0] == 'r' && mode[1] != 'w' && size <= (8ul << 20)) {
      madvise(start, size, MADV_POPULATE_READ);
    }
  }
  std::fclose(maps);
#endif
}

// In a copy at work: one end of a pipe from the process that made it, let go by WorkDone.
inline int copyAtWork = -1;

// In a copy: its request is carried out and the executor object gone; the next copy may be made.
inline void WorkDone() {
  if (copyAtWork < 0) return;
  close(copyAtWork);
  copyAtWork = -1;
  // What is left is giving the memory back: it must not delay the front object, which may still
  // be reading the answer and closing the dispensing.
  (void)!nice(19);
}

// Serves argument lines as described above. Returns the line in the copy that took it, and
// nothing in the serving process once the input ends (or a copy ends without a line). When no
// copy can be made, this process takes a line and carries it out itself, serving no more: the
// front object's next hand-over then fails and it starts a launcher the ordinary way. No other
// thread may run here: each copy has to start as clean as a launcher just started.
inline std::optional<std::string> ServeArgumentLines() {
  // Copies are never waited for, and never left as zombies.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  sigaction(SIGCHLD, &ignore, &previous);
  // Woken by a copy that took its line, this process must not take the processor from it: a
  // batch process does not preempt the one that wakes it. Copies go back to the ordinary policy.
  sched_param none{};
  const bool batch = sched_setscheduler(0, SCHED_BATCH, &none) == 0;
  std::optional<std::chrono::steady_clock::time_point> lastTaken;
  for (;;) {
    int atWork[2];
    pid_t pid = -1;
    if (pipe2(atWork, O_CLOEXEC) == 0) {
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
        if (poll(&next, 1, 0) == 0) OwnPages();  // a line already there is taken at once
      }
      std::optional<std::string> line = ReadArgumentLine();
      if (pid == 0) {
        if (line && write(atWork[1], "", 1) == 1) {
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
