// A pharmacy host that links both libraries, as an application does: one dispensing and one
// retrieval on one thread, each failing its own way, then the errors each front object reports.
// Prints "interface N..." and "initiator N...".
#include <iostream>
#include <string>
#include <vector>

#include "initiator/CInitiator.h"

std::vector<int> DispenseRefused();

namespace {

void Print(const char* name, const std::vector<int>& numbers) {
  std::cout << name;
  for (int n : numbers) std::cout << ' ' << n;
  std::cout << '\n';
}

}  // namespace

int main() {
  Initiator::CInitiator initiator;
  std::vector<int> dispensing = DispenseRefused();
  Initiator::CArgument blank;  // no TIS
  initiator.RecuperarPrescripciones(blank);
  std::vector<int> retrieval;
  for (const auto& item : initiator.Errores()) retrieval.push_back(item.Number());
  Print("interface", dispensing);
  Print("initiator", retrieval);
  return 0;
}
