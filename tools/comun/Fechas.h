// Dates given on the tools' command lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace prescora_tools {

// "dd/mm/aaaa" or "aaaa-mm-dd" (day and month of one or two digits, the year of four) as
// yyyymmdd, when it names a real day of the years 1900 to 9999; nothing otherwise. Digits only:
// no signs, spaces or overflowing numbers.
inline std::optional<int> LeerFecha(std::string_view texto) {
  auto numero = [](std::string_view parte, std::size_t menos,
                   std::size_t mas) -> std::optional<int> {
    if (parte.size() < menos || parte.size() > mas) return std::nullopt;
    int valor = 0;
    for (char c : parte) {
      if (c < '0' || c > '9') return std::nullopt;
      valor = valor * 10 + (c - '0');
    }
    return valor;
  };
  const bool barras = texto.find('/') != std::string_view::npos;
  const char separador = barras ? '/' : '-';
  const auto primero = texto.find(separador);
  const auto segundo =
      primero == std::string_view::npos ? primero : texto.find(separador, primero + 1);
  if (segundo == std::string_view::npos ||
      texto.find(separador, segundo + 1) != std::string_view::npos)
    return std::nullopt;
  const std::string_view a = texto.substr(0, primero);
  const std::string_view b = texto.substr(primero + 1, segundo - primero - 1);
  const std::string_view c = texto.substr(segundo + 1);
  const auto dia = barras ? numero(a, 1, 2) : numero(c, 1, 2);
  const auto mes = numero(b, 1, 2);
  const auto anio = barras ? numero(c, 4, 4) : numero(a, 4, 4);
  if (!dia || !mes || !anio || *anio < 1900 || *mes < 1 || *mes > 12 || *dia < 1)
    return std::nullopt;
  static constexpr int kDias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool bisiesto = (*anio % 4 == 0 && *anio % 100 != 0) || *anio % 400 == 0;
  const int ultimo = *mes == 2 && bisiesto ? 29 : kDias[*mes - 1];
  if (*dia > ultimo) return std::nullopt;
  return *anio * 10000 + *mes * 100 + *dia;
}

}  // namespace prescora_tools
