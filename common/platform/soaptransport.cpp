#include "common/platform/soaptransport.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "common/platform/soap.h"
#include "common/platform/soapbase.h"
#include "common/platform/soapoutcome.h"
#include "common/platform/soapwatchdog.h"

namespace PRESCORA_NS::platform::soap {

namespace {

// The system's certificate authorities, read once per process and shared by every TLS context.
X509_STORE* SystemAuthorities() {
  static X509_STORE* const store = [] {
    InitTransport();
    X509_STORE* s = X509_STORE_new();
    if (s && X509_STORE_set_default_paths(s) != 1) {
      X509_STORE_free(s);
      s = nullptr;
    }
    return s;
  }();
  return store;
}

std::string Charset(const std::string& contentType) {
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

std::string Base64(const std::string& text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Basic, sent with the first request: a proxy that refuses a request may reset the connection,
// so a negotiation round would be lost. "" when the proxy takes no credentials.
std::string ProxyAuthorization(const Route& route) {
  return route.credentials ? "Basic " + Base64(route.user + ":" + route.password) : "";
}

// The request of an exchange: a GET, or the SOAP POST of `post`.
httplib::Request MakeRequest(const Url& url, const Route& route,
                             const std::string& proxyAuthorization, const std::string* post,
                             const std::string& soapAction) {
  httplib::Request req;
  req.method = post ? "POST" : "GET";
  req.path = url.path;
  req.set_header("Host", url.HostHeader());
  req.set_header("User-Agent", "Prescora SOAP");
  req.set_header("Accept", "text/xml, application/xml, */*");
  // Compressed answers are welcome, but not brotli: compressing each answer on the fly at
  // brotli's default (highest) quality costs a server far more than the bytes it saves on a
  // few kilobytes; gzip costs it little.
  req.set_header("Accept-Encoding", "gzip, deflate");
  if (url.hasUser)
    req.set_header("Authorization", "Basic " + Base64(url.user + ":" + url.password));
  // Through a tunnel (HTTPS) the credentials go with the tunnel's request, never to the server.
  if (route.viaProxy && url.scheme == "http" && !proxyAuthorization.empty())
    req.set_header("Proxy-Authorization", proxyAuthorization);
  if (post) {
    req.set_header("Content-Type", "text/xml; charset=utf-8");
    req.set_header("SOAPAction", "\"" + soapAction + "\"");
    req.body = *post;
  }
  return req;
}

// The tunnel an HTTPS exchange through a proxy asks for.
Tunnel TunnelFor(const Url& url, const std::string& proxyAuthorization,
                 Clock::time_point deadline) {
  Tunnel tunnel;
  tunnel.authority = url.Host() + ":" + std::to_string(url.port);
  tunnel.authorization = proxyAuthorization;
  unsigned char address[16];
  if (!url.ipv6 && !IsAddress(AF_INET, url.host, address)) tunnel.serverName = url.host;
  tunnel.deadline = deadline;
  return tunnel;
}

bool IsRedirection(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

void InitTransport() {
  static std::once_flag once;
  std::call_once(once, [] { OPENSSL_init_ssl(OPENSSL_INIT_LOAD_CONFIG, nullptr); });
}

void WarmTransport() {
  InitTransport();
  httplib::Client warm("http://127.0.0.1:1");
  if (!ExchangesOnOneThread()) std::thread([] {}).join();
}

void CheckRedirection(const Url& first, const Url& from, const Url& to, const std::string& target) {
  if (from.scheme == "https" && to.scheme != "https")
    Fail(errSoapTransport, "Fallo del transporte HTTP con " + target +
                               ": se rechaza la redirección de https a " + RedactUrl(to.Origin()) +
                               " (sin cifrar)");
  const bool upgraded = from.scheme == "http" && to.scheme == "https" &&
                        from.port == DefaultPort("http") && to.port == DefaultPort("https");
  if (!IEquals(to.host, first.host) || (to.port != from.port && !upgraded))
    Fail(errSoapTransport, "Fallo del transporte HTTP con " + target +
                               ": se rechaza la redirección a otro servidor (" +
                               RedactUrl(to.Origin()) + ")");
}

Transport::Transport() = default;
Transport::~Transport() = default;

HttpAnswer Transport::Get(const std::string& url, Clock::time_point deadline) {
  return Transfer(url, nullptr, "", deadline, nullptr);
}

HttpAnswer Transport::Post(const std::string& url, const std::string& envelope,
                           const std::string& soapAction, bool& mayHaveLeft) {
  mayHaveLeft = false;
  return Transfer(url, &envelope, soapAction, Clock::now() + std::chrono::milliseconds(timeoutMs),
                  &mayHaveLeft);
}

httplib::ClientImpl& Transport::ClientFor(const Url& url, const Route& route) {
  std::string ca = caFile;
  if (ca.empty())
    if (const char* env = std::getenv("PRESCORA_CA_FILE")) ca = env;
  std::string key = url.Origin() + "\n" + ca;
  if (route.viaProxy)
    key += "\n" + route.host + ":" + std::to_string(route.port) + "\n" + route.user + ":" +
           route.password;
  if (http_ && key == httpKey_) return *http_;
  http_.reset();
  httpKey_.clear();

  // HTTPS through a proxy connects to the proxy and opens the tunnel itself (OpenTunnel): the
  // library's own tunnel deadlocks on a refusal that closes the connection.
  const bool secure = url.scheme == "https";
  const bool tunnel = route.viaProxy && secure;
  Connection connection =
      OpenConnection(secure, tunnel ? route.host : url.host, tunnel ? route.port : url.port);
  httplib::ClientImpl& client = *connection.client;
  client.set_keep_alive(true);
  // The request's head and body go out in two writes: without this the body waits for the
  // server's delayed acknowledgement of the head, 40 ms on Linux.
  client.set_tcp_nodelay(true);
  client.set_url_encode(false);  // the address is sent as it was given
  client.set_follow_location(false);
  client.set_decompress(true);
  if (route.viaProxy && !tunnel) client.set_proxy(route.host, route.port);
  if (secure) {
    SSL_CTX* ctx = connection.tls;
    if (!ctx) Fail(errSoapTls, "No se puede iniciar la conexión segura (TLS)");
    X509_STORE* store = nullptr;
    if (ca.empty()) {
      store = SystemAuthorities();
      if (store) X509_STORE_up_ref(store);
    } else {
      store = X509_STORE_new();
      if (store && (X509_STORE_set_default_paths(store) != 1 ||
                    X509_STORE_load_file(store, ca.c_str()) != 1)) {
        X509_STORE_free(store);
        store = nullptr;
        Fail(errSoapTls, "Fallo de la conexión segura (TLS) con " + RedactUrl(url.Origin()) +
                             ": no se puede leer el archivo de autoridades " + ca);
      }
    }
    if (!store) Fail(errSoapTls, "No se pueden leer las autoridades de certificación del sistema");
    SSL_CTX_set_cert_store(ctx, store);
    // The handshake itself refuses a server whose certificate or name does not verify.
    client.enable_server_certificate_verification(false);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, NoteVerification);
    if (tunnel) SSL_CTX_set_info_callback(ctx, OpenTunnel);
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
    unsigned char address[16];
    if (url.ipv6 || IsAddress(AF_INET, url.host, address)) {
      X509_VERIFY_PARAM_set1_ip_asc(param, url.host.c_str());
    } else {
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      X509_VERIFY_PARAM_set1_host(param, url.host.c_str(), 0);
    }
  }
  http_ = std::move(connection.client);
  httpKey_ = std::move(key);
  return *http_;
}

HttpAnswer Transport::Transfer(const std::string& url, const std::string* post,
                               const std::string& soapAction, Clock::time_point deadline,
                               bool* mayHaveLeft) {
  InitTransport();
  QuietPipe quiet;
  const std::string target = RedactUrl(url);
  if (!watchdog_) watchdog_ = std::make_unique<Watchdog>();
  std::string address = url;
  Url first;
  for (int hop = 0;; ++hop) {
    Url parsed;
    if (!ParseUrl(address, parsed) || (parsed.scheme != "http" && parsed.scheme != "https"))
      Fail(errSoapTransport, "Fallo del transporte HTTP con " + target +
                                 ": dirección no válida o protocolo no admitido (" +
                                 RedactUrl(address) + ")");
    if (hop == 0) first = parsed;
    HttpAnswer answer = Exchange(parsed, post, soapAction, deadline, target, mayHaveLeft);
    answer.address = address;
    const std::string location(TrimSpaces(answer.location));
    if (post || !IsRedirection(answer.status) || location.empty()) return answer;
    if (hop == kMaxRedirects)
      Fail(errSoapTransport, "Fallo del transporte HTTP con " + target + ": más de " +
                                 std::to_string(kMaxRedirects) + " redirecciones");
    if (!Clean(location))
      Fail(errSoapTransport, "Fallo del transporte HTTP con " + target +
                                 ": la redirección lleva caracteres de control o espacios");
    address = Follow(parsed, location);
    Url next;
    if (ParseUrl(address, next)) CheckRedirection(first, parsed, next, target);
  }
}

HttpAnswer Transport::Exchange(const Url& url, const std::string* post,
                               const std::string& soapAction, Clock::time_point deadline,
                               const std::string& target, bool* mayHaveLeft) {
  const Route route = RouteFor(url, proxy);
  const Blame blame{target, route, proxy, timeoutMs};
  httplib::ClientImpl& client = ClientFor(url, route);
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  if (left.count() <= 0) blame.Timeout();
  client.set_connection_timeout(left.count() / 1000000, left.count() % 1000000);
  // The watchdog ends reading and writing at the deadline; these only back it up. Without one,
  // each wait ends at the deadline: the socket's waits count whole milliseconds, cut short, so
  // one more keeps a wait from ending just before it (it would not count as late).
  const bool polled = watchdog_->Polled();
  const std::chrono::microseconds backup =
      polled ? std::chrono::ceil<std::chrono::milliseconds>(left) + std::chrono::milliseconds(1)
             : left + std::chrono::milliseconds(100);
  client.set_read_timeout(backup.count() / 1000000, backup.count() % 1000000);
  client.set_write_timeout(backup.count() / 1000000, backup.count() % 1000000);

  const std::string proxyAuthorization = ProxyAuthorization(route);
  httplib::Request req = MakeRequest(url, route, proxyAuthorization, post, soapAction);

  HttpAnswer answer;
  answer.limit = static_cast<std::size_t>(maxResponseBytes);
  Outcome outcome;
  // Past the deadline, the exchange ends at the next piece of the answer; the head's reads end
  // at the deadline too, so a server that sends its head slowly cannot hold a call either.
  Head head;
  head.deadline = deadline;
  req.response_handler = [&answer, &head, polled, deadline](const httplib::Response& res) {
    answer.status = res.status;  // known even if the body is then cut short
    head.whole = true;
    return !polled || Clock::now() < deadline;
  };
  req.content_receiver = [&](const char* data, size_t n, uint64_t, uint64_t) {
    if (polled && Clock::now() >= deadline) return false;
    if (answer.body.size() + n > answer.limit) {
      outcome.bodyTooLarge = true;
      return false;
    }
    answer.body.append(data, n);
    return true;
  };

  Tunnel tunnel = TunnelFor(url, proxyAuthorization, deadline);
  ForgetTlsReason();
  // A request that must not go twice (a call of the service) never goes over a connection kept
  // from an earlier exchange: the server may have closed it meanwhile, and then the request
  // fails with nobody able to tell whether it was seen. It gets a connection of its own.
  if (post) client.stop();
  httplib::Result result = [&] {
    const ExchangeScope scope(&head, route.viaProxy && url.scheme == "https" ? &tunnel : nullptr);
    watchdog_->Arm(&client, deadline);
    try {
      return client.send(req);
    } catch (...) {
      watchdog_->Disarm();  // it must not stop a client that may be gone
      throw;
    }
  }();
  const bool fired = watchdog_->Disarm();

  outcome.error = result.error();
  outcome.answered = static_cast<bool>(result);
  outcome.late = fired || Clock::now() >= deadline;
  outcome.headTooLarge = head.tooLarge;
  outcome.tunnelFailed = tunnel.failed;
  outcome.tunnelStatus = tunnel.status;
  if (mayHaveLeft) *mayHaveLeft = RequestMayHaveLeft(outcome);
  if (result) {
    answer.status = result->status;
    answer.charset = Charset(result->get_header_value("Content-Type"));
    answer.location = result->get_header_value("Location");
  }
  outcome.status = answer.status;
  FailOnRefusal(outcome, blame);
  if (!outcome.answered) FailUnanswered(outcome, blame, maxResponseBytes, url, mayHaveLeft);
  return answer;
}

}  // namespace PRESCORA_NS::platform::soap
