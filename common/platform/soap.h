// A SOAP 1.1 client over HTTP(S): reads a WSDL 1.1 service description, calls its RPC/encoded
// operations with a node list argument and hands back the answer's return part as a node list.
//
// Transport: cpp-httplib over OpenSSL, HTTP/1.1 with keep-alive; gzip and deflate answers are
// accepted; an answer's head is bounded in lines and bytes. A description's address follows up to
// 5 redirections, each to the same host and port (or from http to the same host's https), never
// from https to http; a description read over https must give an https address; an address with
// control characters or white space is refused. Download and reading of a description are
// bounded together by Timeout. TLS
// verifies the server's certificate and name against the system's certificate authorities; the
// connector property SSLCAFile (or, when it is not set, the environment variable
// PRESCORA_CA_FILE) names a file of further authorities to trust. Until UseProxy is set, the
// environment's proxy variables (http_proxy, https_proxy, all_proxy, no_proxy, and the upper-case
// forms but HTTP_PROXY) apply, as the system's own proxy settings; once it is set, it alone
// decides. Only HTTP proxies serve; HTTPS goes through them in a tunnel. No error text ever holds
// the proxy password or the user information of an address.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/Export.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS::platform::soap {

// Error numbers of the SOAP client (raised as platform::Failure with source "SoapClient").
enum SoapError : int32_t {
  errSoapFault = 32100,                   // the service answered a SOAP fault: its faultstring
  errSoapDescriptionUnreachable = 32101,  // the service description could not be read
  errSoapDescriptionInvalid = 32102,      // not a WSDL 1.1 description with a SOAP 1.1 port
  errSoapNotInitialised = 32103,          // an operation called before mssoapinit succeeded
  errSoapUnknownOperation = 32104,        // the description has no operation of that name
  errSoapUnknownProperty = 32105,         // a client or connector property of unknown name
  errSoapInvalidPropertyValue = 32106,    // a property value of the wrong kind or out of range
  errSoapConnectionRefused = 32107,       // the server refused the connection or cannot be reached
  errSoapHostNotFound = 32108,            // the server's name does not resolve
  errSoapTimeout = 32109,                 // no complete answer within Timeout
  errSoapTls = 32110,                     // TLS handshake or certificate verification failed
  errSoapProxy = 32111,                   // the proxy cannot be reached or refused the credentials
  errSoapHttpStatus = 32112,              // an HTTP error status without a SOAP fault
  errSoapAnswerNotXml = 32113,            // the answer is not XML
  errSoapAnswerNotSoap = 32114,           // XML, but not a SOAP envelope with an answer
  errSoapTransport = 32115,               // any other transport failure (connection closed, ...)
  errSoapRequest = 32116,                 // the request envelope could not be built
};

using PropertyValue = std::variant<bool, int32_t, std::string>;

// Does once, ahead of the first client, the process-wide set-up that the first call would
// otherwise pay for: the transport's and the TLS library's initialisation (which reads the
// system's TLS configuration) and the XML parser's. Reads none of the program's settings.
void Prepare() noexcept;

// For a process whose exchanges all run on its main thread, one at a time, and whose copies do
// the same (a launcher): there, each exchange keeps its own deadline (every wait for the socket
// bounded by the time left, every piece of the answer checked against it) rather than having a
// thread of each client stop it. Installs no signal handler. Call before Prepare.
void KeepExchangesOnOneThread() noexcept;

class Client {
 public:
  Client();
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Reads the service description at an http://, https:// URL or a local file path.
  void mssoapinit(const std::string& location);
  // "ServerHTTPRequest" = true is accepted; the default transport already serves.
  void ClientProperty(std::string_view name, const PropertyValue& value);
  // UseProxy, ProxyServer, ProxyPort (default 8080), ProxyUser, ProxyPassword, Timeout
  // (milliseconds, default 30000; 0 or less keeps the default), SSLCAFile (authorities trusted
  // besides the system's), EndPointURL (replaces the address of the description),
  // MaxResponseSize (the most bytes of a description or an answer, once decompressed, that are
  // taken; default 16 MiB, 0 or less keeps the default: a larger one fails the call). Names are
  // matched without regard to case. Properties set before mssoapinit also serve its download.
  void ConnectorProperty(std::string_view name, const PropertyValue& value);
  // Calls an operation (name matched without regard to case) with one argument whose children are
  // copies of `argument`'s nodes. The result keeps the whole answer document alive; nothing when
  // the HTTP answer has no body. The result holds the child nodes of the answer's return part
  // (the first child of the response element), after following it when it is an href reference.
  std::optional<xml::NodeList> Call(std::string_view operation, const xml::NodeList& argument);
  // The detail text of the last SOAP fault, "" when the last call raised none.
  std::string detail() const;
  // Where calls go: scheme://host[:port] of the address (or EndPointURL), "" before mssoapinit.
  std::string Destination() const;
  // Whether that host is not the one the description was downloaded from (a file: never).
  bool DestinationElsewhere() const;
  // False when the last Call failed before any byte of its request was sent (no description,
  // unknown operation, name not resolved, connection refused or timed out, proxy tunnel or TLS
  // handshake failed): the service surely did not see it. True once it may have.
  bool RequestMayHaveLeft() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The reading half of Call: the answer of an operation from the HTTP status and the body received
// (`charset` that of the Content-Type header, "" when none; `target` names the server in error
// texts). The child nodes of the return part, nothing for an empty body of a success status;
// raises what Call raises for faults and bad answers. `detail` receives a fault's detail text.
std::optional<xml::NodeList> ReadAnswer(long httpStatus, std::string_view body,
                                        const std::string& charset, const std::string& target,
                                        std::string& detail);

}  // namespace PRESCORA_NS::platform::soap
