// What the simulated regional service knows: its users, its patients by health card (TIS), their
// prescriptions still to be dispensed, and the faults it has been told to show. Read from a data
// file in INI form (see datos-ejemplo.ini and the README).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace simulador {

// Ways of answering badly on purpose.
enum class Fallo {
  Ninguno,  // answer normally
  Soap,     // a SOAP fault with a detail
  Http500,  // HTTP 500 and a plain text, no envelope
  XmlMalo,  // a body that is not well-formed XML
  Vacio,    // HTTP 200 with an empty body
  Cerrar,   // close the connection without answering
};

// The fault settings of one level (global, patient or prescription). Unset members defer to the
// level above.
struct Averia {
  std::optional<Fallo> fallo;
  std::optional<long> retrasoMs;
  std::optional<std::string> detalle;
};

// Accepts the names used in the data file and on the command line.
std::optional<Fallo> FalloDesdeTexto(const std::string& texto);
const char* NombreFallo(Fallo fallo);

struct Usuario {
  std::string id;
  std::string clave;  // the dispensing key (claveUsuario) and the retrieval password (passwd)
};

struct Paciente {
  std::string tis;
  std::string nombre;
  Averia averia;
};

struct Prescripcion {
  std::string id;
  std::string tis;
  std::string codProducto;
  std::string fechaPrescripcion;  // yyyymmdd
  int envasesPrescritos = 1;
  int regimenReceta = 0;
  int visado = 0;
  bool dispensada = false;
  Averia averia;
};

struct Datos {
  std::string codigoCorrecto = "0000";
  std::string textoCorrecto = "Dispensación realizada correctamente";
  Averia averia;  // [Servicio]: applies to every request unless a closer level says otherwise
  std::map<std::string, Usuario> usuarios;
  std::map<std::string, Paciente> pacientes;
  std::vector<Prescripcion> prescripciones;  // in file order, which is the retrieval order

  Prescripcion* BuscarPrescripcion(const std::string& id);
  const Paciente* BuscarPaciente(const std::string& tis) const;
  const Usuario* BuscarUsuario(const std::string& id) const;
};

// Parses the text of a data file. On a mistake, returns nothing and puts in `error` a Spanish
// message naming the line.
std::optional<Datos> LeerDatos(const std::string& texto, std::string& error);
std::optional<Datos> LeerArchivoDatos(const std::string& ruta, std::string& error);

// An eight-digit calendar date, yyyymmdd.
bool EsFechaValida(const std::string& texto);

}  // namespace simulador
