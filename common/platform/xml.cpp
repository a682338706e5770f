#include "common/platform/xml.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "common/Trim.h"
#include "common/platform/files.h"

namespace PRESCORA_NS::platform::xml {

namespace {

// Files larger than this are not documents of this system; refusing them bounds memory.
constexpr std::size_t kMaxFileBytes = 64u * 1024u * 1024u;

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

const char* C(const xmlChar* s) {
  return reinterpret_cast<const char*>(s);
}
std::string S(const xmlChar* s) {
  return s ? std::string(C(s)) : std::string();
}

// What one parse or save reports, gathered instead of printed.
struct Sink {
  std::string message;
  bool refused = false;
};

#if LIBXML_VERSION >= 21200
void CollectError(void* ctx, const xmlError* error) {
#else
void CollectError(void* ctx, xmlErrorPtr error) {
#endif
  auto* sink = static_cast<Sink*>(ctx);
  if (!sink || !error || error->level < XML_ERR_ERROR || !sink->message.empty()) return;
  std::string text = error->message ? error->message : "error";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  sink->message = (error->line > 0 ? "línea " + std::to_string(error->line) + ": " : "") + text;
}

void IgnoreGeneric(void*, const char*, ...) {}

// Routes libxml2's reports of this thread into a sink for the duration of one call, and puts back
// whatever handlers the host had installed.
class QuietErrors {
 public:
  explicit QuietErrors(Sink* sink)
      : structured_(xmlStructuredError),
        structuredCtx_(xmlStructuredErrorContext),
        generic_(xmlGenericError),
        genericCtx_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(sink, CollectError);
    xmlSetGenericErrorFunc(nullptr, IgnoreGeneric);
  }
  ~QuietErrors() {
    xmlSetStructuredErrorFunc(structuredCtx_, structured_);
    xmlSetGenericErrorFunc(genericCtx_, generic_);
  }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  xmlStructuredErrorFunc structured_;
  void* structuredCtx_;
  xmlGenericErrorFunc generic_;
  void* genericCtx_;
};

// A document type declaration stops the parse: no DTD means no entity declarations to expand and
// no external subset to fetch.
void RefuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (auto* sink = static_cast<Sink*>(ctxt->_private)) {
    sink->refused = true;
    if (sink->message.empty()) sink->message = "documento con declaración de tipo (DTD) rechazado";
  }
  xmlStopParser(ctxt);
}

void RefuseEntity(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
  RefuseDoctype(ctx, nullptr, nullptr, nullptr);
}

xmlParserInputPtr ResolveNothing(void*, const xmlChar*, const xmlChar*) {
  return nullptr;
}

bool IsBlank(const xmlChar* s) {
  if (!s) return true;
  for (; *s; ++s)
    if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
  return true;
}

// Drops the text nodes that hold white space only (indentation, and the spacing of an empty
// element), as the platform's document object does by default: a list of children then holds
// only what carries content. Walks without recursion: nesting depth is the input's choice.
void DropBlankText(xmlDocPtr doc) {
  xmlNodePtr node = xmlDocGetRootElement(doc);
  while (node) {
    if (node->type == XML_ELEMENT_NODE && xmlNodeGetSpacePreserve(node) != 1) {
      for (xmlNodePtr c = node->children; c;) {
        xmlNodePtr next = c->next;
        if (c->type == XML_TEXT_NODE && IsBlank(c->content)) {
          xmlUnlinkNode(c);
          xmlFreeNode(c);
        }
        c = next;
      }
    }
    if (node->type == XML_ELEMENT_NODE && node->children) {
      node = node->children;
      continue;
    }
    while (node && !node->next) {
      node = node->parent;
      if (node && node->type != XML_ELEMENT_NODE) node = nullptr;
    }
    if (node) node = node->next;
  }
}

// Parses bytes into a new document; nullptr (and the reason) when they are not a well-formed,
// namespace-well-formed document.
xmlDocPtr Parse(std::string_view bytes, const std::string& encoding, std::string& error) {
  InitLibrary();
  error.clear();
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
    error = "documento demasiado grande";
    return nullptr;
  }
  Sink sink;
  QuietErrors quiet(&sink);
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) {
    error = "memoria insuficiente";
    return nullptr;
  }
  ctxt->_private = &sink;
  ctxt->sax->internalSubset = RefuseDoctype;
  ctxt->sax->externalSubset = nullptr;
  ctxt->sax->entityDecl = RefuseEntity;
  ctxt->sax->resolveEntity = ResolveNothing;
  // No XML_PARSE_NOENT (entities are never substituted), no DTD loading, no network, and no
  // XML_PARSE_HUGE, so the parser's own limits on depth and sizes stay in force.
  int options = XML_PARSE_NONET;
  if (!encoding.empty()) options |= XML_PARSE_IGNORE_ENC;
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                    encoding.empty() ? nullptr : encoding.c_str(), options);
  const bool ok = doc && ctxt->wellFormed && ctxt->nsWellFormed && !sink.refused &&
                  xmlDocGetRootElement(doc) != nullptr;
  if (!ok) {
    if (doc) xmlFreeDoc(doc);
    doc = nullptr;
    error =
        sink.message.empty() ? std::string("el documento no es XML bien formado") : sink.message;
  }
  xmlFreeParserCtxt(ctxt);
  if (doc) DropBlankText(doc);
  return doc;
}

