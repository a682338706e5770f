#include "common/platform/soap.h"

#include <curl/curl.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/text.h"

namespace PRESCORA_NS::platform::soap {

namespace {

constexpr const char* kSource = "SoapClient";
constexpr const char* kNsWsdl = "http://schemas.xmlsoap.org/wsdl/";
constexpr const char* kNsWsdlSoap = "http://schemas.xmlsoap.org/wsdl/soap/";
constexpr const char* kNsEnvelope = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kNsEncoding = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr const char* kNsXsi = "http://www.w3.org/2001/XMLSchema-instance";
constexpr const char* kNsXsd = "http://www.w3.org/2001/XMLSchema";
constexpr int32_t kDefaultTimeoutMs = 30000;
constexpr int32_t kDefaultProxyPort = 8080;
// Answers and descriptions larger than this are not the service's: refusing them bounds memory.
// The largest honest answer, a retrieval of 10,000 prescriptions, is about 5 MB.
constexpr int32_t kDefaultMaxResponseBytes = 16 * 1024 * 1024;
constexpr int kMaxReferenceHops = 16;
constexpr const char* kMask = "********";

[[noreturn]] void Fail(int32_t number, std::string description) {
  throw Failure(number, kSource, std::move(description));
}

void InitCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

void Prepare() noexcept {
  try {
    xmlInitParser();
    InitCurl();
    // The first handle sets up the transport's shared state (and the TLS context's defaults).
    if (CURL* curl = curl_easy_init()) curl_easy_cleanup(curl);
  } catch (...) {
  }
}

namespace {

const char* C(const xmlChar* s) {
  return reinterpret_cast<const char*>(s);
}
const xmlChar* X(const char* s) {
  return reinterpret_cast<const xmlChar*>(s);
}
std::string S(const xmlChar* s) {
  return s ? std::string(C(s)) : std::string();
}

bool IEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

// The URL without its user information, for messages.
std::string RedactUrl(const std::string& url) {
  return text::MaskUserInfo(url);
}

// ---- Elements of a description or an answer ----

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

// An attribute without namespace.
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

struct QName {
  std::string ns;
  std::string local;
  std::string prefix;
};

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

xmlNodePtr Named(const std::vector<xmlNodePtr>& nodes, const std::string& name) {
  for (xmlNodePtr n : nodes)
    if (Attr(n, "name") == name) return n;
  return nullptr;
}

Description ReadDescription(xml::Document& doc, const std::string& where) {
  xmlNodePtr root = doc.documentElement().raw();
  if (!Is(root, kNsWsdl, "definitions"))
    Fail(errSoapDescriptionInvalid,
         "El documento " + where + " no es una descripción de servicio WSDL 1.1");
  const std::string targetNs = Attr(root, "targetNamespace");
  const auto messages = Children(root, kNsWsdl, "message");
  const auto portTypes = Children(root, kNsWsdl, "portType");
  const auto bindings = Children(root, kNsWsdl, "binding");

  // The first port with a SOAP 1.1 address, and its binding.
  Description d;
  xmlNodePtr binding = nullptr;
  for (xmlNodePtr service : Children(root, kNsWsdl, "service")) {
    for (xmlNodePtr port : Children(service, kNsWsdl, "port")) {
      xmlNodePtr address = Child(port, kNsWsdlSoap, "address");
      if (!address) continue;
      xmlNodePtr b = Named(bindings, Resolve(port, Attr(port, "binding")).local);
      if (!b || !Child(b, kNsWsdlSoap, "binding")) continue;
      d.address = Trim(Attr(address, "location"));
      binding = b;
      break;
    }
    if (binding) break;
  }
  if (!binding || d.address.empty())
    Fail(errSoapDescriptionInvalid,
         "La descripción de servicio " + where + " no tiene ningún puerto SOAP 1.1 con dirección");

  std::string bindingStyle = Attr(Child(binding, kNsWsdlSoap, "binding"), "style");
  if (bindingStyle.empty()) bindingStyle = "document";
  xmlNodePtr portType = Named(portTypes, Resolve(binding, Attr(binding, "type")).local);

  for (xmlNodePtr bop : Children(binding, kNsWsdl, "operation")) {
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
    xmlNodePtr aop = portType ? Named(Children(portType, kNsWsdl, "operation"), op.name) : nullptr;
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

// ---- Property values ----

bool ToBool(std::string_view name, const PropertyValue& v) {
  if (auto b = std::get_if<bool>(&v)) return *b;
  if (auto i = std::get_if<int32_t>(&v)) return *i != 0;
  const std::string t = Trim(std::get<std::string>(v));
  if (IEquals(t, "true") || IEquals(t, "verdadero")) return true;
  if (IEquals(t, "false") || IEquals(t, "falso")) return false;
  char* end = nullptr;
  long n = std::strtol(t.c_str(), &end, 10);
  if (!t.empty() && end && *end == '\0') return n != 0;
  Fail(errSoapInvalidPropertyValue,
       "El valor de la propiedad " + std::string(name) + " no es un valor lógico");
}

int32_t ToInt(std::string_view name, const PropertyValue& v, long min, long max) {
  long n = 0;
  bool ok = false;
  if (auto i = std::get_if<int32_t>(&v)) {
    n = *i;
    ok = true;
  } else if (auto s = std::get_if<std::string>(&v)) {
    const std::string t = Trim(*s);
    char* end = nullptr;
    errno = 0;
    n = std::strtol(t.c_str(), &end, 10);
    ok = !t.empty() && end && *end == '\0' && errno == 0;
  }
  if (!ok || n < min || n > max)
    Fail(errSoapInvalidPropertyValue,
         "El valor de la propiedad " + std::string(name) + " no es un número válido");
  return static_cast<int32_t>(n);
}

std::string ToText(const PropertyValue& v) {
  if (auto s = std::get_if<std::string>(&v)) return *s;
  if (auto i = std::get_if<int32_t>(&v)) return std::to_string(*i);
  return std::get<bool>(v) ? "True" : "False";
}

struct HttpAnswer {
  long status = 0;
  std::string body;
  std::string charset;    // of the Content-Type header, "" when none
  std::size_t limit = 0;  // the most body bytes taken, once decoded
};

size_t Collect(char* data, size_t size, size_t count, void* out) {
  auto* answer = static_cast<HttpAnswer*>(out);
  const size_t n = size * count;
  if (answer->body.size() + n > answer->limit) return 0;  // aborts the transfer
  answer->body.append(data, n);
  return n;
}

std::string Charset(const char* contentType) {
  if (!contentType) return {};
  std::string t = contentType;
  std::transform(t.begin(), t.end(), t.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t at = t.find("charset=");
  if (at == std::string::npos) return {};
  std::string value = t.substr(at + 8);
  value = value.substr(0, value.find_first_of("; "));
  value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
  return value;
}

}  // namespace

struct Client::Impl {
  Description description;
  bool initialised = false;
  std::string detail;

  std::optional<bool> useProxy;
  std::string proxyServer;
  int32_t proxyPort = kDefaultProxyPort;
  std::string proxyUser;
  std::string proxyPassword;
  int32_t timeoutMs = kDefaultTimeoutMs;
  std::string caFile;
  std::string endPoint;
  int32_t maxResponseBytes = kDefaultMaxResponseBytes;

  CURL* curl = nullptr;

  ~Impl() {
    if (curl) curl_easy_cleanup(curl);
  }

  // Any text that reaches a message: the password never does.
  std::string Scrub(std::string text) const {
    if (proxyPassword.empty()) return text;
    for (std::size_t at = text.find(proxyPassword); at != std::string::npos;
         at = text.find(proxyPassword, at + std::strlen(kMask)))
      text.replace(at, proxyPassword.size(), kMask);
    return text;
  }

  std::string ProxyName() const {
    return Scrub(RedactUrl(proxyServer)) + ":" + std::to_string(proxyPort);
  }

  // One HTTP exchange: a GET when `post` is null, else a SOAP POST.
  HttpAnswer Transfer(const std::string& url, const std::string* post,
                      const std::string& soapAction) {
    InitCurl();
    if (!curl) curl = curl_easy_init();
    if (!curl) Fail(errSoapTransport, "No se puede iniciar el transporte HTTP");
    curl_easy_reset(curl);  // keeps the open connections for the next call

    HttpAnswer answer;
    char error[CURL_ERROR_SIZE] = {0};
    curl_slist* headers = nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    answer.limit = static_cast<std::size_t>(maxResponseBytes);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Prescora SOAP");
    // Compressed answers are welcome, but not brotli: a server that compresses each answer on the
    // fly at brotli's default (highest) quality spends several milliseconds on a few kilobytes,
    // far more than the bytes saved on the wire; gzip costs it a fraction of a millisecond.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    std::string ca = caFile;
    if (ca.empty())
      if (const char* env = std::getenv("PRESCORA_CA_FILE")) ca = env;
    if (!ca.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());

    if (useProxy.has_value()) {
      if (*useProxy) {
        if (Trim(proxyServer).empty())
          Fail(errSoapProxy, "No se ha indicado el servidor proxy (ProxyServer)");
        curl_easy_setopt(curl, CURLOPT_PROXY, proxyServer.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPORT, static_cast<long>(proxyPort));
        if (!proxyUser.empty()) {
          curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxyUser.c_str());
          curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxyPassword.c_str());
          // Basic, sent with the first request: a proxy that refuses a request may reset the
          // connection, so a negotiation round would be lost.
          curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
        }
      } else {
        curl_easy_setopt(curl, CURLOPT_PROXY, "");  // direct, whatever the environment says
      }
    }
    const bool viaProxy = useProxy.value_or(false);

    std::string action;
    if (post) {
      headers = curl_slist_append(headers, "Content-Type: text/xml; charset=utf-8");
      action = "SOAPAction: \"" + soapAction + "\"";
      headers = curl_slist_append(headers, action.c_str());
      headers = curl_slist_append(headers, "Expect:");
      curl_easy_setopt(curl, CURLOPT_POST, 1L);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post->data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post->size()));
    } else {
      curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
      curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
      curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    }
    headers = curl_slist_append(headers, "Accept: text/xml, application/xml, */*");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    const CURLcode rc = curl_easy_perform(curl);
    long connectCode = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    char* contentType = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);
    answer.charset = Charset(contentType);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_slist_free_all(headers);

