#!/usr/bin/env python3
"""Retrieval and dispensing from Python through Prescora's C interface, with ctypes alone.

    python3 prescora_ejemplo.py [--carpeta /usr/lib/prescora]
                                [--tis BBBB000001 | --tarjeta] [--id RX0000000001]

Takes the patient's TIS from --tis or from the health card in the reader (--tarjeta), lists the
patient's prescriptions still to be dispensed, dispenses one of them (--id, else the
first) and lists them again. The library folder is the installation's: libprescora.so is loaded
from there, and the libraries take Interface.ini and the spool folders from there. Exit status 0
when the service confirmed the dispensing and the prescription is no longer pending.
"""
import argparse
import ctypes
import os
import sys


# The message-loop hook: the library calls it on every pass of its wait, where a program with a
# window would process its events.
BUCLE_MENSAJES = ctypes.CFUNCTYPE(None, ctypes.c_void_p)


def load(folder):
    lib = ctypes.CDLL(os.path.join(folder, "libprescora.so"))
    handle = ctypes.c_void_p
    text_out = ctypes.c_void_p  # a char * the library allocated: read it, then prescora_free
    signatures = {
        "prescora_free": (None, [ctypes.c_void_p]),
        "prescora_set_bucle_mensajes": (ctypes.c_int32, [BUCLE_MENSAJES, ctypes.c_void_p]),
        "prescora_ultimo_error": (ctypes.c_int32, []),
        "prescora_interface_new": (handle, []),
        "prescora_interface_free": (None, [handle]),
        "prescora_interface_Enabled": (ctypes.c_int, [handle]),
        "prescora_interface_Errores": (handle, [handle]),
        "prescora_interface_Envio": (ctypes.c_int32, [handle]),
        "prescora_interface_SolicitudDispensacion": (handle, [handle, handle]),
        "prescora_errores_free": (None, [handle]),
        "prescora_errores_count": (ctypes.c_int32, [handle]),
        "prescora_errores_Number": (ctypes.c_int32, [handle, ctypes.c_int32]),
        "prescora_errores_Description": (text_out, [handle, ctypes.c_int32]),
        "prescora_errores_Source": (text_out, [handle, ctypes.c_int32]),
        "prescora_peticion_new": (handle, []),
        "prescora_peticion_free": (None, [handle]),
        "prescora_peticion_IDPrescripcion": (text_out, [handle]),
        "prescora_respuesta_free": (None, [handle]),
        "prescora_respuesta_DatosValidos": (ctypes.c_int, [handle]),
        "prescora_respuesta_DispensacionRealizada": (ctypes.c_int, [handle]),
        "prescora_respuesta_count": (ctypes.c_int32, [handle, ctypes.c_int]),
        "prescora_respuesta_item": (text_out, [handle, ctypes.c_int, ctypes.c_int32]),
        "prescora_tarjeta_new": (handle, []),
        "prescora_tarjeta_free": (None, [handle]),
        "prescora_tarjeta_GetCardData": (ctypes.c_int, [handle, handle, ctypes.POINTER(handle)]),
        "prescora_argumento_TIS": (text_out, [handle]),
        "prescora_argumento_TitularTarjeta": (text_out, [handle]),
        "prescora_argumento_new": (handle, []),
        "prescora_argumento_free": (None, [handle]),
        "prescora_initiator_new": (handle, []),
        "prescora_initiator_free": (None, [handle]),
        "prescora_initiator_Errores": (handle, [handle]),
        "prescora_initiator_RecuperarPrescripciones": (handle, [handle, handle]),
        "prescora_prescripciones_free": (None, [handle]),
        "prescora_prescripciones_DatosValidos": (ctypes.c_int, [handle]),
        "prescora_prescripciones_CodigoError": (ctypes.c_int32, [handle]),
        "prescora_prescripciones_DescripcionError": (text_out, [handle]),
        "prescora_prescripciones_count": (ctypes.c_int32, [handle]),
        "prescora_prescripcion_IDPrescripcion": (text_out, [handle, ctypes.c_int32]),
        "prescora_prescripcion_CodigoProducto": (text_out, [handle, ctypes.c_int32]),
        "prescora_prescripcion_FechaPrescripcion": (text_out, [handle, ctypes.c_int32]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


def text(lib, pointer):
    """A library text as a Python str; the library's copy is released."""
    if not pointer:
        return None
    try:
        return ctypes.string_at(pointer).decode("utf-8")
    finally:
        lib.prescora_free(pointer)


def set_text(lib, setter, obj, value):
    function = getattr(lib, setter)
    function.restype = ctypes.c_int32
    function.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    error = function(obj, value.encode("utf-8"))
    if error:
        raise ValueError(f"{setter}: error {error}")


def errors(lib, front, library="interface"):
    """The front object's errors of its last call (or of its construction), as (number, source,
    description) tuples."""
    items = getattr(lib, f"prescora_{library}_Errores")(front)
    try:
        return [(lib.prescora_errores_Number(items, i),
                 text(lib, lib.prescora_errores_Source(items, i)),
                 text(lib, lib.prescora_errores_Description(items, i)))
                for i in range(lib.prescora_errores_count(items))]
    finally:
        lib.prescora_errores_free(items)


def read_card(lib):
    """The TIS of the health card in the reader, waiting as [Tarjeta] says; None on a failure."""
    card = lib.prescora_tarjeta_new()
    argument = lib.prescora_argumento_new()
    error = ctypes.c_void_p()
    try:
        if lib.prescora_tarjeta_GetCardData(card, argument, ctypes.byref(error)):
            holder = text(lib, lib.prescora_argumento_TitularTarjeta(argument))
            tis = text(lib, lib.prescora_argumento_TIS(argument))
            print(f"tarjeta: {tis} {holder}")
            return tis
        print("tarjeta: error", lib.prescora_errores_Number(error, 0),
              text(lib, lib.prescora_errores_Description(error, 0)))
        return None
    finally:
        lib.prescora_errores_free(error)
        lib.prescora_argumento_free(argument)
        lib.prescora_tarjeta_free(card)


def retrieve(lib, tis):
    """The patient's prescriptions still to be dispensed, as (id, product, date) tuples."""
    front = lib.prescora_initiator_new()
    argument = lib.prescora_argumento_new()
    try:
        trouble = errors(lib, front, "initiator")
        if trouble:  # the object could not be set up: say why before trying
            print("La consulta no está disponible:", trouble, file=sys.stderr)
            return None
        for name, value in {"Usuario": "FARM01", "Password": "clave01", "TIS": tis}.items():
            set_text(lib, f"prescora_argumento_set_{name}", argument, value)
        found = lib.prescora_initiator_RecuperarPrescripciones(front, argument)
        try:
            if not lib.prescora_prescripciones_DatosValidos(found):
                code = lib.prescora_prescripciones_CodigoError(found)
                message = text(lib, lib.prescora_prescripciones_DescripcionError(found))
                print(f"consulta de {tis}: código {code} {message}", errors(lib, front, "initiator"))
                return None
            return [(text(lib, lib.prescora_prescripcion_IDPrescripcion(found, i)),
                     text(lib, lib.prescora_prescripcion_CodigoProducto(found, i)),
                     text(lib, lib.prescora_prescripcion_FechaPrescripcion(found, i)))
                    for i in range(lib.prescora_prescripciones_count(found))]
        finally:
            lib.prescora_prescripciones_free(found)
    finally:
        lib.prescora_argumento_free(argument)
        lib.prescora_initiator_free(front)


# prescora_interface_Envio: what became of the request (PRESCORA_ENV_* of prescora.h).
ENVIO = {
    1: "no enviada: el servicio no la recibió; se puede volver a pedir",
    2: "enviada sin respuesta a tiempo: resultado desconocido, compruébelo en el servicio",
    3: "respondida por el servicio",
}


def dispense(lib, prescription):
    front = lib.prescora_interface_new()
    request = lib.prescora_peticion_new()
    try:
        if not lib.prescora_interface_Enabled(front):
            print("La interfaz no está habilitada:", errors(lib, front), file=sys.stderr)
            return False
        fields = {
            "IDPrescripcion": prescription, "IdFarmacia": "F0001", "IdProvincia": "48",
            "IdUsuario": "FARM01", "ClaveUsuario": "clave01", "IdFarmaceutico": "12345",
            "Importe": "12.50", "ImporteAportacion": "4.20", "FechaDispensacion": "08/12/2026",
            "Idioma": "es", "EnvasesDispensados": "1",
        }
        for name, value in fields.items():
            set_text(lib, f"prescora_peticion_set_{name}", request, value)

        passes = 0

        def on_wait(_context):
            nonlocal passes
            passes += 1

        hook = BUCLE_MENSAJES(on_wait)  # kept alive while the library may call it
        lib.prescora_set_bucle_mensajes(hook, None)
        response = lib.prescora_interface_SolicitudDispensacion(front, request)
        lib.prescora_set_bucle_mensajes(BUCLE_MENSAJES(), None)
        print(f"bucle de mensajes: {passes} pasadas")
        try:
            done = bool(lib.prescora_respuesta_DispensacionRealizada(response))
            print(f"{text(lib, lib.prescora_peticion_IDPrescripcion(request))}: "
                  f"DatosValidos={lib.prescora_respuesta_DatosValidos(response)} "
                  f"DispensacionRealizada={int(done)}")
            print("  envío:", ENVIO.get(lib.prescora_interface_Envio(front), "desconocido"))
            for i in range(lib.prescora_respuesta_count(response, 1)):  # PRESCORA_TEXTO_AVISO
                print("  aviso", text(lib, lib.prescora_respuesta_item(response, 1, i)))
            for number, source, description in errors(lib, front):
                print("  error", number, source, description)
            return done
        finally:
            lib.prescora_respuesta_free(response)
    finally:
        lib.prescora_peticion_free(request)
        lib.prescora_interface_free(front)


def main():
    parser = argparse.ArgumentParser(description="Dispensa una prescripción con Prescora.")
    parser.add_argument("--carpeta", default="/usr/lib/prescora",
                        help="carpeta de la biblioteca (la de libprescora.so)")
    parser.add_argument("--tis", default="BBBB000001", help="tarjeta sanitaria del paciente")
    parser.add_argument("--tarjeta", action="store_true",
                        help="lee el TIS de la tarjeta sanitaria del lector")
    parser.add_argument("--id", help="prescripción que dispensar (por defecto, la primera pendiente)")
    args = parser.parse_args()
    lib = load(args.carpeta)

    if args.tarjeta:
        args.tis = read_card(lib)
        if args.tis is None:
            return 1
    pending = retrieve(lib, args.tis)
    if pending is None:
        return 1
    print(f"pendientes de {args.tis} antes:", " ".join(p[0] for p in pending) or "ninguna")
    prescription = args.id or (pending[0][0] if pending else None)
    if prescription is None:
        return 1
    ok = dispense(lib, prescription)
    after = retrieve(lib, args.tis)
    if after is None:
        return 1
    print(f"pendientes de {args.tis} después:", " ".join(p[0] for p in after) or "ninguna")
    return 0 if ok and prescription not in [p[0] for p in after] else 1


if __name__ == "__main__":
    sys.exit(main())
