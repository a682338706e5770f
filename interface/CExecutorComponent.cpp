// "Interface.CExecutor": the executor object as executor.exe creates it, by programmatic
// identifier, and calls it by member name.
#include <string>
#include <string_view>
#include <vector>

#include "common/ComponentRegistry.h"
#include "common/platform/clock.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "common/platform/soap.h"
#include "interface/CExecutor.h"

namespace PRESCORA_NS {

namespace {

class CExecutorComponent : public prescora::IComponent {
 public:
  std::string Invoke(std::string_view member, std::vector<std::string>& arguments) override {
    if (IsMember(member, "SolicitudDispensacion")) {
      if (arguments.empty()) platform::RaiseRuntime(platform::errInvalidCall);
      return BoolResult(executor_.SolicitudDispensacion(arguments[0]));
    }
    if (IsMember(member, "Conectado")) return BoolResult(executor_.Conectado());
    if (IsMember(member, "DatosEnviados")) return BoolResult(executor_.DatosEnviados());
    if (IsMember(member, "Enabled")) return BoolResult(executor_.Enabled());
    if (IsMember(member, "NombreServicio")) return executor_.NombreServicio();
    if (IsMember(member, "NombreLog")) return executor_.NombreLog();
    if (IsMember(member, "IDPrescripcion")) {
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

// A launcher started ahead of need: the executor's first call then finds the SOAP transport ready.
extern "C" PRESCORA_API void PrescoraPrepare() {
  // Its copies stay with one thread each.
  PRESCORA_NS::platform::soap::KeepExchangesOnOneThread();
  PRESCORA_NS::platform::soap::Prepare();
  // The time zone, read once here rather than by every copy of the launcher.
  (void)PRESCORA_NS::platform::clock::Now();
}
