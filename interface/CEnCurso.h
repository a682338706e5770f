// One prescription identifier while a dispensing of it is in flight, as the front object and the
// executor see it from their two processes.
//
// The lock file EnCurso.lock in the library folder serialises the short steps in which either side
// decides something (Paso). Two bytes of it per identifier, compared without regard to letter case,
// say who is alive: the front object holds its byte for the whole request, the executor for the
// whole of its process; the system releases them when a process dies, so a dead process never
// blocks an identifier.
// Nobody waits on them: a request (or an executor) that finds the byte it needs held by another
// process is refused with 32020, and so is one whose identifier meets another's bytes.
//
// The state of the dispensing is a one-word file EnCurso/<id>.estado, read and written only inside
// a step, and moved only as the table in Protocolo.h allows (Mover):
//   preparada  the front object has reserved the identifier and is writing the request
//   lanzada    the request is written and the launcher started
//   tomada     an executor took the dispensing
//   enviada    the executor is sending it (decided in a step, so never after a fallback)
//   cerrada    the front object answered the application with a fallback: nothing may be sent
//              any more, and an answer that still comes goes to Retrasados
//   entregada  the front object took the answer in time
//   noenviada  the executor failed before any byte of the request left the machine (request
//              unreadable, no description, name not resolved, connection refused, TLS handshake
//              failed): nothing can come any more, and the front object answers at once. The
//              executor's errors follow the token's line, one a line: number, source,
//              description, separated by tabs
//
// Its second line is the dispensing's token: the front object draws it when it reserves the
// identifier, the executor writes it into the answer file, and the front object takes an answer
// only when it carries it, so a file dropped into Recibidos by anyone else never passes for the
// service's answer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/CError.h"
#include "common/Export.h"
#include "interface/Protocolo.h"

namespace PRESCORA_NS {

namespace platform::files {
class LockFile;
}

class CEnCurso {
 public:
  static constexpr const char* kPreparada = "preparada";
  static constexpr const char* kLanzada = "lanzada";
  static constexpr const char* kTomada = "tomada";
  static constexpr const char* kEnviada = "enviada";
  static constexpr const char* kCerrada = "cerrada";
  static constexpr const char* kEntregada = "entregada";
  static constexpr const char* kNoEnviada = "noenviada";

  // Opens the lock file; raises the file system's error when it cannot.
  explicit CEnCurso(std::string strIdPrescripcion);
  ~CEnCurso();
  CEnCurso(const CEnCurso&) = delete;
  CEnCurso& operator=(const CEnCurso&) = delete;

  // A short step: the lock of every identifier's state, held while the object lives.
  class Paso {
   public:
    explicit Paso(CEnCurso& owner);
    ~Paso();
    Paso(const Paso&) = delete;
    Paso& operator=(const Paso&) = delete;

   private:
    CEnCurso& owner_;
  };

  // Take this side's byte without waiting; false when another process (or object) holds it.
  bool TomarFrente();
  bool TomarEjecutor();
  // Whether someone else holds the byte of that side.
  bool FrenteOcupado() const;
  bool EjecutorOcupado() const;

  // The state word; "" when there is no state file (a request spooled by other means).
  std::string Estado() const;
  void set_Estado(const std::string& estado, const std::string& detalle = "");
  // A move of the dispensing by `actor` from `desde` (as this side last read or wrote it) to
  // `hasta` (Ninguno removes the file), made only when the protocol's table has it; otherwise the
  // operation's error (set_Rechazo) is raised and nothing is written. `ejecutorVivo`: whether
  // another process holds the executor's byte.
  void Mover(protocolo::Actor actor, protocolo::Estado desde, protocolo::Estado hasta,
             bool ejecutorVivo = false, const std::string& detalle = "");
  // The executor's move to "noenviada" with its errors; and those errors as written (none when
  // the state is another).
  void set_NoEnviada(protocolo::Estado desde, const std::vector<CErrorItem>& errores);
  std::vector<CErrorItem> ErroresNoEnviada() const;
  // The token written with every state from now on ("" writes none).
  const std::string& Ficha() const noexcept { return ficha_; }
  void set_Ficha(std::string ficha) { ficha_ = std::move(ficha); }
  // The token the state file holds; "" when it holds none.
  std::string FichaGuardada() const;
  static constexpr std::size_t kLargoFicha = 32;

  // What a state file says: its word and its token.
  struct Contenido {
    std::string estado;
    std::string ficha;
  };
  static Contenido Leer(std::string_view text);

  // The error raised when the state file, or the file written aside for it, is a link or not a
  // regular file: the operation's own (the file system's error when none is set).
  void set_Rechazo(int32_t number, std::string source);

  // Removes the state file once nothing more can come for the dispensing.
  void BorrarEstado() noexcept;

  const std::string& IdPrescripcion() const noexcept { return id_; }

 private:
  std::string id_;
  std::string estadoPath_;
  [[noreturn]] void Rechazar() const;
  [[noreturn]] void RechazarMovimiento() const;

  std::string ficha_;
  int32_t rechazo_ = 0;
  std::string rechazoFuente_;
  std::uint64_t byte_ = 0;  // the front's byte; the executor's is the next one
  std::unique_ptr<platform::files::LockFile> lock_;
};

}  // namespace PRESCORA_NS
