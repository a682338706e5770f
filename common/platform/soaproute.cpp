#include "common/platform/soaproute.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common/platform/soap.h"
#include "common/platform/soapbase.h"

namespace PRESCORA_NS::platform::soap {

namespace {

constexpr const char* kMask = "********";

}  // namespace

std::string ProxySettings::Scrub(std::string text) const {
  if (password.empty()) return text;
  for (std::size_t at = text.find(password); at != std::string::npos;
       at = text.find(password, at + std::strlen(kMask)))
    text.replace(at, password.size(), kMask);
  return text;
}

std::string ProxySettings::Name() const {
  return Scrub(RedactUrl(server)) + ":" + std::to_string(port);
}

namespace {

// A no_proxy entry against a host name: the name itself or a domain above it, without regard to
// case, leading and trailing dots ignored.
bool NameMatches(std::string_view name, std::string token) {
  if (!token.empty() && token.back() == '.') token.pop_back();
  if (!token.empty() && token[0] == '.') token.erase(0, 1);
  if (token.empty()) return false;
  if (IEquals(token, name)) return true;
  return token.size() < name.size() && name[name.size() - token.size() - 1] == '.' &&
         IEquals(token, name.substr(name.size() - token.size()));
}

// A no_proxy entry against an address of `family`: the address itself, or a network in CIDR form
// that holds it (an IPv6 entry may come in brackets).
bool AddressMatches(int family, const unsigned char* address, std::string token) {
  if (family == AF_INET6 && token.front() == '[') {
    const std::size_t close = token.find(']');
    token = token.substr(1, close == std::string::npos ? std::string::npos : close - 1) +
            (close != std::string::npos ? token.substr(close + 1) : "");
  }
  const int size = family == AF_INET ? 32 : 128;
  int bits = size;
  const std::size_t slash = token.find('/');
  if (slash != std::string::npos) {
    bits = std::atoi(token.c_str() + slash + 1);
    token.resize(slash);
    if (bits <= 0 || bits > size) bits = size;
  }
  unsigned char network[16];
  if (!IsAddress(family, token, network)) return false;
  const int bytes = bits / 8, rest = bits % 8;
  if (std::memcmp(address, network, static_cast<std::size_t>(bytes)) != 0) return false;
  return !(rest && ((address[bytes] ^ network[bytes]) & (0xff00 >> rest) & 0xff));
}

}  // namespace

bool Exempt(const Url& url, const std::string& list) {
  if (Trim(list) == "*") return true;
  unsigned char address[16] = {};
  const int family = url.ipv6 ? AF_INET6 : IsAddress(AF_INET, url.host, address) ? AF_INET : 0;
  // A bracketed host that is no address has none to compare: no entry but "*" exempts it.
  if (family && !IsAddress(family, url.host, address)) return false;
  std::string name = url.host;
  if (!family && !name.empty() && name.back() == '.') name.pop_back();
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = list.find_first_of(", \t", at);
    std::string token = list.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? list.size() : end + 1;
    if (token.empty()) continue;
    if (family ? AddressMatches(family, address, std::move(token)) : NameMatches(name, token))
      return true;
  }
  return false;
}

namespace {

// The environment's value of a variable, nothing when unset or empty.
const char* Environment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

}  // namespace

Route RouteFor(const Url& url, const ProxySettings& settings) {
  Route route;
  Url proxy;
  if (settings.use.has_value()) {
    if (!*settings.use) return route;  // direct, whatever the environment says
    if (Trim(settings.server).empty())
      Fail(errSoapProxy, "No se ha indicado el servidor proxy (ProxyServer)");
    if (!ParseUrl(settings.server, proxy, "http", settings.port) || proxy.scheme != "http")
      Fail(errSoapProxy, "El servidor proxy " + settings.Name() + " no es válido");
    route.shown = settings.Name();
    if (!settings.user.empty()) {
      route.credentials = true;
      route.user = settings.user;
      route.password = settings.password;
    }
  } else {
    const std::string own = url.scheme + "_proxy";
    std::string upper = own;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const char* value = Environment(own.c_str());
    if (!value && url.scheme != "http") value = Environment(upper.c_str());
    if (!value) value = Environment("all_proxy");
    if (!value) value = Environment("ALL_PROXY");
    if (!value) return route;
    const char* exempt = Environment("no_proxy");
    if (!exempt) exempt = Environment("NO_PROXY");
    if (exempt && Exempt(url, exempt)) return route;
    route.shown = RedactUrl(value);
    if (!ParseUrl(Trim(value), proxy, "http", kEnvironmentProxyPort) || proxy.scheme != "http")
      Fail(errSoapProxy, "El servidor proxy " + route.shown + " no es válido");
  }
  if (proxy.hasUser && !route.credentials) {
    route.credentials = true;
    route.user = proxy.user;
    route.password = proxy.password;
  }
  route.viaProxy = true;
  route.host = proxy.host;
  route.port = proxy.port;
  return route;
}

}  // namespace PRESCORA_NS::platform::soap
