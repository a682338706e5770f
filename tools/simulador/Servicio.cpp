#include "tools/simulador/Servicio.h"

#include <map>
#include <utility>
#include <vector>

#include "common/platform/xml.h"
#include "tools/comun/Texto.h"

namespace simulador {

namespace xml = PRESCORA_NS::platform::xml;

namespace {

constexpr const char* kNsEnvelope = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kEncoding = "http://schemas.xmlsoap.org/soap/encoding/";

const std::string kCabecera =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
    " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
    " xmlns:bean=\"java:dispensacion.ejb\"><SOAP-ENV:Body>";
const std::string kPie = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

// Rejection codes of the dispensing, and error codes of the retrieval.
constexpr const char* kFaltaDato = "1001";
constexpr const char* kValorNoValido = "1002";
constexpr const char* kUsuarioNoValido = "1003";
constexpr const char* kPrescripcionDesconocida = "1004";
constexpr const char* kYaDispensada = "1005";
constexpr int kConsultaFaltaTis = 1;
constexpr int kConsultaUsuarioNoValido = 2;
constexpr int kConsultaTisDesconocida = 3;

const char* const kObligatorios[] = {
    "importe",   "importeAportacion", "codFarmacia",  "fechaDispensacion",  "idioma",
    "idUsuario", "idFarmaceutico",    "claveUsuario", "envasesDispensados", "codProvincia"};
const char* const kObligatoriosSinId[] = {"codColegiadoPrescriptor", "fechaPrescripcion", "TIS",
                                          "regimenReceta", "tipoPrescripcion"};

using prescora_tools::Recortar;

std::string Entero(const char* nombre, long valor) {
  return std::string("<") + nombre + " xsi:type=\"xsd:int\">" + std::to_string(valor) + "</" +
         nombre + ">";
}

std::string Cadena(const char* nombre, const std::string& valor) {
  return std::string("<") + nombre + " xsi:type=\"xsd:string\">" + xml::EscapeText(valor) + "</" +
         nombre + ">";
}

std::string ArrayCadenas(const char* nombre, const std::vector<std::string>& valores) {
  std::string a = std::string("<") + nombre +
                  " xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[" +
                  std::to_string(valores.size()) + "]\">";
  for (const auto& v : valores)
    a += "<SOAP-ENC:string>" + xml::EscapeText(v) + "</SOAP-ENC:string>";
  return a + "</" + nombre + ">";
}

// The response element of an operation around its return part. When asked, the return part is
// itself a reference to an element placed after the response element in the body.
std::string Envolver(const char* operacion, const char* ns, const char* tipo,
                     const std::string& contenido, const std::string& referencias,
                     bool retornoReferencia) {
  std::string s = kCabecera + "<ns1:" + operacion + "Response xmlns:ns1=\"" + ns +
                  "\" SOAP-ENV:encodingStyle=\"" + kEncoding + "\">";
  if (retornoReferencia) {
    s += "<return href=\"#RET_1\"/></ns1:" + std::string(operacion) + "Response>";
    s += std::string("<bean:") + tipo + " id=\"RET_1\" xsi:type=\"bean:" + tipo + "\">" +
         contenido + "</bean:" + tipo + ">";
  } else {
    s += std::string("<return xsi:type=\"bean:") + tipo + "\">" + contenido +
         "</return></ns1:" + operacion + "Response>";
  }
  return s + referencias + kPie;
}

// The body-level elements of the multiRef style. Ids are handed out as references are written
// and the elements follow the response element in id order, as those stacks write them: the
// return part first, then what it refers to, then what those refer to.
class MultiRefs {
 public:
  // Takes the next id for an element filled later with Poner.
  std::size_t Reservar() {
    elementos_.emplace_back();
    return elementos_.size() - 1;
  }
  static std::string Ref(const char* nombre, std::size_t id) {
    return std::string("<") + nombre + " href=\"#id" + std::to_string(id) + "\"/>";
  }
  void Poner(std::size_t id, const std::string& atributos, const std::string& contenido) {
    elementos_[id] = "<multiRef id=\"id" + std::to_string(id) +
                     "\" SOAP-ENC:root=\"0\" SOAP-ENV:encodingStyle=\"" + kEncoding + "\" " +
                     atributos + ">" + contenido + "</multiRef>";
  }
  // A field whose number is sent by reference.
  std::string Numero(const char* nombre, long valor) {
    const std::size_t id = Reservar();
    Poner(id, "xsi:type=\"xsd:int\"", std::to_string(valor));
    return Ref(nombre, id);
  }
  // A field whose array of strings is sent by reference.
  std::string Cadenas(const char* nombre, const std::vector<std::string>& valores) {
    const std::size_t id = Reservar();
    std::string items;
    for (const auto& v : valores)
      items += "<item xsi:type=\"xsd:string\">" + xml::EscapeText(v) + "</item>";
    Poner(id,
          "xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[" +
              std::to_string(valores.size()) + "]\"",
          items);
    return Ref(nombre, id);
  }
  std::string Elementos() const {
    std::string s;
    for (const auto& e : elementos_) s += e;
    return s;
  }

