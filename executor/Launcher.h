// The launcher's whole run, shared by executor.exe and the test launcher, which differ only in
// the hooks they give it.
#pragma once

#include <functional>
#include <memory>

#include "common/platform/component.h"

namespace executor {

struct Hooks {
  // Loads the dispensing library ahead of need, in a launcher started so. Empty: from the library
  // folder, letting it prepare itself (component::Preload).
  std::function<void()> preload;
  // Creates the executor object. Empty: "Interface.CExecutor" from the library folder.
  std::function<std::unique_ptr<prescora::IComponent>()> create;
  // In the process that carries a request out, once it has its argument string; may be empty.
  std::function<void()> atWork;
};

// Carries out the request of the argument string (argv[1..]), or, started ahead of need, serves
// the lines that come as Copies.h describes. The exit status: 0 when the request was sent, 1 when
// it was not, 2 when nothing was asked or the library could not be had.
int Run(int argc, char** argv, const Hooks& hooks = {});

}  // namespace executor
