// Addresses of the SOAP client: parsing a URL, following a redirection, naming one in a message
// without its user information. Internal to the client.
#pragma once

#include <string>
#include <string_view>

namespace PRESCORA_NS::platform::soap {

struct Url {
  std::string scheme;  // lower case
  std::string host;    // an IPv6 address without its brackets
  bool ipv6 = false;
  int port = 0;
  bool hasUser = false;
  std::string user, password;  // decoded
  std::string path;            // with the query; "/" when none

  std::string Host() const { return ipv6 ? "[" + host + "]" : host; }
  std::string Origin() const { return scheme + "://" + Host() + ":" + std::to_string(port); }
  // The Host header: the port only when it is not the scheme's own.
  std::string HostHeader() const {
    const bool usual = (scheme == "http" && port == 80) || (scheme == "https" && port == 443);
    return usual ? Host() : Host() + ":" + std::to_string(port);
  }
};

int DefaultPort(const std::string& scheme);

// scheme://[user[:password]@]host[:port][/path][?query][#fragment]. Without a scheme,
// `defaultScheme` applies (proxies); `defaultPort` 0 takes the scheme's own. False for an address
// with control characters or white space, without host, or with a port out of range.
bool ParseUrl(std::string_view text, Url& url, const char* defaultScheme = nullptr,
              int defaultPort = 0);

// The address a redirection's Location leads to, from the one that answered it: absolute as it
// is, else resolved against `from` with its "." and ".." segments taken out.
std::string Follow(const Url& from, std::string location);

// Whether `text` is an address of `family` (AF_INET, AF_INET6), written to `out` when it is.
bool IsAddress(int family, const std::string& text, unsigned char* out);

// The URL without its user information, for messages.
std::string RedactUrl(const std::string& url);

}  // namespace PRESCORA_NS::platform::soap
