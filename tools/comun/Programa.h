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
  // Options given no group of their own are listed under a Spanish heading too.
  app.option_defaults()->group("Opciones");
}

// The version every tool answers --version with: the package's.
#ifndef PRESCORA_TOOLS_VERSION
#error "PRESCORA_TOOLS_VERSION must give the package's version"
#endif

// --formato: "texto" (for people) or "tabulado" (for programs, one line per `linea`).
inline CLI::Option* OpcionFormato(CLI::App& app, std::string& formato,
                                  const std::string& linea = "dato") {
  return app
      .add_option("--formato", formato,
                  "texto (para personas) o tabulado (una línea por " + linea +
                      ", campos separados por tabuladores, para programas)")
      ->type_name("FORMATO")
      ->check(CLI::IsMember({"texto", "tabulado"}));
}

// -V, --version: "<program> <version>" on the standard output, exit status 0.
inline void AnadirVersion(CLI::App& app) {
  auto* version =
      app.set_version_flag("-V,--version", app.get_name() + " " + PRESCORA_TOOLS_VERSION,
                           "Muestra la versión y termina");
  if (const auto* ayuda = app.get_help_ptr()) version->group(ayuda->get_group());
}

// What the parser could not take, said in Spanish: its own texts are English. The option or
// argument at fault is taken from its text.
inline std::string MotivoEnEspanol(const CLI::ParseError& e) {
  const std::string texto = e.what();
  std::string nombre;
  if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
    auto dos = texto.find(": ");
    nombre = dos == std::string::npos ? "" : texto.substr(dos + 2);
  } else {
    for (std::size_t i = 0; i < texto.size(); ++i) {
      if (texto[i] == '-' && (i == 0 || texto[i - 1] == ' ')) {
        auto fin = texto.find_first_of(" :,", i);
        nombre = texto.substr(i, fin == std::string::npos ? std::string::npos : fin - i);
        break;
      }
    }
  }
  std::string motivo;
  if (dynamic_cast<const CLI::ExtrasError*>(&e))
    motivo = "argumento no reconocido";
  else if (dynamic_cast<const CLI::ArgumentMismatch*>(&e))
    motivo = "falta el valor de la opción";
  else if (dynamic_cast<const CLI::RequiredError*>(&e))
    motivo = "falta una opción obligatoria";
  else if (dynamic_cast<const CLI::ExcludesError*>(&e))
    motivo = "opciones que no pueden usarse juntas";
  else if (dynamic_cast<const CLI::RequiresError*>(&e))
    motivo = "a esta opción le falta otra que requiere";
  else if (dynamic_cast<const CLI::ValidationError*>(&e) ||
           dynamic_cast<const CLI::ConversionError*>(&e))
    motivo = "valor no válido para la opción";
  else
    motivo = "argumentos no válidos";
  return nombre.empty() ? motivo : motivo + " " + nombre;
}

// Reads the command line. Nothing when the program goes on; otherwise its exit status: 0 once
// the help (and `pie`) or the version is shown, `uso` for a command line it cannot take, said in
// Spanish on the error output with the program's name.
inline std::optional<int> LeerLineaDeOrdenes(CLI::App& app, int argc, char** argv, int uso,
                                             const std::string& pie = "") {
  if (!app.get_option_no_throw("--version")) AnadirVersion(app);
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help() << pie;
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << std::endl;
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << app.get_name() << ": " << MotivoEnEspanol(e)
              << ". Use --help para ver las opciones." << std::endl;
    return uso;
  }
}

// The errors the front object collected, as the text output lists them.
template <typename Errores>
void ErroresEnTexto(const Errores& errores) {
  if (errores.empty()) {
    std::cout << "  Errores:                ninguno\n";
    return;
  }
  std::cout << "  Errores:                " << errores.size() << "\n";
  for (const auto& e : errores)
    std::cout << "    (" << e.Number() << ") " << Visible(e.Description()) << "  ["
              << Visible(e.Source()) << "]\n";
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
