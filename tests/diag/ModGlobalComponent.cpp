// "<Library>.modGlobal": a window on the calling thread's shared objects of one library, for the
// tests that load both libraries into one process. Built only into the test copies of the
// libraries (tests/CMakeLists.txt): a host of the shipped libraries must not be able to empty the
// error collection or point the log anywhere.

#include "common/ComponentRegistry.h"
#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/convert.h"

namespace PRESCORA_NS {

namespace {

class ModGlobalComponent : public prescora::IComponent {
 public:
  std::string Invoke(std::string_view member, std::vector<std::string>& arguments) override {
    if (IsMember(member, "LibraryTitle")) return kLibraryTitle;
    if (IsMember(member, "LibraryFolder")) return platform::component::LibraryFolder();
    if (IsMember(member, "SetLogFile")) {
      // File name, and the options (1 when not given).
      objLog().set_FileName(ArgumentAt(arguments, 0));
      objLog().set_Options(arguments.size() > 1 ? platform::convert::ToInt32(arguments[1]) : 1);
      return {};
    }
    if (IsMember(member, "LogFile")) return objLog().FileName();
    if (IsMember(member, "LogOptions")) return std::to_string(objLog().Options());
    if (IsMember(member, "Writeln")) {
      objLog().Writeln(ArgumentAt(arguments, 0));
      return {};
    }
    if (IsMember(member, "AddError")) {
      // Number, and the source ("modGlobal.AddError" when not given).
      int32_t number = platform::convert::ToInt32(ArgumentAt(arguments, 0));
      std::string source = arguments.size() > 1 ? arguments[1] : "modGlobal.AddError";
      objErrores().AddError(platform::Failure(number, std::move(source), OwnDescription(number)));
      return {};
    }
    if (IsMember(member, "ErrorCount")) return std::to_string(objErrores().Errores().size());
    if (IsMember(member, "ErrorNumber")) {
      // Index from 1, as the collection is shown to the application.
      auto index = platform::convert::ToInt32(ArgumentAt(arguments, 0));
      const auto& items = objErrores().Errores();
      if (index < 1 || static_cast<std::size_t>(index) > items.size())
        platform::RaiseRuntime(platform::errSubscript);
      return std::to_string(items[static_cast<std::size_t>(index) - 1].Number());
    }
    if (IsMember(member, "ResetErrors")) {
      objErrores().ResetErrorsCollection();
      return {};
    }
    platform::RaiseRuntime(platform::errNoSuchMember);
  }
};

}  // namespace

PRESCORA_REGISTER_COMPONENT("modGlobal", ModGlobalComponent)

}  // namespace PRESCORA_NS
