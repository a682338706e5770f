#include "tools/simulador/Datos.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

#include "tools/comun/Texto.h"

namespace simulador {

namespace {

using prescora_tools::Minusculas;
using prescora_tools::Recortar;

std::optional<long> Entero(const std::string& texto) {
  long valor = 0;
  const char* fin = texto.data() + texto.size();
  auto [p, ec] = std::from_chars(texto.data(), fin, valor);
  if (ec != std::errc() || p != fin || texto.empty()) return std::nullopt;
  return valor;
}

// Reads the keys every level may carry. False with `error` set when the value is wrong; true
// with `usada` false when the key is not a fault key.
bool LeerAveria(Averia& averia, const std::string& clave, const std::string& valor, bool& usada,
                std::string& error) {
  usada = true;
  if (clave == "fallo") {
    auto f = FalloDesdeTexto(valor);
    if (!f) {
      error = "fallo desconocido \"" + valor +
              "\" (valores: ninguno, soap, http500, xml, vacio, cerrar)";
      return false;
    }
    averia.fallo = *f;
  } else if (clave == "retraso") {
    auto n = Entero(valor);
    if (!n || *n < 0 || *n > 3600000) {
      error = "el retraso debe ser un número de milisegundos entre 0 y 3600000";
      return false;
    }
    averia.retrasoMs = *n;
  } else if (clave == "detallefallo") {
    averia.detalle = valor;
  } else {
    usada = false;
  }
  return true;
}

bool LeerNumero(int& destino, const std::string& valor, const char* nombre, std::string& error) {
  auto n = Entero(valor);
  if (!n || *n < -32768 || *n > 32767) {
    error = std::string(nombre) + " debe ser un número entero";
    return false;
  }
  destino = static_cast<int>(*n);
  return true;
}

}  // namespace

std::optional<Fallo> FalloDesdeTexto(const std::string& texto) {
  const std::string t = Minusculas(Recortar(texto));
  if (t == "ninguno") return Fallo::Ninguno;
  if (t == "soap") return Fallo::Soap;
  if (t == "http500") return Fallo::Http500;
  if (t == "xml") return Fallo::XmlMalo;
  if (t == "vacio" || t == "vacío") return Fallo::Vacio;
  if (t == "cerrar") return Fallo::Cerrar;
  return std::nullopt;
}

const char* NombreFallo(Fallo fallo) {
  switch (fallo) {
    case Fallo::Ninguno:
      return "ninguno";
    case Fallo::Soap:
      return "soap";
    case Fallo::Http500:
      return "http500";
    case Fallo::XmlMalo:
      return "xml";
    case Fallo::Vacio:
      return "vacio";
    case Fallo::Cerrar:
      return "cerrar";
  }
  return "?";
}

bool EsFechaValida(const std::string& texto) {
  if (texto.size() != 8 || !std::all_of(texto.begin(), texto.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; }))
    return false;
  const int anio = std::stoi(texto.substr(0, 4));
  const int mes = std::stoi(texto.substr(4, 2));
  const int dia = std::stoi(texto.substr(6, 2));
  if (anio < 1900 || mes < 1 || mes > 12 || dia < 1) return false;
  static const int dias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool bisiesto = (anio % 4 == 0 && anio % 100 != 0) || anio % 400 == 0;
  return dia <= dias[mes - 1] + ((mes == 2 && bisiesto) ? 1 : 0);
}

Prescripcion* Datos::BuscarPrescripcion(const std::string& id) {
  for (auto& p : prescripciones)
    if (p.id == id) return &p;
  return nullptr;
}

const Paciente* Datos::BuscarPaciente(const std::string& tis) const {
  auto it = pacientes.find(tis);
  return it == pacientes.end() ? nullptr : &it->second;
}

const Usuario* Datos::BuscarUsuario(const std::string& id) const {
  auto it = usuarios.find(id);
  return it == usuarios.end() ? nullptr : &it->second;
}

