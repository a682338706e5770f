// A launcher started ahead of need ("executor.exe Espera") serves its front object for as long as
// that one keeps it, without loading anything again: every request is carried out by a copy of
// the loaded process (forked), one copy per request. The conventions it keeps with the front
// object are in common/LauncherConventions.h.
//
// The process started by the front object never works itself. It keeps one copy waiting on the
// channel (descriptor 3). That copy takes one argument line, tells the process that made it so,
// lets the channel go and carries the line out in a session of its own. A copy whose maker is gone
// (killed) takes no more lines: it refuses the channel and ends, so that the front object's
// hand-over fails at once and it starts a launcher the ordinary way. The next copy is made once
// that work is done (WorkDone), so that the work has the machine to itself; when requests come in
// quick succession, or the next line is already there, it is made at once.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "common/LauncherConventions.h"

namespace executor {

using prescora::launcher::kArgumentsChannel;

// Lines taken closer together than this count as quick succession.
constexpr std::chrono::milliseconds kQuickSuccession{30};
// How long after a copy's work the next copy is made, unless a line comes first (milliseconds).
constexpr int kAfterWorkMs = 10;

// Serves argument lines as described above. Returns the line in the copy that took it, and
// nothing in the serving process once the input ends (or a copy ends without a line). When no
// copy can be made, or another thread runs in this process (a copy would start with whatever that
// thread held), this process takes a line and carries it out itself, serving no more: the front
// object's next hand-over then fails and it starts a launcher the ordinary way.
std::optional<std::string> ServeArgumentLines();

// The number of threads of this process, 0 when it cannot be read.
int ThreadCount();

// In a copy: its request is carried out and the executor object gone; the next copy may be made.
// False in any other process.
bool WorkDone();

// In a copy whose work is done: ends the process once the objects of its thread have ended (they
// write the trace's last lines), without the rest of the usual clean-up: the libraries' own ends
// and the freeing of what they hold cost a copy more than its work, and every page they touch is
// one it still shares with the serving process, copied first.
[[noreturn]] void EndCopy(int status);

// In a copy: its argument line, read while `maker` (its end of the pipe from the process that made
// it) shows that process alive. Once that process is gone, the copy takes a line that has already
// come, but refuses any later one: the sender then fails at once instead of handing it to nobody.
std::optional<std::string> TakeArgumentLine(int maker);

// In a copy that took its line: tells the process that made it, which may be gone (no SIGPIPE
// then: the copy carries its line out all the same).
bool TellTaken(int maker);

// One argument line from the channel; nothing at the end of the input without a whole line.
std::optional<std::string> ReadArgumentLine();

// Once the argument line is read, the channel is let go but its descriptor stays taken (by
// /dev/null): a connection opened later never gets number 3, so a launcher at work is never
// taken for one still waiting for its request.
void ReleaseArgumentsChannel();

}  // namespace executor
