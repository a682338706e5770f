#include "interface/Protocolo.h"

#include "interface/CEnCurso.h"

namespace PRESCORA_NS::protocolo {

namespace {

struct Palabra {
  Estado estado;
  const char* texto;
};
constexpr Palabra kPalabras[] = {
    {Estado::Preparada, CEnCurso::kPreparada}, {Estado::Lanzada, CEnCurso::kLanzada},
    {Estado::Tomada, CEnCurso::kTomada},       {Estado::Enviada, CEnCurso::kEnviada},
    {Estado::Cerrada, CEnCurso::kCerrada},     {Estado::Entregada, CEnCurso::kEntregada},
    {Estado::NoEnviada, CEnCurso::kNoEnviada},
};

}  // namespace

Estado DeTexto(std::string_view word) {
  if (word.empty()) return Estado::Ninguno;
  for (const Palabra& p : kPalabras)
    if (word == p.texto) return p.estado;
  return Estado::Desconocido;
}

const char* Texto(Estado estado) {
  for (const Palabra& p : kPalabras)
    if (p.estado == estado) return p.texto;
  return "";
}

}  // namespace PRESCORA_NS::protocolo
