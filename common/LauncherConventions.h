// What the front object (common/platform/process.cpp, interface/CInterface.cpp) and the launcher
// (executor/) agree on about a launcher started ahead of need. Both sides read them from here;
// change one only on both sides at once.
//
// Hand-over. The front object starts "executor.exe Espera" with one end of a socket pair as its
// descriptor kArgumentsChannel (3) and nothing else open but the standard streams (on /dev/null).
// Each request goes through it as one argument line ending in "\n" (at most kMaxArgumentLine
// bytes), exactly the argument string an ordinary start would have had ("IDPres=<id>"). The end
// of that input (the front object gone, or dropped) ends the launcher quietly. A launcher that can
// take no more lines shuts the reading side of its end, so the front object's next hand-over fails
// at once and it starts a launcher the ordinary way.
//
// Descriptor 3 after the hand-over. Once a process has taken its line, its descriptor 3 is let go
// but stays taken, by /dev/null: a connection opened later never gets number 3. Whether a
// launcher still waits for its request is read from the outside by what its descriptor 3 is (a
// socket while it waits); nothing else tells it, since a copy at work keeps its command line.
//
// Symbol binding. The launcher started ahead of need gets kBindNow in its environment (any other
// LD_BIND_NOW of the host's is left out): every symbol of its libraries is bound as they load,
// while nobody waits, so no copy looks one up. A launcher started for one request gets the host's
// environment as it is.
//
// Priorities. The serving process runs as a batch process (SCHED_BATCH), so a copy that wakes it
// by taking its line keeps the processor; each copy goes back to the ordinary policy. A copy
// whose work is done lowers itself to nice 19 for what is left (telling the pages it used, ending),
// which must not delay the front object still reading the answer.
//
// One thread. The serving process forks its copies: it must have no other thread then (a copy
// would find any lock another thread held taken for ever), and it checks so before every fork.
// A copy keeps to one thread too (the SOAP client keeps its exchanges' deadlines itself there),
// and no library of the launcher installs a signal handler.
#pragma once

namespace prescora::launcher {

// The descriptor through which a launcher started ahead of need gets its argument lines.
constexpr int kArgumentsChannel = 3;

// The first argument of a launcher started ahead of need.
constexpr const char* kWaitArgument = "Espera";

// The longest argument line taken; a longer one is cut there.
constexpr unsigned kMaxArgumentLine = 4096;

// The environment entry of a launcher started ahead of need.
constexpr const char* kBindNow = "LD_BIND_NOW=1";

}  // namespace prescora::launcher
