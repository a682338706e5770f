// The regional-service simulator, started as a real process and spoken to over HTTP.
#include <signal.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "common/TempFolder.h"
#include "common/platform/xml.h"
#include "support/SimuladorProceso.h"

namespace xml = Interface::platform::xml;

namespace {

const char* const kDatos = R"(
[Servicio]
CodigoCorrecto = OK01
TextoCorrecto = Dispensada & anotada

[Usuario:U1]
Clave = k1

[Paciente:T1]
[Paciente:T2]
Fallo = soap
DetalleFallo = Consulta caída
[Paciente:T3]

[Prescripcion:P1]
TIS = T1
CodProducto = 654321
FechaPrescripcion = 20240517
EnvasesPrescritos = 2
RegimenReceta = 1
Visado = 3

[Prescripcion:P2]
TIS = T1
CodProducto = <raro>
FechaPrescripcion = 20240101

[Prescripcion:P3]
TIS = T1
Dispensada = 1

[Prescripcion:P-SOAP]
TIS = T3
Fallo = soap
DetalleFallo = Sin servicio
[Prescripcion:P-HTTP]
TIS = T3
Fallo = http500
[Prescripcion:P-XML]
TIS = T3
Fallo = xml
[Prescripcion:P-VACIO]
TIS = T3
Fallo = vacio
[Prescripcion:P-CERRAR]
TIS = T3
Fallo = cerrar
[Prescripcion:P-LENTA]
TIS = T3
Retraso = 3000
)";

using Campos = std::vector<std::pair<std::string, std::string>>;

// A complete dispensing of a prescription with an identifier, as the executor sends it.
Campos Dispensacion(const std::string& id) {
  return {{"importe", "12.5"},
          {"importeAportacion", "1.2"},
          {"codFarmacia", "F1"},
          {"fechaDispensacion", "20261207"},
          {"idioma", "1"},
          {"idUsuario", "U1"},
          {"idFarmaceutico", "FA"},
          {"claveUsuario", "k1"},
          {"envasesDispensados", "1"},
          {"numeroReceta", "N1"},
          {"codProvincia", "48"},
          {"codigoDispensado", "C1"},
          {"idPrescripcion", id}};
}

// The same without identifier: the prescription's own data instead.
Campos SinIdentificador() {
  Campos c = Dispensacion("");
  c.insert(c.end(), {{"codColegiadoPrescriptor", "CP1"},
                     {"fechaPrescripcion", "20261201"},
                     {"TIS", "T1"},
                     {"nombreFormula", ""},
                     {"regimenReceta", "0"},
                     {"tipoPrescripcion", "1"}});
  return c;
}

Campos Consulta(const std::string& tis, const std::string& passwd = "k1") {
  return {
      {"usuario", "U1"}, {"passwd", passwd}, {"idioma", "0"}, {"TIS", tis}, {"fecha", "20261207"}};
}