 private:
  std::vector<std::string> elementos_;
};

// The response element of an operation whose return part is the multiRef id0.
std::string EnvolverMultiRef(const char* operacion, const char* ns, const MultiRefs& refs) {
  return kCabecera + "<ns1:" + operacion + "Response xmlns:ns1=\"" + ns +
         "\" SOAP-ENV:encodingStyle=\"" + kEncoding + "\">" + MultiRefs::Ref("return", 0) +
         "</ns1:" + operacion + "Response>" + refs.Elementos() + kPie;
}

std::string Falta(const std::string& codigo, const std::string& texto, const std::string& detalle) {
  return kCabecera + "<SOAP-ENV:Fault><faultcode>SOAP-ENV:" + codigo + "</faultcode><faultstring>" +
         xml::EscapeText(texto) + "</faultstring><detail>" + xml::EscapeText(detalle) +
         "</detail></SOAP-ENV:Fault>" + kPie;
}

Respuesta FaltaCliente(const std::string& texto) {
  Respuesta r;
  r.estado = 500;
  r.cuerpo = Falta("Client", texto, texto);
  r.linea = "petición rechazada: " + texto;
  return r;
}

// The first child element of a node with that local name (any name when empty).
xml::Node Hijo(const xml::Node& padre, const std::string& nombre = {}) {
  for (const auto& n : padre.childNodes().items())
    if (n.nodeType() == xml::NodeType::Element && (nombre.empty() || n.baseName() == nombre))
      return n;
  return {};
}

}  // namespace

// One parsed request: the operation and the children of its argument by local name.
struct Servicio::Peticion {
  std::string operacion;
  std::map<std::string, std::string> campos;

  std::string Campo(const std::string& nombre) const {
    auto it = campos.find(nombre);
    return it == campos.end() ? std::string() : it->second;
  }
};

Servicio::Servicio(Datos datos, Opciones opciones)
    : datos_(std::move(datos)), opciones_(std::move(opciones)) {}

Respuesta Servicio::Atender(const std::string& cuerpo) {
  xml::Document doc;
  if (!doc.Loadxml(cuerpo)) return FaltaCliente("El mensaje recibido no es XML bien formado");
  const xml::Node sobre = doc.documentElement();
  if (sobre.baseName() != "Envelope" || sobre.namespaceURI() != kNsEnvelope)
    return FaltaCliente("El mensaje recibido no es un sobre SOAP 1.1");
  const xml::Node body = Hijo(sobre, "Body");
  const xml::Node op = body ? Hijo(body) : xml::Node();
  if (!op) return FaltaCliente("El sobre SOAP no contiene ninguna operación");

  Peticion p;
  p.operacion = op.baseName();
  std::string ns;
  if (p.operacion == kOpDispensacion)
    ns = kNsDispensacion;
  else if (p.operacion == kOpConsulta)
    ns = kNsConsulta;
  else
    return FaltaCliente("Operación desconocida: " + p.operacion);
  if (op.namespaceURI() != ns)
    return FaltaCliente("La operación " + p.operacion + " debe llegar en el espacio de nombres " +
                        ns + " (llegó en '" + op.namespaceURI() + "')");
  const xml::Node arg = Hijo(op, "arg0");
  if (!arg) return FaltaCliente("Falta el argumento arg0 de la operación " + p.operacion);
  for (const auto& c : arg.childNodes().items())
    if (c.nodeType() == xml::NodeType::Element) p.campos.emplace(c.baseName(), c.Text());

  // The fault settings closest to the request win: prescription, patient, command line, file.
  Averia averia;
  auto combinar = [&averia](const Averia& a) {
    if (!averia.fallo) averia.fallo = a.fallo;
    if (!averia.retrasoMs) averia.retrasoMs = a.retrasoMs;
    if (!averia.detalle) averia.detalle = a.detalle;
  };
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string tis = Recortar(p.Campo("TIS"));
    if (p.operacion == kOpDispensacion) {
      if (const Prescripcion* pr = datos_.BuscarPrescripcion(Recortar(p.Campo("idPrescripcion")))) {
        combinar(pr->averia);
        tis = pr->tis;
      }
    }
    if (const Paciente* pa = datos_.BuscarPaciente(tis)) combinar(pa->averia);
    combinar(opciones_.averia);
    combinar(datos_.averia);
  }

