// prescora-dispensar: plays the pharmacy application. Dispenses one prescription through the
// dispensing library of its own folder (libInterface.so, Interface.ini, executor.exe) and shows the
// response. For integrators trying an installation, and for the README's demonstration.
//
// Installed beside libInterface.so: the library takes its settings and spool folders from the
// folder it is loaded from.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/platform/events.h"
#include "interface/CInterface.h"
#include "tools/comun/Programa.h"
#include "tools/comun/Progreso.h"
#include "tools/comun/Texto.h"

namespace ns = PRESCORA_NS;

namespace {

// Exit statuses; only 0 means the dispensing went through.
constexpr int kRealizada = 0;     // the service confirmed the dispensing
constexpr int kNoRealizada = 1;   // the service answered without confirming it (rejected)
constexpr int kUso = 2;           // wrong arguments or fields file
constexpr int kSinRespuesta = 3;  // no answer in time: a fallback response, outcome unknown
constexpr int kFalloInterno = 4;  // the request failed inside the library
constexpr int kNoEnviada = 5;     // surely not sent: a fallback response, nothing dispensed

// One field of the request: its property name (as in a fields file), its option and its setter.
struct Campo {
  const char* propiedad;
  const char* opcion;
  const char* ayuda;
};

const Campo kCampos[] = {
    {"IDPrescripcion", "--id", "Identificador de la prescripción; vacío: se genera uno (ITP...)"},
    {"IdFarmacia", "--farmacia", "Código de la farmacia"},
    {"IdProvincia", "--provincia", "Código de la provincia"},
    {"IdUsuario", "--usuario", "Usuario del servicio"},
    {"ClaveUsuario", "--clave", "Clave del usuario"},
    {"IdFarmaceutico", "--farmaceutico", "Farmacéutico que dispensa"},
    {"Importe", "--importe", "Importe"},
    {"ImporteAportacion", "--aportacion", "Importe de la aportación del paciente"},
    {"FechaDispensacion", "--fecha", "Fecha de la dispensación (dd/mm/aaaa; por defecto, hoy)"},
    {"Idioma", "--idioma", "Idioma de los textos de la respuesta"},
    {"EnvasesDispensados", "--envases", "Envases dispensados"},
    {"NumeroReceta", "--receta", "Número de receta"},
    {"CodigoDispensado", "--codigo-dispensado", "Código del producto dispensado"},
    {"CodigoColegiadoPrescriptor", "--colegiado", "Colegiado prescriptor (sin identificador)"},
    {"FechaPrescripcion", "--fecha-prescripcion", "Fecha de la prescripción (sin identificador)"},
    {"TIS", "--tis", "Tarjeta sanitaria del paciente"},
    {"RegimenReceta", "--regimen", "Régimen: trabajador (0) o pensionista (1) (sin identificador)"},
    {"TipoPrescripcion", "--tipo",
     "Tipo: especialidad (1), principio-activo (2), formula (3) o efectos (5)"},
    {"FormulaMagistral", "--formula", "Nombre de la fórmula magistral"},
    {"SaveSOAPMsgToFile", nullptr, nullptr},  // --guardar-soap, or the fields file
};

using prescora_tools::Minusculas;

using prescora_tools::Recortar;

const Campo* BuscarCampo(const std::string& propiedad) {
  const std::string buscado = Minusculas(propiedad);
  for (const Campo& c : kCampos)
    if (Minusculas(c.propiedad) == buscado) return &c;
  return nullptr;
}

// A fields file: "Propiedad = valor" lines, with the request's property names; # and ; start
// comments; [sections] are ignored; values may be quoted.
bool LeerArchivoCampos(const std::string& ruta, std::map<std::string, std::string>& valores,
                       std::string& error) {
  std::ifstream in(ruta);
  if (!in) {
    error = "no se puede leer el archivo de campos " + ruta;
    return false;
  }
  std::string linea;
  int numero = 0;
  while (std::getline(in, linea)) {
    ++numero;
    std::string t = Recortar(linea);
    if (t.empty() || t[0] == '#' || t[0] == ';' || t[0] == '[') continue;
    const auto igual = t.find('=');
    if (igual == std::string::npos) {
      error = ruta + ":" + std::to_string(numero) + ": falta '=' en «" + t + "»";
      return false;
    }
    const std::string clave = Recortar(t.substr(0, igual));
    std::string valor = Recortar(t.substr(igual + 1));
    if (valor.size() >= 2 && (valor.front() == '"' || valor.front() == '\'') &&
        valor.back() == valor.front())
      valor = valor.substr(1, valor.size() - 2);
    const Campo* campo = BuscarCampo(clave);
    if (campo == nullptr) {
      error = ruta + ":" + std::to_string(numero) + ": campo desconocido «" + clave + "»";
      return false;
    }
    valores[campo->propiedad] = valor;
  }
  return true;
}

std::optional<ns::RegimenRecetaEnum> Regimen(const std::string& texto) {
  const std::string t = Minusculas(Recortar(texto));
  if (t.empty()) return ns::RegimenVacio;
  if (t == "0" || t == "trabajador") return ns::Trabajador;
  if (t == "1" || t == "pensionista") return ns::Pensionista;
  return std::nullopt;
}

std::optional<ns::TipoPrescripcionEnum> Tipo(const std::string& texto) {
  const std::string t = Minusculas(Recortar(texto));
  if (t.empty()) return ns::PrescripcionVacio;
  if (t == "1" || t == "especialidad") return ns::Especialidad_Farmaceutica;
  if (t == "2" || t == "principio-activo") return ns::Principio_Activo;
  if (t == "3" || t == "formula") return ns::Formula_Magistral;
  if (t == "5" || t == "efectos") return ns::Efectos_Y_Accesorios;
  return std::nullopt;
}

bool Verdadero(const std::string& texto) {
  const std::string t = Minusculas(Recortar(texto));
  return t == "1" || t == "si" || t == "sí" || t == "true" || t == "verdadero";
}

bool Rellenar(ns::CPeticionDispensacion& p, const std::map<std::string, std::string>& valores,
              std::string& error) {
  auto valor = [&](const char* propiedad) {
    auto it = valores.find(propiedad);
    return it == valores.end() ? std::string() : it->second;
  };
  p.set_IDPrescripcion(valor("IDPrescripcion"));
  p.set_IdFarmacia(valor("IdFarmacia"));
  p.set_IdProvincia(valor("IdProvincia"));
  p.set_IdUsuario(valor("IdUsuario"));
  p.set_ClaveUsuario(valor("ClaveUsuario"));
  p.set_IdFarmaceutico(valor("IdFarmaceutico"));
  p.set_Importe(valor("Importe"));
  p.set_ImporteAportacion(valor("ImporteAportacion"));
  p.set_FechaDispensacion(valor("FechaDispensacion"));
  p.set_Idioma(valor("Idioma"));
  p.set_EnvasesDispensados(valor("EnvasesDispensados"));
  p.set_NumeroReceta(valor("NumeroReceta"));
  p.set_CodigoDispensado(valor("CodigoDispensado"));
  p.set_CodigoColegiadoPrescriptor(valor("CodigoColegiadoPrescriptor"));
  p.set_FechaPrescripcion(valor("FechaPrescripcion"));
  p.set_TIS(valor("TIS"));
  p.set_FormulaMagistral(valor("FormulaMagistral"));
  p.set_SaveSOAPMsgToFile(Verdadero(valor("SaveSOAPMsgToFile")));
  auto regimen = Regimen(valor("RegimenReceta"));
  if (!regimen) {
    error = "régimen de receta no válido: " + valor("RegimenReceta") +
            " (trabajador, pensionista, 0 o 1)";
    return false;
  }
  p.set_RegimenReceta(*regimen);
  auto tipo = Tipo(valor("TipoPrescripcion"));
  if (!tipo) {
    error = "tipo de prescripción no válido: " + valor("TipoPrescripcion") +
            " (especialidad, principio-activo, formula, efectos, 1, 2, 3 o 5)";
    return false;
  }
  p.set_TipoPrescripcion(*tipo);
  return true;
}

std::string Hoy() {
  std::time_t ahora = std::time(nullptr);
  std::tm t{};
  localtime_r(&ahora, &t);
  char texto[40];
  std::snprintf(texto, sizeof texto, "%02d/%02d/%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
  return texto;
}

const char* NombreTipo(ns::ResponseTypeEnum tipo) {
  switch (tipo) {
    case ns::rspReceived:
      return "rspReceived";
    case ns::rspDefault:
      return "rspDefault";
    case ns::rspInternal:
      return "rspInternal";
  }
  return "";
}

const char* DescripcionTipo(ns::ResponseTypeEnum tipo) {
  switch (tipo) {
    case ns::rspReceived:
      return "recibida del servicio";
    case ns::rspDefault:
      return "por defecto (defrespo.xml): el servicio no respondió a tiempo";
    case ns::rspInternal:
      return "interna (Interface.ini): el servicio no respondió a tiempo";
  }
  return "";
}

// What the front object told through its events, in order.
struct Eventos : ns::CInterfaceEvents {
  std::vector<std::string> lineas;  // for the tabulated output
  std::optional<ns::ResponseTypeEnum> tipo;
  bool correcto = false;
  void AlIniciarSolicitudDispensacion(const std::string& id) override {
    lineas.push_back("AlIniciarSolicitudDispensacion\t" + id);
  }
  void AlTerminarSolicitudDispensacion(bool blnCorrecto, ns::ResponseTypeEnum t) override {
    correcto = blnCorrecto;
    tipo = t;
    lineas.push_back(std::string("AlTerminarSolicitudDispensacion\t") +
                     (blnCorrecto ? "True" : "False") + "\t" + std::to_string(t));
  }
};

using prescora_tools::Escapar;
using prescora_tools::Visible;

std::string Elemento(const std::vector<std::string>& v, std::size_t i) {
  return i < v.size() ? v[i] : std::string();
}

const char* NombreEnvio(ns::EnvioTypeEnum envio) {
  switch (envio) {
    case ns::envNoEnviado:
      return "envNoEnviado";
    case ns::envSinRespuesta:
      return "envSinRespuesta";
    case ns::envRespondido:
      return "envRespondido";
  }
  return "";
}

const char* DescripcionEnvio(ns::EnvioTypeEnum envio) {
  switch (envio) {
    case ns::envNoEnviado:
      return "no enviada: no salió de esta máquina, se puede volver a pedir";
    case ns::envSinRespuesta:
      return "enviada sin respuesta a tiempo: resultado desconocido";
    case ns::envRespondido:
      return "respondida por el servicio";
  }
  return "";
}

void MostrarTexto(const ns::CPeticionDispensacion& peticion, const ns::CRespuestaPeticion& r,
                  const Eventos& eventos, ns::EnvioTypeEnum envio,
                  const std::vector<ns::CErrorItem>& errores) {
  auto siNo = [](bool b) { return b ? "sí" : "no"; };
  std::cout << "Prescripción " << Visible(peticion.IDPrescripcion()) << "\n";
  if (eventos.tipo)
    std::cout << "  Respuesta:              " << DescripcionTipo(*eventos.tipo) << " ("
              << NombreTipo(*eventos.tipo) << ")\n";
  else
    std::cout << "  Respuesta:              de error: la solicitud falló (ver Errores)\n";
  std::cout << "  Envío:                  " << DescripcionEnvio(envio) << "\n";
  std::cout << "  Dispensación realizada: " << siNo(r.DispensacionRealizada()) << "\n";
  std::cout << "  Datos válidos:          " << siNo(r.DatosValidos()) << "\n";
  auto lista = [](const char* titulo, int16_t n, const std::vector<std::string>& codigos,
                  const std::vector<std::string>& textos) {
    std::cout << "  " << titulo << n << "\n";
    for (std::size_t i = 0; i < std::max(codigos.size(), textos.size()); ++i) {
      // The internal response carries empty entries for what the settings leave blank.
      if (Elemento(codigos, i).empty() && Elemento(textos, i).empty()) continue;
      std::cout << "    " << Visible(Elemento(codigos, i)) << "  " << Visible(Elemento(textos, i))
                << "\n";
    }
  };
  lista("Avisos:                 ", r.m_intNAvisos(), r.m_colCodigoAviso(), r.m_colTextoAviso());
  lista("Motivos de rechazo:     ", r.m_intNMotivosRechazo(), r.m_colCodigoMotivosRechazo(),
        r.m_colTextoMotivosRechazo());
  prescora_tools::ErroresEnTexto(errores);
}

void MostrarTabulado(const ns::CPeticionDispensacion& peticion, const ns::CRespuestaPeticion& r,
                     const Eventos& eventos, ns::EnvioTypeEnum envio,
                     const std::vector<ns::CErrorItem>& errores, int salida) {
  for (const auto& l : eventos.lineas) std::cout << "evento\t" << l << "\n";
  std::cout << "id\t" << Escapar(peticion.IDPrescripcion()) << "\n";
  if (eventos.tipo)
    std::cout << "tipo\t" << *eventos.tipo << "\t" << NombreTipo(*eventos.tipo) << "\n";
  else
    std::cout << "tipo\t0\terror\n";
  std::cout << "envio\t" << envio << "\t" << NombreEnvio(envio) << "\n";
  std::cout << "datos_validos\t" << (r.DatosValidos() ? "True" : "False") << "\n";
  std::cout << "dispensacion_realizada\t" << (r.DispensacionRealizada() ? "True" : "False") << "\n";
  std::cout << "avisos\t" << r.m_intNAvisos() << "\n";
  for (std::size_t i = 0; i < std::max(r.m_colCodigoAviso().size(), r.m_colTextoAviso().size());
       ++i)
    std::cout << "aviso\t" << Escapar(Elemento(r.m_colCodigoAviso(), i)) << "\t"
              << Escapar(Elemento(r.m_colTextoAviso(), i)) << "\n";
  std::cout << "motivos_rechazo\t" << r.m_intNMotivosRechazo() << "\n";
  for (std::size_t i = 0;
       i < std::max(r.m_colCodigoMotivosRechazo().size(), r.m_colTextoMotivosRechazo().size()); ++i)
    std::cout << "motivo_rechazo\t" << Escapar(Elemento(r.m_colCodigoMotivosRechazo(), i)) << "\t"
              << Escapar(Elemento(r.m_colTextoMotivosRechazo(), i)) << "\n";
  prescora_tools::ErroresYSalida(errores, salida);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Dispensa una prescripción con la biblioteca de dispensación de esta carpeta "
      "(libInterface.so, Interface.ini, executor.exe) y muestra la respuesta: tipo, avisos, "
      "motivos de rechazo y errores.\n"
      "Los campos de la petición se dan con opciones o en un archivo (--archivo); las opciones "
      "mandan sobre el archivo.",
      "prescora-dispensar"};
  prescora_tools::AyudaEnEspanol(app, 34);
  app.set_help_flag("-h,--help", "Muestra esta ayuda y termina")->group("Generales");
  app.footer(
      "Estado de salida: 0 dispensación realizada; 1 el servicio no la confirmó (rechazada); "
      "2 argumentos no válidos; 3 sin respuesta a tiempo (respuesta por defecto o interna); "
      "4 fallo interno (ver Errores); 5 no enviada: la petición no salió de esta máquina "
      "(respuesta "
      "por defecto o interna, motivo en Errores), se puede volver a pedir.");

  std::map<std::string, std::string> opciones;
  for (const Campo& c : kCampos) {
    if (c.opcion == nullptr) continue;
    app.add_option_function<std::string>(
           c.opcion, [&opciones, &c](const std::string& v) { opciones[c.propiedad] = v; }, c.ayuda)
        ->type_name("TEXTO")
        ->group("Campos de la petición");
  }
  bool guardarSoap = false;
  app.add_flag("--guardar-soap", guardarSoap,
               "Guarda una copia del mensaje de la petición (Interface.xml)")
      ->group("Campos de la petición");
  std::string archivo;
  app.add_option("-a,--archivo", archivo,
                 "Archivo de campos: líneas «Propiedad = valor» con los nombres de las "
                 "propiedades de la petición (IDPrescripcion, IdFarmacia, ...)")
      ->type_name("ARCHIVO")
      ->group("Campos de la petición");
  std::string formato = "texto";
  prescora_tools::OpcionFormato(app, formato)->group("Salida");
  bool silencioso = false;
  app.add_flag("-q,--silencioso", silencioso, "No muestra el progreso mientras espera")
      ->group("Salida");

  if (auto salida = prescora_tools::LeerLineaDeOrdenes(app, argc, argv, kUso)) return *salida;

  std::map<std::string, std::string> valores;
  std::string error;
  if (!archivo.empty() && !LeerArchivoCampos(archivo, valores, error)) {
    std::cerr << "prescora-dispensar: " << prescora_tools::Visible(error) << std::endl;
    return kUso;
  }
  for (const auto& [clave, valor] : opciones) valores[clave] = valor;
  if (guardarSoap) valores["SaveSOAPMsgToFile"] = "1";
  if (valores.find("FechaDispensacion") == valores.end()) valores["FechaDispensacion"] = Hoy();

  ns::CPeticionDispensacion peticion;
  if (!Rellenar(peticion, valores, error)) {
    std::cerr << "prescora-dispensar: " << prescora_tools::Visible(error) << std::endl;
    return kUso;
  }
  ns::CInterface interfaz;

  Eventos eventos;
  interfaz.set_Events(&eventos);
  // A spinner and the seconds gone by.
  prescora_tools::Progreso progreso(
      !silencioso && formato == "texto" && isatty(STDERR_FILENO), std::chrono::milliseconds(100),
      [vuelta = 0u](double segundos) mutable {
        static const char* const kGiro[] = {"|", "/", "-", "\\"};
        char texto[96];
        std::snprintf(texto, sizeof texto, "%s Esperando la respuesta del servicio... %.1f s ",
                      kGiro[vuelta++ % 4], segundos);
        return std::string(texto);
      });
  ns::platform::events::SetMessageLoopHook([&progreso] { progreso.Paso(); });
  ns::CRespuestaPeticion respuesta = interfaz.SolicitudDispensacion(peticion);
  ns::platform::events::SetMessageLoopHook({});
  progreso.Terminar();
  interfaz.set_Events(nullptr);

  int salida;
  if (!respuesta.DatosValidos())
    salida = kFalloInterno;
  else if (interfaz.Envio() == ns::envNoEnviado)
    salida = kNoEnviada;
  else if (eventos.tipo != ns::rspReceived)
    salida = kSinRespuesta;
  else
    salida = respuesta.DispensacionRealizada() ? kRealizada : kNoRealizada;

  const auto& errores = interfaz.Errores();
  if (formato == "tabulado") {
    MostrarTabulado(peticion, respuesta, eventos, interfaz.Envio(), errores, salida);
  } else {
    MostrarTexto(peticion, respuesta, eventos, interfaz.Envio(), errores);
    if (!interfaz.Enabled())
      std::cout << "  La biblioteca no está activa: compruebe Interface.ini en la carpeta de "
                   "libInterface.so.\n";
  }
  return salida;
}
