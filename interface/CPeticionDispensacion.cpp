#include "interface/CPeticionDispensacion.h"

#include <cstdio>

#include "common/Trim.h"
#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/convert.h"
#include "common/platform/files.h"
#include "common/platform/xml.h"
#include "interface/modGlobalInterface.h"

namespace PRESCORA_NS {

namespace convert = platform::convert;
namespace xml = platform::xml;

namespace {

using prescora::TrimSpaces;

// One simple element: "<name >value</name>" and CR LF. The value is escaped so that it stays one
// value whatever it holds.
void AppendElement(std::string& out, std::string_view name, std::string_view value) {
  out += '<';
  out += name;
  out += " >";
  out += xml::EscapeText(value);
  out += "</";
  out += name;
  out += ">\r\n";
}

// The schema-declaration text for the envelope's start tag, which binds SOAP-ENV and SOAP-ENC
// itself: the text's own bindings of those two prefixes are left out (one tag cannot declare a
// prefix twice, and the envelope needs the standard ones), whatever quotes or spacing the text
// uses. A text that does not parse as attributes goes in unchanged.
std::string EnvelopeDeclarations(const std::string& schema) {
  auto attributes = xml::ParseAttributes(schema);
  if (!attributes) return schema;
  std::string out;
  for (const xml::Attribute& a : *attributes) {
    if (a.name == "xmlns:SOAP-ENV" || a.name == "xmlns:SOAP-ENC") continue;
    out += a.name + "=\"" + xml::EscapeAttribute(a.value) + "\" ";
  }
  return out;
}

}  // namespace

CPeticionDispensacion::CPeticionDispensacion() noexcept {
  TraceScope trace("CPeticionDispensacion.Class_Initialize");
}

CPeticionDispensacion::CPeticionDispensacion(const CPeticionDispensacion& other) noexcept
    : IObject(other), d_(other.d_) {
  TraceScope trace("CPeticionDispensacion.Class_Initialize");
}

CPeticionDispensacion& CPeticionDispensacion::operator=(
    const CPeticionDispensacion& other) noexcept {
  if (this != &other) d_ = other.d_;
  return *this;
}

CPeticionDispensacion::~CPeticionDispensacion() {
  TraceScope trace("CPeticionDispensacion.Class_Terminate");
}

void CPeticionDispensacion::Fire(void (CPeticionDispensacionEvents::*event)()) {
  if (events_ != nullptr) (events_->*event)();
}

bool CPeticionDispensacion::IsITPIdentifier(std::string_view strId) noexcept {
  std::string_view id = TrimSpaces(strId);
  if (id.size() < 3) return false;
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  return upper(id[0]) == 'I' && upper(id[1]) == 'T' && upper(id[2]) == 'P';
}

std::string CPeticionDispensacion::ParseDate(std::string_view strDate) noexcept {
  static constexpr const char* kProcedure = "CPeticionDispensacion.ParseDate";
  // Traced with its input on entry and its result on leaving.
  objTrace().WriteTrace(this, true, kProcedure, strDate);
  std::string result;
  Trap(kProcedure, [&] {
    if (strDate.empty()) return;
    objLog().Writeln("CPeticionDispensacion.ParseDate:Parseando las fechas");
    auto date = convert::ParseDate(strDate);
    if (!date) Raise(errInvalidDate, kProcedure);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d", date->year, date->month, date->day);
    result = digits;
  });
  objTrace().WriteTrace(this, false, kProcedure, result);
  return result;
}

std::string CPeticionDispensacion::RecordForm() {
  const Fields& f = d_;
  // The schema-declaration text is markup by design: inserted as held.
  std::string out = "<PeticionDispensacion " + strEsquemaXML() + "> ";
  AppendElement(out, "importe", f.importe_);
  AppendElement(out, "importeAportacion", f.importeAportacion_);
  AppendElement(out, "codFarmacia", f.idFarmacia_);
  AppendElement(out, "fechaDispensacion", ParseDate(f.fechaDispensacion_));
  AppendElement(out, "idioma", f.idioma_);
  AppendElement(out, "idUsuario", f.idUsuario_);
  AppendElement(out, "idFarmaceutico", f.idFarmaceutico_);
  AppendElement(out, "claveUsuario", f.claveUsuario_);
  AppendElement(out, "envasesDispensados", f.envasesDispensados_);
  AppendElement(out, "numeroReceta", f.numeroReceta_);
  AppendElement(out, "codProvincia", f.idProvincia_);
  AppendElement(out, "codigoDispensado", f.codigoDispensado_);
  if (!IsITPIdentifier(f.idPrescripcion_)) {
    AppendElement(out, "idPrescripcion", f.idPrescripcion_);
  } else {
    // A prescription without identifier of its own: the service gets its data instead.
    AppendElement(out, "idPrescripcion", "");
    AppendElement(out, "codColegiadoPrescriptor", f.codigoColegiadoPrescriptor_);
    AppendElement(out, "fechaPrescripcion", ParseDate(f.fechaPrescripcion_));
    AppendElement(out, "TIS", f.tis_);
    AppendElement(out, "nombreFormula", f.formulaMagistral_);
    if (f.regimenReceta_ != RegimenVacio)
      AppendElement(out, "regimenReceta", std::to_string(static_cast<int32_t>(f.regimenReceta_)));
    if (f.tipoPrescripcion_ != PrescripcionVacio)
      AppendElement(out, "tipoPrescripcion",
                    std::to_string(static_cast<int32_t>(f.tipoPrescripcion_)));
  }
  out += "</PeticionDispensacion>\r\n";
  return out;
}

std::string CPeticionDispensacion::ToString(bool blnEnvelope) noexcept {
  static constexpr const char* kProcedure = "CPeticionDispensacion.ToString";
  TraceScope trace(kProcedure);
  std::string result;
  Trap(kProcedure, [&] {
    std::string record = RecordForm();
    if (!blnEnvelope) {
      result = std::move(record);
      return;
    }
    std::string text = "<?xml version='1.0' encoding='UTF-8'?>";
    text += "<SOAP-ENV:Envelope xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/' ";
    text += "xmlns:SOAP-ENC='http://schemas.xmlsoap.org/soap/encoding/' ";
    text += EnvelopeDeclarations(strEsquemaXML());
    text += ">";
    text +=
        "<SOAP-ENV:Body><ns0:solicitudDispensacion xmlns:ns0='urn:Dispensacion' "
        "SOAP-ENV:encodingStyle='http://schemas.xmlsoap.org/soap/encoding/'>";
    text += "<arg0 xsi:type='bean:PeticionDispensacion' xmlns:bean='java:dispensacion.ejb'>\r\n";
    text += record;
    text += "</arg0></ns0:solicitudDispensacion>";
    text += "</SOAP-ENV:Body>";
    text += "</SOAP-ENV:Envelope>";
    result = std::move(text);
  });
  return result;
}

bool CPeticionDispensacion::RequiredFields() noexcept {
  static constexpr const char* kProcedure = "CPeticionDispensacion.IObject_RequiredFields";
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    objLog().Writeln(
        "CPeticionDispensacion.IObject_RequiredFields:Comprobando que todos los campos requeridos "
        "se han establecido");
    const Fields& f = d_;
    // Tested as held: a text of spaces counts as set.
    for (const std::string* text :
         {&f.claveUsuario_, &f.idUsuario_, &f.idioma_, &f.fechaDispensacion_, &f.idFarmacia_,
          &f.idFarmaceutico_, &f.envasesDispensados_, &f.importe_, &f.importeAportacion_,
          &f.idProvincia_}) {
      if (text->empty()) return;
    }
    if (!convert::IsDate(f.fechaDispensacion_)) return;
    if (!TrimSpaces(f.idPrescripcion_).empty()) {
      result = true;
      return;
    }
    // Without an identifier the service identifies the prescription by its own data.
    if (TrimSpaces(f.codigoColegiadoPrescriptor_).empty() || TrimSpaces(f.tis_).empty() ||
        !convert::IsDate(TrimSpaces(f.fechaPrescripcion_)) || f.regimenReceta_ == RegimenVacio ||
        f.tipoPrescripcion_ == PrescripcionVacio)
      return;
    if (f.tipoPrescripcion_ == Formula_Magistral && TrimSpaces(f.formulaMagistral_).empty()) return;
    result = true;
  });
  trace.set_Value(result);
  return result;
}

