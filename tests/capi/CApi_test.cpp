// The C interface as a host meets it: only the C header and libprescora.so. Every value must come
// back exactly as it was set, and every misuse must become an error item of the thread, never a
// crash or a changed record.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "prescora.h"

namespace {

// A text from the library, released as the interface says.
std::string Take(char* text) {
  EXPECT_NE(text, nullptr);
  std::string value = text != nullptr ? text : "<null>";
  prescora_free(text);
  return value;
}

// Accents, markup, an entity, quotes and a character outside the Basic Multilingual Plane.
const char* const kValues[] = {"", "RX0000000001", "Ñandú & <b>niño</b> \"ü\" 'x' ]]> &amp; €",
                               "\xF0\x9F\x92\x8A pastilla"};

using Getter = char* (*)(const prescora_peticion*);
using Setter = int32_t (*)(prescora_peticion*, const char*);
struct TextProperty {
  const char* name;
  Getter get;
  Setter set;
};
#define PROPERTY(name) \
  { #name, prescora_peticion_##name, prescora_peticion_set_##name }
const TextProperty kTextProperties[] = {
    PROPERTY(IDPrescripcion),    PROPERTY(Importe),
    PROPERTY(ImporteAportacion), PROPERTY(IdFarmacia),
    PROPERTY(FechaDispensacion), PROPERTY(Idioma),
    PROPERTY(IdUsuario),         PROPERTY(IdFarmaceutico),
    PROPERTY(ClaveUsuario),      PROPERTY(EnvasesDispensados),
    PROPERTY(NumeroReceta),      PROPERTY(IdProvincia),
    PROPERTY(CodigoDispensado),  PROPERTY(CodigoColegiadoPrescriptor),
    PROPERTY(FechaPrescripcion), PROPERTY(TIS),
    PROPERTY(FormulaMagistral),
};
#undef PROPERTY

// Not UTF-8: a lone continuation, a truncated sequence, an overlong "/", a surrogate, past
// U+10FFFF.
const char* const kNotUtf8[] = {"\x80",         "ab\xE2\x82",       "\xC0\xAF",
                                "\xED\xA0\x80", "\xF4\x90\x80\x80", "Caf\xE9"};

struct Peticion {
  prescora_peticion* p = prescora_peticion_new();
  ~Peticion() { prescora_peticion_free(p); }
};
struct Respuesta {
  prescora_respuesta* r = prescora_respuesta_new();
  ~Respuesta() { prescora_respuesta_free(r); }
};

TEST(CApiPeticion, EveryTextPropertyRoundTripsOnItsOwn) {
  for (const auto& property : kTextProperties) {
    SCOPED_TRACE(property.name);
    Peticion request;
    for (const char* value : kValues) {
      ASSERT_EQ(property.set(request.p, value), 0);
      EXPECT_EQ(prescora_ultimo_error(), 0);
      EXPECT_EQ(Take(property.get(request.p)), value);
    }
    // Properties do not share storage: the others are still blank.
    for (const auto& other : kTextProperties) {
      if (&other == &property) continue;
      EXPECT_EQ(Take(other.get(request.p)), "") << other.name;
    }
  }
}

TEST(CApiPeticion, RefusedTextsLeaveTheValueAndAnErrorItem) {
  Peticion request;
  ASSERT_EQ(prescora_peticion_set_Importe(request.p, "12.50"), 0);
  for (const char* bad : kNotUtf8) {
    EXPECT_EQ(prescora_peticion_set_Importe(request.p, bad), 5) << bad;
    EXPECT_EQ(prescora_ultimo_error(), 5);
    EXPECT_EQ(Take(prescora_ultimo_error_origen()), "prescora_peticion_set_Importe");
    EXPECT_EQ(Take(prescora_ultimo_error_descripcion()),
              "Llamada a procedimiento o argumento no válidos");
  }
  EXPECT_EQ(prescora_peticion_set_Importe(request.p, nullptr), 5);
  EXPECT_EQ(Take(prescora_peticion_Importe(request.p)), "12.50");
  EXPECT_EQ(prescora_ultimo_error(), 0) << "a call that succeeds clears the last error";
}

TEST(CApiPeticion, ValuePropertiesAndTheRecordForm) {
  Peticion request;
  EXPECT_EQ(prescora_peticion_RegimenReceta(request.p), PRESCORA_REGIMEN_VACIO);
  EXPECT_EQ(prescora_peticion_TipoPrescripcion(request.p), PRESCORA_PRESCRIPCION_VACIO);
  EXPECT_EQ(prescora_peticion_SaveSOAPMsgToFile(request.p), 0);
  ASSERT_EQ(prescora_peticion_set_RegimenReceta(request.p, PRESCORA_PENSIONISTA), 0);
  ASSERT_EQ(prescora_peticion_set_TipoPrescripcion(request.p, PRESCORA_FORMULA_MAGISTRAL), 0);
  ASSERT_EQ(prescora_peticion_set_SaveSOAPMsgToFile(request.p, 7), 0);
  EXPECT_EQ(prescora_peticion_RegimenReceta(request.p), PRESCORA_PENSIONISTA);
  EXPECT_EQ(prescora_peticion_TipoPrescripcion(request.p), PRESCORA_FORMULA_MAGISTRAL);
  EXPECT_EQ(prescora_peticion_SaveSOAPMsgToFile(request.p), 1);

  EXPECT_EQ(prescora_peticion_RequiredFields(request.p), 0);
  ASSERT_EQ(prescora_peticion_set_IdFarmacia(request.p, "Crema <b>& co"), 0);
  std::string form = Take(prescora_peticion_ToString(request.p, 0));
  EXPECT_NE(form.find("PeticionDispensacion"), std::string::npos);
  EXPECT_NE(form.find("Crema &lt;b&gt;&amp; co"), std::string::npos) << form;
}

struct Argumento {
  prescora_argumento* a = prescora_argumento_new();
  ~Argumento() { prescora_argumento_free(a); }
};

TEST(CApiArgumento, PropertiesRoundTripAndTheRequestElementEscapesThem) {
  struct ArgumentProperty {
    const char* name;
    char* (*get)(const prescora_argumento*);
    int32_t (*set)(prescora_argumento*, const char*);
  };
  const ArgumentProperty properties[] = {
      {"Usuario", prescora_argumento_Usuario, prescora_argumento_set_Usuario},
      {"Password", prescora_argumento_Password, prescora_argumento_set_Password},
      {"TIS", prescora_argumento_TIS, prescora_argumento_set_TIS},
      {"TitularTarjeta", prescora_argumento_TitularTarjeta, prescora_argumento_set_TitularTarjeta},
  };
  Argumento argument;
  for (const auto& property : properties) {
    SCOPED_TRACE(property.name);
    for (const char* value : kValues) {
      ASSERT_EQ(property.set(argument.a, value), 0);
      EXPECT_EQ(Take(property.get(argument.a)), value);
    }
    EXPECT_EQ(property.set(argument.a, "\xC3"), 5);
    EXPECT_EQ(Take(property.get(argument.a)), kValues[3]);
  }
  for (int16_t language : {int16_t{-32768}, int16_t{0}, int16_t{32767}}) {
    ASSERT_EQ(prescora_argumento_set_Idioma(argument.a, language), 0);
    EXPECT_EQ(prescora_argumento_Idioma(argument.a), language);
  }
  std::string fecha = Take(prescora_argumento_Fecha(argument.a));
  EXPECT_EQ(fecha.size(), 10u);
  EXPECT_EQ(fecha[4], '/');
  EXPECT_EQ(prescora_argumento_RequiredFields(argument.a), 1);

  ASSERT_EQ(prescora_argumento_set_Password(argument.a, "a&b<c>"), 0);
  std::string element = Take(prescora_argumento_ToString(argument.a));
  EXPECT_NE(element.find("p70PeticionConsultaPNDPorTIS"), std::string::npos);
  EXPECT_NE(element.find("a&amp;b&lt;c&gt;"), std::string::npos) << element;
}

TEST(CApiRespuesta, ListsCountsAndFlagsRoundTrip) {
  Respuesta response;
  const prescora_lista lists[] = {PRESCORA_CODIGO_AVISO, PRESCORA_TEXTO_AVISO,
                                  PRESCORA_CODIGO_MOTIVOS_RECHAZO, PRESCORA_TEXTO_MOTIVOS_RECHAZO};
  for (prescora_lista list : lists) {
    SCOPED_TRACE(list);
    for (const char* value : kValues) ASSERT_EQ(prescora_respuesta_add(response.r, list, value), 0);
    ASSERT_EQ(prescora_respuesta_count(response.r, list), 4);
    for (int32_t i = 0; i < 4; ++i)
      EXPECT_EQ(Take(prescora_respuesta_item(response.r, list, i)), kValues[i]);
  }
  ASSERT_EQ(prescora_respuesta_clear(response.r, PRESCORA_TEXTO_AVISO), 0);
  EXPECT_EQ(prescora_respuesta_count(response.r, PRESCORA_TEXTO_AVISO), 0);
  EXPECT_EQ(prescora_respuesta_count(response.r, PRESCORA_CODIGO_AVISO), 4);

  ASSERT_EQ(prescora_respuesta_set_m_intNAvisos(response.r, -32768), 0);
  ASSERT_EQ(prescora_respuesta_set_m_intNMotivosRechazo(response.r, 32767), 0);
  EXPECT_EQ(prescora_respuesta_m_intNAvisos(response.r), -32768);
  EXPECT_EQ(prescora_respuesta_m_intNMotivosRechazo(response.r), 32767);
  EXPECT_EQ(prescora_respuesta_DatosValidos(response.r), 0);
  ASSERT_EQ(prescora_respuesta_set_DatosValidos(response.r, 1), 0);
  EXPECT_EQ(prescora_respuesta_DatosValidos(response.r), 1);
  EXPECT_EQ(prescora_respuesta_DispensacionRealizada(response.r), 0);
}

TEST(CApiMisuse, BecomesAnErrorItemNeverACrash) {
  Respuesta response;
  ASSERT_EQ(prescora_respuesta_add(response.r, PRESCORA_CODIGO_AVISO, "0000"), 0);

  struct Case {
    const char* what;
    std::function<bool()> call;  // true when the call answered as a failure should
    int32_t number;
  };
  const Case cases[] = {
      {"index past the end",
       [&] { return prescora_respuesta_item(response.r, PRESCORA_CODIGO_AVISO, 1) == nullptr; }, 9},
      {"negative index",
       [&] { return prescora_respuesta_item(response.r, PRESCORA_CODIGO_AVISO, -1) == nullptr; },
       9},
      {"unknown list", [&] { return prescora_respuesta_count(response.r, 7) == 0; }, 5},
      {"text not UTF-8 into a list",
       [&] { return prescora_respuesta_add(response.r, PRESCORA_TEXTO_AVISO, "\xFF") == 5; }, 5},
      {"NULL request", [] { return prescora_peticion_Importe(nullptr) == nullptr; }, 91},
      {"NULL request set", [] { return prescora_peticion_set_TIS(nullptr, "x") == 91; }, 91},
      {"NULL response",
       [] { return prescora_respuesta_count(nullptr, PRESCORA_CODIGO_AVISO) == 0; }, 91},
      {"NULL front object", [] { return prescora_interface_Enabled(nullptr) == 0; }, 91},
      {"NULL front object outcome", [] { return prescora_interface_Envio(nullptr) == 0; }, 91},
      {"NULL front dispensing",
       [] { return prescora_interface_SolicitudDispensacion(nullptr, nullptr) == nullptr; }, 91},
      {"NULL error list", [] { return prescora_errores_Description(nullptr, 0) == nullptr; }, 91},
      {"NULL prescription list",
       [] { return prescora_prescripcion_IDPrescripcion(nullptr, 0) == nullptr; }, 91},
      {"NULL retrieval front object",
       [] { return prescora_initiator_RecuperarPrescripciones(nullptr, nullptr) == nullptr; }, 91},
      {"NULL argument", [] { return prescora_argumento_set_TIS(nullptr, "x") == 91; }, 91},
      {"NULL card",
       [] {
         prescora_errores* error = reinterpret_cast<prescora_errores*>(1);
         return prescora_tarjeta_GetCardData(nullptr, nullptr, &error) == 0 && error == nullptr;
       },
       91},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(c.call()) << c.what;
    EXPECT_EQ(prescora_ultimo_error(), c.number) << c.what;
  }
  EXPECT_EQ(prescora_respuesta_count(response.r, PRESCORA_TEXTO_AVISO), 0) << "nothing was added";
  // Releasing nothing is allowed.
  prescora_free(nullptr);
  prescora_peticion_free(nullptr);
  prescora_respuesta_free(nullptr);
  prescora_interface_free(nullptr);
  prescora_errores_free(nullptr);
  prescora_argumento_free(nullptr);
  prescora_prescripciones_free(nullptr);
  prescora_initiator_free(nullptr);
  prescora_tarjeta_free(nullptr);
}

// A front object that cannot be set up says why at once: the library's own folder holds no
// settings file here.
TEST(CApiFrontObject, AFailedSetUpSaysWhyRightAfterConstruction) {
  prescora_interface* front = prescora_interface_new();
  ASSERT_NE(front, nullptr);
  if (prescora_interface_Enabled(front)) {
    prescora_interface_free(front);
    GTEST_SKIP() << "the library folder holds a settings file";
  }
  prescora_errores* errores = prescora_interface_Errores(front);
  ASSERT_GE(prescora_errores_count(errores), 1);
  const int32_t last = prescora_errores_count(errores) - 1;
  EXPECT_EQ(prescora_errores_Number(errores, last), 32001);
  EXPECT_EQ(Take(prescora_errores_Source(errores, last)), "CInterface.Class_Initialize");
  EXPECT_EQ(Take(prescora_errores_Description(errores, last)),
            "No se puede leer la información del archivo de inicialización (.ini)");
  prescora_errores_free(errores);
  prescora_interface_free(front);
}

}  // namespace

namespace {

TEST(CApiLibrary, VersionLoadedIsTheHeadersAndErrorNumbersHaveTheirSpanishText) {
  EXPECT_STREQ(prescora_version(), PRESCORA_VERSION);
  EXPECT_EQ(std::string(PRESCORA_VERSION), std::to_string(PRESCORA_VERSION_MAJOR) + "." +
                                               std::to_string(PRESCORA_VERSION_MINOR) + "." +
                                               std::to_string(PRESCORA_VERSION_PATCH));
  struct Caso {
    int32_t numero;
    const char* texto;
  } casos[] = {
      {PRESCORA_ERROR_SIN_LANZADOR, "No se ha encontrado el archivo executor.exe"},
      {PRESCORA_ERROR_CONECTAR, "No se puede conectar con el servicio web"},
      {PRESCORA_ERROR_TIEMPO_TARJETA,
       "Se ha excedido el tiempo máximo de espera para leer los datos de la tarjeta"},
      {PRESCORA_ERROR_EN_CURSO, "Ya hay una dispensación en curso para esta prescripción"},
      {7, "Memoria insuficiente"},
      {123456, "Error definido por la aplicación o el objeto"},
  };
  for (const Caso& c : casos) {
    EXPECT_EQ(Take(prescora_texto_error(c.numero)), c.texto) << c.numero;
    EXPECT_EQ(prescora_ultimo_error(), 0);
  }
}

}  // namespace
