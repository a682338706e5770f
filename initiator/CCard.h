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
  // Only certificates NSS verifies count (signature, dates, chain to an authority the database
  // trusts), unless VerificarCertificado is 0. The identifier follows the marker IdentificadorTIS,
  // as a word of its own followed by blanks or punctuation, in the subject's serialNumber
  // attribute, or in any attribute when the subject has none; QuitarCeros drops its leading zeros.
  // The first certificate in the store's order that yields one wins; a certificate of the issuer
  // that is refused (not verified, or a control character in the identifier's attribute or the
  // holder's name) fails the call at once when no other one is read.
  //
  // Settings are read from interface.ini in the library folder on every call, including where
  // the store is: BaseDatosCertificados (an NSS database; the user's own by default) and
  // ModuloPKCS11 (a card reader's PKCS#11 module to load besides the database's own).
  //
  // True: objArgument.TIS and TitularTarjeta are set and objError is cleared. False: objError
  // holds the failure (32016 no settings file, 32018 no card in time, 5 a refused certificate, or
  // the failing conversion or store error), also recorded in the library's errors and log.
  bool GetCardData(CArgument& objArgument, CErrorItem& objError) noexcept;
};

}  // namespace PRESCORA_NS
