// How a request of the SOAP client reaches its server: direct, or through an HTTP proxy, the
// connector's or the environment's. Internal to the client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/platform/soapurl.h"

namespace PRESCORA_NS::platform::soap {

inline constexpr int32_t kDefaultProxyPort = 8080;
inline constexpr int kEnvironmentProxyPort = 1080;  // curl's, for a proxy variable without port

// The connector's proxy properties.
struct ProxySettings {
  std::optional<bool> use;  // UseProxy; unset leaves the decision to the environment
  std::string server{};
  int32_t port = kDefaultProxyPort;
  std::string user{};
  std::string password{};

  // Any text that reaches a message: the password never does.
  std::string Scrub(std::string text) const;
  // The proxy as messages name it.
  std::string Name() const;
};

struct Route {
  bool viaProxy = false;
  std::string host;
  int port = 0;
  bool credentials = false;
  std::string user, password;
  std::string shown;  // the proxy as messages name it, without its user information
};

// Whether a no_proxy list exempts `url`'s host, by the rules curl applies: "*" alone for every
// host; a name matches itself and its subdomains, without regard to case (leading and trailing
// dots ignored); an address matches an address or a network in CIDR form. Entries are separated
// by commas, spaces or tabs.
bool Exempt(const Url& url, const std::string& list);

// The proxy of a request: the connector's once UseProxy is set, else the environment's as curl
// reads it (http_proxy, never HTTP_PROXY, which a CGI request could set; https_proxy or
// HTTPS_PROXY; then all_proxy or ALL_PROXY; no_proxy or NO_PROXY exempting hosts). Raises
// errSoapProxy when the proxy named is not a valid HTTP proxy.
Route RouteFor(const Url& url, const ProxySettings& settings);

}  // namespace PRESCORA_NS::platform::soap
