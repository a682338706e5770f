// The dispensing request: the record the pharmacy application fills for one dispensing of one
// prescription, with its XML forms (the request file and the SOAP message).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/Export.h"
#include "common/IObject.h"

namespace PRESCORA_NS {

enum RegimenRecetaEnum : int32_t {
  RegimenVacio = -1,
  Trabajador = 0,
  Pensionista = 1,
};

enum TipoPrescripcionEnum : int32_t {
  PrescripcionVacio = -1,
  Especialidad_Farmaceutica = 1,
  Principio_Activo = 2,
  Formula_Magistral = 3,
  Efectos_Y_Accesorios = 5,
};

// Events of a request. Override what you need; the request does not own the sink.
class PRESCORA_API CPeticionDispensacionEvents {
 public:
  virtual ~CPeticionDispensacionEvents() = default;
  virtual void onEndTransformToXML() {}
  virtual void onBeforeTransformToXML() {}
  virtual void onEndTransformFromXML() {}
  virtual void onBeforeTransformFromXML() {}
};

class PRESCORA_API CPeticionDispensacion : public IObject {
 public:
  CPeticionDispensacion() noexcept;
  CPeticionDispensacion(const CPeticionDispensacion& other) noexcept;
  CPeticionDispensacion& operator=(const CPeticionDispensacion& other) noexcept;
  ~CPeticionDispensacion() override;

  const std::string& Importe() const noexcept { return d_.importe_; }
  void set_Importe(std::string value) noexcept { d_.importe_ = std::move(value); }
  const std::string& ImporteAportacion() const noexcept { return d_.importeAportacion_; }
  void set_ImporteAportacion(std::string value) noexcept {
    d_.importeAportacion_ = std::move(value);
  }
  const std::string& IdFarmacia() const noexcept { return d_.idFarmacia_; }
  void set_IdFarmacia(std::string value) noexcept { d_.idFarmacia_ = std::move(value); }
  const std::string& FechaDispensacion() const noexcept { return d_.fechaDispensacion_; }
  void set_FechaDispensacion(std::string value) noexcept {
    d_.fechaDispensacion_ = std::move(value);
  }
  const std::string& IDPrescripcion() const noexcept { return d_.idPrescripcion_; }
  void set_IDPrescripcion(std::string value) noexcept { d_.idPrescripcion_ = std::move(value); }
  const std::string& Idioma() const noexcept { return d_.idioma_; }
  void set_Idioma(std::string value) noexcept { d_.idioma_ = std::move(value); }
  const std::string& IdUsuario() const noexcept { return d_.idUsuario_; }
  void set_IdUsuario(std::string value) noexcept { d_.idUsuario_ = std::move(value); }
  const std::string& IdFarmaceutico() const noexcept { return d_.idFarmaceutico_; }
  void set_IdFarmaceutico(std::string value) noexcept { d_.idFarmaceutico_ = std::move(value); }
  const std::string& ClaveUsuario() const noexcept { return d_.claveUsuario_; }
  void set_ClaveUsuario(std::string value) noexcept { d_.claveUsuario_ = std::move(value); }
  const std::string& EnvasesDispensados() const noexcept { return d_.envasesDispensados_; }
  void set_EnvasesDispensados(std::string value) noexcept {
    d_.envasesDispensados_ = std::move(value);
  }
  const std::string& NumeroReceta() const noexcept { return d_.numeroReceta_; }
  void set_NumeroReceta(std::string value) noexcept { d_.numeroReceta_ = std::move(value); }
  const std::string& IdProvincia() const noexcept { return d_.idProvincia_; }
  void set_IdProvincia(std::string value) noexcept { d_.idProvincia_ = std::move(value); }
  const std::string& CodigoDispensado() const noexcept { return d_.codigoDispensado_; }
  void set_CodigoDispensado(std::string value) noexcept { d_.codigoDispensado_ = std::move(value); }
  // Keep a copy (Interface.xml in the library folder) of the document ToXML makes.
  bool SaveSOAPMsgToFile() const noexcept { return d_.saveSOAPMsgToFile_; }
  void set_SaveSOAPMsgToFile(bool value) noexcept { d_.saveSOAPMsgToFile_ = value; }
  const std::string& CodigoColegiadoPrescriptor() const noexcept {
    return d_.codigoColegiadoPrescriptor_;
  }
  void set_CodigoColegiadoPrescriptor(std::string value) noexcept {
    d_.codigoColegiadoPrescriptor_ = std::move(value);
  }
  const std::string& FechaPrescripcion() const noexcept { return d_.fechaPrescripcion_; }
  void set_FechaPrescripcion(std::string value) noexcept {
    d_.fechaPrescripcion_ = std::move(value);
  }
  const std::string& TIS() const noexcept { return d_.tis_; }
  void set_TIS(std::string value) noexcept { d_.tis_ = std::move(value); }
  RegimenRecetaEnum RegimenReceta() const noexcept { return d_.regimenReceta_; }
  void set_RegimenReceta(RegimenRecetaEnum value) noexcept { d_.regimenReceta_ = value; }
  const std::string& FormulaMagistral() const noexcept { return d_.formulaMagistral_; }
  void set_FormulaMagistral(std::string value) noexcept { d_.formulaMagistral_ = std::move(value); }
  TipoPrescripcionEnum TipoPrescripcion() const noexcept { return d_.tipoPrescripcion_; }
  void set_TipoPrescripcion(TipoPrescripcionEnum value) noexcept { d_.tipoPrescripcion_ = value; }

