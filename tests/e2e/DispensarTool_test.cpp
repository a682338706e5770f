// The command-line pharmacy host, run from a library folder: the shipped libInterface.so found
// beside it, its settings, the real executor.exe and the simulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/E2eFixture.h"

namespace e2e {
namespace {

class DispensarTool : public Installation {
 protected:
  Outcome Dispensar(std::vector<std::string> arguments) {
    return RunProgram(Path("prescora-dispensar"), arguments);
  }
  static std::vector<std::string> Fields(const std::string& id) {
    return {"--id",      id,       "--farmacia",   "F0001",   "--provincia",    "48",
            "--usuario", "FARM01", "--clave",      "clave01", "--farmaceutico", "12345",
            "--importe", "12.50",  "--aportacion", "4.20",    "--idioma",       "es",
            "--envases", "1"};
  }
  static bool Has(const Outcome& outcome, const std::string& line) {
    return outcome.out.find(line + "\n") != std::string::npos;
  }
};

TEST_F(DispensarTool, TabulatedOutputOfADispensingThatWentThrough) {
  StartSimulator();
  std::vector<std::string> arguments = Fields("RX0000000001");
  arguments.insert(arguments.end(), {"--formato", "tabulado"});
  Outcome outcome = Dispensar(arguments);
  EXPECT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_EQ(outcome.out,
            "evento\tAlIniciarSolicitudDispensacion\tRX0000000001\n"
            "evento\tAlTerminarSolicitudDispensacion\tTrue\t1\n"
            "id\tRX0000000001\n"
            "tipo\t1\trspReceived\n"
            "envio\t3\tenvRespondido\n"
            "datos_validos\tTrue\n"
            "dispensacion_realizada\tTrue\n"
            "avisos\t1\n"
            "aviso\t0000\tDispensación realizada correctamente\n"
            "motivos_rechazo\t0\n"
            "salida\t0\n");
  // The library used the folder it was loaded from.
  EXPECT_NE(ReadFile(Path("Interface.log")).find("Iniciando una solicitud de dispensación"),
            std::string::npos);
}

TEST_F(DispensarTool, ExitStatusTellsRejectionFallbackAndFailureApart) {
  StartSimulator({}, {{"Asincrono.PeticionTimeOut", "2"}});
  // Already dispensed at the service: rejected.
  std::vector<std::string> arguments = Fields("RX0000000004");
  arguments.insert(arguments.end(), {"--formato", "tabulado"});
  Outcome rejected = Dispensar(arguments);
  EXPECT_EQ(rejected.status, 1) << rejected.out;
  EXPECT_TRUE(Has(rejected, "motivo_rechazo\t1005\tLa prescripción ya ha sido dispensada"));

  // No answer in time: the internal response.
  arguments = Fields("RX-FALLO-SOAP");
  arguments.insert(arguments.end(), {"--formato", "tabulado"});
  Outcome fallback = Dispensar(arguments);
  EXPECT_EQ(fallback.status, 3) << fallback.out;
  EXPECT_TRUE(Has(fallback, "tipo\t3\trspInternal"));
  EXPECT_TRUE(Has(fallback, "evento\tAlTerminarSolicitudDispensacion\tFalse\t3"));
  EXPECT_TRUE(Has(fallback, "envio\t2\tenvSinRespuesta"));

  // A service that refuses the connection: surely not sent, with the executor's reasons.
  Settings(
      {{"Asincrono.PeticionTimeOut", "20"}, {"Configuracion.Servicio", "http://127.0.0.1:1/wsdl"}});
  arguments = Fields("RX0000000001");
  arguments.insert(arguments.end(), {"--formato", "tabulado"});
  Outcome notSent = Dispensar(arguments);
  EXPECT_EQ(notSent.status, 5) << notSent.out;
  EXPECT_TRUE(Has(notSent, "tipo\t3\trspInternal"));
  EXPECT_TRUE(Has(notSent, "envio\t1\tenvNoEnviado"));
  EXPECT_NE(notSent.out.find("error\t32010\tNo se puede conectar con el servicio web"),
            std::string::npos);

  // A library that cannot read its settings fails the request.
  fs::remove(Path("Interface.ini"));
  arguments = Fields("RX0000000001");
  arguments.insert(arguments.end(), {"--formato", "tabulado"});
  Outcome failed = Dispensar(arguments);
  EXPECT_EQ(failed.status, 4) << failed.out;
  EXPECT_TRUE(Has(failed, "tipo\t0\terror"));
  EXPECT_TRUE(Has(failed, "datos_validos\tFalse"));
  EXPECT_NE(failed.out.find("error\t32005\tLa interfaz Prescora no está activa."),
            std::string::npos);
}

TEST_F(DispensarTool, FieldsFromAFileWithOptionsOnTopAndReadableOutput) {
  StartSimulator();
  Outcome outcome = Dispensar(
      {"--archivo", std::string(PRESCORA_SOURCE_DIR) + "/tools/dispensar/peticion-ejemplo.ini",
       "--id", "RX0000000002"});
  EXPECT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_NE(outcome.out.find("Prescripción RX0000000002\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("recibida del servicio (rspReceived)"), std::string::npos);
  EXPECT_NE(outcome.out.find("Dispensación realizada: sí"), std::string::npos);
  EXPECT_NE(outcome.out.find("0000  Dispensación realizada correctamente"), std::string::npos);
  EXPECT_NE(outcome.out.find("Errores:                ninguno"), std::string::npos);
  EXPECT_TRUE(simulator_->EsperarLinea("solicitudDispensacion RX0000000002 aceptada"));
}

TEST_F(DispensarTool, WrongArgumentsAndHelp) {
  EXPECT_EQ(Dispensar({"--desconocida"}).status, 2);
  EXPECT_EQ(Dispensar({"--regimen", "jubilado"}).status, 2);
  WriteFile(Path("campos.ini"), "IDPrescripcion = RX1\nColor = azul\n");
  EXPECT_EQ(Dispensar({"--archivo", Path("campos.ini")}).status, 2);
  EXPECT_EQ(Dispensar({"--archivo", Path("no-existe.ini")}).status, 2);
  // The library is not even asked for a wrong command line.
  EXPECT_FALSE(Exists("Interface.log"));

  Outcome help = Dispensar({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Uso: prescora-dispensar"), std::string::npos);
  EXPECT_NE(help.out.find("--archivo"), std::string::npos);
  EXPECT_NE(help.out.find("Estado de salida"), std::string::npos);
}

}  // namespace
}  // namespace e2e
