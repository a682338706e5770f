// A service that answers only what comes through a proxy, as on a pharmacy network that reaches
// the regional service only through one: tinyproxy on a loopback port, and before the simulator
// a gate that forwards the requests tinyproxy passed on (its Via header) and refuses any other,
// the description's download included.
#pragma once

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "common/TempFolder.h"

namespace proxy_only {

inline int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

inline bool Listening(int port) {
  for (int i = 0; i < 500; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

constexpr const char* kProxyName = "prescora-proxy";

class Tinyproxy {
 public:
  Tinyproxy() {
    port_ = FreePort();
    const std::string conf = folder_ / "tinyproxy.conf";
    std::ofstream(conf) << "Port " << port_
                        << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
                           "LogLevel Critical\nViaProxyName \""
                        << kProxyName << "\"\n";
    pid_ = fork();
    if (pid_ == 0) {
      std::freopen("/dev/null", "w", stdout);
      std::freopen("/dev/null", "w", stderr);
      execlp("tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ready_ = Listening(port_);
  }
  ~Tinyproxy() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

  bool Ready() const { return ready_; }
  int Port() const { return port_; }

 private:
  TempFolder folder_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool ready_ = false;
};

// Forwards to `service` (scheme://host:port) what came through the proxy, under its own Host
// named `name`, so that the description's address names the gate by that name; answers anything
// else 403.
class Gate {
 public:
  explicit Gate(const std::string& service, const std::string& name = "127.0.0.1")
      : service_(service), name_(name) {
    port_ = server_.bind_to_any_port("127.0.0.1");
    const auto forward = [this](const httplib::Request& req, httplib::Response& res) {
      if (req.get_header_value("Via").find(kProxyName) == std::string::npos) {
        ++refused_;
        res.status = 403;
        return;
      }
      ++forwarded_;
      httplib::Client client(service_);
      httplib::Headers headers{{"Host", name_ + ":" + std::to_string(port_)}};
      if (req.has_header("SOAPAction"))
        headers.emplace("SOAPAction", req.get_header_value("SOAPAction"));
      auto answer = req.method == "POST" ? client.Post(req.target, headers, req.body,
                                                       req.get_header_value("Content-Type"))
                                         : client.Get(req.target, headers);
      if (!answer) {
        res.status = 502;
        return;
      }
      res.status = answer->status;
      res.set_content(answer->body, answer->get_header_value("Content-Type"));
    };
    server_.Get(".*", forward);
    server_.Post(".*", forward);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    Listening(port_);
  }
  ~Gate() {
    server_.stop();
    thread_.join();
  }
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/wsdl"; }
  // Where the description sends the calls.
  std::string Address() const { return "http://" + name_ + ":" + std::to_string(port_); }
  int Refused() const { return refused_; }
  int Forwarded() const { return forwarded_; }

 private:
  std::string service_, name_;
  httplib::Server server_;
  int port_ = 0;
  std::atomic<int> refused_{0}, forwarded_{0};
  std::thread thread_;
};

}  // namespace proxy_only
