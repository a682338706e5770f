// The answer to one dispensing request: counts, codes and texts of the warnings and rejection
// reasons, with its XML form (the response file and the default response file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Export.h"
#include "common/IObject.h"

namespace PRESCORA_NS {

// Events of a response. Override what you need; the response does not own the sink.
class PRESCORA_API CRespuestaPeticionEvents {
 public:
  virtual ~CRespuestaPeticionEvents() = default;
  virtual void onEndTransformToXML() {}
  virtual void onBeforeTransformToXML() {}
  virtual void onEndTransformFromXML() {}
  virtual void onBeforeTransformFromXML() {}
};

class PRESCORA_API CRespuestaPeticion : public IObject {
 public:
  CRespuestaPeticion() noexcept;
  CRespuestaPeticion(const CRespuestaPeticion& other) noexcept;
  CRespuestaPeticion& operator=(const CRespuestaPeticion& other) noexcept;
  ~CRespuestaPeticion() override;

  // The counts are values of their own: nothing keeps them equal to the collections' sizes.
  int16_t m_intNMotivosRechazo() const noexcept { return d_.nMotivosRechazo_; }
  void set_m_intNMotivosRechazo(int16_t value) noexcept { d_.nMotivosRechazo_ = value; }
  int16_t m_intNAvisos() const noexcept { return d_.nAvisos_; }
  void set_m_intNAvisos(int16_t value) noexcept { d_.nAvisos_ = value; }

  std::vector<std::string>& m_colTextoAviso() noexcept { return d_.textoAviso_; }
  const std::vector<std::string>& m_colTextoAviso() const noexcept { return d_.textoAviso_; }
  void set_m_colTextoAviso(std::vector<std::string> value) noexcept {
    d_.textoAviso_ = std::move(value);
  }
  std::vector<std::string>& m_colTextoMotivosRechazo() noexcept { return d_.textoMotivosRechazo_; }
  const std::vector<std::string>& m_colTextoMotivosRechazo() const noexcept {
    return d_.textoMotivosRechazo_;
  }
  void set_m_colTextoMotivosRechazo(std::vector<std::string> value) noexcept {
    d_.textoMotivosRechazo_ = std::move(value);
  }
  std::vector<std::string>& m_colCodigoMotivosRechazo() noexcept {
    return d_.codigoMotivosRechazo_;
  }
  const std::vector<std::string>& m_colCodigoMotivosRechazo() const noexcept {
    return d_.codigoMotivosRechazo_;
  }
  void set_m_colCodigoMotivosRechazo(std::vector<std::string> value) noexcept {
    d_.codigoMotivosRechazo_ = std::move(value);
  }
  std::vector<std::string>& m_colCodigoAviso() noexcept { return d_.codigoAviso_; }
  const std::vector<std::string>& m_colCodigoAviso() const noexcept { return d_.codigoAviso_; }
  void set_m_colCodigoAviso(std::vector<std::string> value) noexcept {
    d_.codigoAviso_ = std::move(value);
  }

  // Set by the front object: true when its dispensing call ended without error.
  bool DatosValidos() const noexcept { return d_.datosValidos_; }
  void set_DatosValidos(bool value) noexcept { d_.datosValidos_ = value; }
  // True once a warning code read from an answer equals the configured success code.
  bool DispensacionRealizada() const noexcept { return d_.dispensacionRealizada_; }

  // Event sink, not owned; nullptr detaches.
  CRespuestaPeticionEvents* Events() const noexcept { return events_; }
  void set_Events(CRespuestaPeticionEvents* sink) noexcept { events_ = sink; }

  // IObject
  // Appends what the nodes hold (counts, and the entries of the four arrays), following the
  // SOAP-encoding references (href="#x") of the elements and of their items. A reference that
  // cannot be followed, or a count that is neither empty nor a number, is error 32021 (the
  // answer is not valid): false, with what was appended before kept.
  bool FromXML(platform::xml::NodeList& objIXMLDOMNodeList) noexcept override;
  bool RequiredFields() noexcept override;
  std::optional<platform::xml::NodeList> ToXML() noexcept override;

  // Used by the library's front objects.
  // Reads a response file; on any failure the record becomes the error response and the result
  // is false.
  bool FromXMLFile(const std::string& strPath) noexcept;
  // True: the internal response of [RespuestaDefecto] in the settings file. False (or a failure
  // on the way): the error response that stands for a failed dispensing call.
  void SetInternalResponse(bool blnFromSettings) noexcept;
  // The record form (root RespuestaPeticion); values escaped; "" when the rendering fails.
  std::string ToString() noexcept;
  // Writes the record form to the file; false when it does not load. A token given goes on the
  // root element (attribute "ejecucion"): the front object takes an answer file only when it
  // carries its dispensing's token. The message-log line that names the file is left out when
  // blnLog is false: a file written under a passing name is named by its writer once it is where
  // it ends (GeneratedLine).
  bool ToXMLFile(const std::string& strPath, const std::string& ficha = {},
                 bool blnLog = true) noexcept;
  static std::string GeneratedLine(const std::string& strPath);
  // Whether the answer file at `strPath` carries that token.
  static bool LlevaFicha(const std::string& strPath, const std::string& ficha) noexcept;

 private:
  void ErrorResponse() noexcept;
  void InternalResponse();
  void Fire(void (CRespuestaPeticionEvents::*event)());

  // The record's values; copies take them, not the event sink.
  struct Fields {
    int16_t nMotivosRechazo_ = 0;
    int16_t nAvisos_ = 0;
    std::vector<std::string> textoAviso_;
    std::vector<std::string> textoMotivosRechazo_;
    std::vector<std::string> codigoMotivosRechazo_;
    std::vector<std::string> codigoAviso_;
    bool datosValidos_ = false;
    bool dispensacionRealizada_ = false;
  };
  Fields d_;
  CRespuestaPeticionEvents* events_ = nullptr;
};

}  // namespace PRESCORA_NS