std::string Serialize(xmlDocPtr doc, xmlNodePtr node, int saveOptions) {
  Sink sink;
  QuietErrors quiet(&sink);
  xmlBufferPtr buffer = xmlBufferCreate();
  if (!buffer) return {};
  xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", saveOptions);
  std::string out;
  if (save) {
    if (node)
      xmlSaveTree(save, node);
    else
      xmlSaveDoc(save, doc);
    xmlSaveClose(save);
    out.assign(C(xmlBufferContent(buffer)), static_cast<std::size_t>(xmlBufferLength(buffer)));
  }
  xmlBufferFree(buffer);
  return out;
}

bool ReadFile(const std::string& path, std::string& out, std::string& error) {
  // Never through a link, never waiting on a pipe.
  int fd = files::OpenRegular(path, O_RDONLY);
  if (fd < 0) {
    error = files::Refused(errno)
                ? std::string("no es un archivo normal")
                : "no se puede abrir el archivo: " + std::string(std::strerror(errno));
    return false;
  }
  out.clear();
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "no se puede leer el archivo: " + std::string(std::strerror(errno));
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
      error = "archivo demasiado grande";
      ::close(fd);
      return false;
    }
    out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

// Whether the bytes start with an XML declaration that names an encoding.
bool DeclaresEncoding(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (bytes.substr(0, 5) != "<?xml") return false;
  const std::size_t end = bytes.find("?>");
  return bytes.substr(0, end).find("encoding") != std::string_view::npos;
}

bool IsNamespaceDecl(const _xmlNode* n) {
  return n && n->type == XML_NAMESPACE_DECL;
}
const xmlNs* AsNs(const _xmlNode* n) {
  return reinterpret_cast<const xmlNs*>(n);
}

}  // namespace

DocumentState::~DocumentState() {
  if (doc_) xmlFreeDoc(doc_);
}

// ---- Node ----

NodeType Node::nodeType() const noexcept {
  if (!node_) return NodeType::None;
  switch (node_->type) {
    case XML_ELEMENT_NODE:
      return NodeType::Element;
    case XML_ATTRIBUTE_NODE:
    case XML_NAMESPACE_DECL:
      return NodeType::Attribute;
    case XML_TEXT_NODE:
      return NodeType::Text;
    case XML_CDATA_SECTION_NODE:
      return NodeType::CData;
    case XML_COMMENT_NODE:
      return NodeType::Comment;
    case XML_DOCUMENT_NODE:
      return NodeType::Document;
    default:
      return NodeType::Other;
  }
}

std::string Node::nodeName() const {
  if (!node_) return {};
  switch (node_->type) {
    case XML_NAMESPACE_DECL: {
      const xmlNs* ns = AsNs(node_);
      return ns->prefix ? "xmlns:" + S(ns->prefix) : std::string("xmlns");
    }
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
      if (node_->ns && node_->ns->prefix) return S(node_->ns->prefix) + ":" + S(node_->name);
      return S(node_->name);
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    case XML_DOCUMENT_NODE:
      return "#document";
    default:
      return S(node_->name);
  }
}

std::string Node::baseName() const {
  if (!node_) return {};
  switch (node_->type) {
    case XML_NAMESPACE_DECL: {
      const xmlNs* ns = AsNs(node_);
      return ns->prefix ? S(ns->prefix) : std::string("xmlns");
    }
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_PI_NODE:
      return S(node_->name);
    default:
      return {};
  }
}

std::string Node::namespaceURI() const {
  if (!node_) return {};
  if (IsNamespaceDecl(node_)) return "http://www.w3.org/2000/xmlns/";
  if ((node_->type == XML_ELEMENT_NODE || node_->type == XML_ATTRIBUTE_NODE) && node_->ns)
    return S(node_->ns->href);
  return {};
}