    const std::string target = RedactUrl(url);
    const std::string why = Scrub(error[0] ? error : curl_easy_strerror(rc));
    const bool dropped = rc == CURLE_GOT_NOTHING || rc == CURLE_RECV_ERROR ||
                         rc == CURLE_SEND_ERROR || rc == CURLE_PARTIAL_FILE;
    // A proxy that refuses a request often closes the connection without reading the body, so
    // the refusal may come with a reset: the status read before it still tells.
    if (connectCode == 407 || answer.status == 407 || (viaProxy && answer.status == 401))
      Fail(errSoapProxy, "El servidor proxy " + ProxyName() + " rechazó las credenciales (HTTP " +
                             std::to_string(connectCode == 407 ? 407 : answer.status) + ")");
    if (rc != CURLE_OK && dropped && answer.status >= 300)
      Fail(errSoapHttpStatus,
           "El servidor " + target + " respondió HTTP " + std::to_string(answer.status));
    if (rc != CURLE_OK) {
      switch (rc) {
        case CURLE_OPERATION_TIMEDOUT:
          Fail(errSoapTimeout, "Se agotó el tiempo de espera (" + std::to_string(timeoutMs) +
                                   " ms) de la respuesta de " + target);
        case CURLE_COULDNT_RESOLVE_PROXY:
          Fail(errSoapProxy, "No se encuentra el servidor proxy " + ProxyName() + ": " + why);
        case CURLE_COULDNT_RESOLVE_HOST:
          Fail(errSoapHostNotFound, "No se encuentra el servidor de " + target + ": " + why);
        case CURLE_COULDNT_CONNECT:
          if (viaProxy)
            Fail(errSoapProxy, "No se puede conectar con el servidor proxy " + ProxyName() +
                                   " (conexión rechazada o inaccesible): " + why);
          Fail(errSoapConnectionRefused, "No se puede conectar con " + target +
                                             " (conexión rechazada o inaccesible): " + why);
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_USE_SSL_FAILED:
          Fail(errSoapTls, "Fallo de la conexión segura (TLS) con " + target +
                               ": no se pudo verificar el servidor o negociar la conexión: " + why);
        case CURLE_WRITE_ERROR:
          Fail(errSoapTransport, "La respuesta de " + target + " es demasiado grande (más de " +
                                     std::to_string(maxResponseBytes) + " bytes)");
        default:
          if (dropped && viaProxy)
            Fail(errSoapProxy,
                 "El servidor proxy " + ProxyName() + " cerró la conexión sin responder: " + why);
          if (dropped)
            Fail(errSoapTransport, "El servidor " + target + " cerró la conexión: " + why);
          Fail(errSoapTransport, "Fallo del transporte HTTP con " + target + ": " + why);
      }
    }
    return answer;
  }

