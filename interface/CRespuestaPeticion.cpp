#include "interface/CRespuestaPeticion.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "common/Trim.h"
#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "common/platform/files.h"
#include "common/platform/xml.h"
#include "interface/CConfig.h"
#include "interface/CFileAdmin.h"
#include "interface/modGlobalInterface.h"

namespace PRESCORA_NS {

namespace convert = platform::convert;
namespace xml = platform::xml;

namespace {

constexpr const char* kSetInternalResponse = "CRespuestaPeticion.SetInternalResponse";

using prescora::TrimSpaces;

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A count element: numeric text as a 16-bit integer, anything else 0; nothing when the number is
// out of range.
std::optional<int16_t> CountOf(const std::string& text) {
  if (!convert::IsNumeric(text)) return 0;
  try {
    return convert::ToInt16(text);
  } catch (const platform::Failure&) {
    return std::nullopt;
  }
}

// The number of items, as far as a count holds it.
int16_t CappedCount(std::size_t size) {
  return static_cast<int16_t>(
      std::min<std::size_t>(size, static_cast<std::size_t>(std::numeric_limits<int16_t>::max())));
}

// The answer cannot be trusted: error 32021, its text going on with what was wrong and where.
[[noreturn]] void NotValid(const std::string& where) {
  throw platform::Failure(errInvalidAnswer, "CRespuestaPeticion.IObject_FromXML",
                          OwnDescription(errInvalidAnswer) + ": " + where);
}

int16_t SizeAsCount(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int16_t>::max()))
    platform::RaiseRuntime(platform::errOverflow);
  return static_cast<int16_t>(size);
}

void AppendArray(std::string& out, std::string_view name, const std::vector<std::string>& items,
                 const std::string& schema) {
  out += '<';
  out += name;
  out += ' ';
  out += schema;
  out += "xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[";
  out += std::to_string(items.size());
  out += "]\">\r\n";
  for (const std::string& item : items) {
    out += "<SOAP-ENC:string>";
    out += xml::EscapeText(item);
    out += "</SOAP-ENC:string>\r\n";
  }
  out += "</";
  out += name;
  out += ">\r\n";
}

}  // namespace

CRespuestaPeticion::CRespuestaPeticion() noexcept {
  TraceScope trace("CRespuestaPeticion.Class_Initialize");
}

CRespuestaPeticion::CRespuestaPeticion(const CRespuestaPeticion& other) noexcept
    : IObject(other), d_(other.d_) {
  TraceScope trace("CRespuestaPeticion.Class_Initialize");
}

CRespuestaPeticion& CRespuestaPeticion::operator=(const CRespuestaPeticion& other) noexcept {
  if (this != &other) d_ = other.d_;
  return *this;
}

CRespuestaPeticion::~CRespuestaPeticion() {
  TraceScope trace("CRespuestaPeticion.Class_Terminate");
}

void CRespuestaPeticion::Fire(void (CRespuestaPeticionEvents::*event)()) {
  if (events_ != nullptr) (events_->*event)();
}

