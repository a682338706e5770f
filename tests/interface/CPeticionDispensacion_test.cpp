#include "interface/CPeticionDispensacion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordsFixture.h"
#include "common/platform/xml.h"

namespace {

using namespace records_test;
using ns::CPeticionDispensacion;
namespace xml = ns::platform::xml;

// The element children of the record's root, as name and text.
std::vector<std::pair<std::string, std::string>> Elements(const xml::NodeList& nodes) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const xml::Node& node : nodes.items()) out.emplace_back(node.nodeName(), node.Text());
  return out;
}

std::string ValueOf(const xml::NodeList& nodes, const std::string& name) {
  for (const auto& [element, text] : Elements(nodes)) {
    if (element == name) return text;
  }
  return "<absent>";
}

std::vector<std::string> Names(const xml::NodeList& nodes) {
  std::vector<std::string> names;
  for (const auto& element : Elements(nodes)) names.push_back(element.first);
  return names;
}

void FillMandatory(CPeticionDispensacion& request) {
  request.set_ClaveUsuario("clave01");
  request.set_IdUsuario("FARM01");
  request.set_Idioma("es");
  request.set_FechaDispensacion("07/12/2026");
  request.set_IdFarmacia("F1");
  request.set_IdFarmaceutico("FC1");
  request.set_EnvasesDispensados("1");
  request.set_Importe("10.50");
  request.set_ImporteAportacion("1.05");
  request.set_IdProvincia("28");
}

class Recorder : public ns::CPeticionDispensacionEvents {
 public:
  void onEndTransformToXML() override { events.push_back("endTo"); }
  void onBeforeTransformToXML() override { events.push_back("beforeTo"); }
  void onEndTransformFromXML() override { events.push_back("endFrom"); }
  void onBeforeTransformFromXML() override { events.push_back("beforeFrom"); }
  std::vector<std::string> events;
};

using RequestTest = RecordsTest;

TEST_F(RequestTest, ANewRecordRendersTheCommonRowsEmpty) {
  CPeticionDispensacion request;
  std::string expected = "<PeticionDispensacion " + kStandardSchema + "> ";
  for (const char* name :
       {"importe", "importeAportacion", "codFarmacia", "fechaDispensacion", "idioma", "idUsuario",
        "idFarmaceutico", "claveUsuario", "envasesDispensados", "numeroReceta", "codProvincia",
        "codigoDispensado", "idPrescripcion"})
    expected += std::string("<") + name + " ></" + name + ">\r\n";
  expected += "</PeticionDispensacion>\r\n";
  EXPECT_EQ(request.ToString(false), expected);
  EXPECT_EQ(request.RegimenReceta(), ns::RegimenVacio);
  EXPECT_EQ(request.TipoPrescripcion(), ns::PrescripcionVacio);
}

TEST_F(RequestTest, ITPIdentifiersCarryThePrescriptionsOwnData) {
  EXPECT_TRUE(CPeticionDispensacion::IsITPIdentifier("  itp123  "));
  EXPECT_TRUE(CPeticionDispensacion::IsITPIdentifier("ITP"));
  EXPECT_FALSE(CPeticionDispensacion::IsITPIdentifier("XITP1"));
  EXPECT_FALSE(CPeticionDispensacion::IsITPIdentifier("IT"));

  CPeticionDispensacion request;
  request.set_IDPrescripcion("  itp123  ");
  request.set_CodigoColegiadoPrescriptor("C9");
  request.set_FechaPrescripcion("2026-11-30");
  request.set_TIS("BBBB000001");
  request.set_RegimenReceta(ns::Trabajador);
  auto nodes = request.ToXML();
  ASSERT_TRUE(nodes);
  EXPECT_EQ(ValueOf(*nodes, "idPrescripcion"), "");
  EXPECT_EQ(ValueOf(*nodes, "codColegiadoPrescriptor"), "C9");
  EXPECT_EQ(ValueOf(*nodes, "fechaPrescripcion"), "20261130");
  EXPECT_EQ(ValueOf(*nodes, "TIS"), "BBBB000001");
  EXPECT_EQ(ValueOf(*nodes, "nombreFormula"), "");
  EXPECT_EQ(ValueOf(*nodes, "regimenReceta"), "0");
  EXPECT_EQ(ValueOf(*nodes, "tipoPrescripcion"), "<absent>");

  request.set_RegimenReceta(ns::RegimenVacio);
  request.set_TipoPrescripcion(ns::Efectos_Y_Accesorios);
  nodes = request.ToXML();
  ASSERT_TRUE(nodes);
  EXPECT_EQ(ValueOf(*nodes, "regimenReceta"), "<absent>");
  EXPECT_EQ(ValueOf(*nodes, "tipoPrescripcion"), "5");
  EXPECT_EQ(Names(*nodes).size(), 18u);

  // An identifier of the service's own: only the common rows.
  request.set_IDPrescripcion("RX0000000001");
  nodes = request.ToXML();
  ASSERT_TRUE(nodes);
  EXPECT_EQ(ValueOf(*nodes, "idPrescripcion"), "RX0000000001");
  EXPECT_EQ(Names(*nodes).size(), 13u);
}

