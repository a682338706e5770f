// The plain C interface: thin wrappers over the C++ classes. Every entry point traps whatever the
// C++ side could throw (only allocation failures, since the classes themselves never throw) and
// turns misuse by the host into an error item of the thread instead of undefined behaviour.
#include "prescora.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <prescora/Initiator/CCard.h>
#include <prescora/Initiator/CInitiator.h>
#include <prescora/Initiator/common/Library.h>
#include <prescora/Interface/CInterface.h>
#include <prescora/Interface/common/Library.h>

namespace {

// The runtime's numbers and texts for the misuses this interface can meet.
constexpr int32_t kArgumentoNoValido = 5;
constexpr int32_t kSinMemoria = 7;
constexpr int32_t kFueraDeIntervalo = 9;
constexpr int32_t kObjetoNoEstablecido = 91;

const char* Descripcion(int32_t number) {
  switch (number) {
    case kArgumentoNoValido:
      return "Llamada a procedimiento o argumento no válidos";
    case kSinMemoria:
      return "Memoria insuficiente";
    case kFueraDeIntervalo:
      return "El subíndice está fuera del intervalo";
    case kObjetoNoEstablecido:
      return "Variable de tipo Object o la variable de bloque With no está establecida";
    default:
      return "Error definido por la aplicación o el objeto";
  }
}

struct UltimoError {
  int32_t number = 0;
  std::string description;
  std::string source;
};
thread_local UltimoError tlsUltimo;

// A misuse found by a wrapper, carried to its trap.
struct Fallo {
  int32_t number;
};

// Runs one entry point: clears the thread's last error, and on a failure records it and returns
// `failed`.
template <class F, class R = std::invoke_result_t<F>>
R Trap(const char* source, R failed, F&& body) noexcept {
  int32_t number = 0;
  try {
    tlsUltimo.number = 0;
    return body();
  } catch (const Fallo& fallo) {
    number = fallo.number;
  } catch (const std::bad_alloc&) {
    number = kSinMemoria;
  } catch (...) {
    number = kArgumentoNoValido;
  }
  tlsUltimo.number = number;
  try {
    tlsUltimo.description = Descripcion(number);
    tlsUltimo.source = source;
  } catch (...) {
    tlsUltimo.description.clear();
    tlsUltimo.source.clear();
  }
  return failed;
}

// For setters and operations that return a status: 0 or the error number.
template <class F>
int32_t Status(const char* source, F&& body) noexcept {
  return Trap(source, int32_t{-1},
              [&] {
                body();
                return int32_t{0};
              }) == 0
             ? 0
             : tlsUltimo.number;
}

template <class T>
T& Use(T* handle) {
  if (handle == nullptr) throw Fallo{kObjetoNoEstablecido};
  return *handle;
}

// A well-formed UTF-8 sequence: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char c = *p++;
    if (c < 0x80) continue;
    int more;
    unsigned long code;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (end - p < more) return false;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      code = (code << 6) | (*p & 0x3F);
    }
    if ((more == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (more == 3 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
  }
  return true;
}

// A text from the host: NULL and malformed UTF-8 are refused before anything changes.
std::string Texto(const char* value) {
  if (value == nullptr) throw Fallo{kArgumentoNoValido};
  std::string_view text(value);
  if (!IsUtf8(text)) throw Fallo{kArgumentoNoValido};
  return std::string(text);
}

// A text for the host, in memory it releases with prescora_free.
char* Copia(std::string_view text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

template <class T>
T* Nuevo() {
  return new T();
}

std::size_t Indice(int32_t index, std::size_t size) {
  if (index < 0 || static_cast<std::size_t>(index) >= size) throw Fallo{kFueraDeIntervalo};
  return static_cast<std::size_t>(index);
}

}  // namespace

struct prescora_errores {
  struct Item {
    int32_t number;
    std::string description;
    std::string source;
    std::string helpContext;
    std::string helpFile;
  };
  std::vector<Item> items;

  template <class List>
  explicit prescora_errores(const List& list) {
    items.reserve(list.size());
    for (const auto& item : list) {
      items.push_back(
          {item.Number(), item.Description(), item.Source(), item.HelpContext(), item.HelpFile()});
    }
  }
};

struct prescora_peticion {
  Interface::CPeticionDispensacion value;
};

struct prescora_respuesta {
  Interface::CRespuestaPeticion value;
};

// Hands the front object's events to the host's functions.
class EventosC : public Interface::CInterfaceEvents {
 public:
  prescora_al_iniciar alIniciar = nullptr;
  prescora_al_terminar alTerminar = nullptr;
  void* contexto = nullptr;

  void AlIniciarSolicitudDispensacion(const std::string& strIdPrescripcion) override {
    if (alIniciar != nullptr) alIniciar(contexto, strIdPrescripcion.c_str());
  }
  void AlTerminarSolicitudDispensacion(bool blnCorrecto,
                                       Interface::ResponseTypeEnum intTipoRespuesta) override {
    if (alTerminar != nullptr) alTerminar(contexto, blnCorrecto ? 1 : 0, intTipoRespuesta);
  }
};

struct prescora_interface {
  EventosC eventos;  // outlives the front object that points at it
  Interface::CInterface value;
};

extern "C" {

// ---- Texts and the last failure ----------------------------------------------------------------

void prescora_free(char* text) {
  std::free(text);
}

int32_t prescora_ultimo_error(void) {
  return tlsUltimo.number;
}

// These two leave the last error as it is, so both can be read after one failure.
char* prescora_ultimo_error_descripcion(void) {
  try {
    return Copia(tlsUltimo.description);
  } catch (...) {
    return nullptr;
  }
}

char* prescora_ultimo_error_origen(void) {
  try {
    return Copia(tlsUltimo.source);
  } catch (...) {
    return nullptr;
  }
}

const char* prescora_version(void) {
  return Interface::Version();
}

char* prescora_texto_error(int32_t numero) {
  return Trap("prescora_texto_error", static_cast<char*>(nullptr),
              [&] { return Copia(Interface::ErrorText(numero)); });
}

// ---- Error items -------------------------------------------------------------------------------

void prescora_errores_free(prescora_errores* errores) {
  delete errores;
}

int32_t prescora_errores_count(const prescora_errores* errores) {
  return Trap("prescora_errores_count", int32_t{0},
              [&] { return static_cast<int32_t>(Use(errores).items.size()); });
}

#define PRESCORA_ERROR_TEXT(name, member)                                         \
  char* prescora_errores_##name(const prescora_errores* errores, int32_t index) { \
    return Trap("prescora_errores_" #name, static_cast<char*>(nullptr), [&] {     \
      const auto& items = Use(errores).items;                                     \
      return Copia(items[Indice(index, items.size())].member);                    \
    });                                                                           \
  }
