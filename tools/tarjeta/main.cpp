// prescora-tarjeta: reads the patient's health card as the pharmacy application does, through the
// retrieval library of its own folder (libInitiator.so and Interface.ini beside it), and shows the
// card's identifier (TIS) and holder. For trying a card reader's setup.
//
// Installed beside libInitiator.so: the library takes the [Tarjeta] settings from the folder it
// is loaded from.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "common/platform/events.h"
#include "initiator/CCard.h"
#include "tools/comun/Programa.h"
#include "tools/comun/Progreso.h"
#include "tools/comun/Texto.h"

namespace ns = PRESCORA_NS;

namespace {

// Exit statuses.
constexpr int kLeida = 0;         // the card was read
constexpr int kUso = 2;           // wrong arguments
constexpr int kSinTarjeta = 3;    // no card in time
constexpr int kFalloInterno = 4;  // the settings, the certificate store or the card's data failed

constexpr int32_t kErrorTiempo = 32018;

using prescora_tools::Minusculas;

using prescora_tools::Recortar;

// The wait the library will allow ([Tarjeta] InsercionTarjetaTimeOut of the settings file beside
// this program), only to show the seconds left; nothing when it cannot be told.
std::optional<int> EsperaConfigurada() {
  std::error_code error;
  const auto carpeta = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  if (error) return std::nullopt;
  for (const auto& entrada : std::filesystem::directory_iterator(carpeta, error)) {
    if (Minusculas(entrada.path().filename().string()) != "interface.ini") continue;
    // Never a pipe (it would hold the program), nor a file far larger than any settings file.
    if (!entrada.is_regular_file(error) || entrada.file_size(error) > (4u << 20))
      return std::nullopt;
    std::ifstream in(entrada.path());
    std::string linea, seccion;
    while (std::getline(in, linea)) {
      linea = Recortar(linea);
      if (!linea.empty() && linea.front() == '[') {
        seccion = Minusculas(Recortar(linea.substr(1, linea.find(']') - 1)));
      } else if (seccion == "tarjeta" && linea.find('=') != std::string::npos &&
                 Minusculas(Recortar(linea.substr(0, linea.find('=')))) ==
                     "inserciontarjetatimeout") {
        try {
          return std::stoi(linea.substr(linea.find('=') + 1));
        } catch (...) {
          return std::nullopt;
        }
      }
    }
    break;
  }
  return std::nullopt;
}

using prescora_tools::Escapar;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Espera la tarjeta sanitaria del paciente en el lector y muestra su identificador (TIS) y "
      "su titular, leídos del certificado de la tarjeta con la biblioteca de recuperación de "
      "esta carpeta (libInitiator.so, Interface.ini: sección [Tarjeta]).",
      "prescora-tarjeta"};
  prescora_tools::AyudaEnEspanol(app, 30);
  app.set_help_flag("-h,--help", "Muestra esta ayuda y termina");
  app.footer(
      "Estado de salida: 0 tarjeta leída; 2 argumentos no válidos; 3 no se leyó ninguna "
      "tarjeta a tiempo; 4 otro fallo (configuración, almacén de certificados o datos de la "
      "tarjeta).");
  std::string formato = "texto";
  bool silencioso = false;
  prescora_tools::OpcionFormato(app, formato);
  app.add_flag("-s,--silencioso", silencioso, "Sin la línea de progreso mientras espera");
  if (auto salida = prescora_tools::LeerLineaDeOrdenes(app, argc, argv, kUso)) return *salida;

  // The seconds left for the card, or gone by when the wait has no end.
  prescora_tools::Progreso progreso(
      !silencioso && formato == "texto" && isatty(STDERR_FILENO), std::chrono::milliseconds(200),
      [espera = EsperaConfigurada()](double pasados) {
        char texto[96];
        if (espera)
          std::snprintf(texto, sizeof texto, "Inserte la tarjeta sanitaria... quedan %.0f s ",
                        std::max(0.0, *espera - pasados));
        else
          std::snprintf(texto, sizeof texto, "Inserte la tarjeta sanitaria... %.0f s ", pasados);
        return std::string(texto);
      });
  ns::platform::events::SetMessageLoopHook([&progreso] { progreso.Paso(); });
  ns::CArgument argumento;
  ns::CErrorItem error;
  const bool leida = ns::CCard().GetCardData(argumento, error);
  ns::platform::events::SetMessageLoopHook({});
  progreso.Terminar();

  const int salida = leida ? kLeida : error.Number() == kErrorTiempo ? kSinTarjeta : kFalloInterno;
  if (formato == "tabulado") {
    std::cout << "tis\t" << Escapar(argumento.TIS()) << "\n";
    std::cout << "titular\t" << Escapar(argumento.TitularTarjeta()) << "\n";
    if (!leida)
      std::cout << "error\t" << error.Number() << "\t" << Escapar(error.Description()) << "\t"
                << Escapar(error.Source()) << "\n";
    std::cout << "salida\t" << salida << "\n";
  } else if (leida) {
    std::cout << "Tarjeta leída\n";
    std::cout << "  TIS:      " << Escapar(argumento.TIS()) << "\n";
    std::cout << "  Titular:  " << Escapar(argumento.TitularTarjeta()) << "\n";
  } else {
    std::cout << "No se ha leído la tarjeta\n";
    std::cout << "  Error:    (" << error.Number() << ") " << Escapar(error.Description()) << "  ["
              << Escapar(error.Source()) << "]\n";
  }
  return salida;
}