TEST_F(RequestTest, DatesBecomeEightDigits) {
  CPeticionDispensacion request;
  EXPECT_EQ(request.ParseDate(""), "");
  EXPECT_EQ(Log().find("Parseando las fechas"), std::string::npos);
  EXPECT_EQ(request.ParseDate("7/12/2026"), "20261207");
  EXPECT_EQ(request.ParseDate("2026-12-07"), "20261207");
  EXPECT_NE(Log().find("CPeticionDispensacion.ParseDate:Parseando las fechas"), std::string::npos);
  EXPECT_TRUE(ErrorNumbers().empty());

  EXPECT_EQ(request.ParseDate("31/02/2026"), "");
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{32004});
  EXPECT_NE(Log().find("CPeticionDispensacion.ParseDate:(32004)La fecha no es válida"),
            std::string::npos);
}

TEST_F(RequestTest, AnInvalidDateLeavesItsElementEmptyAndTheFileIsStillWritten) {
  CPeticionDispensacion request;
  request.set_FechaDispensacion("31/02/2026");
  std::string file = Path("P1.xml");
  EXPECT_TRUE(request.ToXMLFile(file));
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{32004});
  xml::Document document;
  ASSERT_TRUE(document.Load(file));
  EXPECT_EQ(document.documentElement().nodeName(), "PeticionDispensacion");
  EXPECT_EQ(ValueOf(document.documentElement().childNodes(), "fechaDispensacion"), "");
  EXPECT_NE(Log().find("CPeticionDispensacion.ToXML:Generando archivo " + file +
                       " con la petición de la dispensación"),
            std::string::npos);
}

TEST_F(RequestTest, MarkupInAValueStaysOneValue) {
  const std::string forged = "</claveUsuario><idUsuario>X</idUsuario><claveUsuario>";
  CPeticionDispensacion request;
  FillMandatory(request);
  request.set_ClaveUsuario(forged);
  request.set_IdFarmacia("Farmacia López & Hijos <Centro>");
  request.set_IDPrescripcion("RX1");

  std::string file = Path("RX1.xml");
  ASSERT_TRUE(request.ToXMLFile(file));
  xml::Document document;
  ASSERT_TRUE(document.Load(file));
  auto nodes = document.documentElement().childNodes();
  EXPECT_EQ(ValueOf(nodes, "claveUsuario"), forged);
  EXPECT_EQ(ValueOf(nodes, "idUsuario"), "FARM01");
  EXPECT_EQ(ValueOf(nodes, "codFarmacia"), "Farmacia López & Hijos <Centro>");
  EXPECT_EQ(Names(nodes).size(), 13u);

  auto list = request.ToXML();
  ASSERT_TRUE(list);
  EXPECT_EQ(ValueOf(*list, "claveUsuario"), forged);
  EXPECT_TRUE(ErrorNumbers().empty());
}

TEST_F(RequestTest, ARecordFormThatDoesNotLoadWritesNothing) {
  ns::strEsquemaXML() = "xmlns:broken=";
  CPeticionDispensacion request;
  Recorder recorder;
  request.set_Events(&recorder);
  std::string file = Path("P1.xml");
  EXPECT_FALSE(request.ToXMLFile(file));
  EXPECT_FALSE(Exists(file));
  EXPECT_FALSE(request.ToXML());
  EXPECT_EQ(ErrorNumbers(), (std::vector<int>{32003, 32003}));
  EXPECT_EQ(ns::objErrores().Errores()[0].Source(), "CPeticionDispensacion.ToXMLFile");
  EXPECT_EQ(ns::objErrores().Errores()[1].Source(), "CPeticionDispensacion.IObject_ToXML");
  EXPECT_NE(Log().find("CPeticionDispensacion.ToXMLFile:(32003)La petición SOAP/XML generada "
                       "tiene errores"),
            std::string::npos);
  // The end event is raised only for a list that was made.
  EXPECT_EQ(recorder.events, std::vector<std::string>{"beforeTo"});
}

TEST_F(RequestTest, AFileInAMissingFolderFails) {
  CPeticionDispensacion request;
  EXPECT_FALSE(request.ToXMLFile(Path("Enviados/P1.xml")));
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{76});
}

