/* Prescora's plain C interface, for hosts in any language (C, Delphi, .NET, Java, Python, ...).
 *
 * Link libprescora.so from the installation's library folder (it loads libInterface.so and
 * libInitiator.so from beside itself; they take Interface.ini and the spool folders from there).
 * Dispensing: prescora_peticion, prescora_interface, prescora_respuesta. Retrieval:
 * prescora_argumento, prescora_tarjeta, prescora_initiator, prescora_prescripciones.
 *
 * Conventions, for every function below:
 *  - Objects are opaque handles, made by a *_new function (or returned by an operation) and
 *    released with the matching *_free; *_free accepts NULL.
 *  - Texts are UTF-8, NUL-terminated. A text the library returns (char *) belongs to the caller,
 *    who releases it with prescora_free; texts passed in are copied, never kept.
 *  - Nothing is thrown or aborted across this interface. A function that cannot do its work (a
 *    NULL handle, a text that is not UTF-8, an index out of range, no memory) returns NULL, 0 or a
 *    non-zero error number, and leaves an error item for the calling thread: see
 *    prescora_ultimo_error. A function that succeeds clears it. The failures of the operations
 *    themselves (a dispensing that went wrong) come back as the front object's error items, as in
 *    the C++ interface.
 *  - Booleans are int: 0 false, anything else true. Numbers keep the C++ types' widths.
 *  - Every call runs on the caller's thread; use an object on one thread only.
 */
#ifndef PRESCORA_PRESCORA_H
#define PRESCORA_PRESCORA_H

#include <stddef.h>
#include <stdint.h>

#include "prescora_errores.h"

/* The version this header comes with; prescora_version gives the one loaded at run time. */
#define PRESCORA_VERSION_MAJOR 1
#define PRESCORA_VERSION_MINOR 2
#define PRESCORA_VERSION_PATCH 0
#define PRESCORA_VERSION "1.2.0"

#ifdef __cplusplus
extern "C" {
#endif

#define PRESCORA_C_API __attribute__((visibility("default")))

/* ---- Texts and the thread's last failure of this interface ---------------------------------- */

/* Releases a text returned by the library; NULL is ignored. */
PRESCORA_C_API void prescora_free(char* text);

/* The error item that the last call on this thread left: its number (0 when the call succeeded),
 * and its description and source as texts to release. Numbers: 5 an argument is not valid (a
 * NULL text, a text that is not UTF-8), 7 no memory, 9 an index out of range, 91 a NULL handle. */
PRESCORA_C_API int32_t prescora_ultimo_error(void);
PRESCORA_C_API char* prescora_ultimo_error_descripcion(void);
PRESCORA_C_API char* prescora_ultimo_error_origen(void);

/* The version of the libraries loaded, "major.minor.patch": a static text, not to be released. */
PRESCORA_C_API const char* prescora_version(void);

/* The Spanish text of an error number (see prescora_errores.h), to release with prescora_free;
 * any number gives a text. NULL only when there is no memory. */
PRESCORA_C_API char* prescora_texto_error(int32_t numero);

/* ---- Error items of a front object (Errores) ------------------------------------------------ */

typedef struct prescora_errores prescora_errores;

PRESCORA_C_API void prescora_errores_free(prescora_errores* errores);
PRESCORA_C_API int32_t prescora_errores_count(const prescora_errores* errores);
/* The item at index (from 0), in the order they were recorded. */
PRESCORA_C_API int32_t prescora_errores_Number(const prescora_errores* errores, int32_t index);
PRESCORA_C_API char* prescora_errores_Description(const prescora_errores* errores, int32_t index);
PRESCORA_C_API char* prescora_errores_Source(const prescora_errores* errores, int32_t index);
PRESCORA_C_API char* prescora_errores_HelpContext(const prescora_errores* errores, int32_t index);
PRESCORA_C_API char* prescora_errores_HelpFile(const prescora_errores* errores, int32_t index);

/* ---- The message loop ------------------------------------------------------------------------ */

/* Called on every pass of both libraries' waits on this thread (every few milliseconds while a
 * dispensing waits for its answer or the card reader waits for a card), so that a host with a
 * user interface keeps it alive. NULL removes it. */
typedef void (*prescora_bucle_mensajes)(void* contexto);
PRESCORA_C_API int32_t prescora_set_bucle_mensajes(prescora_bucle_mensajes funcion, void* contexto);

/* ---- Dispensing request (CPeticionDispensacion) --------------------------------------------- */

typedef struct prescora_peticion prescora_peticion;

/* RegimenReceta */
enum { PRESCORA_REGIMEN_VACIO = -1, PRESCORA_TRABAJADOR = 0, PRESCORA_PENSIONISTA = 1 };
/* TipoPrescripcion */
enum {
  PRESCORA_PRESCRIPCION_VACIO = -1,
  PRESCORA_ESPECIALIDAD_FARMACEUTICA = 1,
  PRESCORA_PRINCIPIO_ACTIVO = 2,
  PRESCORA_FORMULA_MAGISTRAL = 3,
  PRESCORA_EFECTOS_Y_ACCESORIOS = 5
};

PRESCORA_C_API prescora_peticion* prescora_peticion_new(void);
PRESCORA_C_API void prescora_peticion_free(prescora_peticion* peticion);

/* Text properties: the getter returns a text to release, the setter 0 or an error number. */
#define PRESCORA_TEXT_PROPERTY(record, name)                                        \
  PRESCORA_C_API char* prescora_##record##_##name(const prescora_##record* object); \
  PRESCORA_C_API int32_t prescora_##record##_set_##name(prescora_##record* object,  \
                                                        const char* value)