std::string Node::Text() const {
  if (!node_) return {};
  if (IsNamespaceDecl(node_)) return S(AsNs(node_)->href);
  xmlNodePtr target = node_;
  if (node_->type == XML_DOCUMENT_NODE) {
    target = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(node_));
    if (!target) return {};
  }
  xmlChar* content = xmlNodeGetContent(target);
  std::string out = S(content);
  xmlFree(content);
  return out;
}

NodeList Node::childNodes() const {
  std::vector<_xmlNode*> nodes;
  if (node_ && !IsNamespaceDecl(node_) &&
      (node_->type == XML_ELEMENT_NODE || node_->type == XML_DOCUMENT_NODE ||
       node_->type == XML_ATTRIBUTE_NODE))
    for (xmlNodePtr c = node_->children; c; c = c->next) nodes.push_back(c);
  return NodeList(doc_, std::move(nodes));
}

NodeList Node::Attributes() const {
  std::vector<_xmlNode*> nodes;
  if (node_ && node_->type == XML_ELEMENT_NODE) {
    for (xmlNsPtr ns = node_->nsDef; ns; ns = ns->next)
      nodes.push_back(reinterpret_cast<_xmlNode*>(ns));
    for (xmlAttrPtr a = node_->properties; a; a = a->next)
      nodes.push_back(reinterpret_cast<_xmlNode*>(a));
  }
  return NodeList(doc_, std::move(nodes));
}

std::string Node::GetAttribute(std::string_view qualifiedName) const {
  NodeList attributes = Attributes();
  for (long i = 0; i < attributes.length(); ++i) {
    Node a = attributes.Item(i);
    if (a.nodeName() == qualifiedName) return a.Text();
  }
  return {};
}

Node Node::parentNode() const {
  if (!node_ || IsNamespaceDecl(node_) || node_->type == XML_ATTRIBUTE_NODE ||
      node_->type == XML_DOCUMENT_NODE || !node_->parent)
    return Node();
  return Node(doc_, node_->parent);
}

Document Node::ownerDocument() const {
  return Document(doc_);
}

std::string Node::xml() const {
  if (!node_) return {};
  if (IsNamespaceDecl(node_)) return nodeName() + "=\"" + EscapeAttribute(Text()) + "\"";
  if (node_->type == XML_DOCUMENT_NODE)
    return Serialize(reinterpret_cast<xmlDocPtr>(node_), nullptr, 0);
  if (node_->type == XML_ATTRIBUTE_NODE) return nodeName() + "=\"" + EscapeAttribute(Text()) + "\"";
  return Serialize(node_->doc, node_, XML_SAVE_NO_DECL);
}

// ---- NodeList ----

Node NodeList::Item(long index) const {
  if (index < 0 || index >= length()) return Node();
  return Node(doc_, nodes_[static_cast<std::size_t>(index)]);
}

std::vector<Node> NodeList::items() const {
  std::vector<Node> out;
  out.reserve(nodes_.size());
  for (_xmlNode* n : nodes_) out.emplace_back(doc_, n);
  return out;
}

// ---- Document ----

Document::Document() : state_(std::make_shared<DocumentState>()) {}

bool Document::Loadxml(std::string_view text) {
  xmlDocPtr doc = Parse(text, "UTF-8", parseError_);
  // A failed load leaves an empty document, as a new one; nodes taken earlier keep the old one.
  state_ = std::make_shared<DocumentState>(doc);
  return doc != nullptr;
}

bool Document::LoadBytes(std::string_view bytes, const std::string& assumedEncoding) {
  const std::string encoding = DeclaresEncoding(bytes) ? std::string() : assumedEncoding;
  xmlDocPtr doc = Parse(bytes, encoding, parseError_);
  state_ = std::make_shared<DocumentState>(doc);
  return doc != nullptr;
}

bool Document::Load(const std::string& path) {
  std::string bytes;
  if (!ReadFile(path, bytes, parseError_)) {
    state_ = std::make_shared<DocumentState>();
    return false;
  }
  return LoadBytes(bytes);
}

