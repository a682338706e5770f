/* The error numbers Prescora gives its error items (Number), for C and C++ hosts alike. Their
 * Spanish texts: prescora_texto_error (C) or ErrorText of <prescora/.../common/Library.h> (C++).
 * Any other number is a runtime error (5 an argument not valid, 7 no memory, 53 a missing file,
 * 70 permission denied, ...), with the runtime's text. */
#ifndef PRESCORA_ERRORES_H
#define PRESCORA_ERRORES_H

enum prescora_error {
  /* executor.exe is missing from the library folder: no dispensing can start. */
  PRESCORA_ERROR_SIN_LANZADOR = 53,
  /* The service's answer could not be read into a response. */
  PRESCORA_ERROR_RESPUESTA = 32000,
  /* Interface.ini could not be read. */
  PRESCORA_ERROR_LEER_INI = 32001,
  /* A mandatory field of the request is empty. */
  PRESCORA_ERROR_CAMPOS_OBLIGATORIOS = 32002,
  /* The request rendered as XML is not well formed. */
  PRESCORA_ERROR_XML_SOAP = 32003,
  /* A date is not valid. */
  PRESCORA_ERROR_FECHA = 32004,
  /* The front object is not enabled (its settings were not loaded). */
  PRESCORA_ERROR_INTERFAZ_INACTIVA = 32005,
  /* The audit trail has no section for the prescription. */
  PRESCORA_ERROR_SIN_IDENTIFICADOR = 32006,
  /* The request could not be written into Enviados. */
  PRESCORA_ERROR_EXPORTAR_PETICION = 32007,
  /* The answer could not be written into Recibidos. */
  PRESCORA_ERROR_EXPORTAR_DISPENSACION = 32008,
  /* A spool file could not be loaded as XML. */
  PRESCORA_ERROR_CARGAR_XML = 32009,
  /* The web service could not be reached. */
  PRESCORA_ERROR_CONECTAR = 32010,
  /* The key named for the internal response is not valid. */
  PRESCORA_ERROR_CAMPO_INI = 32011,
  /* The internal response was forced for the dispensing. */
  PRESCORA_ERROR_RESPUESTA_INTERNA = 32013,
  /* An argument of the retrieval is blank. */
  PRESCORA_ERROR_ARGUMENTOS_EN_BLANCO = 32014,
  /* The retrieval's argument could not be read as XML. */
  PRESCORA_ERROR_XML_ARGUMENTO = 32015,
  /* Interface.ini was not found. */
  PRESCORA_ERROR_SIN_INI = 32016,
  /* No card came within the wait. */
  PRESCORA_ERROR_TIEMPO_TARJETA = 32018,
  /* The prescription identifier is not valid. */
  PRESCORA_ERROR_IDENTIFICADOR = 32019,
  /* A dispensing of the same prescription is already in flight. */
  PRESCORA_ERROR_EN_CURSO = 32020,
  /* The service's answer is not valid. */
  PRESCORA_ERROR_RESPUESTA_NO_VALIDA = 32021
};

#endif /* PRESCORA_ERRORES_H */