  const Operation& Find(std::string_view name) const {
    for (const Operation& op : description.operations)
      if (IEquals(op.name, name)) return op;
    Fail(errSoapUnknownOperation, "El servicio no ofrece la operación " + std::string(name));
  }
};

namespace {

// A child element in the given namespace (none when null); xmlNewChild would inherit the parent's.
xmlNodePtr AddElement(xmlNodePtr parent, xmlNsPtr ns, const std::string& name) {
  xmlNodePtr node = xmlNewDocNode(parent->doc, ns, X(name.c_str()), nullptr);
  if (!node) Fail(errSoapRequest, "No se puede crear el mensaje SOAP");
  xmlAddChild(parent, node);
  return node;
}

// The request envelope of one call: SOAP 1.1, the operation element of RPC style holding the first
// input part (typed with xsi:type when encoded), whose children are copies of the argument's nodes.
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

// The element of the answer whose id attribute is `id`: body-level references first, then
// anywhere (some stacks nest them).
xmlNodePtr FindById(xmlNodePtr body, const std::string& id) {
  for (xmlNodePtr c = body->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE && HasAttr(c, "id") && Attr(c, "id") == id) return c;
  xmlNodePtr node = FirstElement(body);
  while (node) {
    if (node->type == XML_ELEMENT_NODE && HasAttr(node, "id") && Attr(node, "id") == id)
      return node;
    if (node->type == XML_ELEMENT_NODE && node->children) {
      node = node->children;
      continue;
    }
    while (node && node != body && !node->next) node = node->parent;
    if (!node || node == body) break;
    node = node->next;
  }
  return nullptr;
}

}  // namespace