/* Blank: the front object makes an "ITP..." identifier and writes it back here. */
PRESCORA_TEXT_PROPERTY(peticion, IDPrescripcion);
PRESCORA_TEXT_PROPERTY(peticion, Importe);
PRESCORA_TEXT_PROPERTY(peticion, ImporteAportacion);
PRESCORA_TEXT_PROPERTY(peticion, IdFarmacia);
/* A date, for example "08/12/2026". */
PRESCORA_TEXT_PROPERTY(peticion, FechaDispensacion);
PRESCORA_TEXT_PROPERTY(peticion, Idioma);
PRESCORA_TEXT_PROPERTY(peticion, IdUsuario);
PRESCORA_TEXT_PROPERTY(peticion, IdFarmaceutico);
PRESCORA_TEXT_PROPERTY(peticion, ClaveUsuario);
PRESCORA_TEXT_PROPERTY(peticion, EnvasesDispensados);
PRESCORA_TEXT_PROPERTY(peticion, NumeroReceta);
PRESCORA_TEXT_PROPERTY(peticion, IdProvincia);
PRESCORA_TEXT_PROPERTY(peticion, CodigoDispensado);
/* Without an identifier, the prescription's own data: */
PRESCORA_TEXT_PROPERTY(peticion, CodigoColegiadoPrescriptor);
PRESCORA_TEXT_PROPERTY(peticion, FechaPrescripcion);
PRESCORA_TEXT_PROPERTY(peticion, TIS);
PRESCORA_TEXT_PROPERTY(peticion, FormulaMagistral);
/* One of PRESCORA_REGIMEN_VACIO, PRESCORA_TRABAJADOR, PRESCORA_PENSIONISTA. */
PRESCORA_C_API int32_t prescora_peticion_RegimenReceta(const prescora_peticion* peticion);
PRESCORA_C_API int32_t prescora_peticion_set_RegimenReceta(prescora_peticion* peticion,
                                                           int32_t value);
/* One of the PRESCORA_*_PRESCRIPCION / PRESCORA_ESPECIALIDAD_... values above. */
PRESCORA_C_API int32_t prescora_peticion_TipoPrescripcion(const prescora_peticion* peticion);
PRESCORA_C_API int32_t prescora_peticion_set_TipoPrescripcion(prescora_peticion* peticion,
                                                              int32_t value);
/* Keep a copy of the request's record form (Interface.xml in the library folder). */
PRESCORA_C_API int prescora_peticion_SaveSOAPMsgToFile(const prescora_peticion* peticion);
PRESCORA_C_API int32_t prescora_peticion_set_SaveSOAPMsgToFile(prescora_peticion* peticion,
                                                               int value);
