#include "common/platform/soap.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <libxml/tree.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/soapbase.h"
#include "common/platform/soapdescription.h"
#include "common/platform/soapenvelope.h"
#include "common/platform/soaproute.h"
#include "common/platform/soapurl.h"
#include "common/platform/text.h"

namespace PRESCORA_NS::platform::soap {

namespace {

constexpr int32_t kDefaultTimeoutMs = 30000;
// Answers and descriptions larger than this are not the service's: refusing them bounds memory.
// The largest honest answer, a retrieval of 10,000 prescriptions, is about 5 MB.
constexpr int32_t kDefaultMaxResponseBytes = 16 * 1024 * 1024;

// Set by KeepExchangesOnOneThread: exchanges on the main thread start no thread of their own.
std::atomic<bool> oneThread{false};

// The TLS library's process-wide set-up (reads the system's TLS configuration once).
void InitTransport() {
  static std::once_flag once;
  std::call_once(once, [] { OPENSSL_init_ssl(OPENSSL_INIT_LOAD_CONFIG, nullptr); });
}

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

}  // namespace

void KeepExchangesOnOneThread() noexcept {
  oneThread = true;
}

void Prepare() noexcept {
  try {
    xmlInitParser();
    // The TLS library's set-up, which reads its configuration. The system's authorities and a TLS
    // context wait for the first HTTPS server: a launcher that talks plain HTTP would pay about
    // 8 ms of processor time for them.
    InitTransport();
    // A fresh process's first HTTP client and first thread cost about a millisecond between them
    // (the address parser's regular expressions, a thread stack): paid here, off the path. A
    // process whose exchanges keep to its one thread (KeepExchangesOnOneThread) starts none.
    httplib::Client warm("http://127.0.0.1:1");
    if (!oneThread) std::thread([] {}).join();
  } catch (...) {
  }
}

namespace {

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
  std::string location;   // of a redirection
  std::string address;    // the URL that answered, after any redirection
  std::size_t limit = 0;  // the most body bytes taken, once decoded
};

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

// The reason a certificate was refused, noted by the verification of this thread's handshake.
thread_local long tlsVerifyError = X509_V_OK;

int NoteVerification(int ok, X509_STORE_CTX* context) {
  if (!ok && tlsVerifyError == X509_V_OK) tlsVerifyError = X509_STORE_CTX_get_error(context);
  return ok;
}

// Writing to a connection the peer has closed raises SIGPIPE, which would end the host program;
// the TLS library writes without the flag that prevents it. So this thread blocks it for the
// exchange and takes back any it raised.
class QuietPipe {
 public:
  QuietPipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~QuietPipe() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
      const timespec none{};
      sigtimedwait(&pipe_, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  QuietPipe(const QuietPipe&) = delete;
  QuietPipe& operator=(const QuietPipe&) = delete;

 private:
  sigset_t pipe_{}, old_{};
  bool wasPending_ = false;
};

using Clock = std::chrono::steady_clock;

// Bounds an exchange: at its deadline it shuts the connection of the request under way, so a
// server that sends its answer a byte at a time cannot hold the call. One thread per client,
// asleep between exchanges; or, on the main thread of a process that keeps its exchanges on one
// thread, no thread at all (a second thread would make every later change of the process's memory
// cost a signal to the other processor): the exchange then keeps its own deadline, every wait for
// the socket bounded by the time left and every piece of the answer checked against it.
class Watchdog {
 public:
  Watchdog() : polled_(oneThread && ::gettid() == ::getpid()) {
    if (!polled_) thread_ = std::thread([this] { Run(); });
  }
  ~Watchdog() {
    if (polled_) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    woken_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Whether the exchange keeps its deadline itself, with no thread to stop it.
  bool Polled() const { return polled_; }

  void Arm(httplib::ClientImpl* client, Clock::time_point deadline) {
    if (polled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    client_ = client;
    deadline_ = deadline;
    fired_ = false;
    ++armed_;
    woken_.notify_all();
  }
  // Whether it fired since Arm.
  bool Disarm() {
    if (polled_) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    client_ = nullptr;
    return fired_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
      if (!client_) {
        woken_.wait(lock);
        continue;
      }
      const unsigned long armed = armed_;
      if (woken_.wait_until(lock, deadline_, [&] { return quit_ || !client_ || armed_ != armed; }))
        continue;
      fired_ = true;
      client_->stop();
      client_ = nullptr;
    }
  }

  std::mutex mutex_;
  std::condition_variable woken_;
  httplib::ClientImpl* client_ = nullptr;
  Clock::time_point deadline_;
  unsigned long armed_ = 0;
  bool fired_ = false;
  bool quit_ = false;
  const bool polled_;
  std::thread thread_;  // last: it starts once the rest is set
};

// HTTPS through a proxy. The client connects to the proxy as if it were the server; as the TLS
// handshake starts, on that connection, this asks the proxy for a tunnel to the server (with the
// proxy's credentials, Basic, on the first request) and names the server for TLS. A refusal ends
// the connection there, and the exchange tells the proxy's answer.
struct Tunnel {
  std::string authority;      // host:port of the server
  std::string authorization;  // the Proxy-Authorization value, "" for none
  std::string serverName;     // for TLS, "" when the server is an address
  Clock::time_point deadline;
  const SSL* ssl = nullptr;  // the connection it was opened on
  bool failed = false;
  int status = 0;  // the proxy's answer, 0 when it gave none
};

thread_local Tunnel* currentTunnel = nullptr;

// Waits for the socket within the deadline.
bool Ready(int fd, short events, Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT32_MAX))) == 1;
}