  Respuesta r;
  if (averia.fallo && *averia.fallo != Fallo::Ninguno)
    r = AplicarAveria(p, averia);
  else
    r = p.operacion == kOpDispensacion ? Dispensar(p) : Consultar(p);
  r.retrasoMs = averia.retrasoMs.value_or(0);
  if (r.retrasoMs > 0) r.linea += " (retraso " + std::to_string(r.retrasoMs) + " ms)";
  return r;
}

Respuesta Servicio::AplicarAveria(const Peticion& p, const Averia& averia) {
  Respuesta r;
  const std::string quien = p.operacion == kOpDispensacion ? Recortar(p.Campo("idPrescripcion"))
                                                           : Recortar(p.Campo("TIS"));
  r.linea = p.operacion + " " + (quien.empty() ? "-" : quien) +
            " fallo simulado: " + NombreFallo(*averia.fallo);
  switch (*averia.fallo) {
    case Fallo::Ninguno:
      break;
    case Fallo::Soap:
      r.estado = 500;
      r.cuerpo = Falta("Server", "Error interno del servicio regional",
                       averia.detalle.value_or("Fallo simulado por el simulador del servicio"));
      break;
    case Fallo::Http500:
      r.estado = 500;
      r.tipo = "text/plain; charset=utf-8";
      r.cuerpo = "Error interno del servidor\n";
      break;
    case Fallo::XmlMalo:
      r.cuerpo = kCabecera + "<ns1:" + p.operacion + "Response><return><nAvisos>1</nAvisos>" +
                 "<codigoAviso>&</return>";
      break;
    case Fallo::Vacio:
      r.tipo.clear();
      break;
    case Fallo::Cerrar:
      r.cerrar = true;
      break;
  }
  return r;
}

