#include "interface/CRespuestaPeticion.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RecordsFixture.h"
#include "common/platform/soap.h"
#include "common/platform/xml.h"
#include "interface/CConfig.h"
#include "interface/modGlobalInterface.h"

namespace {

using namespace records_test;
using ns::CRespuestaPeticion;
namespace xml = ns::platform::xml;
using Texts = std::vector<std::string>;

class ResponseTest : public RecordsTest {
 protected:
  // Fills the response from the children of the root of `text`.
  bool Read(CRespuestaPeticion& response, const std::string& text) {
    xml::Document document;
    EXPECT_TRUE(document.Loadxml(text)) << document.parseError();
    auto nodes = document.documentElement().childNodes();
    return response.FromXML(nodes);
  }

  void ExpectErrorResponse(const CRespuestaPeticion& response) {
    EXPECT_EQ(response.m_intNAvisos(), 0);
    EXPECT_EQ(response.m_intNMotivosRechazo(), 1);
    EXPECT_TRUE(response.m_colCodigoAviso().empty());
    EXPECT_TRUE(response.m_colTextoAviso().empty());
    EXPECT_EQ(response.m_colCodigoMotivosRechazo(), Texts{"errorInterface1.2"});
    EXPECT_EQ(response.m_colTextoMotivosRechazo(),
              Texts{"Errores internos en la aplicación 'Interface Prescora' impiden la realizar "
                    "la dispensación. Consulte el archivo de log para determinar la causa del "
                    "error"});
  }
};

class Recorder : public ns::CRespuestaPeticionEvents {
 public:
  void onEndTransformFromXML() override { events.push_back("endFrom"); }
  void onBeforeTransformFromXML() override { events.push_back("beforeFrom"); }
  std::vector<std::string> events;
};

TEST_F(ResponseTest, CountsAreReadFromNodesOfAnyLetterCase) {
  CRespuestaPeticion response;
  Recorder recorder;
  response.set_Events(&recorder);
  EXPECT_TRUE(Read(response, "<r><nAvisos>2</nAvisos><NMOTIVOSRECHAZO> 3 </NMOTIVOSRECHAZO></r>"));
  EXPECT_EQ(response.m_intNAvisos(), 2);
  EXPECT_EQ(response.m_intNMotivosRechazo(), 3);
  EXPECT_EQ(recorder.events, (Texts{"beforeFrom", "endFrom"}));
  // An empty count says nothing; one that is not a number makes the answer not valid.
  EXPECT_TRUE(Read(response, "<r><NAvisos/></r>"));
  EXPECT_EQ(response.m_intNAvisos(), 0);
  EXPECT_FALSE(Read(response, "<r><NAvisos>dos</NAvisos></r>"));
  ASSERT_EQ(ErrorNumbers(), std::vector<int>{32021});
  EXPECT_EQ(ns::objErrores().Errores()[0].Description(),
            "La respuesta del servicio no es válida: NAvisos: 'dos' no es un número");
  ns::objErrores().ResetErrorsCollection();

  // Beyond 16 bits: the answer is not lost. The lists are read as they are, the count is theirs,
  // and the bad count is noted as an error (overflow).
  struct Case {
    const char* counts;
    int16_t avisos;
    int16_t motivos;
  };
  for (const Case& c : {Case{"<NAvisos>40000</NAvisos>", 1, 0},
                        Case{"<NAvisos>-40000</NAvisos><NMotivosRechazo>2</NMotivosRechazo>", 1, 2},
                        Case{"<NMotivosRechazo>99999999999</NMotivosRechazo>", 0, 0}}) {
    SCOPED_TRACE(c.counts);
    ns::objErrores().ResetErrorsCollection();
    CRespuestaPeticion counted;
    EXPECT_TRUE(Read(counted, std::string("<r><codigoAviso>A1</codigoAviso>") + c.counts +
                                  "<textoAviso>T</textoAviso></r>"));
    EXPECT_EQ(counted.m_colCodigoAviso(), Texts{"A1"});
    EXPECT_EQ(counted.m_colTextoAviso(), Texts{"T"});
    EXPECT_EQ(counted.m_intNAvisos(), c.avisos);
    EXPECT_EQ(counted.m_intNMotivosRechazo(), c.motivos);
    EXPECT_EQ(ErrorNumbers(), std::vector<int>{6});
  }
}

// The multiRef style of the Java stacks, read through the client's own reading of an answer: the
// return part, the counts, the arrays and their items sent by reference.
TEST_F(ResponseTest, ReferencesAreFollowedWhereverTheAnswerPutsThem) {
  WriteAll(Path("Interface.ini"),
           "[Configuracion]\nGuardarPeticionSOAP=0\nGenerarLog=1\nGenerarTrace=0\n"
           "CodigoDispensacionCorrecta=OK01\n[Asincrono]\nPeticionTimeOut=1\nAutoRespuesta=0\n"
           "EliminarXMLPeticion=0\nEliminarXMLRespuesta=0\nIntervaloComprobacion=1\n"
           "[Seguimiento]\nArchivoDiario=0\nAuditar=0\n");
  ns::objConfig().set_ArchivoIni(Path("Interface.ini"));
  ASSERT_TRUE(ns::objConfig().LoadIni());
  auto answer = [](const std::string& more) {
    std::string detail;
    return ns::platform::soap::ReadAnswer(
        200,
        "<soapenv:Envelope xmlns:soapenv='http://schemas.xmlsoap.org/soap/envelope/' "
        "xmlns:soapenc='http://schemas.xmlsoap.org/soap/encoding/'><soapenv:Body>"
        "<ns1:solicitudDispensacionResponse xmlns:ns1='urn:D'><return href='#id0'/>"
        "</ns1:solicitudDispensacionResponse>"
        "<multiRef id='id0'><nAvisos href='#id1'/><nMotivosRechazo href='#id2'/>"
        "<codigoAviso href='#id3'/><textoAviso href='#id4'/>" +
            more +
            "</multiRef><multiRef id='id1'>1</multiRef><multiRef id='id2'>0</multiRef>"
            "<multiRef id='id3' soapenc:arrayType='xsd:string[1]'><item href='#id5'/></multiRef>"
            "<multiRef id='id4'><item>Dispensación realizada</item></multiRef>"
            "<multiRef id='id5'>OK01</multiRef></soapenv:Body></soapenv:Envelope>",
        "", "el servicio", detail);
  };
  auto nodes = answer("");
  ASSERT_TRUE(nodes.has_value());
  CRespuestaPeticion response;
  EXPECT_TRUE(response.FromXML(*nodes)) << Log();
  EXPECT_EQ(response.m_intNAvisos(), 1);
  EXPECT_EQ(response.m_intNMotivosRechazo(), 0);
  EXPECT_EQ(response.m_colCodigoAviso(), Texts{"OK01"});
  EXPECT_EQ(response.m_colTextoAviso(), Texts{"Dispensación realizada"});
  EXPECT_TRUE(response.DispensacionRealizada());
  EXPECT_TRUE(ErrorNumbers().empty());

  // A reference to nothing: not valid, rather than a count or a text made up.
  nodes = answer("<textoMotivosRechazo><item href='#id9'/></textoMotivosRechazo>");
  ASSERT_TRUE(nodes.has_value());
  CRespuestaPeticion dangling;
  EXPECT_FALSE(dangling.FromXML(*nodes));
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{32021});
  EXPECT_NE(Log().find("(32021)La respuesta del servicio no es válida: item: la referencia '#id9' "
                       "no lleva a ningún elemento de la respuesta"),
            std::string::npos);
}

