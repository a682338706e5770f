// The SOAP client's bytes on a socket: the proxy's answer head read to its end and no further,
// answer heads bounded and ended at their deadline, SIGPIPE kept from the host.
#include "common/platform/soapwire.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace soap = PRESCORA_NS::platform::soap;
using namespace std::chrono_literals;

namespace {

struct SocketPair {
  int ours = -1, peer = -1;
  SocketPair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) ours = fds[0], peer = fds[1];
  }
  ~SocketPair() {
    if (ours >= 0) close(ours);
    ClosePeer();
  }
  void ClosePeer() {
    if (peer >= 0) close(peer);
    peer = -1;
  }
  std::string Rest() const {
    char buffer[64];
    const ssize_t n = recv(ours, buffer, sizeof buffer, MSG_DONTWAIT);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }
};

TEST(SoapWire, ProxyHeadIsReadToItsBlankLineAndNotAByteFurther) {
  struct Row {
    std::vector<std::string> pieces;  // sent apart, a little time between them
    bool closeAfter;
    bool read;
    const char* head;
    const char* rest;  // what stays for the server's side
  } rows[] = {
      {{"HTTP/1.1 200 OK\r\n\r\nSERVER"}, false, true, "HTTP/1.1 200 OK\r\n\r\n", "SERVER"},
      // The blank line split between two pieces, in every place it can be.
      {{"HTTP/1.1 200 OK\r\nVia: p\r\n\r", "\nTLS"},
       false,
       true,
       "HTTP/1.1 200 OK\r\nVia: p\r\n\r\n",
       "TLS"},
      {{"HTTP/1.1 200 OK\r\n", "\r\nTLS"}, false, true, "HTTP/1.1 200 OK\r\n\r\n", "TLS"},
      {{"HTTP/1.1 200 OK\r", "\n\r\nTLS"}, false, true, "HTTP/1.1 200 OK\r\n\r\n", "TLS"},
      {{"HTTP/1.1 200 OK\r\n", "X: y\r\n", "\r\n"},
       false,
       true,
       "HTTP/1.1 200 OK\r\nX: y\r\n\r\n",
       ""},
      // A proxy that closes or falls silent before the end.
      {{"HTTP/1.1 200 OK\r\n"}, true, false, "", ""},
      {{"HTTP/1.1 200 OK\r\n"}, false, false, "", ""},
  };
  for (const Row& row : rows) {
    SocketPair pair;
    std::thread proxy([&] {
      for (const std::string& piece : row.pieces) {
        send(pair.peer, piece.data(), piece.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(30ms);
      }
      if (row.closeAfter) pair.ClosePeer();
    });
    std::string head;
    const bool read = soap::ReadProxyHead(pair.ours, head, soap::Clock::now() + 500ms);
    proxy.join();
    EXPECT_EQ(read, row.read) << row.pieces.front();
    if (!row.read) continue;
    EXPECT_EQ(head, row.head);
    EXPECT_EQ(pair.Rest(), row.rest);
  }
}

// Reads through a BoundedStream, as the HTTP library reads an answer's head, until it fails or
// `want` bytes have come.
ssize_t ReadHead(int fd, soap::Head& head, std::size_t want) {
  const soap::ExchangeScope scope(&head, nullptr);
  soap::BoundedStream stream(fd, nullptr, timeval{60, 0}, timeval{60, 0});
  std::size_t got = 0;
  char buffer[512];
  while (got < want) {
    const ssize_t n = stream.read(buffer, sizeof buffer);
    if (n <= 0) return n;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

TEST(SoapWire, AnswerHeadsAreBoundedAndEndAtTheirDeadline) {
  struct Row {
    std::size_t lines, lineBytes;
    bool tooLarge;
  } rows[] = {
      {soap::kMaxHeadLines, 10, false},
      {soap::kMaxHeadLines + 1, 10, true},
      {1, soap::kMaxHeadBytes - 1, false},
      {1, soap::kMaxHeadBytes + 1, true},
  };
  for (const Row& row : rows) {
    SocketPair pair;
    std::string text;
    for (std::size_t i = 0; i < row.lines; ++i) text += std::string(row.lineBytes - 1, 'x') + "\n";
    std::thread server([&] { send(pair.peer, text.data(), text.size(), MSG_NOSIGNAL); });
    soap::Head head;
    const ssize_t n = ReadHead(pair.ours, head, text.size());
    server.join();
    EXPECT_EQ(head.tooLarge, row.tooLarge) << row.lines << " x " << row.lineBytes;
    EXPECT_EQ(n < 0, row.tooLarge);
  }

  // A head already whole is the body's: no longer counted.
  SocketPair pair;
  const std::string body(soap::kMaxHeadBytes * 2, 'b');
  std::thread server([&] { send(pair.peer, body.data(), body.size(), MSG_NOSIGNAL); });
  soap::Head whole;
  whole.whole = true;
  EXPECT_EQ(ReadHead(pair.ours, whole, body.size()), static_cast<ssize_t>(body.size()));
  server.join();

  // A silent server: the wait ends at the head's deadline, not at the minute-long read time-out.
  soap::Head late;
  late.deadline = soap::Clock::now() + 100ms;
  EXPECT_EQ(ReadHead(pair.ours, late, 1), -1);
}

TEST(SoapWire, QuietPipeKeepsSigpipeFromTheHostAndLeavesItsOwnPending) {
  struct sigaction none {
  }, old{};
  none.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &none, &old);  // the default action ends the process
  const auto pending = [] {
    sigset_t set;
    sigpending(&set);
    return sigismember(&set, SIGPIPE) == 1;
  };
  {
    SocketPair pair;
    pair.ClosePeer();
    const soap::QuietPipe quiet;
    EXPECT_EQ(write(pair.ours, "x", 1), -1);  // raises SIGPIPE, held
  }
  EXPECT_FALSE(pending()) << "the write's SIGPIPE is taken back";

  // One the host had pending before stays its own.
  sigset_t pipe, previous;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &previous);
  pthread_kill(pthread_self(), SIGPIPE);
  { const soap::QuietPipe quiet; }
  EXPECT_TRUE(pending());
  const timespec now{};
  sigtimedwait(&pipe, nullptr, &now);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  sigaction(SIGPIPE, &old, nullptr);
}

}  // namespace
