// One prescription of a patient still to be dispensed, as the service listed it. The application
// only reads it; the list's parser fills it.
#pragma once

#include <cstdint>
#include <string>

#include "common/Export.h"

namespace PRESCORA_NS {

// The patient's prescription regime (this library's own; the dispensing library's type of the
// same name has other members). A value the service sends outside these is kept as sent.
enum RegimenRecetaEnum : int32_t {
  Activo = 0,
  Pensionista = 1,
  Otro = 2,
};

// Whether the prescription needs an inspector's approval before it is dispensed. A value outside
// these is kept as sent.
enum RequiereVisadoEnum : int32_t {
  NoNecesita = 0,
  PendienteVisar = 1,
  YaVisada = 2,
  VisadoRechazado = 3,
};

class PRESCORA_API CPrescripcion {
 public:
  const std::string& IDPrescripcion() const noexcept { return idPrescripcion_; }
  // "yyyy/mm/dd", or "" when the service sent no valid date.
  const std::string& FechaPrescripcion() const noexcept { return fechaPrescripcion_; }
  const std::string& CodigoProducto() const noexcept { return codigoProducto_; }
  int16_t EnvasesPrescritos() const noexcept { return envasesPrescritos_; }
  RequiereVisadoEnum RequiereVisado() const noexcept { return requiereVisado_; }
  RegimenRecetaEnum RegimenReceta() const noexcept { return regimenReceta_; }

 private:
  friend class CPrescripciones;

  std::string idPrescripcion_;
  std::string fechaPrescripcion_;
  std::string codigoProducto_;
  int16_t envasesPrescritos_ = 0;
  RequiereVisadoEnum requiereVisado_ = NoNecesita;
  RegimenRecetaEnum regimenReceta_ = Activo;
};

}  // namespace PRESCORA_NS