bool SendAll(int fd, const std::string& data, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    if (!Ready(fd, POLLOUT, deadline)) return false;
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// The proxy's answer head, read to its blank line and not a byte further: what follows is the
// server's.
bool ReadHead(int fd, std::string& head, Clock::time_point deadline) {
  char buffer[4096];
  while (head.size() < 16384) {
    if (!Ready(fd, POLLIN, deadline)) return false;
    const ssize_t seen = ::recv(fd, buffer, sizeof buffer, MSG_PEEK);
    if (seen < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (seen <= 0) return false;
    const std::string_view peeked(buffer, static_cast<std::size_t>(seen));
    std::size_t take = peeked.size();
    const std::string joined =
        head.substr(head.size() < 3 ? 0 : head.size() - 3) + std::string(peeked);
    const std::size_t end = joined.find("\r\n\r\n");
    if (end != std::string::npos) take = end + 4 - (joined.size() - peeked.size());
    const ssize_t n = ::recv(fd, buffer, take, 0);
    if (n <= 0) return false;
    head.append(buffer, static_cast<std::size_t>(n));
    if (end != std::string::npos) return true;
  }
  return false;
}

void OpenTunnel(const SSL* ssl, int where, int) {
  Tunnel* t = currentTunnel;
  if (!(where & SSL_CB_HANDSHAKE_START) || !t || t->ssl == ssl) return;
  t->ssl = ssl;
  const int fd = SSL_get_fd(ssl);
  std::string request = "CONNECT " + t->authority + " HTTP/1.1\r\nHost: " + t->authority +
                        "\r\nUser-Agent: Prescora SOAP\r\n";
  if (!t->authorization.empty()) request += "Proxy-Authorization: " + t->authorization + "\r\n";
  request += "\r\n";
  std::string head;
  if (SendAll(fd, request, t->deadline) && ReadHead(fd, head, t->deadline) &&
      head.rfind("HTTP/", 0) == 0 && head.size() > 12) {
    const std::size_t space = head.find(' ');
    t->status = std::atoi(head.c_str() + space + 1);
  }
  if (t->status < 200 || t->status > 299) {
    t->failed = true;
    ::shutdown(fd, SHUT_RDWR);  // the handshake then fails at once
    return;
  }
  SSL* own = const_cast<SSL*>(ssl);
  char* name = t->serverName.empty() ? nullptr : const_cast<char*>(t->serverName.c_str());
  SSL_set_tlsext_host_name(own, name);
}

bool Resolves(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (found) freeaddrinfo(found);
  return rc == 0;
}

constexpr int kMaxRedirects = 5;

// The head of an answer (status line and header fields) is bounded: past these a server could
// make the client keep header lines without end until the time-out. Generous for any service
// behind balancers and firewalls that add their own fields.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxHeadLines = 200;

// The head of the answer under way on this thread: counted while it is read, until the
// exchange's response handler sees it whole.
struct Head {
  std::size_t bytes = 0;
  std::size_t lines = 0;
  bool whole = false;
  bool tooLarge = false;
  // The exchange's deadline: no wait for the socket goes past it, with or without a watchdog.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

thread_local Head* currentHead = nullptr;

// A connection's bytes as the HTTP library reads them: buffered (it reads a head a byte at a
// time) and, while the head is read, counted: past its bounds the read fails, and the exchange
// with it.
class BoundedStream final : public httplib::Stream {
 public:
  BoundedStream(int fd, SSL* ssl, timeval readTimeout, timeval writeTimeout)
      : fd_(fd), ssl_(ssl), read_(readTimeout), write_(writeTimeout), head_(currentHead) {}

  bool is_readable() const override {
    return begin_ < end_ || (ssl_ && SSL_pending(ssl_) > 0) || Wait(POLLIN, read_);
  }
  bool is_writable() const override { return Wait(POLLOUT, write_); }

  ssize_t read(char* ptr, size_t size) override {
    if (begin_ == end_) {
      const ssize_t n = Fill();
      if (n <= 0) return n;
    }
    std::size_t take = std::min(size, end_ - begin_);
    if (head_ && !head_->whole) {
      head_->bytes += take;
      head_->lines +=
          static_cast<std::size_t>(std::count(buffer_ + begin_, buffer_ + begin_ + take, '\n'));
      if (head_->bytes > kMaxHeadBytes || head_->lines > kMaxHeadLines) {
        head_->tooLarge = true;
        return -1;
      }
    }
    std::memcpy(ptr, buffer_ + begin_, take);
    begin_ += take;
    return static_cast<ssize_t>(take);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    if (!ssl_) {
      ssize_t n;
      do n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
      while (n < 0 && errno == EINTR);
      return n;
    }
    const int chunk = static_cast<int>(std::min<std::size_t>(size, INT32_MAX));
    for (;;) {
      const int n = SSL_write(ssl_, ptr, chunk);
      if (n > 0) return n;
      const int error = SSL_get_error(ssl_, n);
      if ((error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) || !is_writable())
        return -1;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  socket_t socket() const override { return fd_; }

 private:
  bool Wait(short events, timeval limit) const {
    pollfd p{fd_, events, 0};
    long ms = limit.tv_sec * 1000 + limit.tv_usec / 1000;
    if (head_ && head_->deadline != std::chrono::steady_clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                            head_->deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return false;
      ms = std::min<long>(ms, static_cast<long>(left));
    }
    int n;
    do n = ::poll(&p, 1, static_cast<int>(std::min<long>(ms, INT32_MAX)));
    while (n < 0 && errno == EINTR);
    return n == 1;
  }

  ssize_t Fill() {
    begin_ = end_ = 0;
    for (;;) {
      if (!(ssl_ && SSL_pending(ssl_) > 0) && !Wait(POLLIN, read_)) return -1;
      ssize_t n;
      if (!ssl_) {
        n = ::recv(fd_, buffer_, sizeof buffer_, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
      } else {
        const int got = SSL_read(ssl_, buffer_, sizeof buffer_);
        if (got <= 0) {
          const int error = SSL_get_error(ssl_, got);
          if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) continue;
          return error == SSL_ERROR_ZERO_RETURN ? 0 : -1;
        }
        n = got;
      }
      end_ = static_cast<std::size_t>(n);
      return n;
    }
  }

  int fd_;
  SSL* ssl_;
  timeval read_, write_;
  Head* head_;
  char buffer_[4096];
  std::size_t begin_ = 0, end_ = 0;
};

// The HTTP library's client (plain or TLS) reading through a BoundedStream.
template <typename Base>
class Connection final : public Base {
 public:
  using Base::Base;

 private:
  bool process_socket(const typename Base::Socket& socket,
                      std::function<bool(httplib::Stream&)> callback) override {
    BoundedStream stream(
        socket.sock, socket.ssl,
        timeval{this->read_timeout_sec_, static_cast<suseconds_t>(this->read_timeout_usec_)},
        timeval{this->write_timeout_sec_, static_cast<suseconds_t>(this->write_timeout_usec_)});
    return callback(stream);
  }
};

}  // namespace

struct Client::Impl {
  Description description;
  bool initialised = false;
  std::string descriptionHost;  // the server the description came from, "" for a file
  std::string detail;
  // Whether the last call may have put a byte of its request on the wire.
  bool requestMayHaveLeft = false;

  ProxySettings proxy;
  int32_t timeoutMs = kDefaultTimeoutMs;
  std::string caFile;
  std::string endPoint;
  int32_t maxResponseBytes = kDefaultMaxResponseBytes;

  // The connection of the last exchange, kept open for the next one to the same server by the
  // same way (the description and then the call).
  std::unique_ptr<httplib::ClientImpl> http;
  std::string httpKey;
  std::unique_ptr<Watchdog> watchdog;  // after the client: it goes first

  std::string Scrub(std::string text) const { return proxy.Scrub(std::move(text)); }
  std::string ProxyName() const { return proxy.Name(); }

  // The client for a server by a route, reused while both stay the same.
  httplib::ClientImpl& ClientFor(const Url& url, const Route& route) {
    std::string ca = caFile;
    if (ca.empty())
      if (const char* env = std::getenv("PRESCORA_CA_FILE")) ca = env;
    std::string key = url.Origin() + "\n" + ca;
    if (route.viaProxy)
      key += "\n" + route.host + ":" + std::to_string(route.port) + "\n" + route.user + ":" +
             route.password;
    if (http && key == httpKey) return *http;
    http.reset();
    httpKey.clear();

    // HTTPS through a proxy connects to the proxy and opens the tunnel itself (OpenTunnel): the
    // library's own tunnel deadlocks on a refusal that closes the connection.
    const bool tunnel = route.viaProxy && url.scheme == "https";
    const std::string& host = tunnel ? route.host : url.host;
    const int port = tunnel ? route.port : url.port;
    std::unique_ptr<httplib::ClientImpl> client;
    SSL_CTX* ctx = nullptr;
    if (url.scheme == "https") {
      auto secure = std::make_unique<Connection<httplib::SSLClient>>(host, port);
      ctx = secure->ssl_context();
      client = std::move(secure);
    } else {
      client = std::make_unique<Connection<httplib::ClientImpl>>(host, port);
    }
    client->set_keep_alive(true);
    // The request's head and body go out in two writes: without this the body waits for the
    // server's delayed acknowledgement of the head, 40 ms on Linux.
    client->set_tcp_nodelay(true);
    client->set_url_encode(false);  // the address is sent as it was given
    client->set_follow_location(false);
    client->set_decompress(true);
    if (route.viaProxy && !tunnel) client->set_proxy(route.host, route.port);
    if (url.scheme == "https") {
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
      if (!store)
        Fail(errSoapTls, "No se pueden leer las autoridades de certificación del sistema");
      SSL_CTX_set_cert_store(ctx, store);
      // The handshake itself refuses a server whose certificate or name does not verify.
      client->enable_server_certificate_verification(false);
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
    http = std::move(client);
    httpKey = std::move(key);
    return *http;
  }

  // One HTTP exchange: a GET when `post` is null (redirections followed), else a SOAP POST.
  // `deadline` bounds the whole transfer, redirections included (by default Timeout from now).
  // The answer's `address` is the URL that gave it.
  HttpAnswer Transfer(const std::string& url, const std::string* post,
                      const std::string& soapAction,
                      std::optional<Clock::time_point> until = std::nullopt) {
    InitTransport();
    QuietPipe quiet;
    const std::string target = RedactUrl(url);
    const Clock::time_point deadline =
        until ? *until : Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!watchdog) watchdog = std::make_unique<Watchdog>();
    std::string address = url;
    Url first;
    for (int hop = 0;; ++hop) {
      Url parsed;
      if (!ParseUrl(address, parsed) || (parsed.scheme != "http" && parsed.scheme != "https"))
        Fail(errSoapTransport, "Fallo del transporte HTTP con " + target +
                                   ": dirección no válida o protocolo no admitido (" +
                                   RedactUrl(address) + ")");
      if (hop == 0) first = parsed;
      HttpAnswer answer = Exchange(parsed, post, soapAction, deadline, target);
      answer.address = address;
      const bool redirected = answer.status == 301 || answer.status == 302 ||
                              answer.status == 303 || answer.status == 307 || answer.status == 308;
      const std::string location = TrimSpaces(answer.location);
      if (post || !redirected || location.empty()) return answer;
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

  // A redirection stays with the server asked: the same host and port (or the same host's own
  // HTTPS port, when it moves from HTTP to HTTPS), never from HTTPS back to HTTP. Elsewhere the
  // description, and with it the address that receives the user's key, would be another's.
  static void CheckRedirection(const Url& first, const Url& from, const Url& to,
                               const std::string& target) {
    if (from.scheme == "https" && to.scheme != "https")
      Fail(errSoapTransport, "Fallo del transporte HTTP con " + target +
                                 ": se rechaza la redirección de https a " +
                                 RedactUrl(to.Origin()) + " (sin cifrar)");
    const bool upgraded = from.scheme == "http" && to.scheme == "https" &&
                          from.port == DefaultPort("http") && to.port == DefaultPort("https");
    if (!IEquals(to.host, first.host) || (to.port != from.port && !upgraded))
      Fail(errSoapTransport, "Fallo del transporte HTTP con " + target +
                                 ": se rechaza la redirección a otro servidor (" +
                                 RedactUrl(to.Origin()) + ")");
  }

  HttpAnswer Exchange(const Url& url, const std::string* post, const std::string& soapAction,
                      Clock::time_point deadline, const std::string& target) {
    const Route route = RouteFor(url, proxy);
    const bool viaProxy = route.viaProxy;
    const std::string proxyName = route.shown;
    httplib::ClientImpl& client = ClientFor(url, route);
    const Clock::time_point started = Clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - started);
    const auto timeout = [&] {
      Fail(errSoapTimeout, "Se agotó el tiempo de espera (" + std::to_string(timeoutMs) +
                               " ms) de la respuesta de " + target);
    };
    if (left.count() <= 0) timeout();
    client.set_connection_timeout(left.count() / 1000000, left.count() % 1000000);
    // The watchdog ends reading and writing at the deadline; these only back it up. Without one,
    // each wait ends at the deadline: the socket's waits count whole milliseconds, cut short, so
    // one more keeps a wait from ending just before it (it would not count as late).
    const std::chrono::microseconds backup =
        watchdog->Polled()
            ? std::chrono::ceil<std::chrono::milliseconds>(left) + std::chrono::milliseconds(1)
            : left + std::chrono::milliseconds(100);
    client.set_read_timeout(backup.count() / 1000000, backup.count() % 1000000);
    client.set_write_timeout(backup.count() / 1000000, backup.count() % 1000000);

    httplib::Request req;
    req.method = post ? "POST" : "GET";
    req.path = url.path;
    req.set_header("Host", url.HostHeader());
    req.set_header("User-Agent", "Prescora SOAP");
    req.set_header("Accept", "text/xml, application/xml, */*");
    // Compressed answers are welcome, but not brotli: a server that compresses each answer on the
    // fly at brotli's default (highest) quality spends several milliseconds on a few kilobytes,
    // far more than the bytes saved on the wire; gzip costs it a fraction of a millisecond.
    req.set_header("Accept-Encoding", "gzip, deflate");
    if (url.hasUser)
      req.set_header("Authorization", "Basic " + Base64(url.user + ":" + url.password));
    // Basic, sent with the first request: a proxy that refuses a request may reset the
    // connection, so a negotiation round would be lost.
    const std::string proxyAuthorization =
        route.credentials ? "Basic " + Base64(route.user + ":" + route.password) : "";
    if (viaProxy && url.scheme == "http" && route.credentials)
      req.set_header("Proxy-Authorization", proxyAuthorization);
    if (post) {
      req.set_header("Content-Type", "text/xml; charset=utf-8");
      req.set_header("SOAPAction", "\"" + soapAction + "\"");
      req.body = *post;
    }

    HttpAnswer answer;
    answer.limit = static_cast<std::size_t>(maxResponseBytes);
    bool tooLarge = false;
    // Past the deadline, the exchange ends at the next piece of the answer; the head's reads end
    // at the deadline too, so a server that sends its head slowly cannot hold a call either.
    const bool polled = watchdog->Polled();
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
        tooLarge = true;
        return false;
      }
      answer.body.append(data, n);
      return true;
    };

    Tunnel tunnel;
    tunnel.authority = url.Host() + ":" + std::to_string(url.port);
    tunnel.authorization = proxyAuthorization;
    unsigned char address[16];
    if (!url.ipv6 && !IsAddress(AF_INET, url.host, address)) tunnel.serverName = url.host;
    tunnel.deadline = deadline;
    currentTunnel = viaProxy && url.scheme == "https" ? &tunnel : nullptr;
    currentHead = &head;
    tlsVerifyError = X509_V_OK;
    ERR_clear_error();
    // A request that must not go twice (a call of the service) never goes over a connection kept
    // from an earlier exchange: the server may have closed it meanwhile, and then the request
    // fails with nobody able to tell whether it was seen. It gets a connection of its own.
    if (req.method == "POST") client.stop();
    watchdog->Arm(&client, deadline);
    httplib::Result result = [&] {
      try {
        return client.send(req);
      } catch (...) {
        watchdog->Disarm();  // it must not stop a client that may be gone
        currentTunnel = nullptr;
        currentHead = nullptr;
        throw;
      }
    }();
    const bool fired = watchdog->Disarm();
    currentTunnel = nullptr;
    currentHead = nullptr;
    const int connectStatus = tunnel.failed ? tunnel.status : 0;
    const httplib::Error error = result.error();
    // The request is written only over a connection made, tunnelled and secured: a failure of
    // any of those leaves it unsent. Anything later (a write, a read, a time-out) may not.
    if (post)
      requestMayHaveLeft =
          !tunnel.failed &&
          !(error == httplib::Error::Connection || error == httplib::Error::ConnectionTimeout ||
            error == httplib::Error::SSLConnection || error == httplib::Error::SSLLoadingCerts ||
            error == httplib::Error::SSLServerVerification);
    if (result) {
      answer.status = result->status;
      answer.charset = Charset(result->get_header_value("Content-Type"));
      answer.location = result->get_header_value("Location");
    }
    const bool late = fired || Clock::now() >= deadline;
    if (head.tooLarge)
      Fail(errSoapTransport, "La respuesta de " + target +
                                 " trae una cabecera HTTP demasiado grande (más de " +
                                 std::to_string(kMaxHeadLines) + " líneas o " +
                                 std::to_string(kMaxHeadBytes) + " bytes)");

    // A proxy that refuses a request often closes the connection without reading the body, so
    // the refusal may come with a reset: the status read before it still tells.
    if (connectStatus == 407 || answer.status == 407 || (viaProxy && answer.status == 401))
      Fail(errSoapProxy, "El servidor proxy " + proxyName + " rechazó las credenciales (HTTP " +
                             std::to_string(connectStatus == 407 ? 407 : answer.status) + ")");
    if (tunnel.failed && !late && connectStatus != 0)
      Fail(errSoapProxy, "El servidor proxy " + proxyName + " no abrió la conexión con " + target +
                             " (HTTP " + std::to_string(connectStatus) + ")");
    if (tunnel.failed && !late)
      Fail(errSoapProxy,
           "El servidor proxy " + proxyName + " cerró la conexión sin responder: conexión cerrada");
    if (result) return answer;

    if (tooLarge)
      Fail(errSoapTransport, "La respuesta de " + target + " es demasiado grande (más de " +
                                 std::to_string(maxResponseBytes) + " bytes)");
    const bool dropped = error == httplib::Error::Read || error == httplib::Error::Write;
    if (late && (dropped || error == httplib::Error::Connection ||
                 error == httplib::Error::ConnectionTimeout || error == httplib::Error::Canceled ||
                 error == httplib::Error::SSLConnection))
      timeout();
    if (error == httplib::Error::ConnectionTimeout) timeout();
    if (dropped && answer.status >= 300)
      Fail(errSoapHttpStatus,
           "El servidor " + target + " respondió HTTP " + std::to_string(answer.status));
    switch (error) {
      case httplib::Error::SSLConnection:
      case httplib::Error::SSLLoadingCerts:
      case httplib::Error::SSLServerVerification: {
        std::string why;
        if (tlsVerifyError != X509_V_OK) {
          why = X509_verify_cert_error_string(tlsVerifyError);
        } else if (const unsigned long code = ERR_peek_last_error()) {
          char text[256];
          ERR_error_string_n(code, text, sizeof text);
          why = text;
        } else {
          why = "la negociación no se completó";
        }
        ERR_clear_error();
        Fail(errSoapTls,
             "Fallo de la conexión segura (TLS) con " + target +
                 ": no se pudo verificar el servidor o negociar la conexión: " + Scrub(why));
      }
      case httplib::Error::Read:
      case httplib::Error::Write:
        if (viaProxy)
          Fail(errSoapProxy, "El servidor proxy " + proxyName +
                                 " cerró la conexión sin responder: conexión cerrada");
        Fail(errSoapTransport, "El servidor " + target +
                                   " cerró la conexión: conexión cerrada sin respuesta completa");
      case httplib::Error::Success:  // a name that does not resolve ends the attempt unmarked
      case httplib::Error::Unknown:
      case httplib::Error::Connection: {
        const std::string host = viaProxy ? route.host : url.host;
        if (!Resolves(host)) {
          requestMayHaveLeft = false;
          if (viaProxy)
            Fail(errSoapProxy, "No se encuentra el servidor proxy " + proxyName +
                                   ": no se puede resolver el nombre " + host);
          Fail(errSoapHostNotFound, "No se encuentra el servidor de " + target +
                                        ": no se puede resolver el nombre " + host);
        }
        if (viaProxy)
          Fail(errSoapProxy, "No se puede conectar con el servidor proxy " + proxyName +
                                 " (conexión rechazada o inaccesible)");
        Fail(errSoapConnectionRefused,
             "No se puede conectar con " + target + " (conexión rechazada o inaccesible)");
      }
      default:
        Fail(errSoapTransport,
             "Fallo del transporte HTTP con " + target + ": " + httplib::to_string(error));
    }
  }

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
  const std::string trimmed = Trim(location);
  if (trimmed.empty())
    Fail(errSoapDescriptionUnreachable, "No se ha indicado la ubicación de la descripción WSDL");
  // Download and reading together within Timeout: a description built to be slow to read must
  // not hold the caller longer than a slow server could.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(d.timeoutMs);
  const auto expired = [&] {
    if (Clock::now() >= deadline)
      Fail(errSoapTimeout, "No se puede leer la descripción WSDL " + where +
                               ": se agotó el tiempo de espera (" + std::to_string(d.timeoutMs) +
                               " ms)");
  };

  xml::Document doc;
  bool secure = false;
  if (IStartsWith(trimmed, "http://") || IStartsWith(trimmed, "https://")) {
    HttpAnswer answer;
    try {
      answer = d.Transfer(trimmed, nullptr, "", deadline);
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
    d.proxy.use = ToBool(name, value);
  } else if (IEquals(name, "ProxyServer")) {
    d.proxy.server = Trim(ToText(value));
  } else if (IEquals(name, "ProxyPort")) {
    d.proxy.port = ToInt(name, value, 0, 65535);
  } else if (IEquals(name, "ProxyUser")) {
    d.proxy.user = ToText(value);
  } else if (IEquals(name, "ProxyPassword")) {
    d.proxy.password = ToText(value);
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
  d.requestMayHaveLeft = false;
  if (!d.initialised)
    Fail(errSoapNotInitialised, "El cliente SOAP no se ha iniciado con una descripción WSDL");
  const Operation& op = d.Find(operation);
  const std::string request = BuildEnvelope(op, argument);
  const std::string url = d.endPoint.empty() ? d.description.address : d.endPoint;
  const std::string target = RedactUrl(url);

  HttpAnswer answer = d.Transfer(url, &request, op.soapAction);
  return ReadAnswer(answer.status, answer.body, answer.charset, target, d.detail);
}

std::string Client::detail() const {
  return impl_->detail;
}

bool Client::RequestMayHaveLeft() const {
  return impl_->requestMayHaveLeft;
}

}  // namespace PRESCORA_NS::platform::soap
