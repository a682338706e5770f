// The bytes of the SOAP client's connections: socket waits that end at a deadline, the proxy's
// tunnel for HTTPS, and the stream through which the HTTP library reads an answer, its head
// bounded. Internal to the client.
#pragma once

#include <httplib.h>
#include <openssl/ssl.h>
#include <signal.h>

#include <sys/time.h>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace PRESCORA_NS::platform::soap {

using Clock = std::chrono::steady_clock;

// Waits until the socket is ready for `events`; false once the deadline is reached.
bool Ready(int fd, short events, Clock::time_point deadline);
// Sends the whole of `data` within the deadline.
bool SendAll(int fd, std::string_view data, Clock::time_point deadline);
// A proxy's answer head, read to its blank line and not a byte further: what follows is the
// server's. False when the peer closes, the deadline passes or the head exceeds 16 KiB.
bool ReadProxyHead(int fd, std::string& head, Clock::time_point deadline);

// Writing to a connection the peer has closed raises SIGPIPE, which would end the host program;
// the TLS library writes without the flag that prevents it. So the thread blocks it while this
// lives, and takes back any it raised.
class QuietPipe {
 public:
  QuietPipe();
  ~QuietPipe();
  QuietPipe(const QuietPipe&) = delete;
  QuietPipe& operator=(const QuietPipe&) = delete;

 private:
  sigset_t pipe_{}, old_{};
  bool wasPending_ = false;
};

// The head of an answer (status line and header fields) is bounded: past these a server could
// make the client keep header lines without end until the time-out. Generous for any service
// behind balancers and firewalls that add their own fields.
inline constexpr std::size_t kMaxHeadBytes = 64 * 1024;
inline constexpr std::size_t kMaxHeadLines = 200;

// The head of an answer under way: counted while it is read, until the exchange's response
// handler marks it whole.
struct Head {
  std::size_t bytes = 0;
  std::size_t lines = 0;
  bool whole = false;
  bool tooLarge = false;
  // The exchange's deadline: no wait for the socket goes past it, with or without a watchdog.
  Clock::time_point deadline = Clock::time_point::max();
};

// HTTPS through a proxy. The client connects to the proxy as if it were the server; as the TLS
// handshake starts, on that connection, OpenTunnel asks the proxy for a tunnel to the server
// (with the proxy's credentials, Basic, on the first request) and names the server for TLS. A
// refusal ends the connection there, and the exchange tells the proxy's answer.
struct Tunnel {
  std::string authority;      // host:port of the server
  std::string authorization;  // the Proxy-Authorization value, "" for none
  std::string serverName;     // for TLS, "" when the server is an address
  Clock::time_point deadline;
  const SSL* ssl = nullptr;  // the connection it was opened on
  bool failed = false;
  int status = 0;  // the proxy's answer, 0 when it gave none
};

// What the connections this thread opens while it lives attach to: the head they count (and
// whose deadline bounds their waits) and the tunnel the handshake opens, each null for none.
// The HTTP library opens its streams deep inside a send, where no argument reaches.
class ExchangeScope {
 public:
  ExchangeScope(Head* head, Tunnel* tunnel);
  ~ExchangeScope();
  ExchangeScope(const ExchangeScope&) = delete;
  ExchangeScope& operator=(const ExchangeScope&) = delete;
};

// The TLS library's information callback that opens the tunnel of this thread's ExchangeScope as
// a handshake starts.
void OpenTunnel(const SSL* ssl, int where, int ret);

// A connection's bytes as the HTTP library reads them: buffered (it reads a head a byte at a
// time) and, while the head of this thread's ExchangeScope is read, counted: past its bounds the
// read fails, and the exchange with it.
class BoundedStream final : public httplib::Stream {
 public:
  BoundedStream(int fd, SSL* ssl, timeval readTimeout, timeval writeTimeout);

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return fd_; }

 private:
  bool Wait(short events, timeval limit) const;
  ssize_t Fill();

  int fd_;
  SSL* ssl_;
  timeval read_, write_;
  Head* head_;
  char buffer_[4096];
  std::size_t begin_ = 0, end_ = 0;
};

// The HTTP library's client for a server, plain or TLS, reading through a BoundedStream.
struct Connection {
  std::unique_ptr<httplib::ClientImpl> client;
  SSL_CTX* tls = nullptr;  // the TLS client's context; null for plain HTTP or when it failed
};
Connection OpenConnection(bool secure, const std::string& host, int port);

}  // namespace PRESCORA_NS::platform::soap
