#include "common/platform/soapwire.h"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace PRESCORA_NS::platform::soap {

namespace {

thread_local Head* currentHead = nullptr;
thread_local Tunnel* currentTunnel = nullptr;

constexpr std::size_t kMaxProxyHeadBytes = 16384;

}  // namespace

bool Ready(int fd, short events, Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT32_MAX))) == 1;
}

bool SendAll(int fd, std::string_view data, Clock::time_point deadline) {
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

bool ReadProxyHead(int fd, std::string& head, Clock::time_point deadline) {
  char buffer[4096];
  while (head.size() < kMaxProxyHeadBytes) {
    if (!Ready(fd, POLLIN, deadline)) return false;
    const ssize_t seen = ::recv(fd, buffer, sizeof buffer, MSG_PEEK);
    if (seen < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (seen <= 0) return false;
    // Only up to the blank line is taken, which may begin in what was read before.
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

QuietPipe::QuietPipe() {
  sigemptyset(&pipe_);
  sigaddset(&pipe_, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  sigset_t pending;
  sigpending(&pending);
  wasPending_ = sigismember(&pending, SIGPIPE) == 1;
}

QuietPipe::~QuietPipe() {
  sigset_t pending;
  sigpending(&pending);
  if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
    const timespec none{};
    sigtimedwait(&pipe_, nullptr, &none);
  }
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

ExchangeScope::ExchangeScope(Head* head, Tunnel* tunnel) {
  currentHead = head;
  currentTunnel = tunnel;
}

ExchangeScope::~ExchangeScope() {
  currentHead = nullptr;
  currentTunnel = nullptr;
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
  if (SendAll(fd, request, t->deadline) && ReadProxyHead(fd, head, t->deadline) &&
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

BoundedStream::BoundedStream(int fd, SSL* ssl, timeval readTimeout, timeval writeTimeout)
    : fd_(fd), ssl_(ssl), read_(readTimeout), write_(writeTimeout), head_(currentHead) {}

bool BoundedStream::is_readable() const {
  return begin_ < end_ || (ssl_ && SSL_pending(ssl_) > 0) || Wait(POLLIN, read_);
}

bool BoundedStream::is_writable() const {
  return Wait(POLLOUT, write_);
}

ssize_t BoundedStream::read(char* ptr, size_t size) {
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

ssize_t BoundedStream::write(const char* ptr, size_t size) {
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

void BoundedStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  ip.clear();
  port = 0;
}

void BoundedStream::get_local_ip_and_port(std::string& ip, int& port) const {
  ip.clear();
  port = 0;
}

bool BoundedStream::Wait(short events, timeval limit) const {
  pollfd p{fd_, events, 0};
  long ms = limit.tv_sec * 1000 + limit.tv_usec / 1000;
  if (head_ && head_->deadline != Clock::time_point::max()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(head_->deadline - Clock::now()).count();
    if (left <= 0) return false;
    ms = std::min<long>(ms, static_cast<long>(left));
  }
  int n;
  do n = ::poll(&p, 1, static_cast<int>(std::min<long>(ms, INT32_MAX)));
  while (n < 0 && errno == EINTR);
  return n == 1;
}

ssize_t BoundedStream::Fill() {
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

namespace {

template <typename Base>
class Bounded final : public Base {
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

Connection OpenConnection(bool secure, const std::string& host, int port) {
  Connection c;
  if (secure) {
    auto client = std::make_unique<Bounded<httplib::SSLClient>>(host, port);
    c.tls = client->ssl_context();
    c.client = std::move(client);
  } else {
    c.client = std::make_unique<Bounded<httplib::ClientImpl>>(host, port);
  }
  return c;
}

}  // namespace PRESCORA_NS::platform::soap
