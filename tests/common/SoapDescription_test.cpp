// The SOAP client's reading of a service description: which port serves, and what each operation's
// request needs.
#include "common/platform/soapdescription.h"

#include <gtest/gtest.h>

#include <string>

#include "common/platform/errors.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"

namespace soap = PRESCORA_NS::platform::soap;
namespace xml = PRESCORA_NS::platform::xml;
using PRESCORA_NS::platform::Failure;

namespace {

// A description with `services` as its service elements and two bindings: "rpc" (SOAP 1.1,
// rpc/encoded) and "soap12" (SOAP 1.2 only).
std::string Wsdl(const std::string& services) {
  return R"(<?xml version="1.0"?>
<definitions xmlns="http://schemas.xmlsoap.org/wsdl/"
    xmlns:soap="http://schemas.xmlsoap.org/wsdl/soap/"
    xmlns:soap12="http://schemas.xmlsoap.org/wsdl/soap12/"
    xmlns:tns="urn:receta" xmlns:bean="java:dispensacion.ejb" targetNamespace="urn:receta">
  <message name="pedir"><part name="peticion" type="bean:Peticion"/></message>
  <message name="leer"><part name="p" element="tns:Lectura"/><part name="q" type="xsd:int"/></message>
  <portType name="Receta">
    <operation name="pedir"><input message="tns:pedir"/></operation>
    <operation name="leer"><input message="tns:leer"/></operation>
  </portType>
  <binding name="rpc" type="tns:Receta">
    <soap:binding style="rpc" transport="http://schemas.xmlsoap.org/soap/http"/>
    <operation name="pedir">
      <soap:operation soapAction="urn:pedir"/>
      <input><soap:body use="encoded" namespace="urn:otro"
          encodingStyle=" http://schemas.xmlsoap.org/soap/encoding/ urn:mas"/></input>
    </operation>
    <operation name="leer">
      <soap:operation style="document"/>
      <input><soap:body/></input>
    </operation>
  </binding>
  <binding name="soap12" type="tns:Receta"><soap12:binding style="rpc"/></binding>
)" + services +
         "\n</definitions>";
}

soap::Description Read(const std::string& text) {
  xml::Document doc;
  EXPECT_TRUE(doc.LoadBytes(text, "")) << doc.parseError();
  return soap::ReadDescription(doc, "prueba.wsdl", [] {});
}

TEST(SoapDescription, ReadsTheFirstSoap11PortAndItsOperations) {
  const soap::Description d = Read(Wsdl(R"(
  <service name="S">
    <port name="sinDireccion" binding="tns:rpc"/>
    <port name="v12" binding="tns:soap12"><soap12:address location="http://v12/"/></port>
    <port name="otro" binding="tns:noexiste"><soap:address location="http://otro/"/></port>
    <port name="bueno" binding="tns:rpc"><soap:address location="  https://svc/ws  "/></port>
    <port name="segundo" binding="tns:rpc"><soap:address location="https://segundo/"/></port>
  </service>)"));
  EXPECT_EQ(d.address, "https://svc/ws");
  ASSERT_EQ(d.operations.size(), 2u);

  const soap::Operation& pedir = d.operations[0];
  EXPECT_EQ(pedir.name, "pedir");
  EXPECT_EQ(pedir.style, "rpc");
  EXPECT_EQ(pedir.use, "encoded");
  EXPECT_EQ(pedir.ns, "urn:otro");
  EXPECT_EQ(pedir.soapAction, "urn:pedir");
  EXPECT_EQ(pedir.encodingStyle, "http://schemas.xmlsoap.org/soap/encoding/");
  ASSERT_EQ(pedir.parts.size(), 1u);
  EXPECT_EQ(pedir.parts[0].name, "peticion");
  EXPECT_EQ(pedir.parts[0].type.ns, "java:dispensacion.ejb");
  EXPECT_EQ(pedir.parts[0].type.local, "Peticion");
  EXPECT_EQ(pedir.parts[0].type.prefix, "bean");

  // Without attributes of its own, an operation takes the binding's style, literal use, the
  // target namespace and the SOAP encoding.
  const soap::Operation& leer = d.operations[1];
  EXPECT_EQ(leer.style, "document");
  EXPECT_EQ(leer.use, "literal");
  EXPECT_EQ(leer.ns, "urn:receta");
  EXPECT_EQ(leer.encodingStyle, "http://schemas.xmlsoap.org/soap/encoding/");
  ASSERT_EQ(leer.parts.size(), 2u);
  EXPECT_EQ(leer.parts[0].element.ns, "urn:receta");
  EXPECT_EQ(leer.parts[0].element.local, "Lectura");
  EXPECT_EQ(leer.parts[1].type.local, "int");
  EXPECT_EQ(leer.parts[1].type.ns, "");  // xsd undeclared here
}

TEST(SoapDescription, RefusesDescriptionsWithoutAUsablePort) {
  struct Row {
    const char* what;
    std::string text;
  } rows[] = {
      {"not WSDL", "<definitions xmlns='urn:x'/>"},
      {"no service", Wsdl("")},
      {"SOAP 1.2 only",
       Wsdl("<service><port binding='tns:soap12'><soap12:address location='http://a/'/>"
            "</port></service>")},
      {"empty address",
       Wsdl("<service><port binding='tns:rpc'><soap:address location='  '/></port></service>")},
      {"address with a space",
       Wsdl("<service><port binding='tns:rpc'><soap:address location='http://a/x y'/>"
            "</port></service>")},
      {"address with a line break",
       Wsdl("<service><port binding='tns:rpc'><soap:address location='http://a/&#10;Host: b'/>"
            "</port></service>")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    try {
      Read(row.text);
      ADD_FAILURE() << "read";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.Number(), soap::errSoapDescriptionInvalid);
    }
  }
}

// The reading asks whether its time is up, so a description of many operations cannot hold the
// caller past Timeout.
TEST(SoapDescription, AsksForTheDeadlineWhileReadingManyOperations) {
  std::string ops, bops;
  for (int i = 0; i < 2000; ++i) {
    const std::string n = "op" + std::to_string(i);
    ops += "<operation name='" + n + "'><input message='tns:pedir'/></operation>";
    bops += "<operation name='" + n + "'><input><soap:body/></input></operation>";
  }
  const std::string text =
      "<definitions xmlns='http://schemas.xmlsoap.org/wsdl/' "
      "xmlns:soap='http://schemas.xmlsoap.org/wsdl/soap/' xmlns:tns='urn:t' "
      "targetNamespace='urn:t'><message name='pedir'/><portType name='P'>" +
      ops + "</portType><binding name='b' type='tns:P'><soap:binding/>" + bops +
      "</binding><service><port binding='tns:b'><soap:address location='http://a/'/></port>"
      "</service></definitions>";
  xml::Document doc;
  ASSERT_TRUE(doc.LoadBytes(text, ""));
  int asked = 0;
  const soap::Description d = soap::ReadDescription(doc, "grande.wsdl", [&] { ++asked; });
  EXPECT_EQ(d.operations.size(), 2000u);
  EXPECT_GE(asked, 3);
  EXPECT_THROW(
      soap::ReadDescription(doc, "grande.wsdl",
                            [&] { throw Failure(soap::errSoapTimeout, "SoapClient", "x"); }),
      Failure);
}

}  // namespace
