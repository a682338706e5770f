// The simulated regional service: reads one SOAP request, applies it to the data it holds and
// builds the answer, or the fault it has been told to show. Knows nothing of HTTP sockets.
#pragma once

#include <mutex>
#include <string>

#include "tools/simulador/Datos.h"

namespace simulador {

inline constexpr const char* kNsDispensacion = "urn:Dispensacion";
inline constexpr const char* kNsConsulta = "urn:Prescripciones";
inline constexpr const char* kNsBean = "java:dispensacion.ejb";
inline constexpr const char* kOpDispensacion = "solicitudDispensacion";
inline constexpr const char* kOpConsulta = "consultaPrescripcionesNoDispensadasPorTis";

// How answers are written on the wire. Both say the same; readers must take either.
enum class Estilo {
  Normal,    // values in place; prescription strings by reference unless told otherwise
  MultiRef,  // the classic Java rpc/encoded stacks: return part, structures, arrays and numbers
             // as body-level <multiRef id="idN"> elements, referred to by href="#idN"
};

struct Opciones {
  Estilo estilo = Estilo::Normal;
  bool referencias = true;         // prescription strings as href/id pairs (normal style)
  bool retornoReferencia = false;  // the return part itself as a reference (normal style)
  Averia averia;                   // from the command line; above [Servicio], below the entries
};

// What to send back for one request, and what to say about it on standard output.
struct Respuesta {
  int estado = 200;
  std::string tipo = "text/xml; charset=utf-8";
  std::string cuerpo;
  bool cerrar = false;  // drop the connection instead of answering
  long retrasoMs = 0;
  std::string linea;
};

class Servicio {
 public:
  Servicio(Datos datos, Opciones opciones);

  // Handles one SOAP request body. Safe to call from several threads at once.
  Respuesta Atender(const std::string& cuerpo);

  // The WSDL 1.1 description of both operations, with the service address and the location of
  // the SOAP-encoding schema it imports.
  static std::string Descripcion(const std::string& direccion, const std::string& codificacion);
  static std::string EsquemaCodificacion();

 private:
  struct Peticion;
  Respuesta Dispensar(const Peticion& p);
  Respuesta Consultar(const Peticion& p);
  Respuesta AplicarAveria(const Peticion& p, const Averia& averia);

  std::mutex mutex_;
  Datos datos_;
  Opciones opciones_;
};

}  // namespace simulador
