// executor.exe: performs one spooled dispensing request in a process of its own. Started by the
// dispensing front object, detached, with "IDPres=" and the request identifier. It writes and
// shows nothing itself: the work, the logs and the audit marks are the executor object's.
//
// Started as "executor.exe Espera" (by the front object, ahead of need), it loads the library
// first and then waits for argument strings, one line each on descriptor 3; every line is carried
// out by a copy of the process made then, in the state the loading left it. The end of that input
// ends it quietly.
#include "executor/Launcher.h"

int main(int argc, char** argv) {
  return executor::Run(argc, argv);
}
