#include "common/platform/soapurl.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "common/platform/soapbase.h"
#include "common/platform/text.h"

namespace PRESCORA_NS::platform::soap {

std::string RedactUrl(const std::string& url) {
  return text::MaskUserInfo(url);
}

namespace {

std::string PercentDecode(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

int DefaultPort(const std::string& scheme) {
  return scheme == "https" ? 443 : 80;
}

bool ParseUrl(std::string_view text, Url& url, const char* defaultScheme, int defaultPort) {
  if (!Clean(text)) return false;
  std::string_view rest = text;
  const std::size_t sep = rest.find("://");
  if (sep != std::string_view::npos) {
    url.scheme = std::string(rest.substr(0, sep));
    rest.remove_prefix(sep + 3);
  } else if (defaultScheme) {
    url.scheme = defaultScheme;
  } else {
    return false;
  }
  std::transform(url.scheme.begin(), url.scheme.end(), url.scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  rest.remove_prefix(authority.size());
  std::string_view path = rest.substr(0, rest.find('#'));
  url.path = path.empty() ? "/" : path[0] == '?' ? "/" + std::string(path) : std::string(path);

  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view info = authority.substr(0, at);
    const std::size_t colon = info.find(':');
    url.hasUser = true;
    url.user = PercentDecode(info.substr(0, colon));
    if (colon != std::string_view::npos) url.password = PercentDecode(info.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  std::string_view port;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    url.host = std::string(authority.substr(1, close - 1));
    url.ipv6 = true;
    authority.remove_prefix(close + 1);
    if (!authority.empty() && authority[0] != ':') return false;
    if (!authority.empty()) port = authority.substr(1);
  } else {
    const std::size_t colon = authority.find(':');
    url.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (url.host.empty() ||
      std::any_of(url.host.begin(), url.host.end(), [](unsigned char c) { return c <= ' '; }))
    return false;
  url.port = defaultPort ? defaultPort : DefaultPort(url.scheme);
  if (!port.empty()) {
    if (port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
      return false;
    url.port = std::stoi(std::string(port));
    if (url.port < 1 || url.port > 65535) return false;
  }
  return true;
}

std::string Follow(const Url& from, std::string location) {
  location = std::string(Trim(location));
  const std::size_t colon = location.find(':');
  if (colon != std::string::npos && colon > 0 && location.find_first_of("/?#") > colon &&
      std::all_of(location.begin(), location.begin() + static_cast<long>(colon), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
      }))
    return location;
  if (location.rfind("//", 0) == 0) return from.scheme + ":" + location;
  const std::string origin = from.scheme + "://" + from.HostHeader();
  const std::string path = from.path.substr(0, from.path.find('?'));
  if (!location.empty() && location[0] == '?') return origin + path + location;
  std::string merged = !location.empty() && location[0] == '/'
                           ? location
                           : path.substr(0, path.rfind('/') + 1) + location;
  // "." and ".." segments resolved, as a browser would before asking.
  const std::size_t end = std::min(merged.find_first_of("?#"), merged.size());
  std::vector<std::string> segments;
  std::size_t at = 1;
  while (at <= end) {
    std::size_t slash = merged.find('/', at);
    if (slash == std::string::npos || slash > end) slash = end;
    const std::string segment = merged.substr(at, slash - at);
    const bool last = slash == end;
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      if (last) segments.emplace_back();
    } else if (segment == ".") {
      if (last) segments.emplace_back();
    } else {
      segments.push_back(segment);
    }
    at = slash + 1;
  }
  std::string clean;
  for (const std::string& segment : segments) clean += "/" + segment;
  return origin + (clean.empty() ? "/" : clean) + merged.substr(end);
}

bool IsAddress(int family, const std::string& text, unsigned char* out) {
  return inet_pton(family, text.c_str(), out) == 1;
}

}  // namespace PRESCORA_NS::platform::soap
