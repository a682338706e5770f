#include "initiator/CPrescripciones.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InitiatorFixture.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"

namespace {

using namespace initiator_test;
using ns::CPrescripciones;
namespace xml = ns::platform::xml;

// An answer as the SOAP client hands it over: the children of `return`, inside a whole envelope
// whose body also holds the referenced strings.
xml::NodeList Answer(const std::string& content, const std::string& references = "") {
  xml::Document document;
  EXPECT_TRUE(document.Loadxml(
      "<E:Envelope xmlns:E='http://schemas.xmlsoap.org/soap/envelope/' "
      "xmlns:xsd='http://www.w3.org/2001/XMLSchema'><E:Body><r:respuesta xmlns:r='urn:P'><return>" +
      content + "</return></r:respuesta>" + references + "</E:Body></E:Envelope>"));
  return document.documentElement()
      .childNodes()
      .Item(0)
      .childNodes()
      .Item(0)
      .childNodes()
      .Item(0)
      .childNodes();
}

std::string Prescriptions(const std::string& items) {
  return "<codigoError>0</codigoError><prescripciones>" + items + "</prescripciones>";
}

using ListTest = InitiatorTest;

TEST_F(ListTest, FollowsReferencesAndReadsNamesInAnyCase) {
  auto nodes = Answer(
      "<codigoError>0</codigoError><MensajeError>  sin novedad  </MensajeError><prescripciones>"
      "<item><idPrescripcion href='#ID_1'/><CODPRODUCTO href='#ID_2'/>"
      "<FechaPrescripcion href='#ID_3'/><envasesPrescritos>2</envasesPrescritos>"
      "<regimenReceta>1</regimenReceta><visado>2</visado></item>"
      "<item><IDPRESCRIPCION>RX2</IDPRESCRIPCION><codproducto>712345</codproducto></item>"
      "<item><idPrescripcion href='#id_4'/><codProducto href='ID_2'/></item></prescripciones>",
      "<xsd:string id='ID_1'>RX1</xsd:string><xsd:string id='ID_2'>654321</xsd:string>"
      "<xsd:string id='ID_3'>20240517</xsd:string><xsd:string id='id_4'>RX3</xsd:string>");
  CPrescripciones list;
  ASSERT_TRUE(list.FromXML(nodes)) << Log();
  EXPECT_EQ(list.DescripcionError(), "sin novedad");
  EXPECT_FALSE(list.DatosValidos());  // only the front object says so
  const auto& r = list.Registros();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].IDPrescripcion(), "RX1");
  EXPECT_EQ(r[0].CodigoProducto(), "654321");
  EXPECT_EQ(r[0].FechaPrescripcion(), "2024/05/17");
  EXPECT_EQ(r[0].EnvasesPrescritos(), 2);
  EXPECT_EQ(r[0].RegimenReceta(), ns::Pensionista);
  EXPECT_EQ(r[0].RequiereVisado(), ns::YaVisada);
  EXPECT_EQ(r[1].IDPrescripcion(), "RX2");
  EXPECT_EQ(r[1].CodigoProducto(), "712345");
  EXPECT_EQ(r[2].IDPrescripcion(), "RX3");
  EXPECT_EQ(r[2].CodigoProducto(), "654321");  // a reference written without "#"
  EXPECT_TRUE(ns::objErrores().Errores().empty());
}

