// Reads the patient's health-card identifier (TIS) and the holder's name from the certificate the
// card brings into the user's personal certificate store while it is in the reader.
#pragma once

#include "common/CError.h"
#include "common/Export.h"
#include "initiator/CArgument.h"

namespace PRESCORA_NS {

class PRESCORA_API CCard {
 public:
  // Waits up to [Tarjeta] InsercionTarjetaTimeOut seconds for a certificate whose issuer simple
  // name, lower-cased, equals CertIssuerSimpleName, looking at the store at most once every
  // IntervaloComprobacion seconds and calling the thread's message-loop hook on every pass.
  //
  // The identifier is the word that follows a word equal to IdentificadorTIS in an attribute
  // value of the certificate's subject (words split at blanks, values at "-"); QuitarCeros drops
  // its leading zeros. The first certificate in the store's order that yields one wins.
  //
  // Settings are read from interface.ini in the library folder on every call, including where
  // the store is: BaseDatosCertificados (an NSS database; the user's own by default) and
  // ModuloPKCS11 (a card reader's PKCS#11 module to load besides the database's own).
  //
  // True: objArgument.TIS and TitularTarjeta are set and objError is cleared. False: objError
  // holds the failure (32016 no settings file, 32018 no card in time, or the failing conversion
  // or store error), which is also recorded in the library's error collection and log.
  bool GetCardData(CArgument& objArgument, CErrorItem& objError) noexcept;
};

}  // namespace PRESCORA_NS
