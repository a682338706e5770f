// "Interface.CExecutor": the executor object as executor.exe creates it, by programmatic
// identifier, and calls it by member name.
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "common/ComponentRegistry.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "interface/CExecutor.h"

namespace PRESCORA_NS {

namespace {

bool Is(std::string_view member, std::string_view name) {
  if (member.size() != name.size()) return false;
  for (std::size_t i = 0; i < member.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(member[i])) !=
        std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  }
  return true;
}

std::string Text(bool value) {
  return platform::convert::BoolText(value);
}

class CExecutorComponent : public prescora::IComponent {
 public:
  std::string Invoke(std::string_view member, std::vector<std::string>& arguments) override {
    if (Is(member, "SolicitudDispensacion")) {
      if (arguments.empty()) platform::RaiseRuntime(platform::errInvalidCall);
      return Text(executor_.SolicitudDispensacion(arguments[0]));
    }
    if (Is(member, "Conectado")) return Text(executor_.Conectado());
    if (Is(member, "DatosEnviados")) return Text(executor_.DatosEnviados());
    if (Is(member, "Enabled")) return Text(executor_.Enabled());
    if (Is(member, "NombreServicio")) return executor_.NombreServicio();
    if (Is(member, "NombreLog")) return executor_.NombreLog();
    if (Is(member, "IDPrescripcion")) {
      // With an argument the property is set, as a property assignment would.
      if (!arguments.empty()) executor_.set_IDPrescripcion(arguments[0]);
      return executor_.IDPrescripcion();
    }
    platform::RaiseRuntime(platform::errNoSuchMember);
  }

 private:
  CExecutor executor_;
};

}  // namespace

PRESCORA_REGISTER_COMPONENT("CExecutor", CExecutorComponent)

}  // namespace PRESCORA_NS