Client::Client() : impl_(std::make_unique<Impl>()) {}
Client::~Client() = default;

void Client::mssoapinit(const std::string& location) {
  impl_->initialised = false;
  impl_->description = {};
  const std::string where = RedactUrl(location);
  const std::string trimmed = Trim(location);
  if (trimmed.empty())
    Fail(errSoapDescriptionUnreachable, "No se ha indicado la ubicación de la descripción WSDL");

  xml::Document doc;
  if (IStartsWith(trimmed, "http://") || IStartsWith(trimmed, "https://")) {
    HttpAnswer answer;
    try {
      answer = impl_->Transfer(trimmed, nullptr, "");
    } catch (const Failure& f) {
      // The transport's own number says why (time-out, TLS, proxy...).
      Fail(f.Number(), "No se puede leer la descripción WSDL " + where + ": " + f.Description());
    }
    if (answer.status < 200 || answer.status > 299)
      Fail(errSoapDescriptionUnreachable, "No se puede leer la descripción WSDL " + where +
                                              ": el servidor respondió HTTP " +
                                              std::to_string(answer.status));
    if (!doc.LoadBytes(answer.body, answer.charset))
      Fail(errSoapDescriptionInvalid,
           "La descripción WSDL " + where + " no es XML: " + impl_->Scrub(doc.parseError()));
  } else {
    std::string path = trimmed;
    if (IStartsWith(path, "file://")) path = path.substr(7);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), R_OK) != 0)
      Fail(errSoapDescriptionUnreachable,
           "No se puede leer la descripción WSDL " + where + ": no existe o no se puede abrir");
    if (!doc.Load(path))
      Fail(errSoapDescriptionInvalid,
           "La descripción WSDL " + where + " no es XML: " + doc.parseError());
  }
  impl_->description = ReadDescription(doc, where);
  impl_->initialised = true;
}

