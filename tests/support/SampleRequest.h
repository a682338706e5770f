// A dispensing request of the simulator's sample pharmacy user (FARM01), with every mandatory
// field set, for the end-to-end tests and the benchmark.
#pragma once

#include <string>

#include "interface/CPeticionDispensacion.h"

namespace sample_data {

inline PRESCORA_NS::CPeticionDispensacion Request(const std::string& id) {
  PRESCORA_NS::CPeticionDispensacion p;
  p.set_IDPrescripcion(id);
  p.set_IdFarmacia("F0001");
  p.set_IdProvincia("48");
  p.set_IdUsuario("FARM01");
  p.set_ClaveUsuario("clave01");
  p.set_IdFarmaceutico("12345");
  p.set_Importe("12.50");
  p.set_ImporteAportacion("4.20");
  p.set_FechaDispensacion("07/12/2026");
  p.set_Idioma("es");
  p.set_EnvasesDispensados("1");
  return p;
}

// A request without identifier: the prescription's data the service needs to take it, for a
// sample patient (BBBB000001).
inline PRESCORA_NS::CPeticionDispensacion RequestWithoutId() {
  PRESCORA_NS::CPeticionDispensacion p = Request("");
  p.set_TIS("BBBB000001");
  p.set_CodigoColegiadoPrescriptor("28/123456");
  p.set_FechaPrescripcion("01/12/2026");
  p.set_RegimenReceta(PRESCORA_NS::Trabajador);
  p.set_TipoPrescripcion(PRESCORA_NS::Especialidad_Farmaceutica);
  return p;
}

}  // namespace sample_data
