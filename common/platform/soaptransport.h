// How the SOAP client's requests travel: HTTP(S) exchanges with a server, direct or through a
// proxy, each within its deadline; a download's redirections followed to the same server only;
// every failure told as one of the client's errors, with the server or proxy it concerns.
// Internal to the client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/platform/soaproute.h"
#include "common/platform/soapurl.h"
#include "common/platform/soapwire.h"

namespace httplib {
class ClientImpl;
}

namespace PRESCORA_NS::platform::soap {

inline constexpr int32_t kDefaultTimeoutMs = 30000;
// Answers and descriptions larger than this are not the service's: refusing them bounds memory.
// The largest honest answer, a retrieval of 10,000 prescriptions, is about 5 MB.
inline constexpr int32_t kDefaultMaxResponseBytes = 16 * 1024 * 1024;
inline constexpr int kMaxRedirects = 5;

// The TLS library's process-wide set-up (reads the system's TLS configuration once).
void InitTransport();
// Pays ahead, off any exchange, what a process's first exchange would: the TLS library's set-up,
// the HTTP library's first client and, unless exchanges keep to one thread, a first thread.
void WarmTransport();

struct HttpAnswer {
  long status = 0;
  std::string body;
  std::string charset;    // of the Content-Type header, "" when none
  std::string location;   // of a redirection
  std::string address;    // the URL that answered, after any redirection
  std::size_t limit = 0;  // the most body bytes taken, once decoded
};

class Watchdog;

class Transport {
 public:
  Transport();
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // The connector's properties that shape an exchange.
  ProxySettings proxy;
  int32_t timeoutMs = kDefaultTimeoutMs;
  std::string caFile;  // authorities trusted besides the system's; "" for PRESCORA_CA_FILE
  int32_t maxResponseBytes = kDefaultMaxResponseBytes;

  // A GET of `url` within `deadline`, redirections included (at most kMaxRedirects, see
  // CheckRedirection). The answer's `address` is the URL that gave it.
  HttpAnswer Get(const std::string& url, Clock::time_point deadline);
  // A SOAP POST of `envelope` within Timeout from now, never over a connection kept from an
  // earlier exchange. `mayHaveLeft` tells, even when it raises, whether a byte of the request
  // may have reached the wire.
  HttpAnswer Post(const std::string& url, const std::string& envelope,
                  const std::string& soapAction, bool& mayHaveLeft);

 private:
  HttpAnswer Transfer(const std::string& url, const std::string* post,
                      const std::string& soapAction, Clock::time_point deadline, bool* mayHaveLeft);
  HttpAnswer Exchange(const Url& url, const std::string* post, const std::string& soapAction,
                      Clock::time_point deadline, const std::string& target, bool* mayHaveLeft);
  httplib::ClientImpl& ClientFor(const Url& url, const Route& route);

  // The connection of the last exchange, kept open for the next one to the same server by the
  // same way (the description and then the call).
  std::unique_ptr<httplib::ClientImpl> http_;
  std::string httpKey_;
  std::unique_ptr<Watchdog> watchdog_;  // after the client: it goes first
};

// A redirection stays with the server asked: the same host as `first` and the port of `from` (or
// the same host's own HTTPS port, when it moves from HTTP on its own port to HTTPS), never from
// HTTPS back to HTTP. Elsewhere the description, and with it the address that receives the
// user's key, would be another's. Raises errSoapTransport naming `target`.
void CheckRedirection(const Url& first, const Url& from, const Url& to, const std::string& target);

}  // namespace PRESCORA_NS::platform::soap