void Client::ClientProperty(std::string_view name, const PropertyValue& value) {
  if (IEquals(name, "ServerHTTPRequest")) {
    (void)ToBool(name, value);  // the only transport there is serves either way
    return;
  }
  Fail(errSoapUnknownProperty, "Propiedad de cliente desconocida: " + std::string(name));
}

void Client::ConnectorProperty(std::string_view name, const PropertyValue& value) {
  Impl& d = *impl_;
  if (IEquals(name, "UseProxy")) {
    d.useProxy = ToBool(name, value);
  } else if (IEquals(name, "ProxyServer")) {
    d.proxyServer = Trim(ToText(value));
  } else if (IEquals(name, "ProxyPort")) {
    d.proxyPort = ToInt(name, value, 0, 65535);
  } else if (IEquals(name, "ProxyUser")) {
    d.proxyUser = ToText(value);
  } else if (IEquals(name, "ProxyPassword")) {
    d.proxyPassword = ToText(value);
  } else if (IEquals(name, "Timeout")) {
    const int32_t ms = ToInt(name, value, INT32_MIN, INT32_MAX);
    d.timeoutMs = ms > 0 ? ms : kDefaultTimeoutMs;
  } else if (IEquals(name, "SSLCAFile")) {
    d.caFile = ToText(value);
  } else if (IEquals(name, "MaxResponseSize")) {
    const int32_t bytes = ToInt(name, value, INT32_MIN, INT32_MAX);
    d.maxResponseBytes = bytes > 0 ? bytes : kDefaultMaxResponseBytes;
  } else if (IEquals(name, "EndPointURL")) {
    d.endPoint = Trim(ToText(value));
  } else {
    Fail(errSoapUnknownProperty, "Propiedad de conector desconocida: " + std::string(name));
  }
}

std::optional<xml::NodeList> Client::Call(std::string_view operation,
                                          const xml::NodeList& argument) {
  Impl& d = *impl_;
  d.detail.clear();
  if (!d.initialised)
    Fail(errSoapNotInitialised, "El cliente SOAP no se ha iniciado con una descripción WSDL");
  const Operation& op = d.Find(operation);
  const std::string request = BuildEnvelope(op, argument);
  const std::string url = d.endPoint.empty() ? d.description.address : d.endPoint;
  const std::string target = RedactUrl(url);

  HttpAnswer answer = d.Transfer(url, &request, op.soapAction);
  return ReadAnswer(answer.status, answer.body, answer.charset, target, d.detail);
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
    std::string text = Trim(Content(Child(response, nullptr, "faultstring")));
    if (text.empty())
      text = "El servicio respondió un fallo SOAP " +
             Trim(Content(Child(response, nullptr, "faultcode")));
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
    for (int hop = 0; HasAttr(result, "href"); ++hop) {
      const std::string href = Attr(result, "href");
      xmlNodePtr target_ = href.size() > 1 && href[0] == '#' && hop < kMaxReferenceHops
                               ? FindById(body, href.substr(1))
                               : nullptr;
      if (!target_)
        Fail(errSoapAnswerNotSoap,
             "La respuesta de " + target + " remite a un elemento que no contiene: " + href);
      result = target_;
    }
    for (xmlNodePtr c = result->children; c; c = c->next) nodes.push_back(c);
  }
  return xml::NodeList(doc.state(), std::move(nodes));
}

std::string Client::detail() const {
  return impl_->detail;
}

}  // namespace PRESCORA_NS::platform::soap
