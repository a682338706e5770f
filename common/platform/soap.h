// A SOAP 1.1 client over HTTP(S): reads a WSDL 1.1 service description, calls its RPC/encoded
// operations with a node list argument and hands back the answer's return part as a node list.
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
  // Filled in by the client's implementation: 32100 .. 32199.
};

using PropertyValue = std::variant<bool, int32_t, std::string>;

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
  // UseProxy, ProxyServer, ProxyPort, ProxyUser, ProxyPassword, Timeout (milliseconds).
  void ConnectorProperty(std::string_view name, const PropertyValue& value);
  // Calls an operation (name matched without regard to case) with one argument whose children are
  // copies of `argument`'s nodes. The result keeps the whole answer document alive; nothing when
  // the HTTP answer has no body.
  std::optional<xml::NodeList> Call(std::string_view operation, const xml::NodeList& argument);
  // The detail text of the last SOAP fault, "" when the last call raised none.
  std::string detail() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace PRESCORA_NS::platform::soap
