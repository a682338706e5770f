// The dispensing's state file: one process reads what another wrote, and anyone who may write in
// EnCurso may leave anything there. Whatever it holds, the reader gives a word and a token that
// is either none or one of the length and letters the front object draws.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "interface/CEnCurso.h"

using PRESCORA_NS::CEnCurso;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CEnCurso::Contenido read = CEnCurso::Leer(text);
  if (read.estado.find('\n') != std::string::npos) std::abort();
  if (!read.ficha.empty() &&
      (read.ficha.size() != CEnCurso::kLargoFicha ||
       read.ficha.find_first_not_of("0123456789abcdef") != std::string::npos))
    std::abort();
  return 0;
}
