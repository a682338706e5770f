// executor.exe: performs one spooled dispensing request in a process of its own. Started by the
// dispensing front object, detached, with "IDPres=" and the request identifier. It writes and
// shows nothing itself: the work, the logs and the audit marks are the executor object's.
//
// Started as "executor.exe Espera" (by the front object, ahead of need), it loads the library
// first and then waits for argument strings, one line each on descriptor 3; every line is carried
// out by a copy of the process made then, in the state the loading left it. The end of that input
// ends it quietly.
#include <unistd.h>

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/platform/component.h"
#include "common/platform/events.h"
#include "executor/Waiting.h"

using namespace PRESCORA_NS::platform;

int main(int argc, char** argv) {
  std::string arguments = executor::ArgumentString(argc, argv);
  if (executor::WaitsForArguments(arguments)) {
    component::Preload("Interface");
    std::optional<std::string> line = executor::ServeArgumentLines();
    if (!line) return 2;
    arguments = *line;
  }
  // Every step runs even when the one before failed; nothing escapes.
  std::unique_ptr<prescora::IComponent> executor;
  try {
    executor = component::CreateObject("Interface.CExecutor");
  } catch (...) {
  }
  int status = 2;  // nothing was asked, or the library could not be had
  try {
    if (auto id = executor::RequestIdentifier(arguments); id && executor) {
      std::vector<std::string> arguments{*id};
      status = executor->Invoke("SolicitudDispensacion", arguments) == "True" ? 0 : 1;
    }
  } catch (...) {
    status = 1;
  }
  events::DoEvents();
  try {
    executor.reset();
  } catch (...) {
  }
  if (executor::WorkDone()) executor::EndCopy(status);
  return status;
}
