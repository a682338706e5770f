// Starting the launcher: a new process, detached, not waited for.
#pragma once

#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/Export.h"
#include "common/platform/forks.h"

namespace PRESCORA_NS::platform::process {

// Starts `program` with `arguments` (argv[1..]) through posix_spawn, standard streams on
// /dev/null, in a session of its own, and returns once it runs. The program is never a child of
// the host: a short-lived intermediate that shares the host's memory starts it and ends, and is
// reaped here at once; it is of a kind the host's own wait() and waitpid(-1) never see, and
// raises no SIGCHLD. False when the start failed.
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments);

// A program started ahead of need, detached as StartDetached starts it, that gets ready and then
// serves lines sent to its descriptor 3 (a socket), one at a time, until the input ends. Release
// sends a line and keeps the program for the next; a program dropped (Drop, destruction, the host
// ending, a fork of the host in the child) reads the end of the input and should end. A program
// that cannot take a line any more refuses the channel (shutdown of its reading side): Release
// then fails at once.
class WaitingProgram : private forks::Holder {
 public:
  WaitingProgram();
  ~WaitingProgram();
  WaitingProgram(const WaitingProgram&) = delete;
  WaitingProgram& operator=(const WaitingProgram&) = delete;

  // Drops a program still waiting and starts another. `watched`: files besides the program whose
  // change (a new version installed) makes the program started before it out of date. False when
  // the start failed.
  bool Start(const std::string& program, const std::vector<std::string>& arguments,
             const std::vector<std::string>& watched = {}) noexcept;
  // As Start, on a short-lived thread of its own, so that the caller does not wait while the
  // process is created (the host may be large and the machine busy); every other member waits
  // for that start first. Starts at once when no thread can be had.
  void StartSoon(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& watched = {}) noexcept;
  bool Waiting() noexcept;
  // Waits until a start begun by StartSoon is over (the process created or the start failed). A
  // process being created holds copies of the caller's descriptors, and so of the locks they carry,
  // until then.
  void FinishStart() noexcept;
  // Hands the line (a line end is added) to the waiting program, which then waits for the next.
  // False, and the program dropped, when no program waits, it is gone or its program or a watched
  // file has changed since it was started; the caller then starts one the ordinary way.
  bool Release(std::string_view line) noexcept;
  void Drop() noexcept;

 private:
  bool StartNow(const std::string& program, const std::vector<std::string>& arguments,
                const std::vector<std::string>& watched) noexcept;
  void DropStarted() noexcept;
  void InChild() noexcept override;
  // What the program and the watched files were when it was started (identity, size, times).
  static std::string Versions(const std::vector<std::string>& files);

  std::thread starting_;
  int channel_ = -1;
  std::vector<std::string> watched_;
  std::string versions_;
};

}  // namespace PRESCORA_NS::platform::process