std::string Sobre(const std::string& operacion, const std::string& ns, const Campos& campos) {
  std::string s =
      "<?xml version='1.0' encoding='UTF-8'?><SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/' "
      "xmlns:SOAP-ENC='http://schemas.xmlsoap.org/soap/encoding/' "
      "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'><SOAP-ENV:Body><ns0:" +
      operacion + " xmlns:ns0='" + ns +
      "' SOAP-ENV:encodingStyle='http://schemas.xmlsoap.org/soap/encoding/'><arg0 "
      "xsi:type='bean:Peticion' xmlns:bean='java:dispensacion.ejb'>\r\n";
  for (const auto& [k, v] : campos) s += "<" + k + " >" + xml::EscapeText(v) + "</" + k + ">\r\n";
  return s + "</arg0></ns0:" + operacion + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

xml::Node Hijo(const xml::Node& n, const std::string& nombre) {
  for (const auto& c : n.childNodes().items())
    if (c.nodeType() == xml::NodeType::Element && c.baseName() == nombre) return c;
  return {};
}

std::vector<std::string> Nombres(const xml::NodeList& lista) {
  std::vector<std::string> r;
  for (const auto& n : lista.items()) r.push_back(n.nodeName());
  return r;
}

std::vector<std::string> Items(const xml::Node& array) {
  std::vector<std::string> r;
  for (const auto& n : array.childNodes().items()) {
    EXPECT_EQ(n.nodeName(), "SOAP-ENC:string");
    r.push_back(n.Text());
  }
  return r;
}

// An answer read the way the system reads it: the children of the return part, with the body's
// reference elements at hand.
struct Leida {
  xml::Document doc;
  xml::Node body;
  xml::NodeList retorno;
  std::map<std::string, std::string> referencias;

  xml::Node Campo(const std::string& nombre) const {
    for (const auto& n : retorno.items())
      if (n.nodeName() == nombre) return n;
    return {};
  }
  // The body-level element a node refers to (href="#id"), the node itself when it refers to none.
  xml::Node Seguir(const xml::Node& n) const {
    const std::string href = n.GetAttribute("href");
    if (href.empty()) return n;
    for (const auto& e : body.childNodes().items())
      if ("#" + e.GetAttribute("id") == href) return e;
    ADD_FAILURE() << "sin elemento para " << href;
    return {};
  }
  // A field's value, following its reference when it has one.
  std::string Valor(const xml::Node& n) const {
    const std::string href = n.GetAttribute("href");
    if (href.empty()) return n.Text();
    auto it = referencias.find(href.substr(1));
    return it == referencias.end() ? "<sin referencia " + href + ">" : it->second;
  }
};

Leida Leer(const std::string& cuerpo) {
  Leida l;
  if (!l.doc.Loadxml(cuerpo)) {
    ADD_FAILURE() << "la respuesta no es XML: " << cuerpo;
    return l;
  }
  l.body = Hijo(l.doc.documentElement(), "Body");
  xml::Node respuesta;
  for (const auto& n : l.body.childNodes().items()) {
    if (n.baseName() == "string" && !n.GetAttribute("id").empty())
      l.referencias[n.GetAttribute("id")] = n.Text();
    else if (!respuesta)
      respuesta = n;
  }
  xml::Node retorno = respuesta ? Hijo(respuesta, "return") : xml::Node();
  if (!retorno) {
    ADD_FAILURE() << "sin parte de retorno: " << cuerpo;
    return l;
  }
  if (!retorno.GetAttribute("href").empty()) {
    for (const auto& n : l.body.childNodes().items())
      if ("#" + n.GetAttribute("id") == retorno.GetAttribute("href")) retorno = n;
  }
  l.retorno = retorno.childNodes();
  return l;
}

class SimuladorTest : public ::testing::Test {
 protected:
  void Arrancar(std::vector<std::string> extra = {}, const std::string& datos = kDatos) {
    WriteAll(carpeta_ / "datos.ini", datos);
    extra.insert(extra.begin(), {"--datos", carpeta_ / "datos.ini"});
    sim_ = std::make_unique<SimuladorProceso>(extra);
    // Made even when the start failed, so that the test goes on failing instead of crashing.
    cli_ =
        std::make_unique<httplib::Client>(sim_->Arrancado() ? sim_->Base() : "http://127.0.0.1:1");
    cli_->set_read_timeout(20, 0);
    ASSERT_TRUE(sim_->Arrancado()) << sim_->Errores();
  }
  void TearDown() override {
    if (sim_) {
      EXPECT_EQ(sim_->Detener(SIGTERM), 0) << sim_->Errores();
    }
  }
  httplib::Result Post(const std::string& cuerpo) {
    return cli_->Post("/servicio", {{"SOAPAction", "\"x\""}}, cuerpo, "text/xml; charset=utf-8");
  }
  httplib::Result Dispensar(const Campos& c) {
    return Post(Sobre("solicitudDispensacion", "urn:Dispensacion", c));
  }
  httplib::Result Consultar(const Campos& c) {
    return Post(Sobre("consultaPrescripcionesNoDispensadasPorTis", "urn:Prescripciones", c));
  }
  // The prescription identifiers a retrieval lists for a patient.
  std::vector<std::string> Pendientes(const std::string& tis) {
    auto r = Consultar(Consulta(tis));
    std::vector<std::string> ids;
    if (!r || r->status != 200) {
      ADD_FAILURE() << "consulta fallida";
      return ids;
    }
    Leida l = Leer(r->body);
    for (const auto& p : l.Campo("prescripciones").childNodes().items())
      ids.push_back(l.Valor(Hijo(p, "idPrescripcion")));
    return ids;
  }

  TempFolder carpeta_;
  std::unique_ptr<SimuladorProceso> sim_;
  std::unique_ptr<httplib::Client> cli_;
};

TEST_F(SimuladorTest, DescriptionNamesBothOperationsAndPointsBackAtItself) {
  Arrancar();
  EXPECT_EQ(sim_->Url(), "http://127.0.0.1:" + std::to_string(sim_->Puerto()) + "/wsdl");
  auto r = cli_->Get("/wsdl");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200);
  xml::Document d;
  ASSERT_TRUE(d.Loadxml(r->body)) << d.parseError();
  const xml::Node raiz = d.documentElement();
  EXPECT_EQ(raiz.namespaceURI(), "http://schemas.xmlsoap.org/wsdl/");

  const xml::Node binding = Hijo(raiz, "binding");
  EXPECT_EQ(Hijo(binding, "binding").GetAttribute("style"), "rpc");
  std::map<std::string, std::string> espacios;
  for (const auto& op : binding.childNodes().items()) {
    if (op.baseName() != "operation") continue;
    const xml::Node cuerpo = Hijo(Hijo(op, "input"), "body");
    EXPECT_EQ(cuerpo.GetAttribute("use"), "encoded");
    espacios[op.GetAttribute("name")] = cuerpo.GetAttribute("namespace");
  }
  EXPECT_EQ(espacios, (std::map<std::string, std::string>{
                          {"consultaPrescripcionesNoDispensadasPorTis", "urn:Prescripciones"},
                          {"solicitudDispensacion", "urn:Dispensacion"}}));
  std::vector<std::string> partes;
  for (const auto& m : raiz.childNodes().items())
    if (m.baseName() == "message" && m.GetAttribute("name").find("Request") != std::string::npos)
      partes.push_back(Hijo(m, "part").GetAttribute("name") + " " +
                       Hijo(m, "part").GetAttribute("type"));
  EXPECT_EQ(partes, (std::vector<std::string>{"arg0 bean:PeticionDispensacion",
                                              "arg0 bean:PeticionConsultaPNDPorTIS"}));
  const xml::Node direccion = Hijo(Hijo(Hijo(raiz, "service"), "port"), "address");
  EXPECT_EQ(direccion.GetAttribute("location"), sim_->Base() + "/servicio");
  EXPECT_TRUE(sim_->EsperarLinea("wsdl"));
}

