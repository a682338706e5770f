#include "executor/Launcher.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "common/platform/events.h"
#include "executor/CommandLine.h"
#include "executor/Copies.h"

namespace executor {

using namespace PRESCORA_NS::platform;

int Run(int argc, char** argv, const Hooks& hooks) {
  std::string arguments = ArgumentString(argc, argv);
  if (WaitsForArguments(arguments)) {
    if (hooks.preload) {
      try {
        hooks.preload();
      } catch (...) {
      }
    } else {
      component::Preload("Interface");
    }
    std::optional<std::string> line = ServeArgumentLines();
    if (!line) return 2;
    arguments = *line;
  }
  // Every step runs even when the one before failed; nothing escapes.
  std::unique_ptr<prescora::IComponent> executor;
  try {
    if (hooks.atWork) hooks.atWork();
  } catch (...) {
  }
  try {
    executor = hooks.create ? hooks.create() : component::CreateObject("Interface.CExecutor");
  } catch (...) {
  }
  int status = 2;  // nothing was asked, or the library could not be had
  try {
    if (auto id = RequestIdentifier(arguments); id && executor) {
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
  if (WorkDone()) EndCopy(status);
  return status;
}

}  // namespace executor