/* Every mandatory field is set. */
PRESCORA_C_API int prescora_peticion_RequiredFields(prescora_peticion* peticion);
/* The record form (root PeticionDispensacion), or with envelope the SOAP message; "" when the
 * rendering fails. */
PRESCORA_C_API char* prescora_peticion_ToString(prescora_peticion* peticion, int envelope);

/* ---- Dispensing response (CRespuestaPeticion) ------------------------------------------------ */

typedef struct prescora_respuesta prescora_respuesta;

/* The four lists of a response (passed as int32_t: a host may send any number, which is refused).
 */
typedef enum prescora_lista {
  PRESCORA_CODIGO_AVISO = 0,
  PRESCORA_TEXTO_AVISO = 1,
  PRESCORA_CODIGO_MOTIVOS_RECHAZO = 2,
  PRESCORA_TEXTO_MOTIVOS_RECHAZO = 3
} prescora_lista;

PRESCORA_C_API prescora_respuesta* prescora_respuesta_new(void);
PRESCORA_C_API void prescora_respuesta_free(prescora_respuesta* respuesta);
/* The counts are values of their own: nothing keeps them equal to the lists' lengths. */
PRESCORA_C_API int16_t prescora_respuesta_m_intNAvisos(const prescora_respuesta* respuesta);
PRESCORA_C_API int32_t prescora_respuesta_set_m_intNAvisos(prescora_respuesta* respuesta,
                                                           int16_t value);
PRESCORA_C_API int16_t prescora_respuesta_m_intNMotivosRechazo(const prescora_respuesta* respuesta);
PRESCORA_C_API int32_t prescora_respuesta_set_m_intNMotivosRechazo(prescora_respuesta* respuesta,
                                                                   int16_t value);
/* The lists m_colCodigoAviso, m_colTextoAviso, m_colCodigoMotivosRechazo and
 * m_colTextoMotivosRechazo: length, item (from 0), append, empty. */
PRESCORA_C_API int32_t prescora_respuesta_count(const prescora_respuesta* respuesta, int32_t lista);
PRESCORA_C_API char* prescora_respuesta_item(const prescora_respuesta* respuesta, int32_t lista,
                                             int32_t index);
PRESCORA_C_API int32_t prescora_respuesta_add(prescora_respuesta* respuesta, int32_t lista,
                                              const char* value);
PRESCORA_C_API int32_t prescora_respuesta_clear(prescora_respuesta* respuesta, int32_t lista);
/* False after a failed dispensing call: the response is then the internal error response. */
PRESCORA_C_API int prescora_respuesta_DatosValidos(const prescora_respuesta* respuesta);
PRESCORA_C_API int32_t prescora_respuesta_set_DatosValidos(prescora_respuesta* respuesta,
                                                           int value);
/* The service reported the dispensing as done (its success warning code). */
PRESCORA_C_API int prescora_respuesta_DispensacionRealizada(const prescora_respuesta* respuesta);
/* The record form (root RespuestaPeticion); "" when the rendering fails. */
PRESCORA_C_API char* prescora_respuesta_ToString(prescora_respuesta* respuesta);

/* ---- Dispensing front object (CInterface) ---------------------------------------------------- */

typedef struct prescora_interface prescora_interface;

/* ResponseTypeEnum: where the response of a dispensing came from. */
enum { PRESCORA_RSP_RECEIVED = 1, PRESCORA_RSP_DEFAULT = 2, PRESCORA_RSP_INTERNAL = 3 };
/* InterfaceFlagsEnum */
enum { PRESCORA_IFG_SAVE_XML_SENDED_TO_FILE = 1 };
/* EnvioTypeEnum: what became of the request of the last dispensing (prescora_interface_Envio).
 * NO_ENVIADO: surely not sent, the service never saw it (the error items say why) and it may be
 * asked for again; SIN_RESPUESTA: sent or perhaps sent, no answer in time, the result is unknown
 * until checked with the service; RESPONDIDO: the service's answer arrived in time. */