Respuesta Servicio::Dispensar(const Peticion& p) {
  std::vector<std::string> codigos;
  std::vector<std::string> textos;
  auto motivo = [&](const char* codigo, std::string texto) {
    codigos.push_back(codigo);
    textos.push_back(std::move(texto));
  };
  auto vacio = [&](const char* nombre) { return Recortar(p.Campo(nombre)).empty(); };

  const std::string id = Recortar(p.Campo("idPrescripcion"));
  for (const char* n : kObligatorios)
    if (vacio(n)) motivo(kFaltaDato, std::string("Falta el dato obligatorio ") + n);
  if (!vacio("fechaDispensacion") && !EsFechaValida(Recortar(p.Campo("fechaDispensacion"))))
    motivo(kValorNoValido, "La fecha de dispensación no es válida (aaaammdd)");
  if (id.empty()) {
    // A prescription without identifier carries its own data instead.
    for (const char* n : kObligatoriosSinId)
      if (vacio(n)) motivo(kFaltaDato, std::string("Falta el dato obligatorio ") + n);
    const std::string tipo = Recortar(p.Campo("tipoPrescripcion"));
    const std::string regimen = Recortar(p.Campo("regimenReceta"));
    if (!vacio("fechaPrescripcion") && !EsFechaValida(Recortar(p.Campo("fechaPrescripcion"))))
      motivo(kValorNoValido, "La fecha de prescripción no es válida (aaaammdd)");
    if (!regimen.empty() && regimen != "0" && regimen != "1")
      motivo(kValorNoValido, "El régimen de la receta no es válido: " + regimen);
    if (!tipo.empty() && tipo != "1" && tipo != "2" && tipo != "3" && tipo != "5")
      motivo(kValorNoValido, "El tipo de prescripción no es válido: " + tipo);
    if (tipo == "3" && vacio("nombreFormula"))
      motivo(kFaltaDato, "Falta el nombre de la fórmula magistral (nombreFormula)");
  }

  std::string codigoCorrecto;
  std::string textoCorrecto;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    codigoCorrecto = datos_.codigoCorrecto;
    textoCorrecto = datos_.textoCorrecto;
    // Identity is checked only on a complete request, and the prescription only for a known user.
    if (codigos.empty()) {
      const Usuario* u = datos_.BuscarUsuario(Recortar(p.Campo("idUsuario")));
      if (!u || u->clave != p.Campo("claveUsuario"))
        motivo(kUsuarioNoValido, "Usuario desconocido o clave incorrecta");
    }
    if (codigos.empty() && !id.empty()) {
      Prescripcion* pr = datos_.BuscarPrescripcion(id);
      if (!pr)
        motivo(kPrescripcionDesconocida, "Prescripción desconocida: " + id);
      else if (pr->dispensada)
        motivo(kYaDispensada, "La prescripción ya ha sido dispensada");
      else
        pr->dispensada = true;
    }
  }

  Respuesta r;
  std::string contenido;
  const bool aceptada = codigos.empty();
  if (opciones_.estilo == Estilo::MultiRef) {
    MultiRefs refs;
    const std::size_t retorno = refs.Reservar();
    const std::vector<std::string> avisos =
        aceptada ? std::vector<std::string>{codigoCorrecto} : std::vector<std::string>{};
    const std::vector<std::string> textosAviso =
        aceptada ? std::vector<std::string>{textoCorrecto} : std::vector<std::string>{};
    // One statement each: ids follow the order the references are written in.
    contenido = refs.Numero("nAvisos", static_cast<long>(avisos.size()));
    contenido += refs.Numero("nMotivosRechazo", static_cast<long>(codigos.size()));
    contenido += refs.Cadenas("codigoAviso", avisos);
    contenido += refs.Cadenas("textoAviso", textosAviso);
    contenido += refs.Cadenas("codigoMotivosRechazo", codigos);
    contenido += refs.Cadenas("textoMotivosRechazo", textos);
    refs.Poner(retorno, "xsi:type=\"bean:RespuestaPeticion\"", contenido);
    r.cuerpo = EnvolverMultiRef(kOpDispensacion, kNsDispensacion, refs);
  } else if (aceptada) {
    contenido = Entero("nAvisos", 1) + Entero("nMotivosRechazo", 0) +
                ArrayCadenas("codigoAviso", {codigoCorrecto}) +
                ArrayCadenas("textoAviso", {textoCorrecto}) +
                ArrayCadenas("codigoMotivosRechazo", {}) + ArrayCadenas("textoMotivosRechazo", {});
  } else {
    contenido =
        Entero("nAvisos", 0) + Entero("nMotivosRechazo", static_cast<long>(codigos.size())) +
        ArrayCadenas("codigoAviso", {}) + ArrayCadenas("textoAviso", {}) +
        ArrayCadenas("codigoMotivosRechazo", codigos) + ArrayCadenas("textoMotivosRechazo", textos);
  }
  if (opciones_.estilo != Estilo::MultiRef)
    r.cuerpo = Envolver(kOpDispensacion, kNsDispensacion, "RespuestaPeticion", contenido, "",
                        opciones_.retornoReferencia);

  r.linea = std::string(kOpDispensacion) + " " +
            (id.empty() ? "(sin identificador, TIS " + Recortar(p.Campo("TIS")) + ")" : id);
  if (aceptada) {
    r.linea += " aceptada: " + codigoCorrecto;
  } else {
    r.linea += " rechazada:";
    for (std::size_t i = 0; i < codigos.size(); ++i)
      r.linea += (i ? "; " : " ") + codigos[i] + " " + textos[i];
  }
  return r;
}

