#include "initiator/CArgument.h"

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/clock.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS {

namespace xml = platform::xml;

namespace {

// "&", "<" and ">" as entities, and a carriage return as a character reference, which the parser
// would otherwise fold into the line feed that follows it.
std::string EscapeValue(std::string_view value) {
  std::string escaped = xml::EscapeText(value);
  std::string out;
  out.reserve(escaped.size());
  for (char c : escaped) {
    if (c == '\r')
      out += "&#13;";
    else
      out += c;
  }
  return out;
}

// "<name >value</name>" and CR LF.
void AppendElement(std::string& out, std::string_view name, std::string_view value) {
  out += '<';
  out += name;
  out += " >";
  out += EscapeValue(value);
  out += "</";
  out += name;
  out += ">\r\n";
}

}  // namespace

CArgument::CArgument() noexcept {
  try {
    fecha_ = platform::clock::Format(platform::clock::Now(), "yyyy/MM/dd");
  } catch (...) {
  }
}

std::string CArgument::ToString() noexcept {
  static constexpr const char* kProcedure = "CArgument.ToString";
  TraceScope trace(kProcedure);
  std::string result;
  Trap(kProcedure, [&] {
    std::string fecha;
    for (char c : fecha_)
      if (c != '/') fecha += c;
    // The schema declarations are markup by design: inserted as held.
    std::string out = "<p70PeticionConsultaPNDPorTIS " + strEsquemaXML() + ">";
    AppendElement(out, "usuario", usuario_);
    AppendElement(out, "passwd", password_);
    AppendElement(out, "idioma", std::to_string(idioma_));
    AppendElement(out, "TIS", tis_);
    AppendElement(out, "fecha", fecha);
    out += "</p70PeticionConsultaPNDPorTIS>\r\n";
    result = std::move(out);
  });
  return result;
}

std::optional<xml::NodeList> CArgument::ToXML() noexcept {
  static constexpr const char* kProcedure = "CArgument.IObject_ToXML";
  TraceScope trace(kProcedure);
  std::optional<xml::NodeList> result;
  Trap(kProcedure, [&] {
    objLog().Writeln(
        "CArgument.IObject_ToXML:Generando objeto IXMLNodeList con las propiedades de la clase");
    xml::Document document;
    if (!document.Loadxml(ToString())) Raise(errSoapXml, kProcedure);
    result = document.documentElement().childNodes();
  });
  return result;
}

bool CArgument::FromXML(xml::NodeList& objIXMLDOMNodeList) noexcept {
  (void)objIXMLDOMNodeList;
  return false;
}

bool CArgument::RequiredFields() noexcept {
  return !fecha_.empty() && !tis_.empty();
}

}  // namespace PRESCORA_NS
