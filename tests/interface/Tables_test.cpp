// The tables a pharmacy's support staff read in Errores and in the trace: every error number
// with its source and text, and the procedure name of every traced operation.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "RecordsFixture.h"
#include "common/modError.h"
#include "interface/CAuditor.h"
#include "interface/CConfig.h"
#include "interface/CFileAdmin.h"
#include "interface/CPeticionDispensacion.h"
#include "interface/CRespuestaPeticion.h"

namespace {

using namespace records_test;

// Texts as they reach the application, typos included.
TEST(ErrorTable, EveryNumberHasItsOwnText) {
  const std::vector<std::pair<int, std::string>> table = {
      {32000, "No se puede pasar los valores del objeto IXMLNodeList al objeto CRespuestaPeticion"},
      {32001, "No se puede leer la información del archivo de inicialización (.ini)"},
      {32002, "Inicialice los campos obligatorios"},
      {32003, "La petición SOAP/XML generada tiene errores"},
      {32004, "La fecha no es válida"},
      {32005,
       "La interfaz Prescora no está activa. Posiblemente no se han cargado los daos del archivo "
       "de inicialización correctamente"},
      {32006, "No se encuentra el identificador de la preescripción"},
      {32007, "No se puede exportar la petición de dispensación"},
      {32008, "No se puede exportar la dispensación"},
      {32009, "No se puede cargar el archivo XML"},
      {32010, "No se puede conectar con el servicio web"},
      {32011,
       "El nombre del campo a buscar en el archivo .ini para generar la respuesta por defecto no "
       "es válido"},
      {32013, "Se ha forzado la respuesta interna de 'Interface Prescora' para la dispensación"},
      {32014, "Alguno de los argumentos de entrada a la función están en blanco"},
      {32015, "No se puede leer el contenido XML para la calse CArgument"},
      {32016, "No se ha encontrado el archivo de inicialización"},
      {32018, "Se ha excedido el tiempo máximo de espera para leer los datos de la tarjeta"},
      {32019, "El identificador de la prescripción no es válido"},
      {32021, "La respuesta del servicio no es válida"},
      {53, "No se ha encontrado el archivo executor.exe"},
  };
  for (const auto& [number, text] : table) EXPECT_EQ(ns::OwnDescription(number), text) << number;
}

class RecordTables : public RecordsTest {
 protected:
  std::string Trace() const { return ReadAll(Path("trace.txt")); }
};

// Each failure is recorded with the number, the source of the operation that raised it and the
// number's own text, and logged as "source:(number)text".
TEST_F(RecordTables, ErrorsCarryTheSourceOfTheOperationThatRaisedThem) {
  struct Case {
    int number;
    std::string source;
    std::function<void()> provoke;
  };
  const std::vector<Case> cases = {
      {32011, "CConfig.LoadInternalResponse", [] { ns::CConfig().LoadInternalResponse(""); }},
      {32006, "CAuditor.Save", [] { ns::CAuditor().Save("", ns::audHeader); }},
      {32006, "CAuditor.StoreInDelayed", [] { ns::CAuditor().StoreInDelayed(""); }},
      {32004, "CPeticionDispensacion.ParseDate",
       [] { ns::CPeticionDispensacion().ParseDate("31/02/2026"); }},
      {32003, "CPeticionDispensacion.ToXMLFile",
       [this] {
         ns::strEsquemaXML() = "xmlns:roto=";
         ns::CPeticionDispensacion().ToXMLFile(Path("P.xml"));
       }},
      {32003, "CPeticionDispensacion.IObject_ToXML",
       [] {
         ns::strEsquemaXML() = "xmlns:roto=";
         ns::CPeticionDispensacion().ToXML();
       }},
      {32009, "CRespuestaPeticion.FromXMLFile",
       [this] { ns::CRespuestaPeticion().FromXMLFile(Path("ninguno.xml")); }},
      {6, "CRespuestaPeticion.IObject_FromXML",
       [this] {
         WriteAll(Path("R.xml"), "<RespuestaPeticion><NAvisos>40000</NAvisos></RespuestaPeticion>");
         ns::CRespuestaPeticion().FromXMLFile(Path("R.xml"));
       }},
      {32003, "CRespuestaPeticion.ToXMLFile",
       [this] {
         ns::strEsquemaXML() = "";
         ns::CRespuestaPeticion().ToXMLFile(Path("R.xml"));
       }},
  };
  for (const Case& c : cases) {
    ns::objErrores().ResetErrorsCollection();
    ns::strEsquemaXML() = kStandardSchema;
    WriteAll(Path("messages.log"), "");
    c.provoke();
    ASSERT_FALSE(ns::objErrores().Errores().empty()) << c.source;
    const auto& item = ns::objErrores().Errores().back();
    EXPECT_EQ(item.Number(), c.number) << c.source;
    EXPECT_EQ(item.Source(), c.source);
    EXPECT_EQ(item.Description(), ns::OwnDescription(c.number)) << c.source;
    EXPECT_NE(Log().find(" " + c.source + ":(" + std::to_string(c.number) + ")" +
                         ns::OwnDescription(c.number) + "\r\n"),
              std::string::npos)
        << c.source << "\n"
        << Log();
  }
}

// Every traced operation writes an entry line and an exit line under its own procedure name,
// the exit line with its result where it traces one; the untraced ones write nothing of their own.
TEST_F(RecordTables, TraceLinesNameEveryOperation) {
  ns::objTrace().set_FileName(Path("trace.txt"));
  WriteAll(Path("Interface.ini"), "[RespuestaDefecto]\nCodigoAviso=A1\n");
  ns::CConfig config;
  config.set_ArchivoIni(Path("Interface.ini"));
  ns::CFileAdmin admin;
  ns::CPeticionDispensacion request;
  ns::CRespuestaPeticion response;
  ns::platform::xml::NodeList none;
  struct Case {
    std::string procedure;
    std::string exitValue;  // "-" for an operation that writes no line of its own
    std::function<void()> run;
  };
  const std::vector<Case> cases = {
      {"CConfig.Class_Initialize", "", [] { ns::CConfig fresh; }},
      {"CConfig.LoadIni", "False", [&] { config.LoadIni(); }},
      {"CConfig.UpdateAndSaveSended", "True", [&] { config.UpdateAndSaveSended(); }},
      {"CConfig.UpdateAndSaveReceived", "True", [&] { config.UpdateAndSaveReceived(); }},
      {"CConfig.LoadInternalResponse", "A1", [&] { config.LoadInternalResponse("CodigoAviso"); }},
      {"CFileAdmin.Class_Initialize", "", [] { ns::CFileAdmin fresh; }},
      {"CFileAdmin.GetDllPath", "", [&] { admin.GetDllPath(); }},
      {"CFileAdmin.GetSendedPath", "", [&] { admin.GetSendedPath(); }},
      {"CFileAdmin.GetAuditorPath", "", [&] { admin.GetAuditorPath(); }},
      {"CFileAdmin.GetDelayedPath", "", [&] { admin.GetDelayedPath(); }},
      {"CFileAdmin.GetReceivedPath", "", [&] { admin.GetReceivedPath(); }},
      {"CFileAdmin.MakeSended", "", [&] { admin.MakeSended(); }},
      {"CFileAdmin.MakeReceived", "", [&] { admin.MakeReceived(); }},
      {"CFileAdmin.MakeDelayed", "", [&] { admin.MakeDelayed(); }},
      {"CFileAdmin.MakeAuditor", "", [&] { admin.MakeAuditor(); }},
      {"CFileAdmin.ExistExecutorFile", "", [&] { admin.ExistExecutorFile(); }},
      {"CFileAdmin.ExistIniFile", "", [&] { admin.ExistIniFile(); }},
      {"CFileAdmin.ExistDefaultResponseFile", "", [&] { admin.ExistDefaultResponseFile(); }},
      {"CFileAdmin.DeleteFromSended", "", [&] { admin.DeleteFromSended("P1"); }},
      {"CFileAdmin.DeleteFromReceived", "", [&] { admin.DeleteFromReceived("P1"); }},
      {"CFileAdmin.MoveToDelayed", "", [&] { admin.MoveToDelayed(Path(""), "P1.xml"); }},
      {"CFileAdmin.DefaultResponseFile", "-", [&] { admin.DefaultResponseFile(); }},
      {"CFileAdmin.InternalResponseFile", "-", [&] { admin.InternalResponseFile(); }},
      {"CFileAdmin.ExistResponseFile", "-", [&] { admin.ExistResponseFile("P1"); }},
      {"CFileAdmin.DeleteLogFileIfExcededSize", "-", [&] { admin.DeleteLogFileIfExcededSize(); }},
      {"CPeticionDispensacion.Class_Initialize", "", [] { ns::CPeticionDispensacion fresh; }},
      {"CPeticionDispensacion.ParseDate", "20261207", [&] { request.ParseDate("07/12/2026"); }},
      {"CPeticionDispensacion.ToString", "", [&] { request.ToString(false); }},
      {"CPeticionDispensacion.ToXMLFile", "", [&] { request.ToXMLFile(Path("P1.xml")); }},
      {"CPeticionDispensacion.IObject_RequiredFields", "False", [&] { request.RequiredFields(); }},
      {"CPeticionDispensacion.IObject_FromXML", "True", [&] { request.FromXML(none); }},
      {"CPeticionDispensacion.IObject_ToXML", "", [&] { request.ToXML(); }},
      {"CRespuestaPeticion.Class_Initialize", "", [] { ns::CRespuestaPeticion fresh; }},
      {"CRespuestaPeticion.IObject_FromXML", "True", [&] { response.FromXML(none); }},
      {"CRespuestaPeticion.FromXMLFile", "", [&] { response.FromXMLFile(Path("P1.xml")); }},
      {"CRespuestaPeticion.ToString", "", [&] { response.ToString(); }},
      {"CRespuestaPeticion.ToXMLFile", "", [&] { response.ToXMLFile(Path("R1.xml")); }},
      {"CRespuestaPeticion.IObject_RequiredFields", "", [&] { response.RequiredFields(); }},
      {"CRespuestaPeticion.IObject_ToXML", "", [&] { response.ToXML(); }},
      {"CRespuestaPeticion.SetInternalResponse", "-", [&] { response.SetInternalResponse(true); }},
  };
  ns::objTrace().set_Options(1);
  for (const Case& c : cases) {
    WriteAll(Path("trace.txt"), "");
    c.run();
    std::string trace = Trace();
    // The lines of the operation itself, without those of what it calls.
    std::vector<std::string> own;
    for (std::size_t start = 0, end; (end = trace.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      std::string line = trace.substr(start + 20, end - start - 20);  // after the time stamp
      if (line.find("\t" + c.procedure + "\t") != std::string::npos) own.push_back(line);
    }
    if (c.exitValue == "-") {
      EXPECT_TRUE(own.empty()) << trace;
      continue;
    }
    const std::string entry = c.procedure == "CPeticionDispensacion.ParseDate" ? "07/12/2026" : "";
    ASSERT_EQ(own.size(), 2u) << c.procedure << "\n" << trace;
    EXPECT_EQ(own[0], "IN \t" + c.procedure + "\t" + entry + "\t");
    EXPECT_EQ(own[1], "OUT\t" + c.procedure + "\t" + c.exitValue + "\t");
  }
  // Destruction is traced too.
  WriteAll(Path("trace.txt"), "");
  { ns::CConfig c; }
  { ns::CFileAdmin a; }
  { ns::CPeticionDispensacion p; }
  { ns::CRespuestaPeticion r; }
  for (const char* cls : {"CConfig", "CFileAdmin", "CPeticionDispensacion", "CRespuestaPeticion"})
    EXPECT_NE(Trace().find(std::string("OUT\t") + cls + ".Class_Terminate\t\t"), std::string::npos)
        << cls;
  ns::objTrace().set_Options(0);
  ns::objTrace().set_FileName("");
}

}  // namespace