bool Document::Save(const std::string& path) const {
  saveErrno_ = 0;
  xmlDocPtr doc = state_ ? state_->doc() : nullptr;
  if (!doc || path.empty()) {
    saveErrno_ = doc ? ENOENT : EINVAL;
    return false;
  }
  std::string data = Serialize(doc, nullptr, XML_SAVE_FORMAT);
  if (data.empty()) {
    saveErrno_ = ENOMEM;
    return false;
  }

  // Written under a hidden name in the same folder, then renamed over the destination. Not forced
  // to disk: the documents saved here are spool files that another process reads moments later,
  // from the page cache. Waiting for the disk at each of them would slow every dispensing and
  // keep nothing safe that matters after a power cut; the records that must survive one (audit
  // marks, settings, late answers kept aside) are flushed where they are written.
  static std::atomic<unsigned> counter{0};
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string temp = folder + "." + name + "." + std::to_string(::getpid()) + "." +
                           std::to_string(counter.fetch_add(1)) + ".tmp";
  // Readable by the owner only: a request file holds the user's key.
  int fd = files::OpenRegular(temp, O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    saveErrno_ = errno;
    return false;
  }
  bool ok = files::WriteAll(fd, data);
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    saveErrno_ = err ? err : EIO;
  }
  return ok;
}

Node Document::documentElement() const {
  xmlDocPtr doc = state_ ? state_->doc() : nullptr;
  if (!doc) return Node();
  xmlNodePtr root = xmlDocGetRootElement(doc);
  return root ? Node(state_, root) : Node();
}

NodeList Document::childNodes() const {
  std::vector<_xmlNode*> nodes;
  if (xmlDocPtr doc = state_ ? state_->doc() : nullptr)
    for (xmlNodePtr c = doc->children; c; c = c->next) nodes.push_back(c);
  return NodeList(state_, std::move(nodes));
}

std::string Document::xml() const {
  xmlDocPtr doc = state_ ? state_->doc() : nullptr;
  return doc ? Serialize(doc, nullptr, 0) : std::string();
}

const std::string& Document::parseError() const noexcept {
  return parseError_;
}

// ---- References ----

namespace {

bool NameIs(const xmlChar* name, const char* lower) {
  if (!name) return false;
  for (; *name && *lower; ++name, ++lower)
    if (std::tolower(*name) != *lower) return false;
  return *name == 0 && *lower == 0;
}

std::string AttributeText(xmlAttrPtr a) {
  xmlChar* v = xmlNodeListGetString(a->doc, a->children, 1);
  std::string out = S(v);
  xmlFree(v);
  return out;
}

// The element's last href attribute, nothing when it has none.
std::optional<std::string> HrefOf(xmlNodePtr n) {
  std::optional<std::string> out;
  if (!n || n->type != XML_ELEMENT_NODE) return out;
  for (xmlAttrPtr a = n->properties; a; a = a->next)
    if (NameIs(a->name, "href")) out = AttributeText(a);
  return out;
}

// The id an href names: its text without any "#" and without the white space around it, so
// "#x", "x" and " #x " all name x, as writers of these answers have put them.
std::string IdOf(const std::string& href) {
  std::string key;
  for (char c : href)
    if (c != '#') key += c;
  return std::string(prescora::Trim(key, " \t\r\n"));
}

std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// The length of the text under `n`, counted only up to `limit` (past it, limit + 1).
std::size_t TextSize(xmlNodePtr top, std::size_t limit) {
  std::size_t total = 0;
  xmlNodePtr n = top;
  while (n) {
    if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && n->content) {
      total += std::strlen(C(n->content));
      if (total > limit) return limit + 1;
    }
    if (n->type == XML_ELEMENT_NODE && n->children) {
      n = n->children;
      continue;
    }
    while (n && n != top && !n->next) n = n->parent;
    if (!n || n == top) break;
    n = n->next;
  }
  return total;
}

}  // namespace

struct References::Index {
  std::shared_ptr<DocumentState> state;
  std::unordered_map<std::string, xmlNodePtr> exact;
  std::unordered_set<std::string> duplicates;
  // Upper-cased ids; nullptr where two elements share one.
  std::unordered_map<std::string, xmlNodePtr> folded;

  explicit Index(std::shared_ptr<DocumentState> s) : state(std::move(s)) {
    xmlNodePtr n = state && state->doc() ? xmlDocGetRootElement(state->doc()) : nullptr;
    xmlNodePtr top = n;
    while (n) {
      if (n->type == XML_ELEMENT_NODE) {
        for (xmlAttrPtr a = n->properties; a; a = a->next) {
          if (!NameIs(a->name, "id")) continue;
          std::string id = AttributeText(a);
          auto [at, added] = exact.emplace(id, n);
          if (!added && at->second != n) duplicates.insert(id);
          auto [fat, fadded] = folded.emplace(Folded(std::move(id)), n);
          if (!fadded && fat->second != n) fat->second = nullptr;
        }
        if (n->children) {
          n = n->children;
          continue;
        }
      }
      while (n && n != top && !n->next) n = n->parent;
      if (!n || n == top) break;
      n = n->next;
    }
  }

