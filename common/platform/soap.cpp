#include "common/platform/soap.h"

#include <libxml/parser.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>

#include "common/platform/errors.h"
#include "common/platform/soapbase.h"
#include "common/platform/soapdescription.h"
#include "common/platform/soapenvelope.h"
#include "common/platform/soaptransport.h"
#include "common/platform/soapurl.h"

namespace PRESCORA_NS::platform::soap {

void Prepare() noexcept {
  try {
    xmlInitParser();
    // The TLS library's set-up, which reads its configuration; the system's authorities and a
    // TLS context wait for the first HTTPS server, so a launcher that talks plain HTTP never pays
    // for them. A fresh process's first HTTP client and first thread are paid here, off the path.
    WarmTransport();
  } catch (...) {
  }
}

namespace {

bool ToBool(std::string_view name, const PropertyValue& v) {
  if (auto b = std::get_if<bool>(&v)) return *b;
  if (auto i = std::get_if<int32_t>(&v)) return *i != 0;
  const std::string t(Trim(std::get<std::string>(v)));
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
    const std::string t(Trim(*s));
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

}  // namespace

struct Client::Impl {
  Description description;
  bool initialised = false;
  std::string descriptionHost;  // the server the description came from, "" for a file
  std::string detail;
  // Whether the last call may have put a byte of its request on the wire.
  bool requestMayHaveLeft = false;
  std::string endPoint;
  Transport transport;

  std::string Scrub(std::string text) const { return transport.proxy.Scrub(std::move(text)); }

  const Operation& Find(std::string_view name) const {
    for (const Operation& op : description.operations)
      if (IEquals(op.name, name)) return op;
    Fail(errSoapUnknownOperation, "El servicio no ofrece la operación " + std::string(name));
  }
};

Client::Client() : impl_(std::make_unique<Impl>()) {}
Client::~Client() = default;

void Client::mssoapinit(const std::string& location) {
  Impl& d = *impl_;
  d.initialised = false;
  d.description = {};
  d.descriptionHost.clear();
  const std::string where = RedactUrl(location);
  const std::string trimmed(Trim(location));
  if (trimmed.empty())
    Fail(errSoapDescriptionUnreachable, "No se ha indicado la ubicación de la descripción WSDL");
  // Download and reading together within Timeout: a description built to be slow to read must
  // not hold the caller longer than a slow server could.
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(d.transport.timeoutMs);
  const auto expired = [&] {
    if (Clock::now() >= deadline)
      Fail(errSoapTimeout, "No se puede leer la descripción WSDL " + where +
                               ": se agotó el tiempo de espera (" +
                               std::to_string(d.transport.timeoutMs) + " ms)");
  };

  xml::Document doc;
  bool secure = false;
  if (IStartsWith(trimmed, "http://") || IStartsWith(trimmed, "https://")) {
    HttpAnswer answer;
    try {
      answer = d.transport.Get(trimmed, deadline);
    } catch (const Failure& f) {
      // The transport's own number says why (time-out, TLS, proxy...).
      Fail(f.Number(), "No se puede leer la descripción WSDL " + where + ": " + f.Description());
    }
    if (answer.status < 200 || answer.status > 299)
      Fail(errSoapDescriptionUnreachable, "No se puede leer la descripción WSDL " + where +
                                              ": el servidor respondió HTTP " +
                                              std::to_string(answer.status));
    Url from;
    if (ParseUrl(answer.address, from)) {
      secure = from.scheme == "https";
      d.descriptionHost = from.host;
    }
    if (!doc.LoadBytes(answer.body, answer.charset))
      Fail(errSoapDescriptionInvalid,
           "La descripción WSDL " + where + " no es XML: " + d.Scrub(doc.parseError()));
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
  expired();
  Description description = ReadDescription(doc, where, expired);
  // What came encrypted sends the user's key encrypted: a description read over HTTPS that names
  // a plain HTTP address would put the key and the patient's TIS on the wire in clear.
  Url address;
  if (secure && (!ParseUrl(description.address, address) || address.scheme != "https"))
    Fail(errSoapDescriptionInvalid, "La descripción de servicio " + where +
                                        " se leyó por https pero su dirección no es https (" +
                                        RedactUrl(description.address) + ")");
  d.description = std::move(description);
  d.initialised = true;
}

std::string Client::Destination() const {
  const Impl& d = *impl_;
  Url url;
  const std::string& address = d.endPoint.empty() ? d.description.address : d.endPoint;
  if (!d.initialised || !ParseUrl(address, url)) return {};
  return url.scheme + "://" + url.HostHeader();
}

bool Client::DestinationElsewhere() const {
  const Impl& d = *impl_;
  Url url;
  const std::string& address = d.endPoint.empty() ? d.description.address : d.endPoint;
  return d.initialised && !d.descriptionHost.empty() && ParseUrl(address, url) &&
         !IEquals(url.host, d.descriptionHost);
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
    d.transport.proxy.use = ToBool(name, value);
  } else if (IEquals(name, "ProxyServer")) {
    d.transport.proxy.server = Trim(ToText(value));
  } else if (IEquals(name, "ProxyPort")) {
    d.transport.proxy.port = ToInt(name, value, 0, 65535);
  } else if (IEquals(name, "ProxyUser")) {
    d.transport.proxy.user = ToText(value);
  } else if (IEquals(name, "ProxyPassword")) {
    d.transport.proxy.password = ToText(value);
  } else if (IEquals(name, "Timeout")) {
    const int32_t ms = ToInt(name, value, INT32_MIN, INT32_MAX);
    d.transport.timeoutMs = ms > 0 ? ms : kDefaultTimeoutMs;
  } else if (IEquals(name, "SSLCAFile")) {
    d.transport.caFile = ToText(value);
  } else if (IEquals(name, "MaxResponseSize")) {
    const int32_t bytes = ToInt(name, value, INT32_MIN, INT32_MAX);
    d.transport.maxResponseBytes = bytes > 0 ? bytes : kDefaultMaxResponseBytes;
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
  d.requestMayHaveLeft = false;
  if (!d.initialised)
    Fail(errSoapNotInitialised, "El cliente SOAP no se ha iniciado con una descripción WSDL");
  const Operation& op = d.Find(operation);
  const std::string request = BuildEnvelope(op, argument);
  const std::string url = d.endPoint.empty() ? d.description.address : d.endPoint;
  const std::string target = RedactUrl(url);

  HttpAnswer answer = d.transport.Post(url, request, op.soapAction, d.requestMayHaveLeft);
  return ReadAnswer(answer.status, answer.body, answer.charset, target, d.detail);
}

std::string Client::detail() const {
  return impl_->detail;
}

bool Client::RequestMayHaveLeft() const {
  return impl_->requestMayHaveLeft;
}

}  // namespace PRESCORA_NS::platform::soap
