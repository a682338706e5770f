// prescora-recuperar: plays the pharmacy application asking for a patient's prescriptions still to
// be dispensed. Retrieves them through the retrieval library of its own folder (libInitiator.so,
// with libInterface.so and Interface.ini beside it) and shows them as a table.
//
// Installed beside libInitiator.so: the library takes its settings and logs from the folder it is
// loaded from.
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "initiator/CCard.h"
#include "initiator/CInitiator.h"
#include "tools/comun/Programa.h"
#include "tools/comun/Texto.h"

namespace ns = PRESCORA_NS;

namespace {

// Exit statuses; only 0 means the list came back.
constexpr int kListadas = 0;      // the service listed the pending prescriptions (maybe none)
constexpr int kCodigoError = 1;   // the service answered with an error code
constexpr int kUso = 2;           // wrong arguments
constexpr int kSinTarjeta = 3;    // --tarjeta: no card in time
constexpr int kFalloInterno = 4;  // the retrieval failed (see Errores), or reading the card did

struct Opciones {
  std::string tis;
  bool tarjeta = false;
  std::string usuario;
  std::string clave;
  int idioma = 0;
  std::string formato = "texto";
};

// Who the prescriptions are for: the patient's card identifier.
bool RellenarPaciente(ns::CArgument& argumento, const Opciones& opciones, std::string& error) {
  if (opciones.tis.empty()) {
    error = "falta el paciente: indique --tis o --tarjeta";
    return false;
  }
  argumento.set_TIS(opciones.tis);
  return true;
}

// The patient from the health card in the reader ([Tarjeta] of the settings file): 0 when read,
// else the exit status, with the reason on standard error.
int LeerTarjeta(ns::CArgument& argumento, const Opciones& opciones) {
  ns::CErrorItem error;
  if (!ns::CCard().GetCardData(argumento, error)) {
    std::cerr << "prescora-recuperar: no se ha leído la tarjeta: (" << error.Number() << ") "
              << error.Description() << std::endl;
    return error.Number() == 32018 ? kSinTarjeta : kFalloInterno;
  }
  if (opciones.formato == "texto")
    std::cout << "Tarjeta sanitaria de " << prescora_tools::Visible(argumento.TitularTarjeta())
              << "\n";
  return kListadas;
}

std::string NombreRegimen(ns::RegimenRecetaEnum regimen) {
  switch (regimen) {
    case ns::Activo:
      return "activo";
    case ns::Pensionista:
      return "pensionista";
    case ns::Otro:
      return "otro";
  }
  return std::to_string(static_cast<int32_t>(regimen));
}

std::string NombreVisado(ns::RequiereVisadoEnum visado) {
  switch (visado) {
    case ns::NoNecesita:
      return "no necesita";
    case ns::PendienteVisar:
      return "pendiente";
    case ns::YaVisada:
      return "visada";
    case ns::VisadoRechazado:
      return "rechazado";
  }
  return std::to_string(static_cast<int32_t>(visado));
}

// Characters on screen of a UTF-8 text (continuation bytes take no column).
std::size_t Ancho(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

using prescora_tools::Escapar;
using prescora_tools::Visible;

void MostrarTabla(const std::vector<std::vector<std::string>>& filas) {
  std::vector<std::size_t> anchos;
  for (const auto& fila : filas)
    for (std::size_t i = 0; i < fila.size(); ++i) {
      if (anchos.size() <= i) anchos.push_back(0);
      anchos[i] = std::max(anchos[i], Ancho(fila[i]));
    }
  for (const auto& fila : filas) {
    std::string linea = " ";
    for (std::size_t i = 0; i < fila.size(); ++i) {
      linea += " " + fila[i];
      if (i + 1 < fila.size()) linea += std::string(anchos[i] - Ancho(fila[i]) + 1, ' ');
    }
    std::cout << linea << "\n";
  }
}

void MostrarTexto(const ns::CArgument& argumento, const ns::CPrescripciones& lista,
                  const std::vector<ns::CErrorItem>& errores) {
  const auto& registros = lista.Registros();
  std::cout << "Paciente " << Visible(argumento.TIS()) << " (" << argumento.Fecha() << ")\n";
  if (!lista.DatosValidos() && lista.CodigoError() == 0 && registros.empty()) {
    std::cout << "  No se pudo recuperar la lista (ver Errores).\n";
  } else if (registros.empty()) {
    std::cout << "  Ninguna prescripción pendiente de dispensar.\n";
  } else {
    std::cout << "  Prescripciones pendientes de dispensar: " << registros.size() << "\n\n";
    std::vector<std::vector<std::string>> filas{
        {"Identificador", "Producto", "Fecha", "Envases", "Régimen", "Visado"}};
    for (const auto& p : registros)
      filas.push_back({Visible(p.IDPrescripcion()), Visible(p.CodigoProducto()),
                       Visible(p.FechaPrescripcion()), std::to_string(p.EnvasesPrescritos()),
                       NombreRegimen(p.RegimenReceta()), NombreVisado(p.RequiereVisado())});
    MostrarTabla(filas);
    std::cout << "\n";
  }
  std::cout << "  Datos válidos:          " << (lista.DatosValidos() ? "sí" : "no") << "\n";
  std::cout << "  Código de error:        " << lista.CodigoError() << "\n";
  std::cout << "  Descripción del error:  "
            << (lista.DescripcionError().empty() ? "(ninguna)" : Visible(lista.DescripcionError()))
            << "\n";
  prescora_tools::ErroresEnTexto(errores);
}

void MostrarTabulado(const ns::CArgument& argumento, const ns::CPrescripciones& lista,
                     const std::vector<ns::CErrorItem>& errores, int salida) {
  std::cout << "tis\t" << Escapar(argumento.TIS()) << "\n";
  std::cout << "fecha\t" << argumento.Fecha() << "\n";
  std::cout << "datos_validos\t" << (lista.DatosValidos() ? "True" : "False") << "\n";
  std::cout << "codigo_error\t" << lista.CodigoError() << "\n";
  std::cout << "descripcion_error\t" << Escapar(lista.DescripcionError()) << "\n";
  std::cout << "prescripciones\t" << lista.Registros().size() << "\n";
  for (const auto& p : lista.Registros())
    std::cout << "prescripcion\t" << Escapar(p.IDPrescripcion()) << "\t"
              << Escapar(p.CodigoProducto()) << "\t" << p.FechaPrescripcion() << "\t"
              << p.EnvasesPrescritos() << "\t" << static_cast<int32_t>(p.RegimenReceta()) << "\t"
              << static_cast<int32_t>(p.RequiereVisado()) << "\n";
  prescora_tools::ErroresYSalida(errores, salida);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Recupera las prescripciones de un paciente pendientes de dispensar con la biblioteca de "
      "recuperación de esta carpeta (libInitiator.so, libInterface.so, Interface.ini) y las "
      "muestra: identificador, producto, fecha, envases, régimen y visado, con el código de "
      "error del servicio y los errores.",
      "prescora-recuperar"};
  prescora_tools::AyudaEnEspanol(app, 30);
  app.set_help_flag("-h,--help", "Muestra esta ayuda y termina")->group("Generales");
  app.footer(
      "Estado de salida: 0 lista recuperada; 1 el servicio respondió con un código de error; "
      "2 argumentos no válidos; 3 (--tarjeta) no se leyó ninguna tarjeta a tiempo; 4 la "
      "recuperación o la lectura de la tarjeta falló (ver Errores).");

  Opciones opciones;
  auto* tis = app.add_option("-t,--tis", opciones.tis, "Tarjeta sanitaria (TIS) del paciente")
                  ->type_name("TIS")
                  ->group("Consulta");
  app.add_flag("--tarjeta", opciones.tarjeta,
               "Lee el TIS de la tarjeta sanitaria del lector (sección [Tarjeta] de Interface.ini) "
               "y recupera las prescripciones de ese paciente")
      ->excludes(tis)
      ->group("Consulta");
  app.add_option("-u,--usuario", opciones.usuario, "Usuario del servicio")
      ->type_name("TEXTO")
      ->group("Consulta");
  app.add_option("-c,--clave", opciones.clave, "Clave del usuario")
      ->type_name("TEXTO")
      ->group("Consulta");
  app.add_option("-i,--idioma", opciones.idioma, "Código de idioma enviado al servicio (0)")
      ->type_name("N")
      ->check(CLI::Range(-32768, 32767))
      ->group("Consulta");
  prescora_tools::OpcionFormato(app, opciones.formato)->group("Salida");

  if (auto salida = prescora_tools::LeerLineaDeOrdenes(app, argc, argv, kUso)) return *salida;

  ns::CArgument argumento;
  argumento.set_Usuario(opciones.usuario);
  argumento.set_Password(opciones.clave);
  argumento.set_Idioma(static_cast<int16_t>(opciones.idioma));
  std::string error;
  if (opciones.tarjeta) {
    const int leida = LeerTarjeta(argumento, opciones);
    if (leida != kListadas) return leida;
  } else if (!RellenarPaciente(argumento, opciones, error)) {
    std::cerr << "prescora-recuperar: " << error << ". Use --help para ver las opciones."
              << std::endl;
    return kUso;
  }

  ns::CInitiator iniciador;
  ns::CPrescripciones lista = iniciador.RecuperarPrescripciones(argumento);

  int salida;
  if (lista.DatosValidos())
    salida = kListadas;
  else if (lista.CodigoError() != 0)
    salida = kCodigoError;
  else
    salida = kFalloInterno;

  if (opciones.formato == "tabulado")
    MostrarTabulado(argumento, lista, iniciador.Errores(), salida);
  else
    MostrarTexto(argumento, lista, iniciador.Errores());
  return salida;
}
