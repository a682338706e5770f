// The SOAP client's transport: where a redirection may lead, and which exchanges may share a
// connection.
#include "common/platform/soaptransport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "common/platform/errors.h"
#include "common/platform/soap.h"
#include "support/ProxyOnlyService.h"

namespace soap = PRESCORA_NS::platform::soap;
using PRESCORA_NS::platform::Failure;

namespace {

soap::Url Parsed(const char* text) {
  soap::Url url;
  EXPECT_TRUE(soap::ParseUrl(text, url)) << text;
  return url;
}

TEST(SoapTransport, RedirectionsStayWithTheServerAsked) {
  struct Row {
    const char* from;
    const char* to;
    bool allowed;
  } rows[] = {
      {"http://svc.example/a", "http://svc.example/b", true},
      {"http://svc.example/a", "http://SVC.example/b", true},
      {"https://svc.example/a", "https://svc.example:443/b", true},
      // Up to the same host's own HTTPS port, from its own HTTP port only.
      {"http://svc.example/a", "https://svc.example/b", true},
      {"http://svc.example:8080/a", "https://svc.example/b", false},
      {"http://svc.example/a", "https://svc.example:8443/b", false},
      // Never down to plain HTTP, never elsewhere.
      {"https://svc.example/a", "http://svc.example/b", false},
      {"https://svc.example/a", "http://svc.example:443/b", false},
      {"http://svc.example/a", "http://other.example/b", false},
      {"http://svc.example/a", "http://svc.example.other.example/b", false},
      {"http://svc.example/a", "http://svc.example:81/b", false},
      {"http://127.0.0.1/a", "http://[::1]/b", false},
  };
  for (const Row& row : rows) {
    const soap::Url from = Parsed(row.from);
    bool allowed = true;
    try {
      soap::CheckRedirection(from, from, Parsed(row.to), row.from);
    } catch (const Failure& f) {
      allowed = false;
      EXPECT_EQ(f.Number(), soap::errSoapTransport);
    }
    EXPECT_EQ(allowed, row.allowed) << row.from << " -> " << row.to;
  }
  // The host is the first address's, whatever hops came between.
  EXPECT_THROW(soap::CheckRedirection(Parsed("http://a.example/"), Parsed("http://a.example/"),
                                      Parsed("http://b.example/"), "x"),
               Failure);
}

TEST(SoapTransport, ACallNeverGoesOverAKeptConnection) {
  httplib::Server server;
  std::mutex mutex;
  std::set<int> connections;  // the clients' ports
  server.Get("/wsdl", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex);
    connections.insert(req.remote_port);
    res.set_content("<d/>", "text/xml");
  });
  server.Post("/svc", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex);
    connections.insert(req.remote_port);
    res.set_content("<a/>", "text/xml");
  });
  const int port = proxy_only::FreePort();
  std::thread serving([&] { server.listen("127.0.0.1", port); });
  ASSERT_TRUE(proxy_only::Listening(port));
  const std::string base = "http://127.0.0.1:" + std::to_string(port);

  {
    soap::Transport transport;
    transport.proxy.use = false;
    const auto deadline = [] { return soap::Clock::now() + std::chrono::seconds(10); };
    EXPECT_EQ(transport.Get(base + "/wsdl", deadline()).status, 200);
    EXPECT_EQ(transport.Get(base + "/wsdl", deadline()).status, 200);
    EXPECT_EQ(connections.size(), 1u) << "downloads share the kept connection";
    bool mayHaveLeft = false;
    EXPECT_EQ(transport.Post(base + "/svc", "<e/>", "", mayHaveLeft).status, 200);
    EXPECT_TRUE(mayHaveLeft);
    EXPECT_EQ(transport.Post(base + "/svc", "<e/>", "", mayHaveLeft).status, 200);
    EXPECT_EQ(connections.size(), 3u) << "each call on a connection of its own";
  }  // its kept connection closed: the server need not wait it out
  server.stop();
  serving.join();
}

}  // namespace
