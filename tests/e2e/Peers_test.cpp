// Both roads against services that write their answers otherwise than the simulator's normal
// style: the simulator's multiRef style, and a peer generated with gSOAP. The retrieval runs
// through libInitiator.so (prescora-recuperar), the dispensing through libInterface.so and the
// real executor.exe (prescora-dispensar); each must give exactly the service's data, no error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/E2eFixture.h"
#include "support/LibraryCopy.h"

namespace e2e {
namespace {

// One call of a road and what it must print, from the line that names the outcome on.
struct Road {
  std::string what;  // "recuperar TIS" or "dispensar ID"
  std::string expected;
  int status;
};

class Peers : public Installation {
 protected:
  void SetUp() override {
    Installation::SetUp();
    for (const char* binary : {"libInitiator.so", "prescora-recuperar"})
      CopyIntoFolder(binary, Path(""));
  }

  void StartGsoapPeer() {
    simulator_ = std::make_unique<SimuladorProceso>(std::vector<std::string>{},
                                                    std::chrono::seconds(20), PRESCORA_PEER_GSOAP);
    ASSERT_TRUE(simulator_->Arrancado()) << simulator_->Errores();
    Settings({});
  }

  Outcome Run(const std::string& what) {
    const auto space = what.find(' ');
    const std::string tool = what.substr(0, space), key = what.substr(space + 1);
    if (tool == "recuperar")
      return RunProgram(Path("prescora-recuperar"), {"--tis", key, "--usuario", "FARM01", "--clave",
                                                     "clave01", "--formato", "tabulado"});
    return RunProgram(Path("prescora-dispensar"),
                      {"--id",      key,      "--farmacia",   "F0001",   "--provincia",    "48",
                       "--usuario", "FARM01", "--clave",      "clave01", "--farmaceutico", "12345",
                       "--importe", "12.50",  "--aportacion", "4.20",    "--idioma",       "es",
                       "--envases", "1",      "--formato",    "tabulado"});
  }

  void ExpectRoads(const std::vector<Road>& roads) {
    for (const auto& road : roads) {
      SCOPED_TRACE(road.what);
      Outcome outcome = Run(road.what);
      // The lines before name the query or the request's events.
      const auto from =
          outcome.out.find(road.what.rfind("recuperar", 0) == 0 ? "datos_validos\t" : "tipo\t");
      EXPECT_EQ(from == std::string::npos ? outcome.out : outcome.out.substr(from), road.expected)
          << outcome.out;
      EXPECT_EQ(outcome.status, road.status);
    }
  }
};

TEST_F(Peers, MultiRefStyleGivesTheServiceDataOnBothRoads) {
  StartSimulator({"--estilo", "multiref"});
  ExpectRoads({
      {"recuperar BBBB000001",
       "datos_validos\tTrue\ncodigo_error\t0\ndescripcion_error\t\nprescripciones\t2\n"
       "prescripcion\tRX0000000001\t654321\t2026/12/01\t1\t0\t0\n"
       "prescripcion\tRX0000000002\t712345\t2026/11/15\t2\t1\t2\n"
       "salida\t0\n",
       0},
      {"recuperar ZZZZ000000",
       "datos_validos\tFalse\ncodigo_error\t3\n"
       "descripcion_error\tTarjeta sanitaria (TIS) desconocida: ZZZZ000000\nprescripciones\t0\n"
       "error\t3\tTarjeta sanitaria (TIS) desconocida: "
       "ZZZZ000000\tCPrescripciones.IObject_FromXML\n"
       "salida\t1\n",
       1},
      {"dispensar RX0000000001",
       "tipo\t1\trspReceived\nenvio\t3\tenvRespondido\ndatos_validos\tTrue\ndispensacion_"
       "realizada\tTrue\navisos\t1\n"
       "aviso\t0000\tDispensación realizada correctamente\nmotivos_rechazo\t0\nsalida\t0\n",
       0},
      {"dispensar RX0000000004",
       "tipo\t1\trspReceived\nenvio\t3\tenvRespondido\ndatos_validos\tTrue\ndispensacion_"
       "realizada\tFalse\navisos\t0\n"
       "motivos_rechazo\t1\nmotivo_rechazo\t1005\tLa prescripción ya ha sido dispensada\n"
       "salida\t1\n",
       1},
  });
  EXPECT_TRUE(simulator_->EsperarLinea("solicitudDispensacion RX0000000001 aceptada"));
}

TEST_F(Peers, GsoapPeerGivesItsDataOnBothRoads) {
  if (!fs::exists(PRESCORA_PEER_GSOAP))
    GTEST_SKIP() << "gSOAP no está instalado (wsdl2h, soapcpp2, libgsoap-dev): no se ha construido "
                    "el servicio par; scripts/install-deps.sh lo instala";
  StartGsoapPeer();
  // Its two prescriptions share a date, and its refusal's two counts one number: each is sent
  // once, by reference.
  ExpectRoads({
      {"recuperar BBBB000001",
       "datos_validos\tTrue\ncodigo_error\t0\ndescripcion_error\t\nprescripciones\t2\n"
       "prescripcion\tRXG0000001\t600001\t2026/11/30\t1\t0\t0\n"
       "prescripcion\tRXG0000002\t600002\t2026/11/30\t3\t1\t1\n"
       "salida\t0\n",
       0},
      {"dispensar RXG0000001",
       "tipo\t1\trspReceived\nenvio\t3\tenvRespondido\ndatos_validos\tTrue\ndispensacion_"
       "realizada\tTrue\navisos\t1\n"
       "aviso\t0000\tDispensación realizada correctamente\nmotivos_rechazo\t0\nsalida\t0\n",
       0},
      {"dispensar RXG0000002",
       "tipo\t1\trspReceived\nenvio\t3\tenvRespondido\ndatos_validos\tTrue\ndispensacion_"
       "realizada\tFalse\navisos\t1\n"
       "aviso\t2001\tRevise la posología\nmotivos_rechazo\t1\n"
       "motivo_rechazo\t1004\tPrescripción desconocida\nsalida\t1\n",
       1},
  });
}

}  // namespace
}  // namespace e2e
