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
class ListTest : public InitiatorTest {
 protected:
  xml::NodeList Answer(const std::string& content, const std::string& references = "") {
    const std::string text =
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/' "
        "xmlns:xsd='http://www.w3.org/2001/XMLSchema'><SOAP-ENV:Body>"
        "<ns1:consultaPrescripcionesNoDispensadasPorTisResponse xmlns:ns1='urn:Prescripciones'>"
        "<return>" +
        content + "</return></ns1:consultaPrescripcionesNoDispensadasPorTisResponse>" + references +
        "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
    xml::Document document;
    EXPECT_TRUE(document.Loadxml(text)) << document.parseError();
    return document.documentElement()
        .childNodes()
        .Item(0)
        .childNodes()
        .Item(0)
        .childNodes()
        .Item(0)
        .childNodes();
  }

  static std::string Item(const std::string& fields) { return "<item>" + fields + "</item>"; }
};

TEST_F(ListTest, FollowsReferencesAndReadsNamesInAnyCase) {
  auto nodes = Answer(
      "<codigoError>0</codigoError><MensajeError>  sin novedad  </MensajeError>"
      "<prescripciones>" +
          Item("<idPrescripcion href='#ID_1'/><CODPRODUCTO href='#ID_2'/>"
               "<FechaPrescripcion href='#ID_3'/><envasesPrescritos>2</envasesPrescritos>"
               "<regimenReceta>1</regimenReceta><visado>2</visado>") +
          Item("<IDPRESCRIPCION>RX2</IDPRESCRIPCION><codproducto>712345</codproducto>") +
          Item("<idPrescripcion href='#id_4'/><codProducto href='#ID_9'/>") + "</prescripciones>",
      "<xsd:string id='ID_1'>RX1</xsd:string><xsd:string id='ID_2'>654321</xsd:string>"
      "<xsd:string id='ID_3'>20240517</xsd:string><xsd:string id='id_4'>ignorada</xsd:string>");
  CPrescripciones list;
  ASSERT_TRUE(list.FromXML(nodes)) << Log();
  EXPECT_EQ(list.CodigoError(), 0);
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
    int envases;
    int regimen;
    int visado;
    const char* fecha;
  };
  const Case cases[] = {
      {"", 0, 0, 0, ""},
      {"<envasesPrescritos/><regimenReceta/><visado/>", 1, 0, 0, ""},
      {"<envasesPrescritos>3</envasesPrescritos><regimenReceta>5</regimenReceta>"
       "<visado>7</visado>",
       3, 5, 7, ""},
      {"<fechaPrescripcion>20240517</fechaPrescripcion>", 0, 0, 0, "2024/05/17"},
      {"<fechaPrescripcion>2024051</fechaPrescripcion>", 0, 0, 0, ""},
      {"<fechaPrescripcion>2024-05-17</fechaPrescripcion>", 0, 0, 0, ""},
      {"<fechaPrescripcion/>", 0, 0, 0, ""},
      // Recognised only without a prefix.
      {"<p:envasesPrescritos xmlns:p='urn:x'>4</p:envasesPrescritos>", 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    auto nodes = Answer("<codigoError>0</codigoError><prescripciones>" + Item(c.fields) +
                        "</prescripciones>");
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

TEST_F(ListTest, ASingleNodeAnswerParsesAndAnErrorCodeThatIsNoNumberIsZero) {
  auto nodes = Answer("<codigoError>x1</codigoError>");
  CPrescripciones list;
  EXPECT_TRUE(list.FromXML(nodes)) << Log();
  EXPECT_EQ(list.CodigoError(), 0);

  nodes = Answer("<codigoError>3</codigoError>");
  CPrescripciones coded;
  EXPECT_TRUE(coded.FromXML(nodes));
  EXPECT_EQ(coded.CodigoError(), 3);
}

TEST_F(ListTest, FailuresKeepWhatWasReadBefore) {
  // A number field holding letters: the prescriptions before it stay, the one being read does not.
  auto nodes = Answer("<codigoError>0</codigoError><mensajeError>m</mensajeError><prescripciones>" +
                      Item("<idPrescripcion>RX1</idPrescripcion>") +
                      Item("<idPrescripcion>RX2</idPrescripcion>"
                           "<envasesPrescritos>dos</envasesPrescritos>") +
                      Item("<idPrescripcion>RX3</idPrescripcion>") + "</prescripciones>");
  CPrescripciones list;
  EXPECT_FALSE(list.FromXML(nodes));
  ASSERT_EQ(list.Registros().size(), 1u);
  EXPECT_EQ(list.Registros()[0].IDPrescripcion(), "RX1");
  EXPECT_EQ(list.DescripcionError(), "m");
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), std::vector<int>{13});
  EXPECT_NE(Log().find("CPrescripciones.IObject_FromXML:(13)"), std::string::npos);

  // Two reference targets of one identifier: identifiers are compared without regard to case.
  nodes = Answer("<codigoError>0</codigoError>",
                 "<xsd:string id='ID_a'>a</xsd:string><xsd:string id='ID_A'>b</xsd:string>");
  CPrescripciones duplicated;
  EXPECT_FALSE(duplicated.FromXML(nodes));
  EXPECT_EQ(Numbers(ns::objErrores().Errores()), (std::vector<int>{13, 457}));

  xml::NodeList empty;
  CPrescripciones none;
  EXPECT_FALSE(none.FromXML(empty));
  EXPECT_EQ(ns::objErrores().Errores().size(), 3u);
}

}  // namespace
