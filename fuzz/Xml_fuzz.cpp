// The XML layer's loads: every record, answer and description goes through them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/xml.h"

namespace xml = PRESCORA_NS::platform::xml;

namespace {

// Touches every member a caller relies on, for every node of the tree.
void Walk(const xml::Node& node, int depth) {
  if (!node || depth > 300) return;
  (void)node.nodeType();
  (void)node.nodeName();
  (void)node.baseName();
  (void)node.namespaceURI();
  (void)node.Text();
  for (const xml::Node& a : node.Attributes().items()) {
    (void)a.nodeName();
    (void)a.Text();
    (void)a.xml();
  }
  (void)node.parentNode();
  for (const xml::Node& child : node.childNodes().items()) Walk(child, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  xml::Document doc;
  if (doc.Loadxml(text)) {
    Walk(doc.documentElement(), 0);
    (void)doc.xml();
  }
  xml::Document bytes;
  if (bytes.LoadBytes(text, size % 2 ? "ISO-8859-1" : "")) {
    for (const xml::Node& n : bytes.childNodes().items()) Walk(n, 0);
    (void)bytes.documentElement().xml();
  }
  // The text as the inside of a start tag, as the schema-declaration setting is read.
  (void)xml::ParseAttributes(text);
  return 0;
}