TEST_F(ListTest, EmptyFieldsTakeTheirDefaultsAndAbsentOnesStayZero) {
  struct Case {
    const char* fields;
    int envases, regimen, visado;
    const char* fecha;
  } const cases[] = {
      {"", 0, 0, 0, ""},
      {"<envasesPrescritos/><regimenReceta/><visado/><fechaPrescripcion/>", 1, 0, 0, ""},
      {"<envasesPrescritos>3</envasesPrescritos><regimenReceta>5</regimenReceta>"
       "<visado>7</visado>",
       3, 5, 7, ""},
      {"<fechaPrescripcion>20240517</fechaPrescripcion>", 0, 0, 0, "2024/05/17"},
      {"<fechaPrescripcion>2024051</fechaPrescripcion>", 0, 0, 0, ""},
      {"<fechaPrescripcion>2024-05-17</fechaPrescripcion>", 0, 0, 0, ""},
      // Recognised only without a prefix.
      {"<p:envasesPrescritos xmlns:p='urn:x'>4</p:envasesPrescritos>", 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    auto nodes = Answer(Prescriptions(std::string("<item>") + c.fields + "</item>"));
    CPrescripciones list;
    ASSERT_TRUE(list.FromXML(nodes)) << Log();
    ASSERT_EQ(list.Registros().size(), 1u);
    const auto& p = list.Registros().front();
    EXPECT_EQ(p.EnvasesPrescritos(), c.envases);
    EXPECT_EQ(static_cast<int>(p.RegimenReceta()), c.regimen);
    EXPECT_EQ(static_cast<int>(p.RequiereVisado()), c.visado);
    EXPECT_EQ(p.FechaPrescripcion(), c.fecha);
  }
}

// Answers as other SOAP stacks send them, read through the client's own reading of an answer.
xml::NodeList Received(const std::string& body) {
  std::string detail;
  auto nodes = ns::platform::soap::ReadAnswer(
      200,
      "<?xml version='1.0' encoding='UTF-8'?>"
      "<soapenv:Envelope xmlns:soapenv='http://schemas.xmlsoap.org/soap/envelope/' "
      "xmlns:soapenc='http://schemas.xmlsoap.org/soap/encoding/' "
      "xmlns:xsd='http://www.w3.org/2001/XMLSchema' "
      "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'><soapenv:Body>" +
          body + "</soapenv:Body></soapenv:Envelope>",
      "", "el servicio", detail);
  EXPECT_TRUE(nodes.has_value());
  return nodes ? *nodes : xml::NodeList();
}

struct Expected {
  const char* id;
  const char* fecha;
  const char* producto;
  int envases, regimen, visado;
};

void ExpectList(const CPrescripciones& list, const std::vector<Expected>& expected) {
  ASSERT_EQ(list.Registros().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ns::CPrescripcion& p = list.Registros()[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(p.IDPrescripcion(), expected[i].id);
    EXPECT_EQ(p.FechaPrescripcion(), expected[i].fecha);
    EXPECT_EQ(p.CodigoProducto(), expected[i].producto);
    EXPECT_EQ(p.EnvasesPrescritos(), expected[i].envases);
    EXPECT_EQ(static_cast<int>(p.RegimenReceta()), expected[i].regimen);
    EXPECT_EQ(static_cast<int>(p.RequiereVisado()), expected[i].visado);
  }
}

TEST_F(ListTest, OtherStacksEncodingsGiveExactlyTheServicesData) {
  // gSOAP: a value two prescriptions share is sent once, at the end of the body.
  auto gsoap = Received(
      "<ns:consultaResponse xmlns:ns='urn:P'><return><codigoError>0</codigoError>"
      "<mensajeError></mensajeError><prescripciones soapenc:arrayType='ns:Prescripcion[2]'>"
      "<item><idPrescripcion>RX1</idPrescripcion><codProducto>654321</codProducto>"
      "<fechaPrescripcion href='#_8'/><envasesPrescritos>1</envasesPrescritos>"
      "<regimenReceta>0</regimenReceta><visado>0</visado></item>"
      "<item><idPrescripcion>RX2</idPrescripcion><codProducto>712345</codProducto>"
      "<fechaPrescripcion href='#_8'/><envasesPrescritos>2</envasesPrescritos>"
      "<regimenReceta>1</regimenReceta><visado>2</visado></item>"
      "</prescripciones></return></ns:consultaResponse>"
      "<id id='_8' xsi:type='xsd:string'>20261130</id>");
  CPrescripciones fromGsoap;
  EXPECT_TRUE(fromGsoap.FromXML(gsoap)) << Log();
  ExpectList(fromGsoap,
             {{"RX1", "2026/11/30", "654321", 1, 0, 0}, {"RX2", "2026/11/30", "712345", 2, 1, 2}});

  // The multiRef style of the Java stacks: the return part, the array, each prescription and
  // each number elsewhere in the body.
  auto multiRef = Received(
      "<ns1:consultaResponse xmlns:ns1='urn:P'><return href='#id0'/></ns1:consultaResponse>"
      "<multiRef id='id0' soapenc:root='0' xsi:type='ns2:Respuesta' xmlns:ns2='urn:T'>"
      "<codigoError href='#id1'/><mensajeError xsi:type='xsd:string'></mensajeError>"
      "<prescripciones href='#id2'/></multiRef>"
      "<multiRef id='id1' soapenc:root='0' xsi:type='xsd:int'>0</multiRef>"
      "<multiRef id='id2' soapenc:root='0' xsi:type='soapenc:Array'>"
      "<item href='#id3'/><item href='#id4'/></multiRef>"
      "<multiRef id='id3' soapenc:root='0'><idPrescripcion>RX1</idPrescripcion>"
      "<codProducto>654321</codProducto><fechaPrescripcion>20261201</fechaPrescripcion>"
      "<envasesPrescritos href='#id5'/><regimenReceta href='#id6'/><visado href='#id6'/>"
      "</multiRef>"
      "<multiRef id='id4' soapenc:root='0'><idPrescripcion>RX2</idPrescripcion>"
      "<codProducto>712345</codProducto><fechaPrescripcion>20261115</fechaPrescripcion>"
      "<envasesPrescritos href='#id7'/><regimenReceta href='#id5'/><visado href='#id7'/>"
      "</multiRef>"
      "<multiRef id='id5' soapenc:root='0' xsi:type='xsd:short'>1</multiRef>"
      "<multiRef id='id6' soapenc:root='0' xsi:type='xsd:short'>0</multiRef>"
      "<multiRef id='id7' soapenc:root='0' xsi:type='xsd:short'>2</multiRef>");
  CPrescripciones fromJava;
  EXPECT_TRUE(fromJava.FromXML(multiRef)) << Log();
  ExpectList(fromJava,
             {{"RX1", "2026/12/01", "654321", 1, 0, 0}, {"RX2", "2026/11/15", "712345", 2, 1, 2}});
  EXPECT_TRUE(ns::objErrores().Errores().empty());
}

// An answer that cannot be trusted is read to its end, but says where it is wrong: one item 32021
// per fault, the fields in question left at 0, never a value made up.
TEST_F(ListTest, UnsoundAnswersAreReadWholeAndSayWhereTheyAreWrong) {
  const std::string item =
      "<item><idPrescripcion>RX1</idPrescripcion><envasesPrescritos>3</envasesPrescritos></item>";
  struct Case {
    std::string content;
    std::vector<std::string> where;  // what each 32021 item says after the fixed text
    int codigoError;
  } const cases[] = {
      {"<codigoError>0</codigoError><prescripciones>" + item +
           "<item><idPrescripcion>RX2</idPrescripcion><envasesPrescritos href='#ID_8'/>"
           "<visado href='#ID_8'/><regimenReceta href='#ID_8'/></item></prescripciones>",
       {"prescripción 2 (RX2), campo envasesPrescritos: la referencia '#ID_8' no lleva a ningún "
        "elemento de la respuesta",
        "prescripción 2 (RX2), campo visado: la referencia '#ID_8' no lleva a ningún elemento de "
        "la respuesta",
        "prescripción 2 (RX2), campo regimenReceta: la referencia '#ID_8' no lleva a ningún "
        "elemento de la respuesta"},
       0},
      {"<codigoError>0</codigoError><prescripciones><item><envasesPrescritos>dos"
       "</envasesPrescritos><visado>99999</visado></item>" +
           item + "</prescripciones>",
       {"prescripción 1, campo envasesPrescritos: 'dos' no es un número válido",
        "prescripción 1, campo visado: '99999' no es un número válido"},
       0},
      {"<codigoError>E01</codigoError><mensajeError>Usuario no autorizado</mensajeError>"
       "<prescripciones>" +
           item + "</prescripciones>",
       {"codigoError 'E01' no es un número entero, mensajeError: Usuario no autorizado"},
       0},
      {"<codigoError>2.5</codigoError><prescripciones>" + item + "</prescripciones>",
       {"codigoError '2.5' no es un número entero"},
       0},
      {"<codigoError href='#a'/><prescripciones href='#b'/>" + std::string(),
       {"codigoError: la referencia '#a' forma un ciclo",
        "prescripciones: la referencia '#b' no lleva a ningún elemento de la respuesta"},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    ns::objErrores().ResetErrorsCollection();
    auto nodes = Answer(c.content, "<x id='a' href='#a'/>");
    CPrescripciones list;
    EXPECT_FALSE(list.FromXML(nodes));
    std::vector<std::string> where;
    for (const ns::CErrorItem& e : ns::objErrores().Errores()) {
      EXPECT_EQ(e.Number(), 32021);
      EXPECT_EQ(e.Source(), "CPrescripciones.IObject_FromXML");
      const std::string fixed = "La respuesta del servicio no es válida: ";
      ASSERT_EQ(e.Description().rfind(fixed, 0), 0u) << e.Description();
      where.push_back(e.Description().substr(fixed.size()));
    }
    EXPECT_EQ(where, c.where);
    EXPECT_EQ(list.CodigoError(), c.codigoError);
    // The rest of the answer stays readable for diagnosis.
    for (const ns::CPrescripcion& p : list.Registros()) {
      if (p.IDPrescripcion() == "RX1") {
        EXPECT_EQ(p.EnvasesPrescritos(), 3);
      }
    }
  }
  EXPECT_NE(Log().find("CPrescripciones.IObject_FromXML:(32021)La respuesta del servicio no es "
                       "válida: codigoError 'E01'"),
            std::string::npos);
}

TEST_F(ListTest, AMissingOrEmptyErrorCodeIsZeroAndAnEmptyListFails) {
  for (const char* content :
       {"<mensajeError>x</mensajeError>", "<codigoError/>", "<codigoError> 7 </codigoError>"}) {
    SCOPED_TRACE(content);
    auto nodes = Answer(content);
    CPrescripciones list;
    EXPECT_TRUE(list.FromXML(nodes)) << Log();
    EXPECT_EQ(list.CodigoError(), std::string(content).find('7') == std::string::npos ? 0 : 7);
  }
  xml::NodeList empty;
  EXPECT_FALSE(CPrescripciones().FromXML(empty));
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), (std::vector<int>{91}));
}

}  // namespace
