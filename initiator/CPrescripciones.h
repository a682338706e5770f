// The result of a retrieval: the patient's prescriptions still to be dispensed, in the order the
// service sent them, with the service's error code and message and whether the retrieval as a
// whole is valid. The retrieval front object creates and fills it; the application reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Export.h"
#include "common/IObject.h"
#include "initiator/CPrescripcion.h"

namespace PRESCORA_NS {

class PRESCORA_API CPrescripciones : public IObject {
 public:
  // True when the retrieval parsed an answer whose error code is 0.
  bool DatosValidos() const noexcept { return datosValidos_; }
  // The prescriptions in answer order; "item 1" is front().
  const std::vector<CPrescripcion>& Registros() const noexcept { return registros_; }
  // The service's error code (0: none) and message.
  int32_t CodigoError() const noexcept { return codigoError_; }
  const std::string& DescripcionError() const noexcept { return descripcionError_; }
  void set_DescripcionError(std::string value) noexcept { descripcionError_ = std::move(value); }

  // Fills the list from the content of a consultaPrescripcionesNoDispensadasPorTis answer: the
  // elements codigoError, mensajeError and prescripciones (names in any letter case, without a
  // prefix). Any element of it may stand elsewhere in the answer as a SOAP-encoding reference
  // (href="#x" to the element whose id is x: the array, a prescription, a value). Only adds: a
  // list is filled once. True when the whole answer was read and sound. An answer that cannot be
  // trusted (a reference that cannot be followed, a number field that is not a number, a
  // codigoError that is not a whole number) is still read to its end for diagnosis, with the
  // fields in question left at 0 or empty, and each fault is an error 32021 in the library's
  // error collection naming the prescription and the field; the result is false. An empty list
  // fails.
  bool FromXML(platform::xml::NodeList& objIXMLDOMNodeList) noexcept override;
  // A list is never rendered: nothing, and false.
  std::optional<platform::xml::NodeList> ToXML() noexcept override { return std::nullopt; }
  bool RequiredFields() noexcept override { return false; }

 private:
  friend class CInitiator;
  void set_DatosValidos(bool value) noexcept { datosValidos_ = value; }
  // The last FromXML found the answer unsound (its 32021 items are recorded).
  bool invalida_ = false;

  bool datosValidos_ = false;
  std::vector<CPrescripcion> registros_;
  int32_t codigoError_ = 0;
  std::string descripcionError_;
};

}  // namespace PRESCORA_NS