TEST_F(ResponseTest, ArraysSkipBlankItemsAndTestTheSuccessCode) {
  WriteAll(Path("Interface.ini"),
           "[Configuracion]\nGuardarPeticionSOAP=0\nGenerarLog=1\nGenerarTrace=0\n"
           "CodigoDispensacionCorrecta= A1 \n[Asincrono]\nPeticionTimeOut=1\nAutoRespuesta=0\n"
           "EliminarXMLPeticion=0\nEliminarXMLRespuesta=0\nIntervaloComprobacion=1\n"
           "[Seguimiento]\nArchivoDiario=0\nAuditar=0\n");
  ns::objConfig().set_ArchivoIni(Path("Interface.ini"));
  ASSERT_TRUE(ns::objConfig().LoadIni());
  ns::strEsquemaXML() = kStandardSchema;

  CRespuestaPeticion response;
  EXPECT_TRUE(Read(response,
                   "<r xmlns:SOAP-ENC='urn:e'><codigoAviso><SOAP-ENC:string></SOAP-ENC:string>"
                   "<SOAP-ENC:string>  </SOAP-ENC:string><SOAP-ENC:string> A1 </SOAP-ENC:string>"
                   "</codigoAviso><ns1:codigoAviso xmlns:ns1='urn:x'>B2</ns1:codigoAviso>"
                   "<TEXTOMOTIVOSRECHAZO>Sin stock</TEXTOMOTIVOSRECHAZO></r>"));
  EXPECT_EQ(response.m_colCodigoAviso(), Texts{" A1 "});
  EXPECT_EQ(response.m_colTextoMotivosRechazo(), Texts{"Sin stock"});
  EXPECT_TRUE(response.DispensacionRealizada());

  // Letter case counts; rejection codes are not tested; entries add up.
  CRespuestaPeticion other;
  EXPECT_TRUE(Read(other,
                   "<r><codigoAviso>a1</codigoAviso>"
                   "<codigoMotivosRechazo>A1</codigoMotivosRechazo></r>"));
  EXPECT_TRUE(Read(other, "<r><codigoAviso>C3</codigoAviso></r>"));
  EXPECT_FALSE(other.DispensacionRealizada());
  EXPECT_EQ(other.m_colCodigoAviso(), (Texts{"a1", "C3"}));
}