PRESCORA_ERROR_TEXT(Description, description)
PRESCORA_ERROR_TEXT(Source, source)
PRESCORA_ERROR_TEXT(HelpContext, helpContext)
PRESCORA_ERROR_TEXT(HelpFile, helpFile)
#undef PRESCORA_ERROR_TEXT

int32_t prescora_errores_Number(const prescora_errores* errores, int32_t index) {
  return Trap("prescora_errores_Number", int32_t{0}, [&] {
    const auto& items = Use(errores).items;
    return items[Indice(index, items.size())].number;
  });
}

// ---- Message loop ------------------------------------------------------------------------------

int32_t prescora_set_bucle_mensajes(prescora_bucle_mensajes funcion, void* contexto) {
  return Status("prescora_set_bucle_mensajes", [&] {
    std::function<void()> hook;
    if (funcion != nullptr) hook = [funcion, contexto] { funcion(contexto); };
    Interface::SetMessageLoopHook(hook);
    Initiator::SetMessageLoopHook(hook);
  });
}

// ---- Records: property wrappers ----------------------------------------------------------------

#define PRESCORA_TEXT_GET_SET(record, name)                                              \
  char* prescora_##record##_##name(const prescora_##record* object) {                    \
    return Trap("prescora_" #record "_" #name, static_cast<char*>(nullptr),              \
                [&] { return Copia(Use(object).value.name()); });                        \
  }                                                                                      \
  int32_t prescora_##record##_set_##name(prescora_##record* object, const char* value) { \
    return Status("prescora_" #record "_set_" #name,                                     \
                  [&] { Use(object).value.set_##name(Texto(value)); });                  \
  }

#define PRESCORA_VALUE_GET_SET(record, name, CType, CppType)                           \
  CType prescora_##record##_##name(const prescora_##record* object) {                  \
    return Trap("prescora_" #record "_" #name, CType{},                                \
                [&] { return static_cast<CType>(Use(object).value.name()); });         \
  }                                                                                    \
  int32_t prescora_##record##_set_##name(prescora_##record* object, CType value) {     \
    return Status("prescora_" #record "_set_" #name,                                   \
                  [&] { Use(object).value.set_##name(static_cast<CppType>(value)); }); \
  }

// ---- Dispensing request ------------------------------------------------------------------------

prescora_peticion* prescora_peticion_new(void) {
  return Trap("prescora_peticion_new", static_cast<prescora_peticion*>(nullptr),
              Nuevo<prescora_peticion>);
}

void prescora_peticion_free(prescora_peticion* peticion) {
  delete peticion;
}

PRESCORA_TEXT_GET_SET(peticion, IDPrescripcion)
PRESCORA_TEXT_GET_SET(peticion, Importe)
PRESCORA_TEXT_GET_SET(peticion, ImporteAportacion)
PRESCORA_TEXT_GET_SET(peticion, IdFarmacia)
PRESCORA_TEXT_GET_SET(peticion, FechaDispensacion)
PRESCORA_TEXT_GET_SET(peticion, Idioma)
PRESCORA_TEXT_GET_SET(peticion, IdUsuario)
PRESCORA_TEXT_GET_SET(peticion, IdFarmaceutico)
PRESCORA_TEXT_GET_SET(peticion, ClaveUsuario)
PRESCORA_TEXT_GET_SET(peticion, EnvasesDispensados)
PRESCORA_TEXT_GET_SET(peticion, NumeroReceta)
PRESCORA_TEXT_GET_SET(peticion, IdProvincia)
PRESCORA_TEXT_GET_SET(peticion, CodigoDispensado)
PRESCORA_TEXT_GET_SET(peticion, CodigoColegiadoPrescriptor)
PRESCORA_TEXT_GET_SET(peticion, FechaPrescripcion)
PRESCORA_TEXT_GET_SET(peticion, TIS)
PRESCORA_TEXT_GET_SET(peticion, FormulaMagistral)
PRESCORA_VALUE_GET_SET(peticion, RegimenReceta, int32_t, Interface::RegimenRecetaEnum)
PRESCORA_VALUE_GET_SET(peticion, TipoPrescripcion, int32_t, Interface::TipoPrescripcionEnum)

int prescora_peticion_SaveSOAPMsgToFile(const prescora_peticion* peticion) {
  return Trap("prescora_peticion_SaveSOAPMsgToFile", 0,
              [&] { return Use(peticion).value.SaveSOAPMsgToFile() ? 1 : 0; });
}

int32_t prescora_peticion_set_SaveSOAPMsgToFile(prescora_peticion* peticion, int value) {
  return Status("prescora_peticion_set_SaveSOAPMsgToFile",
                [&] { Use(peticion).value.set_SaveSOAPMsgToFile(value != 0); });
}

int prescora_peticion_RequiredFields(prescora_peticion* peticion) {
  return Trap("prescora_peticion_RequiredFields", 0,
              [&] { return Use(peticion).value.RequiredFields() ? 1 : 0; });
}

char* prescora_peticion_ToString(prescora_peticion* peticion, int envelope) {
  return Trap("prescora_peticion_ToString", static_cast<char*>(nullptr),
              [&] { return Copia(Use(peticion).value.ToString(envelope != 0)); });
}

// ---- Dispensing response -----------------------------------------------------------------------

namespace {

std::vector<std::string>& Lista(Interface::CRespuestaPeticion& respuesta, int32_t lista) {
  switch (lista) {
    case PRESCORA_CODIGO_AVISO:
      return respuesta.m_colCodigoAviso();
    case PRESCORA_TEXTO_AVISO:
      return respuesta.m_colTextoAviso();
    case PRESCORA_CODIGO_MOTIVOS_RECHAZO:
      return respuesta.m_colCodigoMotivosRechazo();
    case PRESCORA_TEXTO_MOTIVOS_RECHAZO:
      return respuesta.m_colTextoMotivosRechazo();
  }
  throw Fallo{kArgumentoNoValido};
}

}  // namespace

prescora_respuesta* prescora_respuesta_new(void) {
  return Trap("prescora_respuesta_new", static_cast<prescora_respuesta*>(nullptr),
              Nuevo<prescora_respuesta>);
}

void prescora_respuesta_free(prescora_respuesta* respuesta) {
  delete respuesta;
}

PRESCORA_VALUE_GET_SET(respuesta, m_intNAvisos, int16_t, int16_t)
PRESCORA_VALUE_GET_SET(respuesta, m_intNMotivosRechazo, int16_t, int16_t)

int32_t prescora_respuesta_count(const prescora_respuesta* respuesta, int32_t lista) {
  return Trap("prescora_respuesta_count", int32_t{0}, [&] {
    auto& record = const_cast<Interface::CRespuestaPeticion&>(Use(respuesta).value);
    return static_cast<int32_t>(Lista(record, lista).size());
  });
}

char* prescora_respuesta_item(const prescora_respuesta* respuesta, int32_t lista, int32_t index) {
  return Trap("prescora_respuesta_item", static_cast<char*>(nullptr), [&] {
    auto& record = const_cast<Interface::CRespuestaPeticion&>(Use(respuesta).value);
    const auto& items = Lista(record, lista);
    return Copia(items[Indice(index, items.size())]);
  });
}

int32_t prescora_respuesta_add(prescora_respuesta* respuesta, int32_t lista, const char* value) {
  return Status("prescora_respuesta_add", [&] {
    auto& items = Lista(Use(respuesta).value, lista);
    items.push_back(Texto(value));
  });
}

int32_t prescora_respuesta_clear(prescora_respuesta* respuesta, int32_t lista) {
  return Status("prescora_respuesta_clear", [&] { Lista(Use(respuesta).value, lista).clear(); });
}

int prescora_respuesta_DatosValidos(const prescora_respuesta* respuesta) {
  return Trap("prescora_respuesta_DatosValidos", 0,
              [&] { return Use(respuesta).value.DatosValidos() ? 1 : 0; });
}

int32_t prescora_respuesta_set_DatosValidos(prescora_respuesta* respuesta, int value) {
  return Status("prescora_respuesta_set_DatosValidos",
                [&] { Use(respuesta).value.set_DatosValidos(value != 0); });
}

int prescora_respuesta_DispensacionRealizada(const prescora_respuesta* respuesta) {
  return Trap("prescora_respuesta_DispensacionRealizada", 0,
              [&] { return Use(respuesta).value.DispensacionRealizada() ? 1 : 0; });
}

char* prescora_respuesta_ToString(prescora_respuesta* respuesta) {
  return Trap("prescora_respuesta_ToString", static_cast<char*>(nullptr),
              [&] { return Copia(Use(respuesta).value.ToString()); });
}

// ---- Dispensing front object -------------------------------------------------------------------

prescora_interface* prescora_interface_new(void) {
  return Trap("prescora_interface_new", static_cast<prescora_interface*>(nullptr),
              Nuevo<prescora_interface>);
}

void prescora_interface_free(prescora_interface* front) {
  delete front;
}

char* prescora_interface_NombreServicio(prescora_interface* front) {
  return Trap("prescora_interface_NombreServicio", static_cast<char*>(nullptr),
              [&] { return Copia(Use(front).value.NombreServicio()); });
}

char* prescora_interface_NombreLog(prescora_interface* front) {
  return Trap("prescora_interface_NombreLog", static_cast<char*>(nullptr),
              [&] { return Copia(Use(front).value.NombreLog()); });
}

PRESCORA_VALUE_GET_SET(interface, OpcionesLog, int32_t, int32_t)
PRESCORA_VALUE_GET_SET(interface, Opciones, int32_t, Interface::InterfaceFlagsEnum)

int prescora_interface_Enabled(const prescora_interface* front) {
  return Trap("prescora_interface_Enabled", 0, [&] { return Use(front).value.Enabled() ? 1 : 0; });
}

int32_t prescora_interface_Envio(const prescora_interface* front) {
  return Trap("prescora_interface_Envio", int32_t{0},
              [&] { return static_cast<int32_t>(Use(front).value.Envio()); });
}

prescora_errores* prescora_interface_Errores(const prescora_interface* front) {
  return Trap("prescora_interface_Errores", static_cast<prescora_errores*>(nullptr),
              [&] { return new prescora_errores(Use(front).value.Errores()); });
}

int32_t prescora_interface_set_eventos(prescora_interface* front, prescora_al_iniciar al_iniciar,
                                       prescora_al_terminar al_terminar, void* contexto) {
  return Status("prescora_interface_set_eventos", [&] {
    auto& object = Use(front);
    object.eventos.alIniciar = al_iniciar;
    object.eventos.alTerminar = al_terminar;
    object.eventos.contexto = contexto;
    bool attached = al_iniciar != nullptr || al_terminar != nullptr;
    object.value.set_Events(attached ? &object.eventos : nullptr);
  });
}

prescora_respuesta* prescora_interface_SolicitudDispensacion(prescora_interface* front,
                                                             prescora_peticion* peticion) {
  return Trap("prescora_interface_SolicitudDispensacion", static_cast<prescora_respuesta*>(nullptr),
              [&] {
                auto& object = Use(front);
                auto& request = Use(peticion);
                auto* respuesta = new prescora_respuesta();
                respuesta->value = object.value.SolicitudDispensacion(request.value);
                return respuesta;
              });
}

}  // extern "C"

