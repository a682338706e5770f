// The SOAP client's messages: the request envelope of an operation, and what an answer gives or
// raises for each HTTP status and body.
#include "common/platform/soapenvelope.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/platform/errors.h"
#include "common/platform/soap.h"

namespace soap = PRESCORA_NS::platform::soap;
namespace xml = PRESCORA_NS::platform::xml;
using PRESCORA_NS::platform::Failure;

namespace {

constexpr const char* kEnv =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<SOAP-ENV:Body>";
constexpr const char* kEnd = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

TEST(SoapEnvelope, AnswersByStatusAndBody) {
  constexpr int kNone = 0;
  struct Row {
    long status;
    std::string body;
    int error;         // kNone: the return part's children are given
    const char* text;  // the children's text, or what the error says; nullptr for no result
  } rows[] = {
      {200, "", kNone, nullptr},
      {202, " \r\n", kNone, nullptr},
      {500, "", soap::errSoapHttpStatus, "HTTP 500"},
      {200, "not xml", soap::errSoapAnswerNotXml, "no es XML"},
      {502, "<html>Bad gateway", soap::errSoapHttpStatus, "sin mensaje SOAP"},
      {200, "<a/>", soap::errSoapAnswerNotSoap, "no es un mensaje SOAP"},
      {200, std::string(kEnv) + kEnd, soap::errSoapAnswerNotSoap, "ningún elemento"},
      {500, std::string(kEnv) + "<r><x>1</x></r>" + kEnd, soap::errSoapHttpStatus, "sin fallo"},
      {500,
       std::string(kEnv) +
           "<SOAP-ENV:Fault><faultcode>Server</faultcode><faultstring> Clave no válida "
           "</faultstring><detail>U1</detail></SOAP-ENV:Fault>" +
           kEnd,
       soap::errSoapFault, "Clave no válida"},
      {200,
       std::string(kEnv) + "<SOAP-ENV:Fault><faultcode> Client </faultcode></SOAP-ENV:Fault>" +
           kEnd,
       soap::errSoapFault, "fallo SOAP Client"},
      {200, std::string(kEnv) + "<r/>" + kEnd, kNone, ""},
      {200, std::string(kEnv) + "<r><return><a>1</a><b>2</b></return></r>" + kEnd, kNone, "12"},
      // The return part elsewhere in the body, as rpc/encoded stacks send it.
      {200,
       std::string(kEnv) +
           "<r><return href=\"#id1\"/></r><multiRef id=\"id1\"><a>3</a></multiRef>" + kEnd,
       kNone, "3"},
      {200, std::string(kEnv) + "<r><return href=\"#nada\"/></r>" + kEnd,
       soap::errSoapAnswerNotSoap, "no se puede leer"},
  };
  for (const Row& row : rows) {
    std::string detail = "old";
    try {
      const std::optional<xml::NodeList> nodes =
          soap::ReadAnswer(row.status, row.body, "", "http://svc", detail);
      EXPECT_EQ(row.error, kNone) << row.body;
      ASSERT_EQ(nodes.has_value(), row.text != nullptr) << row.body;
      if (!nodes) continue;
      std::string text;
      for (const xml::Node& n : nodes->items()) text += n.Text();
      EXPECT_EQ(text, row.text) << row.body;
    } catch (const Failure& f) {
      EXPECT_EQ(f.Number(), row.error) << row.body;
      EXPECT_NE(f.Description().find(row.text), std::string::npos) << f.Description();
    }
    EXPECT_EQ(detail, row.error == soap::errSoapFault && row.status == 500 ? "U1" : "")
        << "a fault's detail, and only this answer's";
  }
}

TEST(SoapEnvelope, RequestIsTheOperationHoldingCopiesOfTheArgument) {
  xml::Document argument;
  ASSERT_TRUE(argument.Loadxml("<a><IDPrescripcion>P1</IDPrescripcion><?pi x?><n>2</n></a>"));
  const xml::NodeList nodes = argument.documentElement().childNodes();

  struct Row {
    const char* style;
    const char* use;
    soap::QName type, element;
    const char* within;  // what the argument's copies stand in
  } rows[] = {
      {"rpc",
       "encoded",
       {"http://www.w3.org/2001/XMLSchema", "string", "xs"},
       {},
       "<ns0:op xmlns:ns0=\"urn:svc\" SOAP-ENV:encodingStyle=\"urn:enc\"><arg "
       "xsi:type=\"xsd:string\">"},
      // A type prefix the envelope uses for itself is never reused for another namespace.
      {"rpc",
       "encoded",
       {"urn:types", "Peticion", "xsi"},
       {},
       "<arg xmlns:ns1=\"urn:types\" xsi:type=\"ns1:Peticion\">"},
      {"rpc", "literal", {"urn:types", "Peticion", "t"}, {}, "<ns0:op xmlns:ns0=\"urn:svc\"><arg>"},
      {"document",
       "literal",
       {},
       {"urn:types", "Peticion", "t"},
       "<SOAP-ENV:Body><ns0:Peticion xmlns:ns0=\"urn:types\">"},
  };
  for (const Row& row : rows) {
    soap::Operation op;
    op.name = "op";
    op.style = row.style;
    op.use = row.use;
    op.ns = "urn:svc";
    op.encodingStyle = "urn:enc";
    op.parts.push_back({"arg", row.type, row.element});
    const std::string envelope = soap::BuildEnvelope(op, nodes);
    const std::string copies = "<IDPrescripcion>P1</IDPrescripcion><n>2</n>";
    EXPECT_NE(envelope.find(std::string(row.within) + copies), std::string::npos) << envelope;
    xml::Document parsed;
    EXPECT_TRUE(parsed.Loadxml(envelope)) << envelope;
  }
}

}  // namespace
