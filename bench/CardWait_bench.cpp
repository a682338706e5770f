// What waiting for the health card costs: the processor share of the host while GetCardData waits
// for a card that never comes (the whole wait, looks at the store included), and the cost of one
// look at the store (opening the NSS database and its PKCS#11 tokens, listing, closing).
//
//   build/bench/card_bench [--espera S] [--miradas N]
//
// The store is a real NSS database with a SoftHSM token holding a few certificates, made in a
// temporary folder; the settings file lives in a temporary library folder.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/platform/certstore.h"
#include "common/platform/component.h"
#include "common/platform/events.h"
#include "initiator/CCard.h"
#include "support/CardStore.h"
#include "support/SettingsFile.h"

namespace ns = PRESCORA_NS;

namespace {

double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  int espera = 10;
  int miradas = 50;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--espera") == 0) espera = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--miradas") == 0) miradas = std::atoi(argv[i + 1]);
  }

  CardStore store;
  bool made = store.ok();
  for (int i = 0; made && i < 3; ++i)
    made = store.AddCard("/C=ES/serialNumber=TIS 0000000" + std::to_string(i) + "/CN=PACIENTE");
  if (!made) {
    std::fprintf(stderr, "No se ha podido preparar el almacén:\n%s", store.log().c_str());
    return 1;
  }

  // One look at a time.
  const ns::platform::certstore::Location location{store.database(), ""};
  double cpu = ProcessSeconds();
  double wall = WallSeconds();
  std::size_t listed = 0;
  for (int i = 0; i < miradas; ++i) listed = ns::platform::certstore::Look(location).size();
  cpu = ProcessSeconds() - cpu;
  wall = WallSeconds() - wall;
  std::printf("One look at the store (%zu certificates, %d looks):\n", listed, miradas);
  std::printf("  processor %.2f ms, wall %.2f ms a look\n", cpu * 1000 / miradas,
              wall * 1000 / miradas);

  // A whole wait for a card of an issuer that is not there; then the same wait with looks too far
  // apart to happen, which leaves the passes alone.
  TempFolder library;
  ns::platform::component::SetLibraryFolderForTesting(library.path());
  for (const char* interval : {"1", "30000"}) {
    WriteSettings(library / "Interface.ini",
                  {{"Tarjeta.BaseDatosCertificados", store.database()},
                   {"Tarjeta.InsercionTarjetaTimeOut", std::to_string(espera)},
                   {"Tarjeta.IntervaloComprobacion", interval},
                   {"Tarjeta.CertIssuerSimpleName", "emisor ausente"}});
    long passes = 0;
    ns::platform::events::SetMessageLoopHook([&passes] { ++passes; });
    ns::CArgument argument;
    ns::CErrorItem error;
    cpu = ProcessSeconds();
    wall = WallSeconds();
    const bool read = ns::CCard().GetCardData(argument, error);
    cpu = ProcessSeconds() - cpu;
    wall = WallSeconds() - wall;
    ns::platform::events::SetMessageLoopHook({});
    std::printf(
        "Waiting %d s for a card that does not come, IntervaloComprobacion=%s (ended with "
        "%d%s):\n",
        espera, interval, error.Number(), read ? ", read" : "");
    std::printf("  wall %.2f s, processor %.3f s: %.2f%% of one processor (target <= 2%%)\n", wall,
                cpu, 100 * cpu / wall);
    std::printf("  message-loop passes: %ld (%.0f a second)\n", passes, passes / wall);
  }
  return 0;
}
