// The retrieval front object: the object the pharmacy application creates to ask the regional
// service which of a patient's prescriptions are still to be dispensed.
//
//   Initiator::CArgument argument;            // Fecha: today
//   argument.set_Usuario("FARM01");
//   argument.set_Password("clave01");
//   argument.set_TIS("BBBB000001");           // or filled from the health card
//   Initiator::CInitiator initiator;          // logs in Initiator.log, settings in Interface.ini
//   Initiator::CPrescripciones list = initiator.RecuperarPrescripciones(argument);
//   // list.DatosValidos(), list.Registros(), list.CodigoError(), initiator.Errores()
//
// Everything runs on the caller's thread; the object is not shared between threads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/CError.h"
#include "common/Export.h"
#include "initiator/CArgument.h"
#include "initiator/CPrescripciones.h"

namespace PRESCORA_NS {

namespace platform::soap {
class Client;
}

class PRESCORA_API CInitiator {
 public:
  // Sets up the thread's logs (Initiator.log in the library folder; no trace), empties the
  // thread's error collection and makes the SOAP client. The dispensing library must be installed
  // beside this one: without it construction records error 429 (in Errores) and every retrieval
  // fails. Never fails towards the caller.
  CInitiator() noexcept;
  ~CInitiator();
  CInitiator(const CInitiator&) = delete;
  CInitiator& operator=(const CInitiator&) = delete;

  // The errors of the last RecuperarPrescripciones, plus the service's error code when it
  // answered one; before the first, those of the construction (why the object cannot serve).
  const std::vector<CErrorItem>& Errores() const noexcept { return errores_.Errores(); }

  // Asks the service for the pending prescriptions of objArg's TIS. Always returns a list: its
  // DatosValidos is true only when the service answered with error code 0. The first call
  // connects (settings [Proxy] and [Configuracion] of Interface.ini); a failed connection is
  // tried again in full on the next call. A null argument counts as one with blank fields.
  CPrescripciones RecuperarPrescripciones(CArgument* objArg) noexcept;
  CPrescripciones RecuperarPrescripciones(CArgument& objArg) noexcept {
    return RecuperarPrescripciones(&objArg);
  }

 private:
  bool ConectarServicio() noexcept;

  std::unique_ptr<platform::soap::Client> soapClient_;
  std::string archivoLog_;
  std::string archivoTrace_;
  std::string archivoIni_;
  CError errores_;
  bool conectado_ = false;
};

}  // namespace PRESCORA_NS
