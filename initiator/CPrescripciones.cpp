#include "initiator/CPrescripciones.h"

#include <optional>
#include <string_view>
#include <vector>

#include "common/Trim.h"
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

using prescora::TrimSpaces;

// A whole number as the service writes one ("12", "-3"): no fraction, no exponent, no letters.
bool IsWholeNumber(const std::string& trimmed) {
  std::size_t i = !trimmed.empty() && (trimmed[0] == '-' || trimmed[0] == '+') ? 1 : 0;
  if (i == trimmed.size()) return false;
  for (; i < trimmed.size(); ++i)
    if (trimmed[i] < '0' || trimmed[i] > '9') return false;
  return true;
}

// An answer is read whole even when parts of it are wrong, so that what it says can be looked
// at; each wrong part becomes one item 32021 saying where. Past this many items the rest are only
// counted, so that a broken answer cannot fill the log.
constexpr int kMaxProblemItems = 20;

class Problems {
 public:
  void Add(const std::string& where) noexcept {
    ++count_;
    if (count_ > kMaxProblemItems) return;
    try {
      Raise(errInvalidAnswer, kFromXML);
    } catch (...) {
      try {
        HandleFailure(kFromXML, std::current_exception(), Extend(where));
      } catch (...) {  // no memory for the text
      }
    }
  }
  int count() const noexcept { return count_; }
  // The items not recorded, in one line of the log.
  void Close() noexcept {
    if (count_ <= kMaxProblemItems) return;
    try {
      objLog().Writeln(std::string(kFromXML) + ":" + std::to_string(count_ - kMaxProblemItems) +
                       " errores más en la respuesta del servicio");
    } catch (...) {
    }
  }

 private:
  static TrapOptions Extend(const std::string& where) {
    TrapOptions options;
    options.adjust = [where](platform::Failure& failure) {
      failure = platform::Failure(failure.Number(), failure.Source(),
                                  failure.Description() + ": " + where);
    };
    return options;
  }
  int count_ = 0;
};

// The value of one field: the referenced text when the element carries an href (the last one
// wins), else the element's own text; nothing, and `why` said, when the reference cannot be
// followed.
std::optional<std::string> RecuperarValorNodo(const xml::Node& node, xml::References& references,
                                              std::string& why) noexcept {
  std::optional<std::string> value;
  Trap(kRecuperarValorNodo, [&] {
    xml::Followed followed;
    value = references.Value(node, &followed);
    if (!value) {
      why = xml::DescribeProblem(followed);
      return;
    }
    // An empty target leaves the element's own text: a reference to nothing never blanks a value
    // the element gives itself.
    if (TrimSpaces(*value).empty()) value = node.Text();
  });
  objTrace().WriteTrace(nullptr, false, kRecuperarValorNodo, "");
  return value;
}

}  // namespace

bool CPrescripciones::FromXML(xml::NodeList& objIXMLDOMNodeList) noexcept {
  TraceScope trace(kFromXML);
  bool result = false;
  Problems problems;
  Trap(kFromXML, [&] {
    objLog().Writeln(
        "CPrescripciones.IObject_FromXML:Cargando propiedades de clase a partir de un objeto "
        "NodeList");
    if (!objIXMLDOMNodeList.Item(0)) platform::RaiseRuntime(platform::errObjectNotSet);
    xml::References references;
    // What an element stands for; `where` names it in the error item when it cannot be followed.
    auto follow = [&](const xml::Node& node, const std::string& where) -> xml::Node {
      xml::Followed followed = references.Follow(node);
      if (followed) return followed.node;
      problems.Add(where + ": " + xml::DescribeProblem(followed));
      return {};
    };
    std::optional<std::string> codigoError;

    ForEach(objIXMLDOMNodeList, [&](const xml::Node& node) {
      std::string name = Upper(node.nodeName());
      if (name == "CODIGOERROR") {
        if (xml::Node value = follow(node, node.nodeName())) codigoError = value.Text();
      } else if (name == "MENSAJEERROR") {
        if (xml::Node value = follow(node, node.nodeName()))
          descripcionError_ = TrimSpaces(value.Text());
      } else if (name == "PRESCRIPCIONES") {
        xml::Node array = follow(node, node.nodeName());
        ForEach(array.childNodes(), [&](const xml::Node& reference) {
          if (reference.nodeType() != xml::NodeType::Element) return;
          const std::string number = "prescripción " + std::to_string(registros_.size() + 1);
          CPrescripcion p;
          xml::Node item = follow(reference, number);
          // Read whole before saying what was wrong in it, so that the item names it by its id.
          std::vector<std::string> wrong;
          ForEach(item.childNodes(), [&](const xml::Node& field) {
            std::string fieldName = Upper(field.nodeName());
            if (fieldName != "IDPRESCRIPCION" && fieldName != "CODPRODUCTO" &&
                fieldName != "FECHAPRESCRIPCION" && fieldName != "ENVASESPRESCRITOS" &&
                fieldName != "REGIMENRECETA" && fieldName != "VISADO")
              return;
            std::string why;
            std::optional<std::string> value = RecuperarValorNodo(field, references, why);
            if (!value) {
              wrong.push_back("campo " + field.nodeName() + ": " + why);
              return;
            }
            // A number that is not one is not guessed: the field keeps 0.
            auto number16 = [&](const char* empty) -> int16_t {
              try {
                return convert::ToInt16(value->empty() ? std::string_view(empty) : *value);
              } catch (const platform::Failure&) {
                wrong.push_back("campo " + field.nodeName() + ": '" + *value +
                                "' no es un número válido");
                return 0;
              }
            };
            if (fieldName == "IDPRESCRIPCION") {
              p.idPrescripcion_ = std::move(*value);
            } else if (fieldName == "CODPRODUCTO") {
              p.codigoProducto_ = std::move(*value);
            } else if (fieldName == "FECHAPRESCRIPCION") {
              p.fechaPrescripcion_ = FormatDate(*value);
            } else if (fieldName == "ENVASESPRESCRITOS") {
              p.envasesPrescritos_ = number16("1");
            } else if (fieldName == "REGIMENRECETA") {
              p.regimenReceta_ = static_cast<RegimenRecetaEnum>(number16("0"));
            } else {
              p.requiereVisado_ = static_cast<RequiereVisadoEnum>(number16("0"));
            }
          });
          const std::string named =
              p.idPrescripcion_.empty() ? number : number + " (" + p.idPrescripcion_ + ")";
          for (const std::string& w : wrong) problems.Add(named + ", " + w);
          registros_.push_back(std::move(p));
        });
      }
    });

    // A code that is not a whole number is no answer of success: the service refused, in words
    // this reader cannot tell. An empty one counts as absent.
    // Spaces, tabs and the line ends of an indented answer around the number are no part of it.
    const std::string code(codigoError ? prescora::Trim(*codigoError, " \t\r\n") : "");
    if (!code.empty()) {
      if (IsWholeNumber(code)) {
        try {
          codigoError_ = convert::ToInt32(code);
        } catch (const platform::Failure&) {
          problems.Add("codigoError '" + code + "' fuera de rango");
        }
      } else {
        problems.Add("codigoError '" + code + "' no es un número entero" +
                     (descripcionError_.empty() ? "" : ", mensajeError: " + descripcionError_));
      }
    }
    result = problems.count() == 0;
  });
  problems.Close();
  invalida_ = problems.count() > 0;
  trace.set_Value(result);
  return result;
}

}  // namespace PRESCORA_NS
