// executor.exe as the tests hold it: the launcher's work done by the executor object of the static
// archive, stopped at the points named in PRESCORA_RETENER (comma-separated, e.g.
// "CExecutor.Conectado"). At such a point it writes "<point>.llegada" with its process id into the
// library folder and waits until the test creates "<point>.seguir" (or kills it); then it removes
// both and goes on. Copied into a library folder under the launcher's name.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/platform/checkpoint.h"
#include "common/platform/component.h"
#include "executor/CommandLine.h"
#include "interface/CExecutor.h"

namespace ns = PRESCORA_NS;

int main(int argc, char** argv) {
  const char* held = std::getenv("PRESCORA_RETENER");
  const std::string points = held == nullptr ? "" : "," + std::string(held) + ",";
  const std::string folder = ns::platform::component::LibraryFolder() + "/";
  ns::platform::checkpoint::SetHookForTesting([&](std::string_view point) {
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
  auto id = executor::RequestIdentifier(executor::ArgumentString(argc, argv));
  if (!id) return 2;
  ns::CExecutor executor;
  return executor.SolicitudDispensacion(*id) ? 0 : 1;
}
