// The argument of one prescription query: who asks (service user, password, language), for which
// patient (the health card's TIS and holder) and on which day. The application sets the
// credentials and the language; the card reader fills TIS and TitularTarjeta; the retrieval front
// object renders it as the request element p70PeticionConsultaPNDPorTIS.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/Export.h"
#include "common/IObject.h"

namespace PRESCORA_NS {

class PRESCORA_API CArgument : public IObject {
 public:
  // Fecha is the day of construction and never changes afterwards.
  CArgument() noexcept;

  // The card holder's name: informative, never sent to the service.
  const std::string& TitularTarjeta() const noexcept { return titularTarjeta_; }
  void set_TitularTarjeta(std::string value) noexcept { titularTarjeta_ = std::move(value); }
  // The patient's health-card identifier. Mandatory.
  const std::string& TIS() const noexcept { return tis_; }
  void set_TIS(std::string value) noexcept { tis_ = std::move(value); }
  // The query date as "yyyy/mm/dd", fixed at construction.
  const std::string& Fecha() const noexcept { return fecha_; }
  // The web service's user and password.
  const std::string& Usuario() const noexcept { return usuario_; }
  void set_Usuario(std::string value) noexcept { usuario_ = std::move(value); }
  const std::string& Password() const noexcept { return password_; }
  void set_Password(std::string value) noexcept { password_ = std::move(value); }
  // The language code sent to the service.
  int16_t Idioma() const noexcept { return idioma_; }
  void set_Idioma(int16_t value) noexcept { idioma_ = value; }

  // The request element text, p70PeticionConsultaPNDPorTIS with its five children; the opening
  // tag carries the thread's schema declarations (empty before the first connection). Values are
  // escaped, so each reaches the service exactly as it was set. "" on a failure.
  std::string ToString() noexcept;

  // The children of the request element (usuario, passwd, idioma, TIS, fecha); nothing when the
  // text does not load (error 32003 in the library's error collection).
  std::optional<platform::xml::NodeList> ToXML() noexcept override;
  // An argument is never read from XML: false, and nothing changes.
  bool FromXML(platform::xml::NodeList& objIXMLDOMNodeList) noexcept override;
  // True when Fecha and TIS are both set. Usuario, Password and Idioma are not required.
  bool RequiredFields() noexcept override;

 private:
  std::string titularTarjeta_;
  std::string tis_;
  std::string fecha_;
  std::string usuario_;
  std::string password_;
  int16_t idioma_ = 0;
};

}  // namespace PRESCORA_NS