enum { PRESCORA_ENV_NO_ENVIADO = 1, PRESCORA_ENV_SIN_RESPUESTA = 2, PRESCORA_ENV_RESPONDIDO = 3 };

/* Reads Interface.ini from the library folder and sets up the logs and the audit trail. A
 * failure leaves the object disabled (prescora_interface_Enabled) with its error items. */
PRESCORA_C_API prescora_interface* prescora_interface_new(void);
PRESCORA_C_API void prescora_interface_free(prescora_interface* front);

PRESCORA_C_API char* prescora_interface_NombreServicio(prescora_interface* front);
PRESCORA_C_API char* prescora_interface_NombreLog(prescora_interface* front);
PRESCORA_C_API int32_t prescora_interface_OpcionesLog(const prescora_interface* front);
PRESCORA_C_API int32_t prescora_interface_set_OpcionesLog(prescora_interface* front, int32_t value);
PRESCORA_C_API int32_t prescora_interface_Opciones(const prescora_interface* front);
PRESCORA_C_API int32_t prescora_interface_set_Opciones(prescora_interface* front, int32_t value);
PRESCORA_C_API int prescora_interface_Enabled(const prescora_interface* front);
/* A copy of the error items of the last dispensing; before the first, those of the construction
 * (why the object is not enabled). */
PRESCORA_C_API prescora_errores* prescora_interface_Errores(const prescora_interface* front);
/* One of PRESCORA_ENV_*, for the last dispensing (PRESCORA_ENV_NO_ENVIADO before any); 0 for a
 * NULL handle. */
PRESCORA_C_API int32_t prescora_interface_Envio(const prescora_interface* front);

/* Events: the request file is written and the launcher is about to start; a dispensing ended
 * without failure (correcto only when the service's answer arrived in time; tipo one of
 * PRESCORA_RSP_*). Either function may be NULL; prescora_interface_set_eventos(front, NULL, NULL,
 * NULL) detaches. The identifier text is only valid during the call. */
typedef void (*prescora_al_iniciar)(void* contexto, const char* id_prescripcion);
typedef void (*prescora_al_terminar)(void* contexto, int correcto, int32_t tipo);
PRESCORA_C_API int32_t prescora_interface_set_eventos(prescora_interface* front,
                                                      prescora_al_iniciar al_iniciar,
                                                      prescora_al_terminar al_terminar,
                                                      void* contexto);

/* Dispenses one request and returns its response (to release with prescora_respuesta_free), or
 * NULL only for a NULL handle or no memory. A blank IDPrescripcion is replaced by the generated
 * one in the request. The call returns within PeticionTimeOut seconds. */
PRESCORA_C_API prescora_respuesta* prescora_interface_SolicitudDispensacion(
    prescora_interface* front, prescora_peticion* peticion);

/* ---- Retrieval query argument (CArgument) --------------------------------------------------- */

typedef struct prescora_argumento prescora_argumento;

/* Fecha is the day of creation, as "yyyy/mm/dd". */
PRESCORA_C_API prescora_argumento* prescora_argumento_new(void);
PRESCORA_C_API void prescora_argumento_free(prescora_argumento* argumento);
/* The service's user and password. */
PRESCORA_TEXT_PROPERTY(argumento, Usuario);
PRESCORA_TEXT_PROPERTY(argumento, Password);
/* The patient's health-card identifier (mandatory) and the holder's name (informative); the card
 * reader fills both. */
PRESCORA_TEXT_PROPERTY(argumento, TIS);
PRESCORA_TEXT_PROPERTY(argumento, TitularTarjeta);
PRESCORA_C_API char* prescora_argumento_Fecha(const prescora_argumento* argumento);
/* The language code sent to the service. */
PRESCORA_C_API int16_t prescora_argumento_Idioma(const prescora_argumento* argumento);
PRESCORA_C_API int32_t prescora_argumento_set_Idioma(prescora_argumento* argumento, int16_t value);
/* Fecha and TIS are set. */
PRESCORA_C_API int prescora_argumento_RequiredFields(prescora_argumento* argumento);
/* The request element p70PeticionConsultaPNDPorTIS; "" when the rendering fails. */
PRESCORA_C_API char* prescora_argumento_ToString(prescora_argumento* argumento);

