#include "interface/CPeticionDispensacion.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "RecordsFixture.h"
#include "common/platform/xml.h"

namespace {

using namespace records_test;
using ns::CPeticionDispensacion;
namespace xml = ns::platform::xml;

std::string ValueOf(const xml::NodeList& nodes, const std::string& name) {
  for (const xml::Node& node : nodes.items()) {
    if (node.nodeName() == name) return node.Text();
  }
  return "<absent>";
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
  EXPECT_EQ(request.ToString(false), expected + "</PeticionDispensacion>\r\n");
}

TEST_F(RequestTest, ITPIdentifiersCarryThePrescriptionsOwnData) {
  EXPECT_FALSE(CPeticionDispensacion::IsITPIdentifier("XITP1"));
  CPeticionDispensacion request;
  request.set_IDPrescripcion("  itp123  ");
  request.set_FechaPrescripcion("2026-11-30");
  request.set_TIS("BBBB000001");
  request.set_RegimenReceta(ns::Trabajador);
  auto nodes = request.ToXML();
  ASSERT_TRUE(nodes);
  EXPECT_EQ(ValueOf(*nodes, "idPrescripcion"), "");
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
  EXPECT_EQ(nodes->length(), 18);

  request.set_IDPrescripcion("RX0000000001");
  nodes = request.ToXML();
  ASSERT_TRUE(nodes);
  EXPECT_EQ(ValueOf(*nodes, "idPrescripcion"), "RX0000000001");
  EXPECT_EQ(nodes->length(), 13);
}

TEST_F(RequestTest, AnInvalidDateLeavesItsElementEmptyAndTheFileIsStillWritten) {
  CPeticionDispensacion request;
  EXPECT_EQ(request.ParseDate("7/12/2026"), "20261207");
  EXPECT_EQ(request.ParseDate(""), "");
  request.set_FechaDispensacion("31/02/2026");
  std::string file = Path("P1.xml");
  EXPECT_TRUE(request.ToXMLFile(file));
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{32004});
  EXPECT_NE(Log().find("CPeticionDispensacion.ParseDate:(32004)La fecha no es válida"),
            std::string::npos);
  xml::Document document;
  ASSERT_TRUE(document.Load(file));
  EXPECT_EQ(ValueOf(document.documentElement().childNodes(), "fechaDispensacion"), "");
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
  EXPECT_EQ(nodes.length(), 13);
  EXPECT_TRUE(ErrorNumbers().empty());
}

TEST_F(RequestTest, ARecordFormThatDoesNotLoadWritesNothing) {
  ns::strEsquemaXML() = "xmlns:broken=";
  CPeticionDispensacion request;
  Recorder recorder;
  request.set_Events(&recorder);
  EXPECT_FALSE(request.ToXMLFile(Path("P1.xml")));
  EXPECT_FALSE(Exists(Path("P1.xml")));
  EXPECT_FALSE(request.ToXML());
  EXPECT_EQ(ErrorNumbers(), (std::vector<int>{32003, 32003}));
  EXPECT_EQ(ns::objErrores().Errores()[1].Source(), "CPeticionDispensacion.IObject_ToXML");
  EXPECT_EQ(recorder.events, std::vector<std::string>{"beforeTo"});

  ns::strEsquemaXML() = kStandardSchema;
  EXPECT_FALSE(request.ToXMLFile(Path("Enviados/P1.xml")));  // no such folder
  EXPECT_EQ(ErrorNumbers().back(), 76);
}

TEST_F(RequestTest, ToXMLKeepsACopyWhenAsked) {
  CPeticionDispensacion request;
  request.set_Importe("1");
  Recorder recorder;
  request.set_Events(&recorder);
  WriteAll(Path("Interface.xml"), "old");
  request.set_SaveSOAPMsgToFile(true);
  ASSERT_TRUE(request.ToXML());
  xml::Document copy;
  ASSERT_TRUE(copy.Load(Path("Interface.xml")));
  EXPECT_EQ(ValueOf(copy.documentElement().childNodes(), "importe"), "1");
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"beforeTo", "endTo"}));
}

TEST_F(RequestTest, TheEnvelopeCarriesTheRecordAsArg0) {
  CPeticionDispensacion request;
  request.set_Importe("2 < 3");
  xml::Document document;
  ASSERT_TRUE(document.Loadxml(request.ToString(true))) << document.parseError();
  xml::Node operation = document.documentElement().childNodes().Item(0).childNodes().Item(0);
  EXPECT_EQ(operation.nodeName(), "ns0:solicitudDispensacion");
  xml::Node arg0 = operation.childNodes().Item(0);
  EXPECT_EQ(arg0.GetAttribute("xsi:type"), "bean:PeticionDispensacion");
  xml::Node record = arg0.childNodes().Item(0);
  EXPECT_EQ(record.nodeName(), "PeticionDispensacion");
  EXPECT_EQ(ValueOf(record.childNodes(), "importe"), "2 < 3");

  // Declarations that leave SOAP-ENC to the envelope load too.
  ns::strEsquemaXML() = "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" ";
  EXPECT_TRUE(document.Loadxml(request.ToString(true))) << document.parseError();
}