  // Event sink, not owned; nullptr detaches.
  CPeticionDispensacionEvents* Events() const noexcept { return events_; }
  void set_Events(CPeticionDispensacionEvents* sink) noexcept { events_ = sink; }

  // IObject
  // Every mandatory field set (and, without an identifier, the prescription's own data).
  bool RequiredFields() noexcept override;
  // The child nodes of the record form's root; nothing when the record form does not load.
  std::optional<platform::xml::NodeList> ToXML() noexcept override;
  // Reading a request back is not supported: changes nothing and returns true.
  bool FromXML(platform::xml::NodeList& objIXMLDOMNodeList) noexcept override;

  // Used by the library's front objects.
  // A date text as "yyyymmdd"; "" for an empty text, and error 32004 for one that is no date.
  std::string ParseDate(std::string_view strDate) noexcept;
  // The record form (root PeticionDispensacion), or with blnEnvelope the SOAP message carrying
  // it. Values are escaped; "" when the rendering fails.
  std::string ToString(bool blnEnvelope = false) noexcept;
  // Writes the record form to the file; false (and no file written) when it does not load.
  bool ToXMLFile(const std::string& strPath) noexcept;

  // Whether the identifier is one the front object made: "ITP" first, spaces and case ignored.
  static bool IsITPIdentifier(std::string_view strId) noexcept;

 private:
  std::string RecordForm();
  void Fire(void (CPeticionDispensacionEvents::*event)());

  // The record's values; copies take them, not the event sink.
  struct Fields {
    std::string importe_;
    std::string importeAportacion_;
    std::string idFarmacia_;
    std::string fechaDispensacion_;
    std::string idPrescripcion_;
    std::string idioma_;
    std::string idUsuario_;
    std::string idFarmaceutico_;
    std::string claveUsuario_;
    std::string envasesDispensados_;
    std::string numeroReceta_;
    std::string idProvincia_;
    std::string codigoDispensado_;
    bool saveSOAPMsgToFile_ = false;
    std::string codigoColegiadoPrescriptor_;
    std::string fechaPrescripcion_;
    std::string tis_;
    RegimenRecetaEnum regimenReceta_ = RegimenVacio;
    std::string formulaMagistral_;
    TipoPrescripcionEnum tipoPrescripcion_ = PrescripcionVacio;
  };
  Fields d_;
  CPeticionDispensacionEvents* events_ = nullptr;
};

}  // namespace PRESCORA_NS