TEST_F(ResponseTest, AFreshResponseRendersEmptyArrays) {
  CRespuestaPeticion response;
  std::string expected = "<RespuestaPeticion " + kStandardSchema +
                         "> <NMotivosRechazo >0</NMotivosRechazo>\r\n<NAvisos >0</NAvisos>\r\n";
  for (const char* name :
       {"textoAviso", "textoMotivosRechazo", "codigoMotivosRechazo", "codigoAviso"})
    expected += std::string("<") + name + " " + kStandardSchema +
                "xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[0]\">\r\n</" + name +
                ">\r\n";
  EXPECT_EQ(response.ToString(), expected + "</RespuestaPeticion>\r\n");
}

TEST_F(ResponseTest, WrittenAndReadBackGivesTheSameCountsAndEntries) {
  CRespuestaPeticion response;
  response.set_m_intNAvisos(3);  // counts are values of their own
  response.set_m_intNMotivosRechazo(7);
  response.set_m_colCodigoAviso({"0000", "W&1"});
  response.set_m_colTextoAviso({"Dispensación realizada <parcial>", "Envases > 2 & ñ"});
  response.set_m_colCodigoMotivosRechazo({"R<1>"});
  response.set_m_colTextoMotivosRechazo({"Receta caducada: «revisar» & avisar"});
  EXPECT_NE(response.ToString().find("SOAP-ENC:arrayType=\"xsd:string[2]\""), std::string::npos);

  std::string file = Path("P1.xml");
  ASSERT_TRUE(response.ToXMLFile(file));
  CRespuestaPeticion back;
  ASSERT_TRUE(back.FromXMLFile(file));
  EXPECT_EQ(back.m_intNAvisos(), 3);
  EXPECT_EQ(back.m_intNMotivosRechazo(), 7);
  EXPECT_EQ(back.m_colCodigoAviso(), response.m_colCodigoAviso());
  EXPECT_EQ(back.m_colTextoAviso(), response.m_colTextoAviso());
  EXPECT_EQ(back.m_colCodigoMotivosRechazo(), response.m_colCodigoMotivosRechazo());
  EXPECT_EQ(back.m_colTextoMotivosRechazo(), response.m_colTextoMotivosRechazo());
  EXPECT_TRUE(ErrorNumbers().empty());

  ns::strEsquemaXML() = "";  // nothing declares the array prefixes
  EXPECT_FALSE(response.ToXMLFile(Path("P2.xml")));
  EXPECT_FALSE(Exists(Path("P2.xml")));
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{32003});
}

