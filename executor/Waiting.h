// A launcher started ahead of need ("executor.exe Espera") serves its front object for as long as
// that one keeps it, without loading anything again: every request is carried out by a copy of
// the loaded process (forked), one copy per request.
//
// The process started by the front object never works itself. It keeps one copy waiting on the
// channel (descriptor 3). That copy takes one argument line, tells the process that made it so,
// lets the channel go and carries the line out in a session of its own. A copy whose maker is gone
// (killed) takes no more lines: it refuses the channel and ends, so that the front object's
// hand-over fails at once and it starts a launcher the ordinary way. The next copy is made once
// that work is done (WorkDone), so that the work has the machine to itself; when requests come in
// quick succession, or the next line is already there, it is made at once.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "executor/CommandLine.h"

namespace executor {

// Lines taken closer together than this count as quick succession.
constexpr std::chrono::milliseconds kQuickSuccession{30};
// How long after a copy's work the next copy is made, unless a line comes first (milliseconds).
constexpr int kAfterWorkMs = 10;

// The pages a copy needs of those it shares with the process it was copied from, learned from
// the copies' own work and made a copy's own before it waits, rather than one fault at a time
// once it has work: pages written are copied, pages read (code, constants) mapped. The
// candidates are the private mappings of the serving process (data of the program and the
// libraries, heap, stack, code); large ones, such as a thread stack kept for reuse or a library's
// data tables, are left alone. Every copy marks, once its work is done, the pages it needed in a
// map shared by all copies of the serving process; a page once needed is made ready for every
// copy after. Making all candidates ready instead costs three times the work (most code of the
// libraries is never run by a copy), and the time to give them back when the copy ends.
// Nothing happens where the system cannot do it.
class WorkingSet {
 public:
  // In the serving process, before its first copy.
  void Prepare() {
#if defined(MADV_POPULATE_WRITE) && defined(MADV_POPULATE_READ)
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (maps == nullptr) return;
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    char line[512];
    std::size_t pages = 0;
    while (std::fgets(line, sizeof line, maps) != nullptr) {
      unsigned long from = 0, to = 0;
      char mode[5] = {};
      if (std::sscanf(line, "%lx-%lx %4s", &from, &to, mode) != 3 || mode[3] != 'p') continue;
      const bool writable = mode[1] == 'w';
      if (writable ? to - from > (1ul << 20) : mode[0] != 'r' || to - from > (8ul << 20)) continue;
      ranges_.push_back({from, to, writable, pages});
      pages += (to - from) / page_;
    }
    std::fclose(maps);
    words_ = (pages + 63) / 64;
    // The map, then the count of copies that have told their pages.
    void* shared = mmap(nullptr, (words_ + 1) * sizeof(std::uint64_t), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
      ranges_.clear();
      words_ = 0;
      return;
    }
    needed_ = static_cast<std::uint64_t*>(shared);
#endif
  }

  // In a copy, before it waits: the pages needed so far are made its own, a run at a time.
  void Own() const {
#if defined(MADV_POPULATE_WRITE) && defined(MADV_POPULATE_READ)
    for (const Range& range : ranges_) {
      const std::size_t count = (range.to - range.from) / page_;
      for (std::size_t i = 0; i < count;) {
        if (!Needed(range.first + i)) {
          ++i;
          continue;
        }
        std::size_t j = i + 1;
        while (j < count && Needed(range.first + j)) ++j;
        madvise(reinterpret_cast<void*>(range.from + i * page_), (j - i) * page_,
                range.writable ? MADV_POPULATE_WRITE : MADV_POPULATE_READ);
        i = j;
      }
    }
#endif
  }