bool CPeticionDispensacion::ToXMLFile(const std::string& strPath) noexcept {
  static constexpr const char* kProcedure = "CPeticionDispensacion.ToXMLFile";
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    xml::Document document;
    if (!document.Loadxml(ToString(false))) Raise(errSoapXml, kProcedure);
    SaveXMLFile(document, strPath);
    objLog().Writeln("CPeticionDispensacion.ToXML:Generando archivo " + strPath +
                     " con la petición de la dispensación");
    result = true;
  });
  return result;
}

std::optional<xml::NodeList> CPeticionDispensacion::ToXML() noexcept {
  static constexpr const char* kProcedure = "CPeticionDispensacion.IObject_ToXML";
  TraceScope trace(kProcedure);
  std::optional<xml::NodeList> result;
  Trap(kProcedure, [&] {
    objLog().Writeln(
        "CPeticionDispensacion.IObject_ToXML:Generando objeto IXMLNodeList con las propiedades de "
        "la clase");
    Fire(&CPeticionDispensacionEvents::onBeforeTransformToXML);
    xml::Document document;
    if (!document.Loadxml(ToString(false))) Raise(errSoapXml, kProcedure);
    if (d_.saveSOAPMsgToFile_) {
      const std::string copy =
          platform::component::InLibraryFolder(std::string(kLibraryTitle) + ".xml");
      if (platform::files::IsFile(copy)) platform::files::Delete(copy);
      SaveXMLFile(document, copy);
      objLog().Writeln(
          "CPeticionDispensacion.IObject_ToXML:Generando archivo XML con la petición de la "
          "dispensación");
    }
    Fire(&CPeticionDispensacionEvents::onEndTransformToXML);
    result = document.documentElement().childNodes();
  });
  return result;
}

bool CPeticionDispensacion::FromXML(xml::NodeList& objIXMLDOMNodeList) noexcept {
  static constexpr const char* kProcedure = "CPeticionDispensacion.IObject_FromXML";
  (void)objIXMLDOMNodeList;
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    objLog().Writeln(
        "CPeticionDispensacion.IObject_FromXML:Cargando propiedades de clase a partir de un "
        "objeto NodeList");
    Fire(&CPeticionDispensacionEvents::onBeforeTransformFromXML);
    Fire(&CPeticionDispensacionEvents::onEndTransformFromXML);
    result = true;
  });
  trace.set_Value(result);
  return result;
}

}  // namespace PRESCORA_NS
