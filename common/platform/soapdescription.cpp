#include "common/platform/soapdescription.h"

#include <cstring>
#include <unordered_map>

#include "common/platform/soap.h"
#include "common/platform/soapbase.h"

namespace PRESCORA_NS::platform::soap {

namespace {

constexpr const char* kNsWsdl = "http://schemas.xmlsoap.org/wsdl/";
constexpr const char* kNsWsdlSoap = "http://schemas.xmlsoap.org/wsdl/soap/";

// A prefixed name resolved against the declarations in scope at `context`.
QName Resolve(xmlNodePtr context, const std::string& text) {
  QName q;
  const std::size_t colon = text.find(':');
  q.local = colon == std::string::npos ? text : text.substr(colon + 1);
  q.prefix = colon == std::string::npos ? std::string() : text.substr(0, colon);
  xmlNsPtr ns =
      xmlSearchNs(context->doc, context, q.prefix.empty() ? nullptr : X(q.prefix.c_str()));
  if (ns) q.ns = S(ns->href);
  return q;
}

// The elements by their name attribute, the first of each name, for lookups in constant time: a
// description of thousands of operations is read in time linear in its size.
using ByName = std::unordered_map<std::string, xmlNodePtr>;

ByName Index(const std::vector<xmlNodePtr>& nodes) {
  ByName index;
  index.reserve(nodes.size());
  for (xmlNodePtr n : nodes) index.emplace(Attr(n, "name"), n);
  return index;
}

xmlNodePtr Named(const ByName& index, const std::string& name) {
  const auto found = index.find(name);
  return found == index.end() ? nullptr : found->second;
}

}  // namespace

std::string S(const xmlChar* s) {
  return s ? std::string(C(s)) : std::string();
}

bool Is(xmlNodePtr n, const char* ns, const char* local) {
  if (!n || n->type != XML_ELEMENT_NODE || std::strcmp(C(n->name), local) != 0) return false;
  if (!ns) return true;
  return n->ns && n->ns->href && std::strcmp(C(n->ns->href), ns) == 0;
}

std::vector<xmlNodePtr> Children(xmlNodePtr parent, const char* ns, const char* local) {
  std::vector<xmlNodePtr> out;
  if (!parent) return out;
  for (xmlNodePtr c = parent->children; c; c = c->next)
    if (Is(c, ns, local)) out.push_back(c);
  return out;
}

xmlNodePtr Child(xmlNodePtr parent, const char* ns, const char* local) {
  auto all = Children(parent, ns, local);
  return all.empty() ? nullptr : all.front();
}

xmlNodePtr FirstElement(xmlNodePtr parent) {
  if (!parent) return nullptr;
  for (xmlNodePtr c = parent->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) return c;
  return nullptr;
}

std::string Attr(xmlNodePtr n, const char* name) {
  if (!n) return {};
  xmlChar* v = xmlGetNoNsProp(n, X(name));
  std::string out = S(v);
  xmlFree(v);
  return out;
}

bool HasAttr(xmlNodePtr n, const char* name) {
  return n && xmlHasNsProp(n, X(name), nullptr);
}

std::string Content(xmlNodePtr n) {
  if (!n) return {};
  xmlChar* v = xmlNodeGetContent(n);
  std::string out = S(v);
  xmlFree(v);
  return out;
}

Description ReadDescription(xml::Document& doc, const std::string& where,
                            const std::function<void()>& expired) {
  xmlNodePtr root = doc.documentElement().raw();
  if (!Is(root, kNsWsdl, "definitions"))
    Fail(errSoapDescriptionInvalid,
         "El documento " + where + " no es una descripción de servicio WSDL 1.1");
  const std::string targetNs = Attr(root, "targetNamespace");
  const ByName messages = Index(Children(root, kNsWsdl, "message"));
  const ByName portTypes = Index(Children(root, kNsWsdl, "portType"));
  const ByName bindings = Index(Children(root, kNsWsdl, "binding"));
  expired();

  // The first port with a SOAP 1.1 address, and its binding.
  Description d;
  xmlNodePtr binding = nullptr;
  for (xmlNodePtr service : Children(root, kNsWsdl, "service")) {
    for (xmlNodePtr port : Children(service, kNsWsdl, "port")) {
      xmlNodePtr address = Child(port, kNsWsdlSoap, "address");
      if (!address) continue;
      xmlNodePtr b = Named(bindings, Resolve(port, Attr(port, "binding")).local);
      if (!b || !Child(b, kNsWsdlSoap, "binding")) continue;
      d.address = TrimSpaces(Attr(address, "location"));
      binding = b;
      break;
    }
    if (binding) break;
  }
  if (!binding || d.address.empty())
    Fail(errSoapDescriptionInvalid,
         "La descripción de servicio " + where + " no tiene ningún puerto SOAP 1.1 con dirección");
  if (!Clean(d.address))
    Fail(errSoapDescriptionInvalid, "La dirección del servicio en la descripción " + where +
                                        " contiene caracteres de control o espacios");

  std::string bindingStyle = Attr(Child(binding, kNsWsdlSoap, "binding"), "style");
  if (bindingStyle.empty()) bindingStyle = "document";
  xmlNodePtr portType = Named(portTypes, Resolve(binding, Attr(binding, "type")).local);
  const ByName abstract = Index(Children(portType, kNsWsdl, "operation"));

  std::size_t seen = 0;
  for (xmlNodePtr bop : Children(binding, kNsWsdl, "operation")) {
    if (++seen % 512 == 0) expired();
    Operation op;
    op.name = Attr(bop, "name");
    if (op.name.empty()) continue;
    xmlNodePtr soapOp = Child(bop, kNsWsdlSoap, "operation");
    op.soapAction = Attr(soapOp, "soapAction");
    op.style = Attr(soapOp, "style");
    if (op.style.empty()) op.style = bindingStyle;
    xmlNodePtr body = Child(Child(bop, kNsWsdl, "input"), kNsWsdlSoap, "body");
    op.use = Attr(body, "use");
    if (op.use.empty()) op.use = "literal";
    op.ns = HasAttr(body, "namespace") ? Attr(body, "namespace") : targetNs;
    op.encodingStyle = Trim(Attr(body, "encodingStyle"));
    if (op.encodingStyle.find(' ') != std::string::npos)
      op.encodingStyle.resize(op.encodingStyle.find(' '));
    if (op.encodingStyle.empty()) op.encodingStyle = kNsEncoding;

    // The input message of the abstract operation, and its parts.
    xmlNodePtr aop = Named(abstract, op.name);
    xmlNodePtr input = Child(aop, kNsWsdl, "input");
    xmlNodePtr message =
        input ? Named(messages, Resolve(input, Attr(input, "message")).local) : nullptr;
    for (xmlNodePtr p : Children(message, kNsWsdl, "part")) {
      Part part;
      part.name = Attr(p, "name");
      if (HasAttr(p, "type")) part.type = Resolve(p, Attr(p, "type"));
      if (HasAttr(p, "element")) part.element = Resolve(p, Attr(p, "element"));
      op.parts.push_back(std::move(part));
    }
    d.operations.push_back(std::move(op));
  }
  return d;
}

}  // namespace PRESCORA_NS::platform::soap
