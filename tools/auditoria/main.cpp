// prescora-auditoria: the reconciliation report of a library folder. From the audit files and the
// spool folders it lists every dispensing whose answer the pharmacy did not see (answers in
// Retrasados, or left in Recibidos without the pharmacy having taken them) with what the service
// answered, and every dispensing sent whose answer never came back, whose outcome only the
// service can tell. Reads through the library's own readers: what an audit write cut short left
// half done is put back from its journal first, as the library itself would; nothing else is
// written.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/platform/component.h"
#include "common/platform/profile.h"
#include "common/platform/profiletail.h"
#include "common/platform/xml.h"
#include "interface/CRespuestaPeticion.h"
#include "tools/comun/Fechas.h"
#include "tools/comun/Programa.h"
#include "tools/comun/Texto.h"

namespace ns = PRESCORA_NS;
namespace fs = std::filesystem;

namespace {

constexpr int kNadaQueRevisar = 0;
constexpr int kRevisar = 1;
constexpr int kUso = 2;

// A date as yyyymmdd, and a time as hh:mm:ss; 0 and "" when unknown.
struct Momento {
  int fecha = 0;
  std::string hora;
  std::string Texto() const {
    if (fecha == 0) return "";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", fecha % 100, fecha / 100 % 100,
                  fecha / 10000);
    return std::string(buffer) + (hora.empty() ? "" : " " + hora);
  }
  std::string Iso() const {
    if (fecha == 0) return "";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", fecha / 10000, fecha / 100 % 100,
                  fecha % 100);
    return std::string(buffer) + (hora.empty() ? "" : " " + hora);
  }
};

// One audit record: a section of an audit file.
struct Registro {
  std::string id;
  Momento envio;
  std::map<std::string, std::string> claves;  // key names in upper case
  std::string Clave(const std::string& nombre) const {
    auto it = claves.find(nombre);
    return it == claves.end() ? "" : it->second;
  }
};

// An answer of the service lying in a spool folder.
struct Respuesta {
  std::string id;
  std::string archivo;  // relative to the library folder
  std::string resultado;
  std::string codigo;
  std::string texto;
  Momento momento;  // of the file, when no record tells
};

