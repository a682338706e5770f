// executor.exe as the tests hold it: the launcher's own run (executor/Launcher.h) with the
// executor object of the static archive, stopped at the points named in the file PRESCORA_RETENER
// of the library folder, read once the launcher has its request (comma-separated, e.g.
// "CExecutor.Conectado"). At such a point it writes "<point>.llegada" with its process id into
// the library folder and waits until the test creates "<point>.seguir" (or kills it); then it
// removes both and goes on. Copied into a library folder under the launcher's name.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "common/platform/checkpoint.h"
#include "common/platform/component.h"
#include "executor/Launcher.h"

namespace ns = PRESCORA_NS;

namespace {

// Sets the stop points of this process's executor object.
void HoldAtNamedPoints() {
  const std::string folder = ns::platform::component::LibraryFolder() + "/";
  std::string held;
  std::getline(std::ifstream(folder + "PRESCORA_RETENER"), held);
  const std::string points = held.empty() ? "" : "," + held + ",";
  ns::platform::checkpoint::SetHookForTesting([folder, points](std::string_view point) {
    if (points.find("," + std::string(point) + ",") == std::string::npos) return;
    const std::string arrival = folder + std::string(point) + ".llegada";
    const std::string go = folder + std::string(point) + ".seguir";
    {
      std::ofstream out(arrival + ".tmp");
      out << ::getpid() << "\n";
    }
    std::filesystem::rename(arrival + ".tmp", arrival);
    while (!std::filesystem::exists(go)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::error_code ignored;
    std::filesystem::remove(arrival, ignored);
    std::filesystem::remove(go, ignored);
  });
}

}  // namespace

int main(int argc, char** argv) {
  executor::Hooks hooks;
  // The library is this program's own archive, prepared and asked as the shipped one would be.
  hooks.preload = [] { PrescoraPrepare(); };
  hooks.create = [] {
    return std::unique_ptr<prescora::IComponent>(PrescoraCreateObject("CExecutor"));
  };
  hooks.atWork = HoldAtNamedPoints;
  return executor::Run(argc, argv, hooks);
}
