// What the command-line tools share about their command line and their tabulated output.
#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <iostream>
#include <optional>
#include <string>

#include "tools/comun/Texto.h"

namespace prescora_tools {

// The help's own words in Spanish, and the width of its first column.
inline void AyudaEnEspanol(CLI::App& app, std::size_t ancho) {
  auto f = app.get_formatter();
  f->label("Usage", "Uso");
  f->label("OPTIONS", "OPCIONES");
  f->label("TEXT", "TEXTO");
  f->label("REQUIRED", "(obligatoria)");
  f->label("Excludes", "Excluye");
  f->label("Needs", "Requiere");
  f->column_width(ancho);
}

// Reads the command line. Nothing when the program goes on; otherwise its exit status: 0 once
// the help (and `pie`) is shown, `uso` for a command line it cannot take, said in Spanish on the
// error output with the program's name.
inline std::optional<int> LeerLineaDeOrdenes(CLI::App& app, int argc, char** argv, int uso,
                                             const std::string& pie = "") {
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help() << pie;
    return 0;
  } catch (const CLI::ParseError& e) {
    // The parser's own text (in English) stays in brackets, for the details.
    const char* motivo = "argumentos no válidos";
    if (dynamic_cast<const CLI::ExtrasError*>(&e))
      motivo = "argumento no reconocido";
    else if (dynamic_cast<const CLI::ArgumentMismatch*>(&e))
      motivo = "falta el valor de una opción";
    else if (dynamic_cast<const CLI::RequiredError*>(&e))
      motivo = "falta una opción obligatoria";
    else if (dynamic_cast<const CLI::ValidationError*>(&e))
      motivo = "valor no válido";
    std::cerr << app.get_name() << ": " << motivo << " (" << e.what()
              << "). Use --help para ver las opciones." << std::endl;
    return uso;
  }
}

// The end of a tabulated output: the errors the front object collected, then the exit status.
template <typename Errores>
void ErroresYSalida(const Errores& errores, int salida) {
  for (const auto& e : errores)
    std::cout << "error\t" << e.Number() << "\t" << Escapar(e.Description()) << "\t"
              << Escapar(e.Source()) << "\n";
  std::cout << "salida\t" << salida << "\n";
}

}  // namespace prescora_tools