bool CRespuestaPeticion::FromXML(xml::NodeList& objIXMLDOMNodeList) noexcept {
  static constexpr const char* kProcedure = "CRespuestaPeticion.IObject_FromXML";
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    objLog().Writeln(
        "CRespuestaPeticion.IObject_FromXML:Cargando propiedades de clase a partir de un objeto "
        "NodeList");
    Fire(&CRespuestaPeticionEvents::onBeforeTransformFromXML);
    const std::string success(TrimSpaces(objConfig().CodigoDispensacionOk()));
    // Any element may stand elsewhere in the answer (href="#x", as the rpc/encoded stacks send
    // arrays, items and numbers); one that cannot be followed makes the answer not valid.
    xml::References references;
    auto follow = [&](const xml::Node& node) -> xml::Node {
      xml::Followed followed = references.Follow(node);
      if (!followed) NotValid(node.nodeName() + ": " + xml::DescribeProblem(followed));
      return followed.node;
    };
    // A count that says nothing is 0; one that is not a number is not guessed; one out of range
    // is nothing.
    auto count = [&](const xml::Node& node) -> std::optional<int16_t> {
      std::string text = follow(node).Text();
      if (TrimSpaces(text).empty()) return 0;
      if (!convert::IsNumeric(text)) NotValid(node.nodeName() + ": '" + text + "' no es un número");
      return CountOf(text);
    };
    // Blank entries are skipped; the others are kept untrimmed, appended to what is held.
    auto appendItems = [&](const xml::Node& element, std::vector<std::string>& items,
                           bool successTest) {
      xml::NodeList children = follow(element).childNodes();
      for (long i = 0; i < children.length(); ++i) {
        std::string text = follow(children.Item(i)).nodeTypedValue();
        std::string_view trimmed = TrimSpaces(text);
        if (trimmed.empty()) continue;
        if (successTest && trimmed == success) d_.dispensacionRealizada_ = true;
        items.push_back(std::move(text));
      }
    };
    // A count out of range does not lose the answer: its list is read as it is, the count taken
    // from it, and the bad count noted as an error.
    bool badAvisos = false;
    bool badMotivos = false;
    for (long i = 0; i < objIXMLDOMNodeList.length(); ++i) {
      xml::Node node = objIXMLDOMNodeList.Item(i);
      // The qualified name: a prefixed element (ns1:codigoAviso) is not one of ours.
      std::string name = UpperAscii(node.nodeName());
      if (name == "NAVISOS") {
        std::optional<int16_t> n = count(node);
        badAvisos = !n;
        d_.nAvisos_ = n.value_or(0);
      } else if (name == "NMOTIVOSRECHAZO") {
        std::optional<int16_t> n = count(node);
        badMotivos = !n;
        d_.nMotivosRechazo_ = n.value_or(0);
      } else if (name == "CODIGOAVISO") {
        appendItems(node, d_.codigoAviso_, true);
      } else if (name == "CODIGOMOTIVOSRECHAZO") {
        appendItems(node, d_.codigoMotivosRechazo_, false);
      } else if (name == "TEXTOAVISO") {
        appendItems(node, d_.textoAviso_, false);
      } else if (name == "TEXTOMOTIVOSRECHAZO") {
        appendItems(node, d_.textoMotivosRechazo_, false);
      }
    }
    if (badAvisos) d_.nAvisos_ = CappedCount(d_.codigoAviso_.size());
    if (badMotivos) d_.nMotivosRechazo_ = CappedCount(d_.codigoMotivosRechazo_.size());
    if (badAvisos || badMotivos)
      Trap(kProcedure, [] { platform::RaiseRuntime(platform::errOverflow, kProcedure); });
    result = true;
    Fire(&CRespuestaPeticionEvents::onEndTransformFromXML);
  });
  trace.set_Value(result);
  return result;
}

bool CRespuestaPeticion::RequiredFields() noexcept {
  static constexpr const char* kProcedure = "CRespuestaPeticion.IObject_RequiredFields";
  TraceScope trace(kProcedure);
  objLog().Writeln(kProcedure);
  return true;
}

std::optional<xml::NodeList> CRespuestaPeticion::ToXML() noexcept {
  TraceScope trace("CRespuestaPeticion.IObject_ToXML");
  return std::nullopt;
}

bool CRespuestaPeticion::FromXMLFile(const std::string& strPath) noexcept {
  static constexpr const char* kProcedure = "CRespuestaPeticion.FromXMLFile";
  TraceScope trace(kProcedure);
  bool loaded = Trap(kProcedure, [&] {
    xml::Document document;
    if (!document.Load(strPath)) Raise(errLoadXmlFile, kProcedure);
    xml::NodeList nodes = document.documentElement().childNodes();
    if (!FromXML(nodes)) Raise(errNodeListToResponse, kProcedure);
  });
  if (!loaded) ErrorResponse();
  return loaded;
}

void CRespuestaPeticion::InternalResponse() {
  CFileAdmin admin;
  if (!admin.ExistIniFile()) Raise(errIniRead, kSetInternalResponse);
  CConfig& config = objConfig();
  Fields& f = d_;
  // Appended to what is held; a missing key gives an empty entry like any other.
  f.codigoAviso_.push_back(config.LoadInternalResponse("CodigoAviso"));
  f.textoAviso_.push_back(config.LoadInternalResponse("TextoAviso"));
  std::string count = config.LoadInternalResponse("NumAvisos");
  f.nAvisos_ =
      convert::IsNumeric(count) ? convert::ToInt16(count) : SizeAsCount(f.codigoAviso_.size());
  f.codigoMotivosRechazo_.push_back(config.LoadInternalResponse("CodigoMotivosRechazo"));
  f.textoMotivosRechazo_.push_back(config.LoadInternalResponse("TextoMotivosRechazo"));
  count = config.LoadInternalResponse("NumMotivosRechazo");
  f.nMotivosRechazo_ = convert::IsNumeric(count) ? convert::ToInt16(count)
                                                 : SizeAsCount(f.codigoMotivosRechazo_.size());
}

