// The WSDL 1.1 description served at /wsdl: one rpc/encoded binding holding both operations.
#include <string>

#include "common/platform/xml.h"
#include "tools/simulador/Servicio.h"

namespace simulador {

namespace {

std::string Elemento(const char* nombre, const char* tipo = "xsd:string") {
  return std::string("<xsd:element name=\"") + nombre + "\" type=\"" + tipo +
         "\" minOccurs=\"0\"/>";
}

std::string Tipo(const char* nombre, std::initializer_list<std::string> elementos) {
  std::string t = std::string("<xsd:complexType name=\"") + nombre + "\"><xsd:sequence>";
  for (const auto& e : elementos) t += e;
  return t + "</xsd:sequence></xsd:complexType>";
}

std::string Array(const char* nombre, const char* tipoItem) {
  return std::string("<xsd:complexType name=\"") + nombre +
         "\"><xsd:complexContent><xsd:restriction base=\"soapenc:Array\">"
         "<xsd:attribute ref=\"soapenc:arrayType\" wsdl:arrayType=\"" +
         tipoItem + "[]\"/></xsd:restriction></xsd:complexContent></xsd:complexType>";
}

std::string Mensaje(const std::string& nombre, const char* parte, const char* tipo) {
  return "<wsdl:message name=\"" + nombre + "\"><wsdl:part name=\"" + parte + "\" type=\"" + tipo +
         "\"/></wsdl:message>";
}

std::string Operacion(const char* nombre) {
  return std::string("<wsdl:operation name=\"") + nombre +
         "\"><wsdl:input message=\"tns:" + nombre +
         "Request\"/><wsdl:output message=\"tns:" + nombre + "Response\"/></wsdl:operation>";
}

std::string Enlace(const char* nombre, const char* ns) {
  const std::string cuerpo = std::string("<soap:body use=\"encoded\" namespace=\"") + ns +
                             "\" encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"/>";
  return std::string("<wsdl:operation name=\"") + nombre + "\"><soap:operation soapAction=\"" + ns +
         "#" + nombre + "\" style=\"rpc\"/><wsdl:input>" + cuerpo + "</wsdl:input><wsdl:output>" +
         cuerpo + "</wsdl:output></wsdl:operation>";
}

}  // namespace

std::string Servicio::Descripcion(const std::string& direccion, const std::string& codificacion) {
  namespace xml = PRESCORA_NS::platform::xml;
  const std::string opDisp = kOpDispensacion;
  const std::string opCons = kOpConsulta;
  std::string w;
  w += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  w += "<wsdl:definitions name=\"ServicioReceta\" targetNamespace=\"urn:Dispensacion\""
       " xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\""
       " xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\""
       " xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\""
       " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
       " xmlns:tns=\"urn:Dispensacion\" xmlns:bean=\"java:dispensacion.ejb\">\n";
  w += "<wsdl:types><xsd:schema targetNamespace=\"java:dispensacion.ejb\">"
       "<xsd:import namespace=\"http://schemas.xmlsoap.org/soap/encoding/\" schemaLocation=\"" +
       xml::EscapeAttribute(codificacion) + "\"/>";
  w += Array("ArrayOfString", "xsd:string");
  w += Tipo("PeticionDispensacion",
            {Elemento("importe"), Elemento("importeAportacion"), Elemento("codFarmacia"),
             Elemento("fechaDispensacion"), Elemento("idioma"), Elemento("idUsuario"),
             Elemento("idFarmaceutico"), Elemento("claveUsuario"), Elemento("envasesDispensados"),
             Elemento("numeroReceta"), Elemento("codProvincia"), Elemento("codigoDispensado"),
             Elemento("idPrescripcion"), Elemento("codColegiadoPrescriptor"),
             Elemento("fechaPrescripcion"), Elemento("TIS"), Elemento("nombreFormula"),
             Elemento("regimenReceta"), Elemento("tipoPrescripcion")});
  w += Tipo(
      "RespuestaPeticion",
      {Elemento("nAvisos", "xsd:int"), Elemento("nMotivosRechazo", "xsd:int"),
       Elemento("codigoAviso", "bean:ArrayOfString"), Elemento("textoAviso", "bean:ArrayOfString"),
       Elemento("codigoMotivosRechazo", "bean:ArrayOfString"),
       Elemento("textoMotivosRechazo", "bean:ArrayOfString")});
  w += Tipo("PeticionConsultaPNDPorTIS",
            {Elemento("usuario"), Elemento("passwd"), Elemento("idioma", "xsd:int"),
             Elemento("TIS"), Elemento("fecha")});
  w +=
      Tipo("Prescripcion", {Elemento("idPrescripcion"), Elemento("codProducto"),
                            Elemento("fechaPrescripcion"), Elemento("envasesPrescritos", "xsd:int"),
                            Elemento("regimenReceta", "xsd:int"), Elemento("visado", "xsd:int")});
  w += Array("ArrayOfPrescripcion", "bean:Prescripcion");
  w += Tipo("RespuestaConsultaPNDPorTIS",
            {Elemento("codigoError", "xsd:int"), Elemento("mensajeError"),
             Elemento("prescripciones", "bean:ArrayOfPrescripcion")});
  w += "</xsd:schema></wsdl:types>\n";
  w += Mensaje(opDisp + "Request", "arg0", "bean:PeticionDispensacion");
  w += Mensaje(opDisp + "Response", "return", "bean:RespuestaPeticion");
  w += Mensaje(opCons + "Request", "arg0", "bean:PeticionConsultaPNDPorTIS");
  w += Mensaje(opCons + "Response", "return", "bean:RespuestaConsultaPNDPorTIS");
  w += "\n<wsdl:portType name=\"ServicioRecetaPortType\">";
  w += Operacion(kOpDispensacion);
  w += Operacion(kOpConsulta);
  w += "</wsdl:portType>\n";
  w += "<wsdl:binding name=\"ServicioRecetaBinding\" type=\"tns:ServicioRecetaPortType\">"
       "<soap:binding style=\"rpc\" transport=\"http://schemas.xmlsoap.org/soap/http\"/>";
  w += Enlace(kOpDispensacion, kNsDispensacion);
  w += Enlace(kOpConsulta, kNsConsulta);
  w += "</wsdl:binding>\n";
  w += "<wsdl:service name=\"ServicioReceta\"><wsdl:port name=\"ServicioRecetaPort\""
       " binding=\"tns:ServicioRecetaBinding\"><soap:address location=\"" +
       xml::EscapeAttribute(direccion) + "\"/></wsdl:port></wsdl:service>\n";
  w += "</wsdl:definitions>\n";
  return w;
}

// Third-party stacks resolve the SOAP-encoding types through the import's location; served here so
// that reading the description never needs the Internet.
std::string Servicio::EsquemaCodificacion() {
  // No reference to its own namespace: some stacks fetch that namespace's address on one.
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\""
         " targetNamespace=\"http://schemas.xmlsoap.org/soap/encoding/\">"
         "<xs:attribute name=\"arrayType\" type=\"xs:string\"/>"
         "<xs:attribute name=\"offset\" type=\"xs:string\"/>"
         "<xs:complexType name=\"Array\"><xs:sequence>"
         "<xs:any namespace=\"##any\" minOccurs=\"0\" maxOccurs=\"unbounded\""
         " processContents=\"lax\"/></xs:sequence>"
         "<xs:anyAttribute namespace=\"##any\" processContents=\"lax\"/>"
         "</xs:complexType>"
         "<xs:complexType name=\"string\"><xs:simpleContent>"
         "<xs:extension base=\"xs:string\">"
         "<xs:anyAttribute namespace=\"##any\" processContents=\"lax\"/>"
         "</xs:extension></xs:simpleContent></xs:complexType>"
         "<xs:element name=\"string\" type=\"xs:string\"/>"
         "</xs:schema>\n";
}

}  // namespace simulador