  // In a copy whose work is done: marks the pages it has needed, those it has written of the
  // writable mappings (now its own alone) and those it has mapped of the others. Every one of
  // the first copies tells, then one in kLearnEvery: reading the page tables has its cost too.
  void Learn() const {
    if (needed_ == nullptr) return;
    const std::uint64_t copy = __atomic_fetch_add(&needed_[words_], 1, __ATOMIC_RELAXED);
    if (copy >= kLearnEvery && copy % kLearnEvery != 0) return;
    const int pagemap = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
    if (pagemap < 0) return;
    constexpr std::uint64_t kPresent = 1ull << 63;
    constexpr std::uint64_t kExclusive = 1ull << 56;
    std::uint64_t entries[512];
    for (const Range& range : ranges_) {
      const std::size_t count = (range.to - range.from) / page_;
      for (std::size_t done = 0; done < count;) {
        const std::size_t want = std::min<std::size_t>(count - done, std::size(entries));
        const off_t at = static_cast<off_t>((range.from / page_ + done) * sizeof(std::uint64_t));
        const ssize_t got = pread(pagemap, entries, want * sizeof(std::uint64_t), at);
        if (got <= 0) break;
        const std::size_t read = static_cast<std::size_t>(got) / sizeof(std::uint64_t);
        for (std::size_t k = 0; k < read; ++k) {
          const std::uint64_t e = entries[k];
          if ((e & kPresent) != 0 && (!range.writable || (e & kExclusive) != 0))
            Mark(range.first + done + k);
        }
        done += read;
      }
    }
    close(pagemap);
  }

 private:
  static constexpr std::uint64_t kLearnEvery = 16;
  struct Range {
    unsigned long from, to;
    bool writable;
    std::size_t first;  // the bit of its first page
  };

  bool Needed(std::size_t bit) const {
    return (__atomic_load_n(&needed_[bit / 64], __ATOMIC_RELAXED) >> (bit % 64) & 1) != 0;
  }
  void Mark(std::size_t bit) const {
    const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
    if ((__atomic_load_n(&needed_[bit / 64], __ATOMIC_RELAXED) & mask) == 0)
      __atomic_fetch_or(&needed_[bit / 64], mask, __ATOMIC_RELAXED);
  }

  std::vector<Range> ranges_;
  std::size_t page_ = 4096;          // the system's, once prepared
  std::uint64_t* needed_ = nullptr;  // one bit a candidate page, shared with every copy
  std::size_t words_ = 0;
};

// The serving process's, and so every copy's.
inline WorkingSet workingSet;

// In a copy at work: one end of a pipe from the process that made it, let go by WorkDone.
inline int copyAtWork = -1;

// In a copy: its request is carried out and the executor object gone; the next copy may be made.
// False in any other process.
inline bool WorkDone() {
  if (copyAtWork < 0) return false;
  close(copyAtWork);
  copyAtWork = -1;
  // What is left (telling the pages it needed, giving the memory back) must not delay the front
  // object, which may still be reading the answer and closing the dispensing.
  (void)!nice(19);
  workingSet.Learn();
  return true;
}

// In a copy whose work is done: ends the process once the objects of its thread have ended (they
// write the trace's last lines), without the rest of the usual clean-up: the libraries' own ends
// and the freeing of what they hold cost a copy more than its work, and every page they touch is
// one it still shares with the serving process, copied first.
[[noreturn]] inline void EndCopy(int status) {
  static int code;
  code = status;
  // The first thing the end of the process runs after the objects of its thread.
  std::atexit([] {
    std::fflush(nullptr);
    _exit(code);
  });
  std::exit(status);
}

// In a copy: its argument line, read while `maker` (its end of the pipe from the process that made
// it) shows that process alive. Once that process is gone, the copy takes a line that has already
// come, but refuses any later one: the sender then fails at once instead of handing it to nobody.
inline std::optional<std::string> TakeArgumentLine(int maker) {
  pollfd watch[2] = {{kArgumentsChannel, POLLIN, 0}, {maker, 0, 0}};
  while (poll(watch, 2, -1) < 0 && errno == EINTR) {
  }
  // A pipe's writing end shows an error once no reader is left.
  if (watch[0].revents == 0 && watch[1].revents != 0) shutdown(kArgumentsChannel, SHUT_RD);
  return ReadArgumentLine();
}

// In a copy that took its line: tells the process that made it, which may be gone (no SIGPIPE
// then: the copy carries its line out all the same).
inline bool TellTaken(int maker) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  sigaction(SIGPIPE, &ignore, &previous);
  const bool told = write(maker, "", 1) == 1;
  sigaction(SIGPIPE, &previous, nullptr);
  return told;
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
  workingSet.Prepare();
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