// ---- Retrieval query argument ------------------------------------------------------------------

struct prescora_argumento {
  Initiator::CArgument value;
};

struct prescora_prescripciones {
  Initiator::CPrescripciones value;
};

struct prescora_initiator {
  Initiator::CInitiator value;
};

extern "C" {

prescora_argumento* prescora_argumento_new(void) {
  return Trap("prescora_argumento_new", static_cast<prescora_argumento*>(nullptr),
              Nuevo<prescora_argumento>);
}

void prescora_argumento_free(prescora_argumento* argumento) {
  delete argumento;
}

PRESCORA_TEXT_GET_SET(argumento, Usuario)
PRESCORA_TEXT_GET_SET(argumento, Password)
PRESCORA_TEXT_GET_SET(argumento, TIS)
PRESCORA_TEXT_GET_SET(argumento, TitularTarjeta)
PRESCORA_VALUE_GET_SET(argumento, Idioma, int16_t, int16_t)

char* prescora_argumento_Fecha(const prescora_argumento* argumento) {
  return Trap("prescora_argumento_Fecha", static_cast<char*>(nullptr),
              [&] { return Copia(Use(argumento).value.Fecha()); });
}

int prescora_argumento_RequiredFields(prescora_argumento* argumento) {
  return Trap("prescora_argumento_RequiredFields", 0,
              [&] { return Use(argumento).value.RequiredFields() ? 1 : 0; });
}

char* prescora_argumento_ToString(prescora_argumento* argumento) {
  return Trap("prescora_argumento_ToString", static_cast<char*>(nullptr),
              [&] { return Copia(Use(argumento).value.ToString()); });
}

// ---- Prescription list -------------------------------------------------------------------------

void prescora_prescripciones_free(prescora_prescripciones* lista) {
  delete lista;
}

int prescora_prescripciones_DatosValidos(const prescora_prescripciones* lista) {
  return Trap("prescora_prescripciones_DatosValidos", 0,
              [&] { return Use(lista).value.DatosValidos() ? 1 : 0; });
}

int32_t prescora_prescripciones_CodigoError(const prescora_prescripciones* lista) {
  return Trap("prescora_prescripciones_CodigoError", int32_t{0},
              [&] { return Use(lista).value.CodigoError(); });
}

char* prescora_prescripciones_DescripcionError(const prescora_prescripciones* lista) {
  return Trap("prescora_prescripciones_DescripcionError", static_cast<char*>(nullptr),
              [&] { return Copia(Use(lista).value.DescripcionError()); });
}

int32_t prescora_prescripciones_count(const prescora_prescripciones* lista) {
  return Trap("prescora_prescripciones_count", int32_t{0},
              [&] { return static_cast<int32_t>(Use(lista).value.Registros().size()); });
}

#define PRESCORA_RECORD_FIELD(CType, name, convert)                                         \
  CType prescora_prescripcion_##name(const prescora_prescripciones* lista, int32_t index) { \
    return Trap("prescora_prescripcion_" #name, static_cast<CType>(0), [&] {                \
      const auto& registros = Use(lista).value.Registros();                                 \
      return convert(registros[Indice(index, registros.size())].name());                    \
    });                                                                                     \
  }
