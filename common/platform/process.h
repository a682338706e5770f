// Starting the launcher: a new process, detached, not waited for.
#pragma once

#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/Export.h"

namespace PRESCORA_NS::platform::process {

// Starts `program` with `arguments` (argv[1..]) through posix_spawn, standard streams on
// /dev/null, in a session of its own. The host is never left with a zombie: the child is the
// grandchild of a short-lived intermediate, or is reaped. False when the start failed.
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments);

// A program started ahead of need, detached as StartDetached starts it, that gets ready and then
// waits for one line on its descriptor 3 (a socket). Release sends the line; a program dropped
// without it (Drop, destruction, the host ending) reads the end of the input and should end.
// Start does not wait for the short-lived intermediate process: it is reaped by the next Release
// or Drop (it has long ended by then), so the host holds at most that one until then.
class WaitingProgram {
 public:
  WaitingProgram() = default;
  ~WaitingProgram();
  WaitingProgram(const WaitingProgram&) = delete;
  WaitingProgram& operator=(const WaitingProgram&) = delete;

  // Drops a program still waiting and starts another. False when the start failed.
  bool Start(const std::string& program, const std::vector<std::string>& arguments) noexcept;
  // As Start, on a short-lived thread of its own, so that the caller does not wait while the
  // process is created (the host may be large and the machine busy); every other member waits
  // for that start first. Starts at once when no thread can be had.
  void StartSoon(const std::string& program, const std::vector<std::string>& arguments) noexcept;
  bool Waiting() noexcept;
  // Waits until a start begun by StartSoon is over (the process created or the start failed). A
  // process being created holds copies of the caller's descriptors, and so of the locks they carry,
  // until then.
  void FinishStart() noexcept;
  // Hands the line (a line end is added) to the waiting program and lets it go. False when no
  // program waits or it is gone; the caller then starts one the ordinary way.
  bool Release(std::string_view line) noexcept;
  void Drop() noexcept;

 private:
  bool StartNow(const std::string& program, const std::vector<std::string>& arguments) noexcept;
  void DropStarted() noexcept;

  std::thread starting_;
  int channel_ = -1;
  int shell_ = -1;  // the intermediate process, not yet reaped
};

}  // namespace PRESCORA_NS::platform::process