std::optional<Datos> LeerDatos(const std::string& texto, std::string& error) {
  Datos datos;
  enum class Tipo { Nada, Servicio, Usuario, Paciente, Prescripcion } tipo = Tipo::Nada;
  std::string nombre;  // the identifier after the colon of the current section
  std::istringstream entrada(texto);
  std::string linea;
  int numero = 0;
  auto fallo = [&](const std::string& mensaje) {
    error = "línea " + std::to_string(numero) + ": " + mensaje;
    return std::nullopt;
  };

  while (std::getline(entrada, linea)) {
    ++numero;
    if (numero == 1 && linea.rfind("\xEF\xBB\xBF", 0) == 0) linea.erase(0, 3);
    linea = Recortar(linea);
    if (linea.empty() || linea[0] == ';' || linea[0] == '#') continue;

    if (linea.front() == '[') {
      if (linea.back() != ']') return fallo("falta el corchete de cierre de la sección");
      const std::string seccion = Recortar(linea.substr(1, linea.size() - 2));
      const auto dos = seccion.find(':');
      const std::string clase = Minusculas(Recortar(seccion.substr(0, dos)));
      nombre = dos == std::string::npos ? "" : Recortar(seccion.substr(dos + 1));
      if (clase == "servicio" && dos == std::string::npos) {
        tipo = Tipo::Servicio;
        continue;
      }
      if (dos == std::string::npos || nombre.empty())
        return fallo("sección desconocida [" + seccion +
                     "] (se esperaba [Servicio], [Usuario:ID], [Paciente:TIS] o "
                     "[Prescripcion:ID])");
      if (clase == "usuario") {
        if (datos.usuarios.count(nombre)) return fallo("usuario repetido: " + nombre);
        tipo = Tipo::Usuario;
        datos.usuarios[nombre].id = nombre;
      } else if (clase == "paciente") {
        if (datos.pacientes.count(nombre)) return fallo("paciente repetido: " + nombre);
        tipo = Tipo::Paciente;
        datos.pacientes[nombre].tis = nombre;
      } else if (clase == "prescripcion" || clase == "prescripción") {
        if (datos.BuscarPrescripcion(nombre)) return fallo("prescripción repetida: " + nombre);
        tipo = Tipo::Prescripcion;
        datos.prescripciones.push_back({});
        datos.prescripciones.back().id = nombre;
      } else {
        return fallo("sección desconocida [" + seccion + "]");
      }
      continue;
    }

    const auto igual = linea.find('=');
    if (igual == std::string::npos) return fallo("se esperaba Clave = Valor");
    const std::string clave = Minusculas(Recortar(linea.substr(0, igual)));
    const std::string valor = Recortar(linea.substr(igual + 1));
    std::string problema;
    bool usada = false;
    auto desconocida = [&] { return fallo("clave desconocida en esta sección: " + clave); };

    switch (tipo) {
      case Tipo::Nada:
        return fallo("clave fuera de sección: " + clave);
      case Tipo::Servicio:
        if (clave == "codigocorrecto") {
          if (valor.empty()) return fallo("CodigoCorrecto no puede estar vacío");
          datos.codigoCorrecto = valor;
        } else if (clave == "textocorrecto") {
          datos.textoCorrecto = valor;
        } else if (!LeerAveria(datos.averia, clave, valor, usada, problema)) {
          return fallo(problema);
        } else if (!usada) {
          return desconocida();
        }
        break;
      case Tipo::Usuario:
        if (clave == "clave")
          datos.usuarios[nombre].clave = valor;
        else
          return desconocida();
        break;
      case Tipo::Paciente: {
        Paciente& p = datos.pacientes[nombre];
        if (clave == "nombre")
          p.nombre = valor;
        else if (!LeerAveria(p.averia, clave, valor, usada, problema))
          return fallo(problema);
        else if (!usada)
          return desconocida();
        break;
      }
      case Tipo::Prescripcion: {
        Prescripcion& p = datos.prescripciones.back();
        bool ok = true;
        if (clave == "tis") {
          p.tis = valor;
        } else if (clave == "codproducto") {
          p.codProducto = valor;
        } else if (clave == "fechaprescripcion") {
          if (!EsFechaValida(valor)) return fallo("FechaPrescripcion debe ser una fecha aaaammdd");
          p.fechaPrescripcion = valor;
        } else if (clave == "envasesprescritos") {
          ok = LeerNumero(p.envasesPrescritos, valor, "EnvasesPrescritos", problema);
        } else if (clave == "regimenreceta") {
          ok = LeerNumero(p.regimenReceta, valor, "RegimenReceta", problema);
        } else if (clave == "visado") {
          ok = LeerNumero(p.visado, valor, "Visado", problema);
        } else if (clave == "dispensada") {
          if (valor != "0" && valor != "1") return fallo("Dispensada debe ser 0 o 1");
          p.dispensada = valor == "1";
        } else if (!LeerAveria(p.averia, clave, valor, usada, problema)) {
          ok = false;
        } else if (!usada) {
          return desconocida();
        }
        if (!ok) return fallo(problema);
        break;
      }
    }
  }

  // Every prescription belongs to a declared patient, so that a typing mistake in a TIS shows at
  // start rather than as a puzzling empty retrieval.
  for (const auto& p : datos.prescripciones) {
    if (p.tis.empty()) {
      error = "la prescripción " + p.id + " no tiene TIS";
      return std::nullopt;
    }
    if (!datos.pacientes.count(p.tis)) {
      error = "la prescripción " + p.id + " es de un paciente no declarado: " + p.tis;
      return std::nullopt;
    }
  }
  return datos;
}

std::optional<Datos> LeerArchivoDatos(const std::string& ruta, std::string& error) {
  std::ifstream archivo(ruta, std::ios::binary);
  if (!archivo) {
    error = "no se puede leer el archivo de datos " + ruta;
    return std::nullopt;
  }
  std::ostringstream texto;
  texto << archivo.rdbuf();
  auto datos = LeerDatos(texto.str(), error);
  if (!datos) error = ruta + ", " + error;
  return datos;
}

}  // namespace simulador