// Whether the setting binds SOAP-ENC is read from its declarations, not from its spelling: the
// envelope always loads and always binds SOAP-ENC to the encoding namespace.
TEST_F(RequestTest, TheEnvelopeBindsSoapEncWhateverTheSettingSays) {
  const std::string enc = "http://schemas.xmlsoap.org/soap/encoding/";
  const std::string xsi = "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
  const std::vector<std::string> schemas = {
      kStandardSchema,
      xsi + " xmlns:SOAP-ENC = \"" + enc + "\" ",
      xsi + " xmlns:SOAP-ENC='" + enc + "' ",
      xsi + "\txmlns:SOAP-ENC=\n'" + enc + "' ",
      xsi + " xmlns:SOAP-ENC=\"urn:otra-codificacion\" ",
      xsi + " xmlns:SOAP-ENV=\"urn:otro-sobre\" ",
  };
  CPeticionDispensacion request;
  request.set_IDPrescripcion("RX1");
  for (const std::string& schema : schemas) {
    ns::strEsquemaXML() = schema;
    xml::Document document;
    ASSERT_TRUE(document.Loadxml(request.ToString(true))) << schema << document.parseError();
    xml::Node envelope = document.documentElement();
    EXPECT_EQ(envelope.GetAttribute("xmlns:SOAP-ENC"), enc) << schema;
    EXPECT_EQ(envelope.namespaceURI(), "http://schemas.xmlsoap.org/soap/envelope/") << schema;
    EXPECT_EQ(envelope.GetAttribute("xmlns:xsi"), "http://www.w3.org/2001/XMLSchema-instance");
  }
}

// Values keep their line breaks through the request file, which is its owner's alone (it holds
// the user's key), as is the copy of the request.
TEST_F(RequestTest, RequestFilesKeepLineBreaksAndAreTheOwnersAlone) {
  CPeticionDispensacion request;
  FillMandatory(request);
  request.set_IDPrescripcion("RX1");
  request.set_CodigoDispensado("línea 1\r\nlínea 2\r");
  ASSERT_TRUE(request.ToXMLFile(Path("RX1.xml")));
  xml::Document document;
  ASSERT_TRUE(document.Load(Path("RX1.xml")));
  EXPECT_EQ(ValueOf(document.documentElement().childNodes(), "codigoDispensado"),
            "línea 1\r\nlínea 2\r");
  request.set_SaveSOAPMsgToFile(true);
  ASSERT_TRUE(request.ToXML());
  for (const char* name : {"RX1.xml", "Interface.xml"}) {
    struct stat st {};
    ASSERT_EQ(stat(Path(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
}

TEST_F(RequestTest, MandatoryFields) {
  CPeticionDispensacion request;
  EXPECT_FALSE(request.RequiredFields());
  FillMandatory(request);
  request.set_IDPrescripcion("RX1");
  request.set_Importe(" ");  // spaces count as set
  EXPECT_TRUE(request.RequiredFields());
  request.set_FechaDispensacion("31/02/2026");
  EXPECT_FALSE(request.RequiredFields());
  request.set_FechaDispensacion("07/12/2026");

  // Without an identifier the prescription's own data are required.
  request.set_IDPrescripcion("   ");
  request.set_CodigoColegiadoPrescriptor("C9");
  request.set_FechaPrescripcion(" 30/11/2026 ");
  request.set_RegimenReceta(ns::Pensionista);
  request.set_TipoPrescripcion(ns::Formula_Magistral);
  EXPECT_FALSE(request.RequiredFields());  // no TIS
  request.set_TIS("BBBB000001");
  EXPECT_FALSE(request.RequiredFields());  // a formula needs its name
  request.set_FormulaMagistral("Crema");
  EXPECT_TRUE(request.RequiredFields());
  request.set_TipoPrescripcion(ns::PrescripcionVacio);
  EXPECT_FALSE(request.RequiredFields());
  request.set_TipoPrescripcion(ns::Principio_Activo);
  request.set_FechaPrescripcion("ayer");
  EXPECT_FALSE(request.RequiredFields());
}

}  // namespace