std::string Mayusculas(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

using prescora_tools::Recortar;

bool Digitos(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The records of one audit file, read as the library reads it (a write cut short put back from
// its journal, the index not trusted; a line too long to be a record skipped, never held). A daily
// file (yymmdd.log) gives the date by its name; the fixed file writes it into FECHA_ENVIO
// ("yy/mm/dd hh:mm:ss").
std::vector<Registro> LeerAuditoria(const fs::path& archivo) {
  std::vector<Registro> registros;
  const std::string nombre = archivo.stem().string();
  const int diaDelArchivo =
      nombre.size() == 6 && Digitos(nombre) ? 20000000 + std::stoi(nombre) : 0;
  // Only a regular file: a pipe would hold the report for ever, a link leads out of the folder.
  std::error_code e;
  if (!fs::is_regular_file(fs::symlink_status(archivo, e))) {
    std::cerr << "prescora-auditoria: " << prescora_tools::Visible(archivo.string())
              << ": no es un archivo normal; no se lee" << std::endl;
    return registros;
  }
  std::size_t largas = 0;
  for (auto& seccion : ns::platform::profiletail::ReadSections(archivo.string(), &largas)) {
    Registro r;
    r.id = std::move(seccion.name);
    r.envio.fecha = diaDelArchivo;
    // The first of a key is the one the library reads.
    for (auto& [clave, valor] : seccion.keys) r.claves.emplace(Mayusculas(clave), std::move(valor));
    registros.push_back(std::move(r));
  }
  if (largas > 0)
    std::cerr << "prescora-auditoria: " << prescora_tools::Visible(archivo.string()) << ": "
              << largas << " línea(s) de más de 64 KB; no se leen" << std::endl;
  for (Registro& r : registros) {
    const std::string fecha = r.Clave("FECHA_ENVIO");
    int a = 0, m = 0, d = 0, h = 0, mi = 0, s = 0;
    if (std::sscanf(fecha.c_str(), "%d/%d/%d %d:%d:%d", &a, &m, &d, &h, &mi, &s) == 6) {
      r.envio.fecha = 20000000 + a * 10000 + m * 100 + d;
      r.envio.hora = fecha.substr(fecha.find(' ') + 1);
    } else if (!fecha.empty()) {
      r.envio.hora = fecha;
    }
  }
  return registros;
}

Respuesta LeerRespuesta(const fs::path& carpeta, const fs::path& archivo, const std::string& id,
                        const std::string& codigoCorrecto) {
  Respuesta r;
  r.id = id;
  r.archivo = fs::relative(archivo, carpeta).string();
  struct stat st {};
  if (::stat(archivo.c_str(), &st) == 0) {
    std::tm t{};
    localtime_r(&st.st_mtime, &t);
    char hora[16];
    std::strftime(hora, sizeof hora, "%H:%M:%S", &t);
    r.momento = {(t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday, hora};
  }
  ns::platform::xml::Document documento;
  r.resultado = "sin interpretar";
  if (!documento.Load(archivo.string())) return r;
  const auto raiz = documento.documentElement();
  if (Mayusculas(raiz.baseName()) != "RESPUESTAPETICION") return r;
  // Read as the pharmacy's application reads a response file.
  ns::CRespuestaPeticion respuesta;
  ns::platform::xml::NodeList nodos = raiz.childNodes();
  if (!respuesta.FromXML(nodos)) return r;
  const auto& codigosAviso = respuesta.m_colCodigoAviso();
  const auto& textosAviso = respuesta.m_colTextoAviso();
  const auto& codigosRechazo = respuesta.m_colCodigoMotivosRechazo();
  const auto& textosRechazo = respuesta.m_colTextoMotivosRechazo();
  for (std::size_t i = 0; i < codigosAviso.size(); ++i) {
    if (Recortar(codigosAviso[i]) == codigoCorrecto) {
      r.resultado = "aceptada";
      r.codigo = codigosAviso[i];
      r.texto = i < textosAviso.size() ? textosAviso[i] : "";
      return r;
    }
  }
  if (!codigosRechazo.empty()) {
    r.resultado = "rechazada";
    r.codigo = codigosRechazo.front();
    r.texto = textosRechazo.empty() ? "" : textosRechazo.front();
  } else if (!codigosAviso.empty()) {
    r.codigo = codigosAviso.front();
    r.texto = textosAviso.empty() ? "" : textosAviso.front();
  }
  return r;
}

// The identifier a file of Retrasados belongs to: "RX1.xml", "RX1 (2).xml" -> "RX1".
std::string IdDeArchivo(const std::string& nombre) {
  std::string base = nombre.substr(0, nombre.size() - 4);
  const auto espacio = base.rfind(" (");
  if (espacio != std::string::npos && base.back() == ')') base.resize(espacio);
  return base;
}

std::string QueRecibio(const std::string& tipo) {
  if (tipo == "srv") return "la respuesta del servicio";
  if (tipo == "xml") return "la respuesta por defecto";
  if (tipo == "ini") return "la respuesta de la configuración";
  if (tipo == "int") return "la respuesta interna";
  return "ninguna respuesta registrada";
}

// One field of the tabulated output: breaks and tabs as spaces, other control characters escaped.
std::string Limpio(std::string s) {
  for (char& c : s)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return prescora_tools::Escapar(s);
}

using prescora_tools::Visible;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Informe de conciliación de una carpeta de Prescora: lista las dispensaciones cuya "
      "respuesta no vio la farmacia (respuestas en Retrasados, o en Recibidos sin que la farmacia "
      "las recogiera), con lo que respondió el servicio, y las dispensaciones enviadas cuya "
      "respuesta no llegó, cuyo resultado hay que comprobar con el servicio.\n"
      "Lee los archivos de Auditoria y las carpetas de la cola como la biblioteca (lo que una "
      "escritura de auditoría interrumpida dejó a medias se repone antes); no cambia nada más. Una "
      "dispensación "
      "en curso mientras se ejecuta puede aparecer como pendiente.",
      "prescora-auditoria"};
  prescora_tools::AyudaEnEspanol(app, 30);
  app.option_defaults()->group("Opciones");
  app.set_help_flag("-h,--help", "Muestra esta ayuda y termina")->group("Opciones");
  app.footer(
      "Estado de salida: 0 nada que revisar; 1 hay dispensaciones que revisar; 2 argumentos no "
      "válidos o carpeta ilegible.");
  std::string carpeta = ns::platform::component::LibraryFolder();
  app.add_option("-c,--carpeta", carpeta,
                 "Carpeta de la biblioteca (por defecto, la de este programa)")
      ->type_name("CARPETA");
  std::string desdeTexto, hastaTexto;
  app.add_option("--desde", desdeTexto, "Solo dispensaciones de esta fecha o posteriores")
      ->type_name("FECHA");
  app.add_option("--hasta", hastaTexto, "Solo dispensaciones de esta fecha o anteriores")
      ->type_name("FECHA");
  std::string formato = "texto";
  prescora_tools::OpcionFormato(app, formato, "dispensación");
  if (auto salida = prescora_tools::LeerLineaDeOrdenes(app, argc, argv, kUso,
                                                       "Fechas: dd/mm/aaaa o aaaa-mm-dd.\n"))
    return *salida;
  std::optional<int> desde, hasta;
  for (auto [texto, destino] : {std::pair{&desdeTexto, &desde}, std::pair{&hastaTexto, &hasta}}) {
    if (texto->empty()) continue;
    *destino = prescora_tools::LeerFecha(*texto);
    if (!*destino) {
      std::cerr
          << "prescora-auditoria: fecha no válida «" << *texto
          << "»: debe ser un día que exista, entre los años 1900 y 9999, escrito dd/mm/aaaa o "
             "aaaa-mm-dd"
          << std::endl;
      return kUso;
    }
  }
  const fs::path raiz(carpeta);
  std::error_code e;
  if (!fs::is_directory(raiz, e)) {
    std::cerr << "prescora-auditoria: no existe la carpeta " << carpeta << std::endl;
    return kUso;
  }

  // The latest record of each identifier: the daily files in the order of their days, the fixed
  // file last; a later record of an identifier replaces an earlier one.
  std::vector<fs::path> auditorias;
  for (const auto& entrada : fs::directory_iterator(raiz / "Auditoria", e))
    if (entrada.path().extension() == ".log") auditorias.push_back(entrada.path());
  std::sort(auditorias.begin(), auditorias.end());
  std::map<std::string, Registro> registros;
  for (const fs::path& archivo : auditorias) {
    for (Registro& r : LeerAuditoria(archivo)) {
      auto it = registros.find(r.id);
      if (it == registros.end() || r.envio.fecha >= it->second.envio.fecha)
        registros[r.id] = std::move(r);
    }
  }

  const std::string codigoCorrecto = Recortar(ns::platform::profile::GetString(
      (raiz / "Interface.ini").string(), "Configuracion", "CodigoDispensacionCorrecta"));

  std::vector<Respuesta> noVistas;
  std::map<std::string, bool> conRespuesta;
  auto recorrer = [&](const char* nombreCarpeta, bool soloSinRecoger) {
    std::vector<fs::path> archivos;
    for (const auto& entrada : fs::directory_iterator(raiz / nombreCarpeta, e)) {
      const std::string nombre = entrada.path().filename().string();
      if (nombre.empty() || nombre[0] == '.' || entrada.path().extension() != ".xml") continue;
      archivos.push_back(entrada.path());
    }
    std::sort(archivos.begin(), archivos.end());
    for (const fs::path& archivo : archivos) {
      const std::string nombre = archivo.filename().string();
      std::string id = IdDeArchivo(nombre);
      if (soloSinRecoger) {
        // An answer the pharmacy took in time stays here when the settings keep it; renamed
        // ones ("RX1 (2).xml") are such kept answers.
        if (id + ".xml" != nombre) continue;
        auto it = registros.find(id);
        if (it != registros.end() && it->second.Clave("RESPUESTA_GENERADA") == "srv") continue;
      }
      conRespuesta[id] = true;
      noVistas.push_back(LeerRespuesta(raiz, archivo, id, codigoCorrecto));
    }
  };
  recorrer("Retrasados", false);
  recorrer("Recibidos", true);

  // The service's answer recorded for a message never sent cannot be the service's: a file put
  // where answers arrive by someone else.
  std::vector<const Registro*> sinEnvio;
  for (const auto& [id, r] : registros)
    if (r.Clave("RESPUESTA_GENERADA") == "srv" && r.Clave("MENSAJE_ENVIADO") == "No")
      sinEnvio.push_back(&r);

  std::vector<const Registro*> sinRespuesta;
  for (const auto& [id, r] : registros) {
    if (r.Clave("MENSAJE_ENVIADO") != "Si" || r.Clave("RESPUESTA_GENERADA") == "srv") continue;
    if (conRespuesta.count(id) != 0) continue;
    sinRespuesta.push_back(&r);
  }

  auto dentro = [&](const Momento& m) {
    if (m.fecha == 0) return true;  // a date unknown is never left out
    return (!desde || m.fecha >= *desde) && (!hasta || m.fecha <= *hasta);
  };
  auto momentoDe = [&](const Respuesta& r) {
    auto it = registros.find(r.id);
    return it != registros.end() && it->second.envio.fecha != 0 ? it->second.envio : r.momento;
  };
  noVistas.erase(std::remove_if(noVistas.begin(), noVistas.end(),
                                [&](const Respuesta& r) { return !dentro(momentoDe(r)); }),
                 noVistas.end());
  sinRespuesta.erase(std::remove_if(sinRespuesta.begin(), sinRespuesta.end(),
                                    [&](const Registro* r) { return !dentro(r->envio); }),
                     sinRespuesta.end());
  sinEnvio.erase(std::remove_if(sinEnvio.begin(), sinEnvio.end(),
                                [&](const Registro* r) { return !dentro(r->envio); }),
                 sinEnvio.end());

  auto generada = [&](const std::string& id) {
    auto it = registros.find(id);
    return it == registros.end() ? std::string() : it->second.Clave("RESPUESTA_GENERADA");
  };
  if (formato == "tabulado") {
    for (const Respuesta& r : noVistas)
      std::cout << "no_vista\t" << Limpio(r.id) << "\t" << momentoDe(r).Iso() << "\t"
                << generada(r.id) << "\t" << Limpio(r.archivo) << "\t" << r.resultado << "\t"
                << Limpio(r.codigo) << "\t" << Limpio(r.texto) << "\n";
    for (const Registro* r : sinRespuesta)
      std::cout << "sin_respuesta\t" << Limpio(r->id) << "\t" << r->envio.Iso() << "\t"
                << Limpio(r->Clave("RESPUESTA_GENERADA")) << "\t"
                << Limpio(r->Clave("MENSAJE_RECIBIDO")) << "\n";
    for (const Registro* r : sinEnvio)
      std::cout << "srv_sin_envio\t" << Limpio(r->id) << "\t" << r->envio.Iso() << "\n";
  } else {
    std::cout << "Carpeta: " << raiz.string() << "\n";
    if (noVistas.empty() && sinRespuesta.empty() && sinEnvio.empty())
      std::cout << "Nada que revisar.\n";
    if (!noVistas.empty()) {
      std::cout << "\nRespuestas del servicio que la farmacia no vio (" << noVistas.size()
                << "):\n";
      for (const Respuesta& r : noVistas) {
        const Momento m = momentoDe(r);
        std::cout << "  " << Visible(r.id) << (m.fecha ? "  enviada " + m.Texto() : "")
                  << "  la farmacia recibió " << QueRecibio(generada(r.id)) << "\n"
                  << "    " << Visible(r.archivo) << ": " << r.resultado
                  << (r.codigo.empty() ? "" : "  " + Visible(r.codigo) + " " + Visible(r.texto))
                  << "\n";
      }
    }
    if (!sinRespuesta.empty()) {
      std::cout << "\nDispensaciones enviadas cuya respuesta no llegó (" << sinRespuesta.size()
                << "); compruebe su estado en el servicio:\n";
      for (const Registro* r : sinRespuesta) {
        std::cout << "  " << Visible(r->id)
                  << (r->envio.fecha ? "  enviada " + r->envio.Texto() : "")
                  << "  la farmacia recibió " << QueRecibio(r->Clave("RESPUESTA_GENERADA"))
                  << (r->Clave("MENSAJE_RECIBIDO") == "Si"
                          ? "; el servicio respondió, pero la respuesta no se guardó"
                          : "")
                  << "\n";
      }
    }
    if (!sinEnvio.empty()) {
      std::cout << "\nRespuestas del servicio registradas para mensajes que no se enviaron ("
                << sinEnvio.size() << "); no pueden ser del servicio:\n";
      for (const Registro* r : sinEnvio)
        std::cout << "  " << Visible(r->id) << (r->envio.fecha ? "  " + r->envio.Texto() : "")
                  << "\n";
    }
  }
  return noVistas.empty() && sinRespuesta.empty() && sinEnvio.empty() ? kNadaQueRevisar : kRevisar;
}
