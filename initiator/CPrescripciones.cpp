#include "initiator/CPrescripciones.h"

#include <string_view>
#include <unordered_map>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS {

namespace convert = platform::convert;
namespace xml = platform::xml;

namespace {

constexpr const char* kFromXML = "CPrescripciones.IObject_FromXML";
constexpr const char* kRecuperarValorNodo = "CPrescripciones.RecuperarValorNodo";

// Calls `visit` with each node of the list, in order, without copying the list.
template <class Visit>
void ForEach(const xml::NodeList& list, Visit&& visit) {
  for (long i = 0, n = list.length(); i < n; ++i) visit(list.Item(i));
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string TrimBlanks(std::string_view text) {
  auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// The values the answer sends by reference, keyed by their identifier (without regard to case).
class References {
 public:
  void Reserve(std::size_t count) { values_.reserve(count); }
  // A second value under the same identifier is the runtime's duplicate-key error.
  void Add(const std::string& key, std::string value) {
    if (!values_.emplace(Upper(key), std::move(value)).second)
      platform::RaiseRuntime(platform::errDuplicateKey);
  }
  // A missing identifier is the runtime's invalid-argument error.
  const std::string& Item(const std::string& key) const {
    auto found = values_.find(Upper(key));
    if (found == values_.end()) platform::RaiseRuntime(platform::errInvalidCall);
    return found->second;
  }

 private:
  std::unordered_map<std::string, std::string> values_;
};

// The xsd:string elements of the SOAP body that carry an identifier "ID_...": the targets of the
// answer's href references.
void CollectReferences(const xml::Document& document, References& references) {
  ForEach(document.childNodes(), [&](const xml::Node& envelope) {
    if (Upper(envelope.baseName()) != "ENVELOPE") return;
    ForEach(envelope.childNodes(), [&](const xml::Node& body) {
      if (Upper(body.baseName()) != "BODY") return;
      xml::NodeList elements = body.childNodes();
      references.Reserve(static_cast<std::size_t>(elements.length()));
      ForEach(elements, [&](const xml::Node& element) {
        if (Upper(element.baseName()) != "STRING") return;
        ForEach(element.Attributes(), [&](const xml::Node& attribute) {
          if (Upper(attribute.baseName()) != "ID") return;
          std::string id = attribute.Text();
          if (id.find("ID_") != std::string::npos) references.Add(id, element.Text());
        });
      });
    });
  });
}

// The value of one field: the referenced text when the element carries an href (the last one
// wins), else the element's own text. A reference that cannot be followed is trapped here, so
// that the parse goes on with what the value held.
std::string RecuperarValorNodo(const xml::Node& node, const References& references) noexcept {
  std::string value;
  Trap(kRecuperarValorNodo, [&] {
    ForEach(node.Attributes(), [&](const xml::Node& attribute) {
      if (Upper(attribute.baseName()) != "HREF") return;
      std::string key;
      for (char c : attribute.Text())
        if (c != '#') key += c;
      value = references.Item(key);
    });
    if (TrimBlanks(value).empty()) value = node.Text();
  });
  objTrace().WriteTrace(nullptr, false, kRecuperarValorNodo, "");
  return value;
}

}  // namespace

bool CPrescripciones::FromXML(xml::NodeList& objIXMLDOMNodeList) noexcept {
  TraceScope trace(kFromXML);
  bool result = false;
  Trap(kFromXML, [&] {
    objLog().Writeln(
        "CPrescripciones.IObject_FromXML:Cargando propiedades de clase a partir de un objeto "
        "NodeList");
    // Every node of the list lives in the one answer document; any of them leads to it.
    xml::Node first = objIXMLDOMNodeList.Item(0);
    if (!first) platform::RaiseRuntime(platform::errObjectNotSet);
    References references;
    CollectReferences(first.ownerDocument(), references);

    ForEach(objIXMLDOMNodeList, [&](const xml::Node& node) {
      std::string name = Upper(node.nodeName());
      if (name == "CODIGOERROR") {
        std::string text = node.Text();
        codigoError_ = convert::IsNumeric(text) ? convert::ToInt32(text) : 0;
      } else if (name == "MENSAJEERROR") {
        descripcionError_ = TrimBlanks(node.Text());
      } else if (name == "PRESCRIPCIONES") {
        ForEach(node.childNodes(), [&](const xml::Node& item) {
          if (item.nodeType() != xml::NodeType::Element) return;
          CPrescripcion p;
          ForEach(item.childNodes(), [&](const xml::Node& field) {
            std::string fieldName = Upper(field.nodeName());
            if (fieldName == "IDPRESCRIPCION") {
              p.idPrescripcion_ = RecuperarValorNodo(field, references);
            } else if (fieldName == "CODPRODUCTO") {
              p.codigoProducto_ = RecuperarValorNodo(field, references);
            } else if (fieldName == "FECHAPRESCRIPCION") {
              p.fechaPrescripcion_ = FormatDate(RecuperarValorNodo(field, references));
            } else if (fieldName == "ENVASESPRESCRITOS") {
              std::string value = RecuperarValorNodo(field, references);
              p.envasesPrescritos_ = convert::ToInt16(value.empty() ? "1" : value);
            } else if (fieldName == "REGIMENRECETA") {
              std::string value = RecuperarValorNodo(field, references);
              p.regimenReceta_ =
                  static_cast<RegimenRecetaEnum>(convert::ToInt16(value.empty() ? "0" : value));
            } else if (fieldName == "VISADO") {
              std::string value = RecuperarValorNodo(field, references);
              p.requiereVisado_ =
                  static_cast<RequiereVisadoEnum>(convert::ToInt16(value.empty() ? "0" : value));
            }
          });
          registros_.push_back(std::move(p));
        });
      }
    });
    result = true;
  });
  trace.set_Value(result);
  return result;
}

}  // namespace PRESCORA_NS