TEST_F(ResponseTest, AFileThatCannotBeReadLeavesTheErrorResponse) {
  CRespuestaPeticion response;
  response.set_m_colCodigoAviso({"A1"});
  EXPECT_FALSE(response.FromXMLFile(Path("none.xml")));
  ExpectErrorResponse(response);
  EXPECT_EQ(ErrorNumbers(), std::vector<int>{32009});
  EXPECT_NE(Log().find("CRespuestaPeticion.FromXMLFile:(32009)No se puede cargar el archivo XML"),
            std::string::npos);

  // A pipe in place of the file (a default response planted to hang the dispensing) is not
  // waited on.
  ASSERT_EQ(::mkfifo(Path("pipe.xml").c_str(), 0600), 0);
  CRespuestaPeticion other;
  EXPECT_FALSE(other.FromXMLFile(Path("pipe.xml")));
  ExpectErrorResponse(other);
  EXPECT_EQ(ErrorNumbers(), (std::vector<int>{32009, 32009}));
}

TEST_F(ResponseTest, TheInternalResponseComesFromTheSettings) {
  WriteAll(Path("Interface.ini"),
           "[RespuestaDefecto]\nCodigoAviso=W1\nTextoAviso=Sin conexión\nNumAvisos=x\n"
           "CodigoMotivosRechazo=R1\nTextoMotivosRechazo=Pruebe más tarde\nNumMotivosRechazo=4\n");
  ns::objConfig().set_ArchivoIni(Path("Interface.ini"));
  CRespuestaPeticion response;
  response.set_m_colCodigoAviso({"old"});
  response.SetInternalResponse(true);
  EXPECT_EQ(response.m_colCodigoAviso(), (Texts{"old", "W1"}));
  EXPECT_EQ(response.m_colTextoAviso(), Texts{"Sin conexión"});
  EXPECT_EQ(response.m_intNAvisos(), 2);  // not a number: the codes held
  EXPECT_EQ(response.m_colTextoMotivosRechazo(), Texts{"Pruebe más tarde"});
  EXPECT_EQ(response.m_intNMotivosRechazo(), 4);

  WriteAll(Path("Interface.ini"), "[Otra]\n");
  CRespuestaPeticion empty;
  empty.SetInternalResponse(true);
  EXPECT_EQ(empty.m_colCodigoAviso(), Texts{""});
  EXPECT_EQ(empty.m_colTextoMotivosRechazo(), Texts{""});
  EXPECT_EQ(empty.m_intNAvisos(), 1);
  EXPECT_EQ(empty.m_intNMotivosRechazo(), 1);

  // No settings file: the error response, logged but not recorded.
  std::filesystem::remove(Path("Interface.ini"));
  CRespuestaPeticion none;
  none.SetInternalResponse(true);
  ExpectErrorResponse(none);
  EXPECT_TRUE(ErrorNumbers().empty());
  EXPECT_NE(Log().find("CRespuestaPeticion.SetInternalResponse:(32001)"), std::string::npos);
}

TEST_F(ResponseTest, TheForcedErrorResponseReplacesEveryEntry) {
  CRespuestaPeticion response;
  response.set_m_colCodigoAviso({"A1", "A2"});
  response.set_m_colCodigoMotivosRechazo({"R1", "R2"});
  response.set_DatosValidos(true);
  response.SetInternalResponse(false);
  ExpectErrorResponse(response);
  EXPECT_TRUE(response.DatosValidos());
  EXPECT_TRUE(ErrorNumbers().empty());
  EXPECT_NE(Log().find("CRespuestaPeticion.SetInternalResponse:(32013)Se ha forzado la respuesta "
                       "interna de 'Interface Prescora' para la dispensación"),
            std::string::npos);
}

}  // namespace
