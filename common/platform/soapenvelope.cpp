#include "common/platform/soapenvelope.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/platform/soap.h"
#include "common/platform/soapbase.h"

namespace PRESCORA_NS::platform::soap {

namespace {

constexpr const char* kNsEnvelope = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kNsXsi = "http://www.w3.org/2001/XMLSchema-instance";
constexpr const char* kNsXsd = "http://www.w3.org/2001/XMLSchema";

// A child element in the given namespace (none when null); xmlNewChild would inherit the parent's.
xmlNodePtr AddElement(xmlNodePtr parent, xmlNsPtr ns, const std::string& name) {
  xmlNodePtr node = xmlNewDocNode(parent->doc, ns, X(name.c_str()), nullptr);
  if (!node) Fail(errSoapRequest, "No se puede crear el mensaje SOAP");
  xmlAddChild(parent, node);
  return node;
}

}  // namespace

std::string BuildEnvelope(const Operation& op, const xml::NodeList& argument) {
  xmlDocPtr doc = xmlNewDoc(X("1.0"));
  if (!doc) Fail(errSoapRequest, "No se puede crear el mensaje SOAP");
  xml::DocumentState owner(doc);  // frees the document on every way out
  xmlNodePtr env = xmlNewDocNode(doc, nullptr, X("Envelope"), nullptr);
  xmlDocSetRootElement(doc, env);
  xmlNsPtr nsEnv = xmlNewNs(env, X(kNsEnvelope), X("SOAP-ENV"));
  xmlNewNs(env, X(kNsEncoding), X("SOAP-ENC"));
  xmlNsPtr nsXsi = xmlNewNs(env, X(kNsXsi), X("xsi"));
  xmlNewNs(env, X(kNsXsd), X("xsd"));
  xmlSetNs(env, nsEnv);
  xmlNodePtr body = AddElement(env, nsEnv, "Body");
  const bool encoded = op.use == "encoded";
  const Part* part = op.parts.empty() ? nullptr : &op.parts.front();

  xmlNodePtr container = body;
  if (op.style == "rpc") {
    xmlNodePtr call = AddElement(body, nullptr, op.name);
    if (!op.ns.empty()) xmlSetNs(call, xmlNewNs(call, X(op.ns.c_str()), X("ns0")));
    if (encoded) xmlNewNsProp(call, nsEnv, X("encodingStyle"), X(op.encodingStyle.c_str()));
    container = call;
    if (part && !part->name.empty()) {
      xmlNodePtr arg = AddElement(call, nullptr, part->name);
      if (encoded && !part->type.local.empty()) {
        std::string prefix;
        if (part->type.ns == kNsXsd) {
          prefix = "xsd";
        } else if (part->type.ns == kNsEncoding) {
          prefix = "SOAP-ENC";
        } else if (!part->type.ns.empty()) {
          prefix = part->type.prefix;
          static const char* reserved[] = {"SOAP-ENV", "SOAP-ENC", "xsi", "xsd", "ns0", "xml"};
          if (prefix.empty() || std::any_of(std::begin(reserved), std::end(reserved),
                                            [&](const char* r) { return prefix == r; }))
            prefix = "ns1";
        }
        if (!prefix.empty() && prefix != "xsd" && prefix != "SOAP-ENC")
          xmlNewNs(arg, X(part->type.ns.c_str()), X(prefix.c_str()));
        const std::string type =
            prefix.empty() ? part->type.local : prefix + ":" + part->type.local;
        xmlNewNsProp(arg, nsXsi, X("type"), X(type.c_str()));
      }
      container = arg;
    }
  } else if (part && !part->element.local.empty()) {
    xmlNodePtr element = AddElement(body, nullptr, part->element.local);
    if (!part->element.ns.empty())
      xmlSetNs(element, xmlNewNs(element, X(part->element.ns.c_str()), X("ns0")));
    container = element;
  }

  for (const xml::Node& node : argument.items()) {
    xmlNodePtr source = node.raw();
    if (!source) continue;
    switch (source->type) {
      case XML_ELEMENT_NODE:
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
      case XML_COMMENT_NODE:
        break;
      default:
        continue;
    }
    xmlNodePtr copy = xmlDocCopyNode(source, doc, 1);
    if (!copy || !xmlAddChild(container, copy)) {
      if (copy) xmlFreeNode(copy);
      Fail(errSoapRequest, "No se puede copiar el argumento en el mensaje SOAP");
    }
  }

  xmlChar* text = nullptr;
  int size = 0;
  xmlDocDumpMemoryEnc(doc, &text, &size, "UTF-8");
  if (!text) Fail(errSoapRequest, "No se puede escribir el mensaje SOAP");
  std::string out(C(text), static_cast<std::size_t>(size));
  xmlFree(text);
  return out;
}

std::optional<xml::NodeList> ReadAnswer(long httpStatus, std::string_view bytes,
                                        const std::string& charset, const std::string& target,
                                        std::string& detail) {
  detail.clear();
  const bool httpError = httpStatus < 200 || httpStatus > 299;
  const std::string status = "HTTP " + std::to_string(httpStatus);
  if (Trim(bytes).empty()) {
    if (httpError) Fail(errSoapHttpStatus, "El servidor " + target + " respondió " + status);
    return std::nullopt;
  }

  xml::Document doc;
  if (!doc.LoadBytes(bytes, charset)) {
    if (httpError)
      Fail(errSoapHttpStatus,
           "El servidor " + target + " respondió " + status + " sin mensaje SOAP");
    Fail(errSoapAnswerNotXml, "La respuesta de " + target + " no es XML: " + doc.parseError());
  }
  xmlNodePtr envelope = doc.documentElement().raw();
  xmlNodePtr body = Is(envelope, nullptr, "Envelope") ? Child(envelope, nullptr, "Body") : nullptr;
  if (!body) {
    if (httpError)
      Fail(errSoapHttpStatus,
           "El servidor " + target + " respondió " + status + " sin mensaje SOAP");
    Fail(errSoapAnswerNotSoap, "La respuesta de " + target + " no es un mensaje SOAP");
  }

  xmlNodePtr response = FirstElement(body);
  if (Is(response, nullptr, "Fault")) {
    detail = Content(Child(response, nullptr, "detail"));
    std::string text(Trim(Content(Child(response, nullptr, "faultstring"))));
    if (text.empty())
      text = "El servicio respondió un fallo SOAP " +
             std::string(Trim(Content(Child(response, nullptr, "faultcode"))));
    Fail(errSoapFault, text);
  }
  if (httpError)
    Fail(errSoapHttpStatus, "El servidor " + target + " respondió " + status + " sin fallo SOAP");
  if (!response)
    Fail(errSoapAnswerNotSoap,
         "La respuesta de " + target + " no lleva ningún elemento de respuesta");

  xmlNodePtr result = FirstElement(response);
  std::vector<_xmlNode*> nodes;
  if (result) {
    // The return part may stand elsewhere in the body (href="#id"), as the rpc/encoded stacks
    // send it.
    xml::References references(std::max(xml::References::kDefaultBudget, bytes.size()));
    xml::Followed followed = references.Follow(xml::Node(doc.state(), result));
    if (!followed)
      Fail(errSoapAnswerNotSoap,
           "La respuesta de " + target + " no se puede leer: " + xml::DescribeProblem(followed));
    result = followed.node.raw();
    for (xmlNodePtr c = result->children; c; c = c->next) nodes.push_back(c);
  }
  return xml::NodeList(doc.state(), std::move(nodes));
}

}  // namespace PRESCORA_NS::platform::soap
