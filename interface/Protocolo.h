// The dispensing protocol between the front object (in the pharmacy's application), the executor
// it launches, and an executor run by hand (`executor.exe IDPres=<id>` on a request spooled by
// other means). Each move of a dispensing's state is a row of kTransiciones; CEnCurso::Mover
// refuses, with the operation's own error, any move that is not in it.
//
// Channels (see CEnCurso.h for their formats):
//   EnCurso.lock         a step lock (CEnCurso::Paso) and two bytes per identifier: the front's,
//                        held for the whole request, and the executor's, held for its process
//   EnCurso/<id>.estado  the state word and the token, read and written only inside a step
//   Enviados/<id>.xml    the request, written by the front, read by the executor
//   Recibidos/<id>.xml   the answer in time, carrying the token
//   Retrasados/<id>*.xml answers nobody waits for any more, never replacing another
//   the audit            marks of each stage; the by-hand executor's only sign of a fallback
//
// Who may enter a dispensing:
//   front object   takes its byte; refused with 32020 when it or the executor's is held by
//                  another process. Colliding identifiers (letter case aside, or two whose bytes
//                  meet) are refused the same way: nobody waits.
//   executor       see kLlegadas: what it does by the state it finds.
#pragma once

#include <cstdint>
#include <string_view>

namespace PRESCORA_NS::protocolo {

enum class Estado : std::uint8_t {
  Ninguno,  // no state file: never handed over, or nothing more can come
  Preparada,
  Lanzada,
  Tomada,
  Enviada,
  Cerrada,
  Entregada,
  NoEnviada,
  Desconocido,  // not read, or not a word of these: whatever a process that is gone left behind
};
inline constexpr int kEstados = 9;

enum class Actor : std::uint8_t { Frente, Ejecutor, EjecutorAMano };

// Whether the executor's byte must be held by another process for the row to apply.
enum class Ejecutor : std::uint8_t { Cualquiera, Vivo, Ausente };

constexpr std::uint16_t Bit(Estado e) {
  return static_cast<std::uint16_t>(1u << static_cast<unsigned>(e));
}
template <typename... E>
constexpr std::uint16_t De(E... e) {
  return static_cast<std::uint16_t>((Bit(e) | ...));
}

struct Transicion {
  Actor actor;
  std::uint16_t desde;  // a set of states (Bit)
  Ejecutor ejecutor;
  Estado hasta;  // Ninguno: the state file is removed
  const char* cuando;
  const char* lee;
  const char* escribe;
};

// clang-format off
inline constexpr Transicion kTransiciones[] = {
  {Actor::Frente, static_cast<std::uint16_t>((1u << kEstados) - 1), Ejecutor::Ausente,
   Estado::Preparada,
   "reserva: su byte tomado y el del ejecutor libre; lo que quede es de un proceso ido",
   "Recibidos/<id>.xml y, si lo hay, el estado (una respuesta anterior se aparta: renombrada "
   "junto a sí si fue entregada, a Retrasados si no)",
   "estado y ficha nueva; después Enviados/<id>.xml y las marcas de cabecera y de petición"},
  {Actor::Frente, De(Estado::Preparada), Ejecutor::Cualquiera, Estado::Lanzada,
   "la petición está escrita; el lanzador se arranca después", "-", "estado"},
  {Actor::Ejecutor, De(Estado::Lanzada), Ejecutor::Cualquiera, Estado::Tomada,
   "toma su byte (32020 si otro lo tiene)", "estado y ficha", "estado"},
  {Actor::Ejecutor, De(Estado::Tomada), Ejecutor::Cualquiera, Estado::Enviada,
   "conectado, antes de que salga un byte; no si el frente ya cerró",
   "Enviados/<id>.xml, estado", "estado; después la marca de mensaje enviado"},
  {Actor::Ejecutor, De(Estado::Tomada, Estado::Enviada), Ejecutor::Cualquiera, Estado::NoEnviada,
   "falló antes de que saliera ningún byte: el frente responde en seguida", "estado",
   "estado con los errores del ejecutor"},
  {Actor::Ejecutor, De(Estado::Cerrada), Ejecutor::Cualquiera, Estado::Ninguno,
   "el frente ya respondió: no se envía, o la respuesta tardía queda en Retrasados", "estado",
   "Retrasados/<id>.xml (si hubo respuesta); borra el estado"},
  {Actor::Frente, De(Estado::Lanzada, Estado::Tomada, Estado::Enviada), Ejecutor::Cualquiera,
   Estado::Entregada, "la respuesta con su ficha está en Recibidos, mirada en el paso",
   "Recibidos/<id>.xml", "estado; después la marca de respuesta (srv)"},
  {Actor::Frente, De(Estado::Preparada, Estado::NoEnviada), Ejecutor::Cualquiera, Estado::Ninguno,
   "sin respuesta y sin ejecutor que pueda venir", "estado (y los errores de noenviada)",
   "borra el estado; la marca de respuesta de reserva"},
  {Actor::Frente, De(Estado::Tomada, Estado::Enviada), Ejecutor::Ausente, Estado::Ninguno,
   "sin respuesta y el ejecutor ya se fue", "estado, byte del ejecutor",
   "borra el estado; la marca de respuesta de reserva"},
  {Actor::Frente, De(Estado::Lanzada, Estado::Ninguno, Estado::Desconocido), Ejecutor::Cualquiera,
   Estado::Cerrada, "sin respuesta; un ejecutor aún puede venir (o el estado se perdió)", "estado",
   "estado; la marca de respuesta de reserva"},
  {Actor::Frente, De(Estado::Tomada, Estado::Enviada), Ejecutor::Vivo, Estado::Cerrada,
   "sin respuesta; el ejecutor sigue vivo", "estado, byte del ejecutor",
   "estado; la marca de respuesta de reserva"},
  {Actor::Frente, De(Estado::Entregada), Ejecutor::Cualquiera, Estado::Ninguno,
   "la respuesta entregada se borra según la configuración", "-",
   "borra Recibidos/<id>.xml y el estado"},
  {Actor::EjecutorAMano, De(Estado::Ninguno), Ejecutor::Cualquiera, Estado::Ninguno,
   "una petición sin estado: toma su byte y envía; no escribe estado",
   "Enviados/<id>.xml; la auditoría decide si la respuesta es tardía",
   "Recibidos/<id>.xml o Retrasados/<id>.xml; marcas"},
};
// clang-format on

constexpr bool Permitido(Actor actor, Estado desde, Estado hasta, bool ejecutorVivo) {
  for (const Transicion& t : kTransiciones) {
    if (t.actor != actor || t.hasta != hasta || (t.desde & Bit(desde)) == 0) continue;
    if (t.ejecutor == Ejecutor::Vivo && !ejecutorVivo) continue;
    if (t.ejecutor == Ejecutor::Ausente && ejecutorVivo) continue;
    return true;
  }
  return false;
}

// Where the front object leaves a dispensing it answers without the service's answer: removed
// when nothing can come any more, closed (so that nothing goes out) when an executor still may.
constexpr Estado Cierre(Estado actual, bool ejecutorVivo) {
  return Permitido(Actor::Frente, actual, Estado::Ninguno, ejecutorVivo) ? Estado::Ninguno
                                                                         : Estado::Cerrada;
}

// What an executor does with the dispensing, by the state it finds in its first step.
enum class Llegada : std::uint8_t {
  Tomar,     // takes its byte (32020 if held); handed over when there is a state
  EnCurso,   // another executor has it: 32020
  NoEnviar,  // no longer pending: logged, and a closed one is removed
};
struct FilaLlegada {
  Estado estado;
  Ejecutor ejecutor;
  Llegada llegada;
};
inline constexpr FilaLlegada kLlegadas[] = {
    {Estado::Ninguno, Ejecutor::Cualquiera, Llegada::Tomar},
    {Estado::Lanzada, Ejecutor::Cualquiera, Llegada::Tomar},
    {Estado::Tomada, Ejecutor::Vivo, Llegada::EnCurso},
    {Estado::Enviada, Ejecutor::Vivo, Llegada::EnCurso},
};

constexpr Llegada AlLlegar(Estado estado, bool otroEjecutorVivo) {
  for (const FilaLlegada& f : kLlegadas) {
    if (f.estado != estado) continue;
    if (f.ejecutor == Ejecutor::Vivo && !otroEjecutorVivo) continue;
    return f.llegada;
  }
  return Llegada::NoEnviar;
}

// Whether an answer is late (goes to Retrasados). A handed-over dispensing decides by its state:
// late once the front object closed it. A request with no state (run by hand) has only the audit
// to tell whether the front object answered with a fallback.
template <typename Auditoria>
bool RespuestaTardia(bool conEstado, Estado estado, Auditoria respondidaConReserva) {
  if (conEstado) return estado == Estado::Cerrada;
  return respondidaConReserva();
}

Estado DeTexto(std::string_view word);
const char* Texto(Estado estado);

}  // namespace PRESCORA_NS::protocolo
