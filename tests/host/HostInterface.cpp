// The dispensing half of a host that loads both libraries (compiled in the Interface namespace).
#include <string>
#include <vector>

#include "interface/CInterface.h"

std::vector<int> DispenseRefused() {
  Interface::CInterface front;
  Interface::CPeticionDispensacion request;
  request.set_IDPrescripcion("RX0000000001");  // and nothing else: refused before it is spooled
  front.SolicitudDispensacion(request);
  std::vector<int> numbers;
  for (const auto& item : front.Errores()) numbers.push_back(item.Number());
  return numbers;
}