void CRespuestaPeticion::ErrorResponse() noexcept {
  Fields& f = d_;
  f.nAvisos_ = 0;
  ClearCollection(f.codigoAviso_);
  ClearCollection(f.textoAviso_);
  f.nMotivosRechazo_ = 1;
  ClearCollection(f.textoMotivosRechazo_);
  ClearCollection(f.codigoMotivosRechazo_);
  try {
    f.codigoMotivosRechazo_.push_back("errorInterface" + std::to_string(kVersionMajor) + "." +
                                      std::to_string(kVersionMinor));
    f.textoMotivosRechazo_.push_back(
        "Errores internos en la aplicación 'Interface Prescora' impiden la realizar la "
        "dispensación. Consulte el archivo de log para determinar la causa del error");
  } catch (...) {
  }
}

void CRespuestaPeticion::SetInternalResponse(bool blnFromSettings) noexcept {
  // Logged, not recorded: the error response stands for a failure recorded elsewhere.
  TrapOptions options;
  options.store = false;
  bool built = Trap(
      kSetInternalResponse,
      [&] {
        if (!blnFromSettings) Raise(errForcedInternalResponse, kSetInternalResponse);
        InternalResponse();
      },
      options);
  if (!built) ErrorResponse();
}

std::string CRespuestaPeticion::ToString() noexcept {
  static constexpr const char* kProcedure = "CRespuestaPeticion.ToString";
  TraceScope trace(kProcedure);
  std::string result;
  Trap(kProcedure, [&] {
    const Fields& f = d_;
    // The schema-declaration text is markup by design: inserted as held.
    const std::string& schema = strEsquemaXML();
    std::string out = "<RespuestaPeticion " + schema + "> ";
    out += "<NMotivosRechazo >" + std::to_string(f.nMotivosRechazo_) + "</NMotivosRechazo>\r\n";
    out += "<NAvisos >" + std::to_string(f.nAvisos_) + "</NAvisos>\r\n";
    AppendArray(out, "textoAviso", f.textoAviso_, schema);
    AppendArray(out, "textoMotivosRechazo", f.textoMotivosRechazo_, schema);
    AppendArray(out, "codigoMotivosRechazo", f.codigoMotivosRechazo_, schema);
    AppendArray(out, "codigoAviso", f.codigoAviso_, schema);
    out += "</RespuestaPeticion>\r\n";
    result = std::move(out);
  });
  return result;
}

std::string CRespuestaPeticion::GeneratedLine(const std::string& strPath) {
  return "CRespuestaPeticion.ToXML:Generando archivo " + strPath +
         " con la respuesta de la dispensación";
}

namespace {

constexpr std::string_view kRoot = "<RespuestaPeticion";
constexpr std::string_view kFicha = "ejecucion=\"";

}  // namespace

bool CRespuestaPeticion::LlevaFicha(const std::string& strPath, const std::string& ficha) noexcept {
  if (ficha.empty()) return false;
  // The start tag of the root is all that is looked at: a token elsewhere (in a text) is not it.
  std::string head;
  if (!platform::files::ReadHead(strPath, head, 65536)) return false;
  const std::size_t root = head.find(kRoot);
  if (root == std::string::npos) return false;
  const std::size_t end = head.find('>', root);
  if (end == std::string::npos) return false;
  const std::string_view tag = std::string_view(head).substr(root, end - root);
  const std::string wanted = " " + std::string(kFicha) + ficha + "\"";
  return tag.find(wanted) != std::string_view::npos;
}

bool CRespuestaPeticion::ToXMLFile(const std::string& strPath, const std::string& ficha,
                                   bool blnLog) noexcept {
  static constexpr const char* kProcedure = "CRespuestaPeticion.ToXMLFile";
  TraceScope trace(kProcedure);
  bool result = false;
  Trap(kProcedure, [&] {
    xml::Document document;
    std::string text = ToString();
    if (!ficha.empty() && text.compare(0, kRoot.size(), kRoot) == 0)
      text.insert(kRoot.size(), " " + std::string(kFicha) + xml::EscapeAttribute(ficha) + "\"");
    if (!document.Loadxml(text)) Raise(errSoapXml, kProcedure);
    SaveXMLFile(document, strPath);
    if (blnLog) objLog().Writeln(GeneratedLine(strPath));
    result = true;
  });
  return result;
}

}  // namespace PRESCORA_NS
