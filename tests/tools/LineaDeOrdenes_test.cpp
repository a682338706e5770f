// What every tool says about its command line: its version, the dates it takes, and the parser's
// complaints in Spanish. The programs run as users run them.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/TempFolder.h"
#include "tools/comun/Fechas.h"

namespace {

const char* const kTools[] = {"prescora-dispensar", "prescora-recuperar", "prescora-tarjeta",
                              "prescora-auditoria", "prescora-simulador"};

struct Salida {
  int estado = -1;
  std::string out, err;
};

Salida Ejecutar(const std::string& tool, const std::string& argumentos) {
  TempFolder temp;
  const std::string orden = std::string(PRESCORA_BIN_DIR) + "/" + tool + " " + argumentos + " >" +
                            (temp / "out") + " 2>" + (temp / "err") + " </dev/null";
  const int estado = std::system(orden.c_str());
  Salida s;
  s.estado = WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
  s.out = ReadAll(temp / "out");
  s.err = ReadAll(temp / "err");
  return s;
}

#define PRESCORA_STR2(x) #x
#define PRESCORA_STR(x) PRESCORA_STR2(x)

TEST(LineaDeOrdenes, EveryToolAnswersVersionWithThePackagesVersion) {
  const std::string version = PRESCORA_STR(PRESCORA_VERSION_MAJOR) "." PRESCORA_STR(
      PRESCORA_VERSION_MINOR) "." PRESCORA_STR(PRESCORA_VERSION_PATCH);
  for (const char* tool : kTools) {
    for (const char* flag : {"--version", "-V"}) {
      Salida s = Ejecutar(tool, flag);
      EXPECT_EQ(s.estado, 0) << tool << " " << flag << ": " << s.err;
      EXPECT_EQ(s.out, std::string(tool) + " " + version + "\n") << tool << " " << flag;
    }
  }
}

TEST(LineaDeOrdenes, ParserComplaintsComeInSpanishWithTheOptionAtFault) {
  for (const char* tool : kTools) {
    Salida s = Ejecutar(tool, "--no-existe");
    EXPECT_EQ(s.estado, 2) << tool;
    EXPECT_NE(s.err.find("argumento no reconocido --no-existe"), std::string::npos) << s.err;
    // Nothing of the parser's own English.
    for (const char* ingles : {"following", "expected", "required", "Run with"})
      EXPECT_EQ(s.err.find(ingles), std::string::npos) << tool << ": " << s.err;
  }
  Salida falta = Ejecutar("prescora-auditoria", "--desde");
  EXPECT_EQ(falta.estado, 2);
  EXPECT_NE(falta.err.find("falta el valor de la opción --desde"), std::string::npos) << falta.err;
  Salida valor = Ejecutar("prescora-auditoria", "--formato xml");
  EXPECT_EQ(valor.estado, 2);
  EXPECT_NE(valor.err.find("valor no válido para la opción --formato"), std::string::npos)
      << valor.err;
}

TEST(Fechas, OnlyRealDaysInRangeAreTaken) {
  struct Caso {
    const char* texto;
    int esperado;  // 0: refused
  } casos[] = {
      {"01/12/2026", 20261201},
      {"1/2/2026", 20260201},
      {"2026-12-01", 20261201},
      {"29/02/2024", 20240229},
      {"29/02/2000", 20000229},
      {"31/12/9999", 99991231},
      {"01/01/1900", 19000101},
      {"31/02/2026", 0},
      {"29/02/2026", 0},
      {"29/02/1900", 0},
      {"31/04/2026", 0},
      {"0/1/2026", 0},
      {"1/13/2026", 0},
      {"1/1/2147483647", 0},
      {"1/1/99999", 0},
      {"1/1/1899", 0},
      {"1/1/26", 0},
      {"+1/1/2026", 0},
      {" 1/1/2026", 0},
      {"1/1/2026x", 0},
      {"1/1/2026/1", 0},
      {"2026-12", 0},
      {"2026/12/01", 0},
      {"", 0},
  };
  for (const Caso& c : casos) {
    auto fecha = prescora_tools::LeerFecha(c.texto);
    if (c.esperado == 0)
      EXPECT_FALSE(fecha) << c.texto << " -> " << *fecha;
    else
      EXPECT_EQ(fecha.value_or(0), c.esperado) << c.texto;
  }
}

TEST(Fechas, TheAuditReportRefusesADayThatDoesNotExistOrOverflows) {
  TempFolder carpeta;
  for (const char* fecha : {"31/02/2026", "1/1/2147483647"}) {
    Salida s = Ejecutar("prescora-auditoria", "--carpeta " + carpeta.path() + " --desde " + fecha);
    EXPECT_EQ(s.estado, 2) << fecha << ": " << s.out;
    EXPECT_NE(s.err.find(std::string("fecha no válida «") + fecha + "»"), std::string::npos)
        << s.err;
  }
}

}  // namespace