  // The element of that id; `problem` says why there is none.
  xmlNodePtr Find(const std::string& id, ReferenceProblem& problem) const {
    if (duplicates.count(id)) {
      problem = ReferenceProblem::Duplicate;
      return nullptr;
    }
    if (auto found = exact.find(id); found != exact.end()) return found->second;
    if (auto found = folded.find(Folded(id)); found != folded.end() && found->second)
      return found->second;
    problem = ReferenceProblem::Missing;
    return nullptr;
  }
};

References::References(std::size_t budgetBytes) : budget_(budgetBytes) {}
References::~References() = default;

void References::IndexOf(const Node& node) {
  if (!index_ || index_->state != node.state()) index_ = std::make_unique<Index>(node.state());
}

Followed References::Follow(const Node& node) {
  Followed out;
  out.node = node;
  std::optional<std::string> href = HrefOf(node.raw());
  if (!href) return out;
  IndexOf(node);
  xmlNodePtr current = node.raw();
  // A chain is at most kMaxReferenceHops long: a linear look for a cycle costs little.
  std::vector<xmlNodePtr> seen{current};
  for (int hop = 0; href; ++hop) {
    out.href = *href;
    if (hop >= kMaxReferenceHops) {
      out.problem = ReferenceProblem::TooDeep;
      return out;
    }
    xmlNodePtr target = index_->Find(IdOf(*href), out.problem);
    if (!target) return out;
    for (xmlNodePtr earlier : seen)
      if (earlier == target) {
        out.problem = ReferenceProblem::Cycle;
        return out;
      }
    seen.push_back(target);
    current = target;
    href = HrefOf(current);
  }
  const std::size_t left = budget_ - used_;
  const std::size_t size = TextSize(current, left);
  if (size > left) {
    out.problem = ReferenceProblem::TooMuchText;
    return out;
  }
  used_ += size;
  out.href.clear();
  out.node = Node(node.state(), current);
  return out;
}

std::optional<std::string> References::Value(const Node& node, Followed* why) {
  Followed followed = Follow(node);
  if (!followed) {
    if (why) *why = std::move(followed);
    return std::nullopt;
  }
  return followed.node.Text();
}

std::string DescribeProblem(const Followed& followed) {
  const std::string href = "'" + followed.href + "'";
  switch (followed.problem) {
    case ReferenceProblem::None:
      return {};
    case ReferenceProblem::Missing:
      return "la referencia " + href + " no lleva a ningún elemento de la respuesta";
    case ReferenceProblem::Duplicate:
      return "la referencia " + href + " lleva a un identificador repetido en la respuesta";
    case ReferenceProblem::Cycle:
      return "la referencia " + href + " forma un ciclo";
    case ReferenceProblem::TooDeep:
      return "la referencia " + href + " encadena más de " +
             std::to_string(References::kMaxReferenceHops) + " referencias";
    case ReferenceProblem::TooMuchText:
      return "las referencias traen más texto del admitido en una respuesta";
  }
  return {};
}

// ---- Escaping ----

namespace {
std::string Escape(std::string_view text, bool attribute) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        if (attribute) {
          out += "&quot;";
          break;
        }
        out += c;
        break;
      case '\'':
        if (attribute) {
          out += "&apos;";
          break;
        }
        out += c;
        break;
      // A parser turns CR LF into LF, and white space of an attribute into spaces: written as
      // references they come back as they were.
      case '\r':
        out += "&#13;";
        break;
      case '\n':
        if (attribute) {
          out += "&#10;";
          break;
        }
        out += c;
        break;
      case '\t':
        if (attribute) {
          out += "&#9;";
          break;
        }
        out += c;
        break;
      default:
        out += c;
    }
  }
  return out;
}
}  // namespace

std::optional<std::vector<Attribute>> ParseAttributes(std::string_view attributes) {
  Document holder;
  std::string text = "<a ";
  text.append(attributes);
  text += "/>";
  if (!holder.Loadxml(text)) return std::nullopt;
  Node element = holder.documentElement();
  if (!element.childNodes().items().empty()) return std::nullopt;
  std::vector<Attribute> out;
  for (const Node& a : element.Attributes().items()) out.push_back({a.nodeName(), a.Text()});
  return out;
}

std::string EscapeText(std::string_view text) {
  return Escape(text, false);
}
std::string EscapeAttribute(std::string_view text) {
  return Escape(text, true);
}

}  // namespace PRESCORA_NS::platform::xml