TEST_F(SimuladorTest, ThirdPartySoapStackReadsDescriptionAndAnswers) {
  if (std::system("/usr/bin/python3 -c 'import zeep' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-zeep no está instalado";
  Arrancar();
  const std::string salida = carpeta_ / "zeep.txt";
  const std::string guion =
      "import sys, zeep\n"
      "c = zeep.Client(sys.argv[1])\n"
      "ops = sorted(o for s in c.wsdl.services.values() for p in s.ports.values()"
      " for o in p.binding._operations)\n"
      "r = c.service.consultaPrescripcionesNoDispensadasPorTis(arg0={'usuario': 'U1',"
      " 'passwd': 'k1', 'idioma': 0, 'TIS': 'T1', 'fecha': '20261207'})\n"
      "ids = [p['idPrescripcion'] for p in r['prescripciones']]\n"
      "open(sys.argv[2], 'w').write(' '.join(ops) + '|' + str(r['codigoError']) + '|' +"
      " ' '.join(ids))\n";
  WriteAll(carpeta_ / "leer_wsdl.py", guion);
  const std::string orden = "timeout 60 /usr/bin/python3 " + (carpeta_ / "leer_wsdl.py") + " " +
                            sim_->Url() + " " + salida;
  ASSERT_EQ(std::system(orden.c_str()), 0);
  EXPECT_EQ(ReadAll(salida),
            "consultaPrescripcionesNoDispensadasPorTis solicitudDispensacion|0|P1 P2");
}

TEST_F(SimuladorTest, DispensingOfPendingPrescriptionSucceedsOnceAndLeavesRetrieval) {
  Arrancar();
  EXPECT_EQ(Pendientes("T1"), (std::vector<std::string>{"P1", "P2"}));

  auto r = Dispensar(Dispensacion("P1"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  Leida l = Leer(r->body);
  EXPECT_EQ(Nombres(l.retorno),
            (std::vector<std::string>{"nAvisos", "nMotivosRechazo", "codigoAviso", "textoAviso",
                                      "codigoMotivosRechazo", "textoMotivosRechazo"}));
  EXPECT_EQ(l.Campo("nAvisos").Text(), "1");
  EXPECT_EQ(l.Campo("nMotivosRechazo").Text(), "0");
  EXPECT_EQ(l.Campo("codigoAviso").GetAttribute("xsi:type"), "SOAP-ENC:Array");
  EXPECT_EQ(l.Campo("codigoAviso").GetAttribute("SOAP-ENC:arrayType"), "xsd:string[1]");
  EXPECT_EQ(Items(l.Campo("codigoAviso")), std::vector<std::string>{"OK01"});
  EXPECT_EQ(Items(l.Campo("textoAviso")), std::vector<std::string>{"Dispensada & anotada"});
  EXPECT_EQ(l.Campo("codigoMotivosRechazo").GetAttribute("SOAP-ENC:arrayType"), "xsd:string[0]");
  EXPECT_TRUE(Items(l.Campo("codigoMotivosRechazo")).empty());
  EXPECT_TRUE(sim_->EsperarLinea("solicitudDispensacion P1 aceptada: OK01"));
  EXPECT_EQ(Pendientes("T1"), std::vector<std::string>{"P2"});

  r = Dispensar(Dispensacion("P1"));
  ASSERT_TRUE(r);
  l = Leer(r->body);
  EXPECT_EQ(l.Campo("nAvisos").Text(), "0");
  EXPECT_EQ(l.Campo("nMotivosRechazo").Text(), "1");
  EXPECT_EQ(Items(l.Campo("codigoMotivosRechazo")), std::vector<std::string>{"1005"});
  EXPECT_EQ(Items(l.Campo("textoMotivosRechazo")),
            std::vector<std::string>{"La prescripción ya ha sido dispensada"});
  EXPECT_TRUE(sim_->EsperarLinea("solicitudDispensacion P1 rechazada: 1005"));
}

TEST_F(SimuladorTest, DispensingRejectionsCarryCodesAndTexts) {
  Arrancar();
  auto rechazo = [&](const Campos& c) {
    auto r = Dispensar(c);
    std::vector<std::string> codigos;
    if (!r || r->status != 200) {
      ADD_FAILURE() << "sin respuesta";
      return codigos;
    }
    Leida l = Leer(r->body);
    codigos = Items(l.Campo("codigoMotivosRechazo"));
    EXPECT_EQ(l.Campo("nMotivosRechazo").Text(), std::to_string(codigos.size()));
    EXPECT_EQ(Items(l.Campo("textoMotivosRechazo")).size(), codigos.size());
    EXPECT_TRUE(Items(l.Campo("codigoAviso")).empty());
    return codigos;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(rechazo(Dispensacion("NOEXISTE")), V{"1004"});
  EXPECT_EQ(rechazo(Dispensacion("P3")), V{"1005"});  // dispensed before the start

  Campos clave = Dispensacion("P2");
  clave[7].second = "mala";
  EXPECT_EQ(rechazo(clave), V{"1003"});
  Campos usuario = Dispensacion("P2");
  usuario[5].second = "NADIE";
  EXPECT_EQ(rechazo(usuario), V{"1003"});

  Campos incompleta = Dispensacion("P2");
  incompleta[0].second = "  ";                // importe
  incompleta.erase(incompleta.begin() + 10);  // codProvincia
  EXPECT_EQ(rechazo(incompleta), (V{"1001", "1001"}));
  Campos fecha = Dispensacion("P2");
  fecha[3].second = "20260231";
  EXPECT_EQ(rechazo(fecha), V{"1002"});

  // None of these consumed P2.
  EXPECT_EQ(Pendientes("T1"), (V{"P1", "P2"}));
}

TEST_F(SimuladorTest, DispensingWithoutIdentifierNeedsThePrescriptionsOwnData) {
  Arrancar();
  auto codigos = [&](const Campos& c) {
    auto r = Dispensar(c);
    if (!r) return std::vector<std::string>{"sin respuesta"};
    Leida l = Leer(r->body);
    auto v = Items(l.Campo("codigoAviso"));
    for (auto& m : Items(l.Campo("codigoMotivosRechazo"))) v.push_back(m);
    return v;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(codigos(SinIdentificador()), V{"OK01"});
  EXPECT_EQ(codigos(SinIdentificador()), V{"OK01"});  // each one is a new dispensing
  EXPECT_TRUE(sim_->EsperarLinea("solicitudDispensacion (sin identificador, TIS T1) aceptada"));

  Campos formula = SinIdentificador();
  formula.back().second = "3";  // a compounded formula needs its name
  EXPECT_EQ(codigos(formula), V{"1001"});
  formula[16].second = "Crema";
  EXPECT_EQ(codigos(formula), V{"OK01"});

  Campos sinTis = SinIdentificador();
  sinTis[15].second = "";
  EXPECT_EQ(codigos(sinTis), V{"1001"});
  Campos regimen = SinIdentificador();
  regimen[17].second = "7";
  EXPECT_EQ(codigos(regimen), V{"1002"});
  Campos tipo = SinIdentificador();
  tipo.pop_back();
  EXPECT_EQ(codigos(tipo), V{"1001"});
  EXPECT_EQ(Pendientes("T1"), (V{"P1", "P2"}));
}

TEST_F(SimuladorTest, RetrievalSendsStringsAsReferencesPlacedInTheBody) {
  Arrancar();
  auto r = Consultar(Consulta("T1"));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200);
  Leida l = Leer(r->body);
  // The reader takes its document from the second node, so the order matters.
  EXPECT_EQ(Nombres(l.retorno),
            (std::vector<std::string>{"codigoError", "mensajeError", "prescripciones"}));
  EXPECT_EQ(l.Campo("codigoError").Text(), "0");
  EXPECT_EQ(l.Campo("mensajeError").GetAttribute("href"), "");
  const auto items = l.Campo("prescripciones").childNodes().items();
  ASSERT_EQ(items.size(), 2u);
  const xml::Node p1 = items[0];
  EXPECT_EQ(Nombres(p1.childNodes()),
            (std::vector<std::string>{"idPrescripcion", "codProducto", "fechaPrescripcion",
                                      "envasesPrescritos", "regimenReceta", "visado"}));
  const std::string href = Hijo(p1, "idPrescripcion").GetAttribute("href");
  EXPECT_EQ(href.rfind("#ID_", 0), 0u) << href;
  EXPECT_EQ(l.Valor(Hijo(p1, "idPrescripcion")), "P1");
  EXPECT_EQ(l.Valor(Hijo(p1, "codProducto")), "654321");
  EXPECT_EQ(l.Valor(Hijo(p1, "fechaPrescripcion")), "20240517");
  EXPECT_EQ(Hijo(p1, "envasesPrescritos").Text(), "2");
  EXPECT_EQ(Hijo(p1, "regimenReceta").Text(), "1");
  EXPECT_EQ(Hijo(p1, "visado").Text(), "3");
  EXPECT_EQ(l.Valor(Hijo(items[1], "codProducto")), "<raro>");
  // Reference elements sit directly in the body, six of them, with distinct identifiers.
  EXPECT_EQ(l.referencias.size(), 6u);
  for (const auto& n : l.body.childNodes().items())
    if (!n.GetAttribute("id").empty()) {
      EXPECT_EQ(n.nodeName(), "xsd:string");
    }
  EXPECT_TRUE(sim_->EsperarLinea("Tis T1 correcta, pendientes: 2"));
}

TEST_F(SimuladorTest, RetrievalInlineOrWithReturnPartAsReference) {
  Arrancar({"--sin-referencias", "--retorno-referencia"});
  auto r = Consultar(Consulta("T1"));
  ASSERT_TRUE(r);
  Leida l = Leer(r->body);
  EXPECT_TRUE(l.referencias.empty());
  EXPECT_EQ(Nombres(l.retorno),
            (std::vector<std::string>{"codigoError", "mensajeError", "prescripciones"}));
  const xml::Node p1 = l.Campo("prescripciones").childNodes().Item(0);
  EXPECT_EQ(Hijo(p1, "idPrescripcion").GetAttribute("href"), "");
  EXPECT_EQ(Hijo(p1, "idPrescripcion").Text(), "P1");

  r = Dispensar(Dispensacion("P1"));
  ASSERT_TRUE(r);
  EXPECT_EQ(Items(Leer(r->body).Campo("codigoAviso")), std::vector<std::string>{"OK01"});
}

TEST_F(SimuladorTest, MultiRefStyleSendsStructuresArraysAndNumbersByReference) {
  Arrancar({"--estilo", "multiref"});
  auto r = Consultar(Consulta("T1"));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200);
  Leida l = Leer(r->body);
  // Every element after the response element is a multiRef, referred to exactly once, numbered
  // in the order the references are written.
  std::vector<std::string> ids, refs;
  for (const auto& n : l.body.childNodes().items()) {
    if (n.GetAttribute("id").empty()) continue;
    EXPECT_EQ(n.nodeName(), "multiRef");
    ids.push_back(n.GetAttribute("id"));
  }
  const std::size_t pos = r->body.find("<multiRef");
  for (std::size_t p = 0; (p = r->body.find("href=\"#", p)) != std::string::npos; ++p)
    refs.push_back(r->body.substr(p + 7, r->body.find('"', p + 7) - p - 7));
  EXPECT_EQ(refs, ids);
  EXPECT_LT(r->body.find("<return href=\"#id0\"/>"), pos);
  ASSERT_EQ(ids.size(), 10u);  // return, error code, two prescriptions, three numbers each

  EXPECT_EQ(Nombres(l.retorno),
            (std::vector<std::string>{"codigoError", "mensajeError", "prescripciones"}));
  EXPECT_EQ(l.Seguir(l.Campo("codigoError")).Text(), "0");
  const auto items = l.Campo("prescripciones").childNodes().items();
  ASSERT_EQ(items.size(), 2u);
  auto campos = [&](const xml::Node& item) {
    std::vector<std::string> v;
    for (const auto& c : l.Seguir(item).childNodes().items())
      v.push_back(c.nodeName() + "=" + l.Seguir(c).Text());
    return v;
  };
  EXPECT_EQ(campos(items[0]),
            (std::vector<std::string>{"idPrescripcion=P1", "codProducto=654321",
                                      "fechaPrescripcion=20240517", "envasesPrescritos=2",
                                      "regimenReceta=1", "visado=3"}));
  EXPECT_EQ(campos(items[1])[1], "codProducto=<raro>");

  // The dispensing answer: counts and arrays by reference too, accepted and refused.
  auto avisos = [&](const Campos& c) {
    auto d = Dispensar(c);
    std::vector<std::string> v;
    if (!d || d->status != 200) {
      ADD_FAILURE() << "sin respuesta";
      return v;
    }
    Leida a = Leer(d->body);
    for (const auto& c : a.retorno.items()) {
      std::string t = c.nodeName() + "=" + a.Seguir(c).Text();
      for (const auto& i : a.Seguir(c).childNodes().items())
        if (i.nodeType() == xml::NodeType::Element) t += i.nodeName() == "item" ? "|" : "?";
      v.push_back(t);
    }
    return v;
  };
  EXPECT_EQ(avisos(Dispensacion("P1")),
            (std::vector<std::string>{"nAvisos=1", "nMotivosRechazo=0", "codigoAviso=OK01|",
                                      "textoAviso=Dispensada & anotada|",
                                      "codigoMotivosRechazo=", "textoMotivosRechazo="}));
  EXPECT_EQ(
      avisos(Dispensacion("P1")),
      (std::vector<std::string>{"nAvisos=0", "nMotivosRechazo=1",
                                "codigoAviso=", "textoAviso=", "codigoMotivosRechazo=1005|",
                                "textoMotivosRechazo=La prescripción ya ha sido dispensada|"}));
}

TEST_F(SimuladorTest, PrintedDescriptionIsTheOneServed) {
  Arrancar();
  auto r = cli_->Get("/wsdl");
  ASSERT_TRUE(r);
  SimuladorProceso impresa({"--descripcion", "--port", std::to_string(sim_->Puerto())});
  EXPECT_EQ(impresa.EsperarFin(), 0) << impresa.Errores();
  // The first line is taken apart as the URL; the rest follows it.
  std::string resto;
  while (auto linea = impresa.EsperarLinea("", std::chrono::seconds(1))) resto += *linea + "\n";
  EXPECT_EQ(impresa.Url() + "\n" + resto, r->body);

  SimuladorProceso sinPuerto({"--descripcion"});
  EXPECT_EQ(sinPuerto.EsperarFin(), 2);
  EXPECT_NE(sinPuerto.Errores().find("--descripcion necesita el puerto"), std::string::npos);
}

TEST_F(SimuladorTest, RetrievalErrorsAnswerNonZeroCodeAndMessage) {
  Arrancar();
  auto error = [&](const Campos& c) {
    auto r = Consultar(c);
    if (!r || r->status != 200) return std::string("sin respuesta");
    Leida l = Leer(r->body);
    EXPECT_EQ(l.Campo("prescripciones").childNodes().length(), 0);
    EXPECT_FALSE(l.Campo("mensajeError").Text().empty());
    return l.Campo("codigoError").Text();
  };
  EXPECT_EQ(error(Consulta("T1", "mala")), "2");
  EXPECT_EQ(error(Consulta("NOEXISTE")), "3");
  EXPECT_EQ(error(Consulta("")), "1");
  EXPECT_TRUE(sim_->EsperarLinea("consultaPrescripcionesNoDispensadasPorTis T1 error 2"));
}

TEST_F(SimuladorTest, FaultsChosenPerPrescriptionOrPatient) {
  Arrancar();
  auto r = Dispensar(Dispensacion("P-SOAP"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  xml::Document d;
  ASSERT_TRUE(d.Loadxml(r->body));
  const xml::Node falta = Hijo(Hijo(d.documentElement(), "Body"), "Fault");
  EXPECT_FALSE(Hijo(falta, "faultstring").Text().empty());
  EXPECT_EQ(Hijo(falta, "detail").Text(), "Sin servicio");
  EXPECT_TRUE(sim_->EsperarLinea("solicitudDispensacion P-SOAP fallo simulado: soap"));

  r = Dispensar(Dispensacion("P-HTTP"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_FALSE(d.Loadxml(r->body));

  r = Dispensar(Dispensacion("P-XML"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_FALSE(r->body.empty());
  EXPECT_FALSE(d.Loadxml(r->body));

  r = Dispensar(Dispensacion("P-VACIO"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "");

  r = Dispensar(Dispensacion("P-CERRAR"));
  EXPECT_FALSE(r);
  EXPECT_TRUE(sim_->EsperarLinea("P-CERRAR fallo simulado: cerrar"));

  // The retrieval of a patient with a fault, and the state left untouched by faulted requests.
  r = Consultar(Consulta("T2"));
  ASSERT_TRUE(r);
  ASSERT_TRUE(d.Loadxml(r->body));
  EXPECT_EQ(Hijo(Hijo(Hijo(d.documentElement(), "Body"), "Fault"), "detail").Text(),
            "Consulta caída");
  EXPECT_EQ(Pendientes("T3"), (std::vector<std::string>{"P-SOAP", "P-HTTP", "P-XML", "P-VACIO",
                                                        "P-CERRAR", "P-LENTA"}));
}

TEST_F(SimuladorTest, DelayedAnswerArrivesLateAndIsStillApplied) {
  Arrancar();
  httplib::Client impaciente(sim_->Base());
  impaciente.set_read_timeout(0, 300 * 1000);
  auto r = impaciente.Post(
      "/servicio", Sobre("solicitudDispensacion", "urn:Dispensacion", Dispensacion("P-LENTA")),
      "text/xml");
  EXPECT_FALSE(r);  // three seconds of delay against a client that waits 300 ms
  EXPECT_TRUE(sim_->EsperarLinea("P-LENTA aceptada: OK01 (retraso 3000 ms)"));

  r = Dispensar(Dispensacion("P-LENTA"));
  ASSERT_TRUE(r);
  EXPECT_EQ(Items(Leer(r->body).Campo("codigoMotivosRechazo")), std::vector<std::string>{"1005"});
}

TEST_F(SimuladorTest, GlobalFaultFlagsApplyUnlessAnEntrySaysOtherwise) {
  Arrancar({"--fallo", "soap", "--detalle", "Mantenimiento <programado>"});
  auto r = Dispensar(Dispensacion("P1"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  xml::Document d;
  ASSERT_TRUE(d.Loadxml(r->body));
  EXPECT_EQ(Hijo(Hijo(Hijo(d.documentElement(), "Body"), "Fault"), "detail").Text(),
            "Mantenimiento <programado>");
  r = Dispensar(Dispensacion("P-VACIO"));  // its own fault wins
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "");
}

TEST_F(SimuladorTest, MalformedOrUnknownRequestsAnswerClientFaults) {
  Arrancar();
  auto cliente = [&](const std::string& cuerpo) {
    auto r = Post(cuerpo);
    if (!r) return std::string("sin respuesta");
    EXPECT_EQ(r->status, 500);
    xml::Document d;
    if (!d.Loadxml(r->body)) return std::string("no XML");
    return Hijo(Hijo(Hijo(d.documentElement(), "Body"), "Fault"), "faultcode").Text();
  };
  EXPECT_EQ(cliente("<no es xml"), "SOAP-ENV:Client");
  EXPECT_EQ(cliente("<Envelope/>"), "SOAP-ENV:Client");
  EXPECT_EQ(cliente(Sobre("otraOperacion", "urn:Dispensacion", {})), "SOAP-ENV:Client");
  EXPECT_EQ(cliente(Sobre("solicitudDispensacion", "urn:Otro", Dispensacion("P1"))),
            "SOAP-ENV:Client");
  EXPECT_EQ(Pendientes("T1"), (std::vector<std::string>{"P1", "P2"}));
}

TEST_F(SimuladorTest, RequestLinesNameTheProxyTheyCameThrough) {
  Arrancar();
  auto r = cli_->Post("/servicio", {{"Via", "1.1 tinyproxy (tinyproxy/1.11.1)"}},
                      Sobre("solicitudDispensacion", "urn:Dispensacion", Dispensacion("P1")),
                      "text/xml");
  ASSERT_TRUE(r);
  EXPECT_TRUE(sim_->EsperarLinea("P1 aceptada: OK01 [vía 1.1 tinyproxy"));
}

TEST_F(SimuladorTest, SigintAlsoStopsCleanlyEvenDuringADelay) {
  Arrancar({"--retraso", "60000"});
  std::thread peticion([this] { Dispensar(Dispensacion("P1")); });
  // The line comes as the delay starts; the stop must not wait for the minute to pass.
  EXPECT_TRUE(sim_->EsperarLinea("(retraso 60000 ms)"));
  EXPECT_EQ(sim_->Detener(SIGINT), 0) << sim_->Errores();
  peticion.join();
  sim_.reset();
}

TEST(SimuladorArranque, RefusesBadDataAndArgumentsWithSpanishMessages) {
  TempFolder carpeta;
  WriteAll(carpeta / "malo.ini", "[Usuario:U1]\nClave = k\n\n[Prescripcion:P1]\nTIS = T9\n");
  SimuladorProceso paciente({"--datos", carpeta / "malo.ini"});
  EXPECT_FALSE(paciente.Arrancado());
  EXPECT_EQ(paciente.EsperarFin(), 2);
  EXPECT_NE(paciente.Errores().find("paciente no declarado: T9"), std::string::npos)
      << paciente.Errores();

  WriteAll(carpeta / "malo.ini", "[Servicio]\nCodigoCorrecto = 0000\nFallo = a veces\n");
  SimuladorProceso fallo({"--datos", carpeta / "malo.ini"});
  EXPECT_EQ(fallo.EsperarFin(), 2);
  EXPECT_NE(fallo.Errores().find("línea 3: fallo desconocido"), std::string::npos)
      << fallo.Errores();

  SimuladorProceso sinDatos({});
  EXPECT_EQ(sinDatos.EsperarFin(), 2);
  EXPECT_NE(sinDatos.Errores().find("falta el archivo de datos"), std::string::npos);

  SimuladorProceso estilo({"--datos", carpeta / "malo.ini", "--estilo", "axis"});
  EXPECT_EQ(estilo.EsperarFin(), 2);
  EXPECT_NE(estilo.Errores().find("estilo desconocido: axis"), std::string::npos);
  SimuladorProceso mezcla(
      {"--datos", carpeta / "malo.ini", "--estilo", "multiref", "--sin-referencias"});
  EXPECT_EQ(mezcla.EsperarFin(), 2);
  EXPECT_NE(mezcla.Errores().find("solo valen con el estilo normal"), std::string::npos);

  SimuladorProceso ayuda({"--help"});
  EXPECT_EQ(ayuda.EsperarFin(), 0);
  EXPECT_NE(ayuda.Url().find("Simulador del servicio regional"), std::string::npos);
}

TEST(SimuladorArranque, ShippedSampleDataLoadsAndABusyPortIsRefused) {
  const std::string muestra =
      std::string(PRESCORA_SOURCE_DIR) + "/tools/simulador/datos-ejemplo.ini";
  SimuladorProceso sim({"--datos", muestra});
  ASSERT_TRUE(sim.Arrancado()) << sim.Errores();
  SimuladorProceso otro({"--datos", muestra, "--port", std::to_string(sim.Puerto())});
  EXPECT_FALSE(otro.Arrancado());
  EXPECT_EQ(otro.EsperarFin(), 1);
  EXPECT_NE(otro.Errores().find("no se puede escuchar"), std::string::npos) << otro.Errores();
  EXPECT_EQ(sim.Detener(SIGTERM), 0);
}

TEST(SimuladorArranque, ServesOverTlsWithTheGivenCertificate) {
  TempFolder carpeta;
  const std::string orden =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1 -keyout " +
      (carpeta / "key.pem") + " -out " + (carpeta / "cert.pem") + " >/dev/null 2>&1";
  if (std::system(orden.c_str()) != 0) GTEST_SKIP() << "openssl no está disponible";
  WriteAll(carpeta / "datos.ini", kDatos);
  SimuladorProceso sim({"--datos", carpeta / "datos.ini", "--cert", carpeta / "cert.pem", "--key",
                        carpeta / "key.pem"});
  ASSERT_TRUE(sim.Arrancado()) << sim.Errores();
  EXPECT_EQ(sim.Url().rfind("https://127.0.0.1:", 0), 0u) << sim.Url();
  httplib::SSLClient cli("127.0.0.1", sim.Puerto());
  cli.set_ca_cert_path((carpeta / "cert.pem").c_str());
  cli.enable_server_certificate_verification(true);
  cli.set_read_timeout(20, 0);
  auto r = cli.Get("/wsdl");
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.find("location=\"" + sim.Base() + "/servicio\""), std::string::npos);
  EXPECT_EQ(sim.Detener(SIGTERM), 0);
}

}  // namespace