TEST_F(RequestTest, ToXMLKeepsACopyWhenAsked) {
  CPeticionDispensacion request;
  request.set_Importe("1");
  Recorder recorder;
  request.set_Events(&recorder);
  ASSERT_TRUE(request.ToXML());
  EXPECT_FALSE(Exists(Path("Interface.xml")));

  WriteFile(Path("Interface.xml"), "old");
  request.set_SaveSOAPMsgToFile(true);
  ASSERT_TRUE(request.ToXML());
  xml::Document copy;
  ASSERT_TRUE(copy.Load(Path("Interface.xml")));
  EXPECT_EQ(ValueOf(copy.documentElement().childNodes(), "importe"), "1");
  EXPECT_NE(Log().find("CPeticionDispensacion.IObject_ToXML:Generando archivo XML con la "
                       "petición de la dispensación"),
            std::string::npos);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"beforeTo", "endTo", "beforeTo", "endTo"}));
}

TEST_F(RequestTest, TheEnvelopeCarriesTheRecordAsArg0) {
  CPeticionDispensacion request;
  request.set_Importe("2 < 3");
  std::string envelope = request.ToString(true);
  EXPECT_EQ(envelope.rfind("<?xml version='1.0' encoding='UTF-8'?><SOAP-ENV:Envelope ", 0), 0u);
  xml::Document document;
  ASSERT_TRUE(document.Loadxml(envelope)) << document.parseError();
  xml::Node body = document.documentElement().childNodes().Item(0);
  EXPECT_EQ(body.nodeName(), "SOAP-ENV:Body");
  xml::Node operation = body.childNodes().Item(0);
  EXPECT_EQ(operation.nodeName(), "ns0:solicitudDispensacion");
  EXPECT_EQ(operation.namespaceURI(), "urn:Dispensacion");
  xml::Node arg0 = operation.childNodes().Item(0);
  EXPECT_EQ(arg0.nodeName(), "arg0");
  EXPECT_EQ(arg0.GetAttribute("xsi:type"), "bean:PeticionDispensacion");
  xml::Node record = arg0.childNodes().Item(0);
  EXPECT_EQ(record.nodeName(), "PeticionDispensacion");
  EXPECT_EQ(ValueOf(record.childNodes(), "importe"), "2 < 3");

  // Declarations that leave SOAP-ENC to the envelope.
  ns::strEsquemaXML() = "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" ";
  ASSERT_TRUE(document.Loadxml(request.ToString(true))) << document.parseError();
}

TEST_F(RequestTest, MandatoryFields) {
  CPeticionDispensacion request;
  EXPECT_FALSE(request.RequiredFields());
  FillMandatory(request);
  request.set_IDPrescripcion("RX1");
  EXPECT_TRUE(request.RequiredFields());
  EXPECT_NE(Log().find("CPeticionDispensacion.IObject_RequiredFields:Comprobando que todos los "
                       "campos requeridos se han establecido"),
            std::string::npos);

  // Spaces count as set; an invalid dispensing date does not.
  request.set_Importe(" ");
  EXPECT_TRUE(request.RequiredFields());
  request.set_FechaDispensacion("31/02/2026");
  EXPECT_FALSE(request.RequiredFields());
  request.set_FechaDispensacion("07/12/2026");

  // Without an identifier the prescription's own data are required.
  request.set_IDPrescripcion("   ");
  EXPECT_FALSE(request.RequiredFields());
  request.set_CodigoColegiadoPrescriptor("C9");
  request.set_FechaPrescripcion(" 30/11/2026 ");
  request.set_RegimenReceta(ns::Pensionista);
  request.set_TipoPrescripcion(ns::Formula_Magistral);
  EXPECT_FALSE(request.RequiredFields());  // no TIS yet
  request.set_TIS("BBBB000001");
  EXPECT_FALSE(request.RequiredFields());  // a formula needs its name
  request.set_FormulaMagistral("Crema");
  EXPECT_TRUE(request.RequiredFields());
  request.set_TipoPrescripcion(ns::PrescripcionVacio);
  EXPECT_FALSE(request.RequiredFields());
  request.set_TipoPrescripcion(ns::Principio_Activo);
  request.set_FormulaMagistral("");
  EXPECT_TRUE(request.RequiredFields());
  request.set_FechaPrescripcion("ayer");
  EXPECT_FALSE(request.RequiredFields());
}

TEST_F(RequestTest, FromXMLChangesNothing) {
  CPeticionDispensacion request;
  request.set_Importe("1");
  Recorder recorder;
  request.set_Events(&recorder);
  xml::Document document;
  ASSERT_TRUE(document.Loadxml("<r><importe>9</importe></r>"));
  auto nodes = document.documentElement().childNodes();
  EXPECT_TRUE(request.FromXML(nodes));
  EXPECT_EQ(request.Importe(), "1");
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"beforeFrom", "endFrom"}));
}

}  // namespace