PRESCORA_RECORD_FIELD(char*, IDPrescripcion, Copia)
PRESCORA_RECORD_FIELD(char*, FechaPrescripcion, Copia)
PRESCORA_RECORD_FIELD(char*, CodigoProducto, Copia)
PRESCORA_RECORD_FIELD(int16_t, EnvasesPrescritos, static_cast<int16_t>)
PRESCORA_RECORD_FIELD(int32_t, RequiereVisado, static_cast<int32_t>)
PRESCORA_RECORD_FIELD(int32_t, RegimenReceta, static_cast<int32_t>)
#undef PRESCORA_RECORD_FIELD

// ---- Retrieval front object --------------------------------------------------------------------

prescora_initiator* prescora_initiator_new(void) {
  return Trap("prescora_initiator_new", static_cast<prescora_initiator*>(nullptr),
              Nuevo<prescora_initiator>);
}

void prescora_initiator_free(prescora_initiator* front) {
  delete front;
}

prescora_errores* prescora_initiator_Errores(const prescora_initiator* front) {
  return Trap("prescora_initiator_Errores", static_cast<prescora_errores*>(nullptr),
              [&] { return new prescora_errores(Use(front).value.Errores()); });
}

prescora_prescripciones* prescora_initiator_RecuperarPrescripciones(prescora_initiator* front,
                                                                    prescora_argumento* argumento) {
  return Trap("prescora_initiator_RecuperarPrescripciones",
              static_cast<prescora_prescripciones*>(nullptr), [&] {
                auto& object = Use(front);
                auto& argument = Use(argumento);
                auto* lista = new prescora_prescripciones();
                lista->value = object.value.RecuperarPrescripciones(argument.value);
                return lista;
              });
}

}  // extern "C"

// ---- Health card -------------------------------------------------------------------------------

struct prescora_tarjeta {
  Initiator::CCard value;
};

extern "C" {

prescora_tarjeta* prescora_tarjeta_new(void) {
  return Trap("prescora_tarjeta_new", static_cast<prescora_tarjeta*>(nullptr),
              Nuevo<prescora_tarjeta>);
}

void prescora_tarjeta_free(prescora_tarjeta* tarjeta) {
  delete tarjeta;
}

int prescora_tarjeta_GetCardData(prescora_tarjeta* tarjeta, prescora_argumento* argumento,
                                 prescora_errores** error) {
  if (error != nullptr) *error = nullptr;
  return Trap("prescora_tarjeta_GetCardData", 0, [&] {
    auto& card = Use(tarjeta);
    auto& argument = Use(argumento);
    Initiator::CErrorItem item;
    bool read = card.value.GetCardData(argument.value, item);
    if (!read && error != nullptr) {
      *error = new prescora_errores(std::vector<Initiator::CErrorItem>{item});
    }
    return read ? 1 : 0;
  });
}

}  // extern "C"