Respuesta Servicio::Consultar(const Peticion& p) {
  const std::string tis = Recortar(p.Campo("TIS"));
  int codigo = 0;
  std::string mensaje;
  std::vector<Prescripcion> pendientes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Usuario* u = datos_.BuscarUsuario(Recortar(p.Campo("usuario")));
    if (!u || u->clave != p.Campo("passwd")) {
      codigo = kConsultaUsuarioNoValido;
      mensaje = "Usuario desconocido o contraseña incorrecta";
    } else if (tis.empty()) {
      codigo = kConsultaFaltaTis;
      mensaje = "Falta la tarjeta sanitaria (TIS) del paciente";
    } else if (!datos_.BuscarPaciente(tis)) {
      codigo = kConsultaTisDesconocida;
      mensaje = "Tarjeta sanitaria (TIS) desconocida: " + tis;
    } else {
      for (const auto& pr : datos_.prescripciones)
        if (pr.tis == tis && !pr.dispensada) pendientes.push_back(pr);
    }
  }

  Respuesta r;
  r.linea = std::string(kOpConsulta) + " " + (tis.empty() ? "-" : tis);
  if (codigo == 0)
    r.linea += " correcta, pendientes: " + std::to_string(pendientes.size());
  else
    r.linea += " error " + std::to_string(codigo) + ": " + mensaje;

  if (opciones_.estilo == Estilo::MultiRef) {
    // Strings in place; the return part, each prescription and each number by reference.
    MultiRefs refs;
    const std::size_t retorno = refs.Reservar();
    std::string contenido = refs.Numero("codigoError", codigo);
    contenido += Cadena("mensajeError", mensaje) +
                 "<prescripciones xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"" +
                 "bean:Prescripcion[" + std::to_string(pendientes.size()) + "]\">";
    std::vector<std::size_t> ids;
    for (std::size_t i = 0; i < pendientes.size(); ++i) {
      ids.push_back(refs.Reservar());
      contenido += MultiRefs::Ref("item", ids.back());
    }
    refs.Poner(retorno, "xsi:type=\"bean:RespuestaConsultaPNDPorTIS\"",
               contenido + "</prescripciones>");
    for (std::size_t i = 0; i < pendientes.size(); ++i) {
      const Prescripcion& pr = pendientes[i];
      std::string campos = Cadena("idPrescripcion", pr.id) + Cadena("codProducto", pr.codProducto) +
                           Cadena("fechaPrescripcion", pr.fechaPrescripcion);
      campos += refs.Numero("envasesPrescritos", pr.envasesPrescritos);
      campos += refs.Numero("regimenReceta", pr.regimenReceta);
      campos += refs.Numero("visado", pr.visado);
      refs.Poner(ids[i], "xsi:type=\"bean:Prescripcion\"", campos);
    }
    r.cuerpo = EnvolverMultiRef(kOpConsulta, kNsConsulta, refs);
    return r;
  }

  // Strings of the prescriptions travel as references to body elements when asked; the error
  // code and message always travel as text, which is how they are read.
  std::string referencias;
  int siguiente = 0;
  auto valor = [&](const char* nombre, const std::string& v) {
    if (!opciones_.referencias) return Cadena(nombre, v);
    const std::string ref = "ID_" + std::to_string(++siguiente);
    referencias += "<xsd:string id=\"" + ref + "\" xsi:type=\"xsd:string\">" + xml::EscapeText(v) +
                   "</xsd:string>";
    return std::string("<") + nombre + " href=\"#" + ref + "\"/>";
  };
  std::string contenido = Entero("codigoError", codigo) + Cadena("mensajeError", mensaje) +
                          "<prescripciones xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"" +
                          "bean:Prescripcion[" + std::to_string(pendientes.size()) + "]\">";
  for (const auto& pr : pendientes) {
    contenido +=
        "<item xsi:type=\"bean:Prescripcion\">" + valor("idPrescripcion", pr.id) +
        valor("codProducto", pr.codProducto) + valor("fechaPrescripcion", pr.fechaPrescripcion) +
        Entero("envasesPrescritos", pr.envasesPrescritos) +
        Entero("regimenReceta", pr.regimenReceta) + Entero("visado", pr.visado) + "</item>";
  }
  contenido += "</prescripciones>";

  r.cuerpo = Envolver(kOpConsulta, kNsConsulta, "RespuestaConsultaPNDPorTIS", contenido,
                      referencias, opciones_.retornoReferencia);
  return r;
}

}  // namespace simulador
