#include "common/platform/soapoutcome.h"

#include <netdb.h>
#include <openssl/err.h>
#include <sys/socket.h>

#include "common/platform/soap.h"
#include "common/platform/soapbase.h"
#include "common/platform/soapwire.h"

namespace PRESCORA_NS::platform::soap {

namespace {

// The reason a certificate was refused, noted by the verification of this thread's handshake.
thread_local long tlsVerifyError = X509_V_OK;

bool Resolves(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (found) freeaddrinfo(found);
  return rc == 0;
}

// Why the TLS handshake failed: the certificate's refusal, else the TLS library's last error.
std::string TlsReason() {
  std::string why;
  if (tlsVerifyError != X509_V_OK) {
    why = X509_verify_cert_error_string(tlsVerifyError);
  } else if (const unsigned long code = ERR_peek_last_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    why = text;
  } else {
    why = "la negociación no se completó";
  }
  ERR_clear_error();
  return why;
}

}  // namespace

int NoteVerification(int ok, X509_STORE_CTX* context) {
  if (!ok && tlsVerifyError == X509_V_OK) tlsVerifyError = X509_STORE_CTX_get_error(context);
  return ok;
}

void ForgetTlsReason() {
  tlsVerifyError = X509_V_OK;
  ERR_clear_error();
}

void Blame::Timeout() const {
  Fail(errSoapTimeout, "Se agotó el tiempo de espera (" + std::to_string(timeoutMs) +
                           " ms) de la respuesta de " + target);
}

void Blame::ProxyClosed() const {
  Fail(errSoapProxy,
       "El servidor proxy " + route.shown + " cerró la conexión sin responder: conexión cerrada");
}

bool RequestMayHaveLeft(const Outcome& o) {
  const httplib::Error e = o.error;
  return !o.tunnelFailed &&
         !(e == httplib::Error::Connection || e == httplib::Error::ConnectionTimeout ||
           e == httplib::Error::SSLConnection || e == httplib::Error::SSLLoadingCerts ||
           e == httplib::Error::SSLServerVerification);
}

void FailOnRefusal(const Outcome& o, const Blame& blame) {
  if (o.headTooLarge)
    Fail(errSoapTransport, "La respuesta de " + blame.target +
                               " trae una cabecera HTTP demasiado grande (más de " +
                               std::to_string(kMaxHeadLines) + " líneas o " +
                               std::to_string(kMaxHeadBytes) + " bytes)");
  // A proxy that refuses a request often closes the connection without reading the body, so
  // the refusal may come with a reset: the status read before it still tells.
  const int connectStatus = o.tunnelFailed ? o.tunnelStatus : 0;
  if (connectStatus == 407 || o.status == 407 || (blame.route.viaProxy && o.status == 401))
    Fail(errSoapProxy, "El servidor proxy " + blame.route.shown +
                           " rechazó las credenciales (HTTP " +
                           std::to_string(connectStatus == 407 ? 407 : o.status) + ")");
  if (o.tunnelFailed && !o.late && connectStatus != 0)
    Fail(errSoapProxy, "El servidor proxy " + blame.route.shown + " no abrió la conexión con " +
                           blame.target + " (HTTP " + std::to_string(connectStatus) + ")");
  if (o.tunnelFailed && !o.late) blame.ProxyClosed();
}

void FailUnanswered(const Outcome& o, const Blame& blame, int32_t maxResponseBytes, const Url& url,
                    bool* mayHaveLeft) {
  using httplib::Error;
  const std::string& target = blame.target;
  if (o.bodyTooLarge)
    Fail(errSoapTransport, "La respuesta de " + target + " es demasiado grande (más de " +
                               std::to_string(maxResponseBytes) + " bytes)");
  const bool dropped = o.error == Error::Read || o.error == Error::Write;
  if (o.late && (dropped || o.error == Error::Connection || o.error == Error::ConnectionTimeout ||
                 o.error == Error::Canceled || o.error == Error::SSLConnection))
    blame.Timeout();
  if (o.error == Error::ConnectionTimeout) blame.Timeout();
  if (dropped && o.status >= 300)
    Fail(errSoapHttpStatus,
         "El servidor " + target + " respondió HTTP " + std::to_string(o.status));
  const bool viaProxy = blame.route.viaProxy;
  switch (o.error) {
    case Error::SSLConnection:
    case Error::SSLLoadingCerts:
    case Error::SSLServerVerification:
      Fail(errSoapTls, "Fallo de la conexión segura (TLS) con " + target +
                           ": no se pudo verificar el servidor o negociar la conexión: " +
                           blame.proxy.Scrub(TlsReason()));
    case Error::Read:
    case Error::Write:
      if (viaProxy) blame.ProxyClosed();
      Fail(errSoapTransport,
           "El servidor " + target + " cerró la conexión: conexión cerrada sin respuesta completa");
    case Error::Success:  // a name that does not resolve ends the attempt unmarked
    case Error::Unknown:
    case Error::Connection: {
      const std::string host = viaProxy ? blame.route.host : url.host;
      if (!Resolves(host)) {
        if (mayHaveLeft) *mayHaveLeft = false;
        if (viaProxy)
          Fail(errSoapProxy, "No se encuentra el servidor proxy " + blame.route.shown +
                                 ": no se puede resolver el nombre " + host);
        Fail(errSoapHostNotFound, "No se encuentra el servidor de " + target +
                                      ": no se puede resolver el nombre " + host);
      }
      if (viaProxy)
        Fail(errSoapProxy, "No se puede conectar con el servidor proxy " + blame.route.shown +
                               " (conexión rechazada o inaccesible)");
      Fail(errSoapConnectionRefused,
           "No se puede conectar con " + target + " (conexión rechazada o inaccesible)");
    }
    default:
      Fail(errSoapTransport,
           "Fallo del transporte HTTP con " + target + ": " + httplib::to_string(o.error));
  }
}

}  // namespace PRESCORA_NS::platform::soap