/* ---- Prescription list (CPrescripciones) and its records (CPrescripcion) -------------------- */

typedef struct prescora_prescripciones prescora_prescripciones;

/* RegimenReceta of a prescription */
enum { PRESCORA_RECETA_ACTIVO = 0, PRESCORA_RECETA_PENSIONISTA = 1, PRESCORA_RECETA_OTRO = 2 };
/* RequiereVisado */
enum {
  PRESCORA_NO_NECESITA = 0,
  PRESCORA_PENDIENTE_VISAR = 1,
  PRESCORA_YA_VISADA = 2,
  PRESCORA_VISADO_RECHAZADO = 3
};

PRESCORA_C_API void prescora_prescripciones_free(prescora_prescripciones* lista);
/* True when the service answered with error code 0. */
PRESCORA_C_API int prescora_prescripciones_DatosValidos(const prescora_prescripciones* lista);
PRESCORA_C_API int32_t prescora_prescripciones_CodigoError(const prescora_prescripciones* lista);
PRESCORA_C_API char* prescora_prescripciones_DescripcionError(const prescora_prescripciones* lista);
/* Registros: how many, and each field of the record at index (from 0), in the service's order. */
PRESCORA_C_API int32_t prescora_prescripciones_count(const prescora_prescripciones* lista);
PRESCORA_C_API char* prescora_prescripcion_IDPrescripcion(const prescora_prescripciones* lista,
                                                          int32_t index);
/* "yyyy/mm/dd", or "" when the service sent no valid date. */
PRESCORA_C_API char* prescora_prescripcion_FechaPrescripcion(const prescora_prescripciones* lista,
                                                             int32_t index);
PRESCORA_C_API char* prescora_prescripcion_CodigoProducto(const prescora_prescripciones* lista,
                                                          int32_t index);
PRESCORA_C_API int16_t prescora_prescripcion_EnvasesPrescritos(const prescora_prescripciones* lista,
                                                               int32_t index);
PRESCORA_C_API int32_t prescora_prescripcion_RequiereVisado(const prescora_prescripciones* lista,
                                                            int32_t index);
PRESCORA_C_API int32_t prescora_prescripcion_RegimenReceta(const prescora_prescripciones* lista,
                                                           int32_t index);

/* ---- Retrieval front object (CInitiator) ---------------------------------------------------- */

typedef struct prescora_initiator prescora_initiator;

PRESCORA_C_API prescora_initiator* prescora_initiator_new(void);
PRESCORA_C_API void prescora_initiator_free(prescora_initiator* front);
/* A copy of the error items of the last retrieval; before the first, those of the construction. */
PRESCORA_C_API prescora_errores* prescora_initiator_Errores(const prescora_initiator* front);
/* The patient's prescriptions still to be dispensed (to release with
 * prescora_prescripciones_free); a failure gives a list with DatosValidos false and the front
 * object's error items. NULL only for a NULL handle or no memory. */
PRESCORA_C_API prescora_prescripciones* prescora_initiator_RecuperarPrescripciones(
    prescora_initiator* front, prescora_argumento* argumento);

/* ---- Health card (CCard) -------------------------------------------------------------------- */

typedef struct prescora_tarjeta prescora_tarjeta;

PRESCORA_C_API prescora_tarjeta* prescora_tarjeta_new(void);
PRESCORA_C_API void prescora_tarjeta_free(prescora_tarjeta* tarjeta);
/* Waits up to [Tarjeta] InsercionTarjetaTimeOut seconds for the health card's certificate and
 * sets the argument's TIS and TitularTarjeta; the message-loop hook runs while it waits. 1 on
 * success; 0 on a failure, whose error item (32016 no settings file, 32018 no card in time, ...)
 * is put in *error when error is not NULL (one item, to release with prescora_errores_free). */
PRESCORA_C_API int prescora_tarjeta_GetCardData(prescora_tarjeta* tarjeta,
                                                prescora_argumento* argumento,
                                                prescora_errores** error);

#ifdef __cplusplus
}
#endif

#endif /* PRESCORA_PRESCORA_H */
