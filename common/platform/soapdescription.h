// The service description the SOAP client reads (WSDL 1.1 with a SOAP 1.1 port): the address
// and the operations with what their requests need; and the element helpers that reading it and
// reading an answer share. Internal to the client.
#pragma once

#include <libxml/tree.h>

#include <functional>
#include <string>
#include <vector>

#include "common/platform/xml.h"

namespace PRESCORA_NS::platform::soap {

inline constexpr const char* kNsEncoding = "http://schemas.xmlsoap.org/soap/encoding/";

inline const char* C(const xmlChar* s) {
  return reinterpret_cast<const char*>(s);
}
inline const xmlChar* X(const char* s) {
  return reinterpret_cast<const xmlChar*>(s);
}
std::string S(const xmlChar* s);

// Elements by namespace (any when null) and local name.
bool Is(xmlNodePtr n, const char* ns, const char* local);
std::vector<xmlNodePtr> Children(xmlNodePtr parent, const char* ns, const char* local);
xmlNodePtr Child(xmlNodePtr parent, const char* ns, const char* local);
xmlNodePtr FirstElement(xmlNodePtr parent);
// An attribute without namespace.
std::string Attr(xmlNodePtr n, const char* name);
bool HasAttr(xmlNodePtr n, const char* name);
std::string Content(xmlNodePtr n);

struct QName {
  std::string ns;
  std::string local;
  std::string prefix;
};

struct Part {
  std::string name;
  QName type;     // the part's type, for the encoded forms
  QName element;  // the part's element, for the literal document form
};

struct Operation {
  std::string name;
  std::string style;  // "rpc" or "document"
  std::string use;    // "encoded" or "literal"
  std::string ns;
  std::string encodingStyle;
  std::string soapAction;
  std::vector<Part> parts;
};

struct Description {
  std::string address;
  std::vector<Operation> operations;
};

// The description in `doc` (`where` names it in messages). `expired` is asked now and then, and
// raises when the time for the reading is up.
Description ReadDescription(xml::Document& doc, const std::string& where,
                            const std::function<void()>& expired);

}  // namespace PRESCORA_NS::platform::soap
