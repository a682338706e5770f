// A pharmacy application in a few lines: dispenses one prescription of the simulator's sample
// data through the installed dispensing library and prints the response; given the patient's
// TIS, it then lists what is still pending through the retrieval library.
//
//   host RX0000000001 [BBBB000001]   exit status 0 when the service confirmed the dispensing
#include <iostream>

#include <prescora/Initiator/CInitiator.h>
#include <prescora/Interface/CInterface.h>

int main(int argc, char** argv) {
  Interface::CInterface front;  // reads Interface.ini of the library folder
  if (!front.Enabled()) {
    for (const auto& e : front.Errores()) std::cerr << e.Number() << " " << e.Description() << "\n";
    return 4;
  }

  Interface::CPeticionDispensacion request;
  request.set_IDPrescripcion(argc > 1 ? argv[1] : "RX0000000001");
  request.set_IdFarmacia("F0001");
  request.set_IdProvincia("48");
  request.set_IdUsuario("FARM01");
  request.set_ClaveUsuario("clave01");
  request.set_IdFarmaceutico("12345");
  request.set_Importe("12.50");
  request.set_ImporteAportacion("4.20");
  request.set_FechaDispensacion("08/12/2026");
  request.set_Idioma("es");
  request.set_EnvasesDispensados("1");

  Interface::CRespuestaPeticion response = front.SolicitudDispensacion(request);
  std::cout << request.IDPrescripcion() << ": DatosValidos=" << response.DatosValidos()
            << " DispensacionRealizada=" << response.DispensacionRealizada() << "\n";
  for (std::size_t i = 0; i < response.m_colCodigoAviso().size(); ++i) {
    std::cout << "  aviso " << response.m_colCodigoAviso()[i] << " "
              << (i < response.m_colTextoAviso().size() ? response.m_colTextoAviso()[i] : "")
              << "\n";
  }
  for (const auto& code : response.m_colCodigoMotivosRechazo())
    std::cout << "  rechazo " << code << "\n";
  for (const auto& e : front.Errores())
    std::cout << "  error " << e.Number() << " " << e.Description() << "\n";

  if (argc > 2) {
    Initiator::CArgument argument;
    argument.set_Usuario("FARM01");
    argument.set_Password("clave01");
    argument.set_TIS(argv[2]);
    Initiator::CInitiator initiator;
    Initiator::CPrescripciones list = initiator.RecuperarPrescripciones(argument);
    std::cout << "pendientes (" << list.CodigoError() << "):";
    for (const auto& p : list.Registros()) std::cout << " " << p.IDPrescripcion();
    std::cout << "\n";
    if (!list.DatosValidos()) return 4;
  }
  return response.DispensacionRealizada() ? 0 : 1;
}
