// What an HTTP exchange of the SOAP client came to, and the client's error for it, worded for the
// server or the proxy it concerns. Internal to the client.
#pragma once

#include <httplib.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string>

#include "common/platform/soaproute.h"
#include "common/platform/soapurl.h"

namespace PRESCORA_NS::platform::soap {

// The failures of one exchange, worded for the server or the proxy they concern.
struct Blame {
  const std::string& target;  // the address asked, without its user information
  const Route& route;
  const ProxySettings& proxy;
  int32_t timeoutMs;

  [[noreturn]] void Timeout() const;
  [[noreturn]] void ProxyClosed() const;
};

// What an exchange came to, for telling its failure.
struct Outcome {
  httplib::Error error = httplib::Error::Success;
  bool answered = false;  // a whole answer came, whatever its status
  long status = 0;        // the answer's status, known even when its body was cut short
  bool late = false;      // the deadline came before the exchange ended
  bool headTooLarge = false;
  bool bodyTooLarge = false;
  bool tunnelFailed = false;  // the proxy gave no tunnel for HTTPS
  int tunnelStatus = 0;       // the proxy's answer to the tunnel's request, 0 for none
};

// The TLS library's verification callback: notes why this thread's handshake refused a
// certificate, for the error that tells it.
int NoteVerification(int ok, X509_STORE_CTX* context);
// Forgets what the last handshake noted, ahead of a new one.
void ForgetTlsReason();

// The request is written only over a connection made, tunnelled and secured: a failure of any of
// those leaves it unsent. Anything later (a write, a read, a time-out) may not.
bool RequestMayHaveLeft(const Outcome& o);

// Refusals that hold even when an answer came: a head beyond bounds, a proxy that refused the
// credentials or the tunnel. Returns when there is none.
void FailOnRefusal(const Outcome& o, const Blame& blame);

// The error of an exchange that gave no whole answer. A server or proxy whose name does not
// resolve clears `mayHaveLeft` (when given): nothing went out.
[[noreturn]] void FailUnanswered(const Outcome& o, const Blame& blame, int32_t maxResponseBytes,
                                 const Url& url, bool* mayHaveLeft);

}  // namespace PRESCORA_NS::platform::soap
