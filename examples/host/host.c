/* The same dispensing as host.cpp, through the plain C interface (libprescora.so).
 *
 *   host-c RX0000000002      exit status 0 when the service confirmed the dispensing */
#include <stdio.h>

#include <prescora/prescora.h>

static void print_text(const char* label, char* text) {
  printf("%s%s\n", label, text ? text : "");
  prescora_free(text);
}

static void al_iniciar(void* contexto, const char* id) {
  (void)contexto;
  printf("al iniciar: %s\n", id);
}

static void al_terminar(void* contexto, int correcto, int32_t tipo) {
  (void)contexto;
  printf("al terminar: correcto=%d tipo=%d\n", correcto, (int)tipo);
}

int main(int argc, char** argv) {
  prescora_interface* front = prescora_interface_new();
  prescora_peticion* request = prescora_peticion_new();
  if (!front || !request) return 4;

  prescora_peticion_set_IDPrescripcion(request, argc > 1 ? argv[1] : "RX0000000002");
  prescora_peticion_set_IdFarmacia(request, "F0001");
  prescora_peticion_set_IdProvincia(request, "48");
  prescora_peticion_set_IdUsuario(request, "FARM01");
  prescora_peticion_set_ClaveUsuario(request, "clave01");
  prescora_peticion_set_IdFarmaceutico(request, "12345");
  prescora_peticion_set_Importe(request, "12.50");
  prescora_peticion_set_ImporteAportacion(request, "4.20");
  prescora_peticion_set_FechaDispensacion(request, "08/12/2026");
  prescora_peticion_set_Idioma(request, "es");
  prescora_peticion_set_EnvasesDispensados(request, "1");

  prescora_interface_set_eventos(front, al_iniciar, al_terminar, NULL);
  prescora_respuesta* response = prescora_interface_SolicitudDispensacion(front, request);
  int done = prescora_respuesta_DispensacionRealizada(response);
  print_text("", prescora_peticion_IDPrescripcion(request));
  printf("DatosValidos=%d DispensacionRealizada=%d\n", prescora_respuesta_DatosValidos(response),
         done);
  for (int32_t i = 0; i < prescora_respuesta_count(response, PRESCORA_TEXTO_AVISO); ++i) {
    print_text("  aviso ", prescora_respuesta_item(response, PRESCORA_TEXTO_AVISO, i));
  }
  prescora_errores* errors = prescora_interface_Errores(front);
  for (int32_t i = 0; i < prescora_errores_count(errors); ++i) {
    printf("  error %d ", (int)prescora_errores_Number(errors, i));
    print_text("", prescora_errores_Description(errors, i));
  }

  prescora_errores_free(errors);
  prescora_respuesta_free(response);
  prescora_peticion_free(request);
  prescora_interface_free(front);
  return done ? 0 : 1;
}
