#include "initiator/CPrescripciones.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InitiatorFixture.h"
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
      "<item><idPrescripcion href='#id_4'/><codProducto href='#ID_9'/></item></prescripciones>",
      "<xsd:string id='ID_1'>RX1</xsd:string><xsd:string id='ID_2'>654321</xsd:string>"
      "<xsd:string id='ID_3'>20240517</xsd:string><xsd:string id='id_4'>ignorada</xsd:string>");
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
  // An identifier without "ID_" is no reference target, and a reference to nothing leaves the
  // field empty: both lookups fail (runtime error 5) without failing the parse.
  EXPECT_EQ(r[2].IDPrescripcion(), "");
  EXPECT_EQ(r[2].CodigoProducto(), "");
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), (std::vector<int>{5, 5}));
  EXPECT_NE(Log().find("CPrescripciones.RecuperarValorNodo:(5)"), std::string::npos);
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

TEST_F(ListTest, ASingleNodeParsesAndFailuresKeepWhatWasReadBefore) {
  auto nodes = Answer("<codigoError>x1</codigoError>");
  CPrescripciones single;
  EXPECT_TRUE(single.FromXML(nodes)) << Log();
  EXPECT_EQ(single.CodigoError(), 0);  // not a number

  // Letters in a number field: the prescriptions before stay, the one being read does not.
  nodes = Answer(
      "<codigoError>3</codigoError><prescripciones><item><idPrescripcion>RX1</idPrescripcion>"
      "</item><item><envasesPrescritos>dos</envasesPrescritos></item><item/></prescripciones>");
  CPrescripciones list;
  EXPECT_FALSE(list.FromXML(nodes));
  EXPECT_EQ(list.CodigoError(), 3);
  ASSERT_EQ(list.Registros().size(), 1u);
  EXPECT_EQ(list.Registros()[0].IDPrescripcion(), "RX1");
  EXPECT_NE(Log().find("CPrescripciones.IObject_FromXML:(13)"), std::string::npos);

  // Two targets of one identifier, compared without regard to case.
  nodes = Answer("<codigoError>0</codigoError>",
                 "<xsd:string id='ID_a'>a</xsd:string><xsd:string id='ID_A'>b</xsd:string>");
  CPrescripciones duplicated;
  EXPECT_FALSE(duplicated.FromXML(nodes));

  xml::NodeList empty;
  EXPECT_FALSE(CPrescripciones().FromXML(empty));
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), (std::vector<int>{13, 457, 91}));
}

}  // namespace
