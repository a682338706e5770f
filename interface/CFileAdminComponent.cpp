// "Interface.CFileAdmin": the spool-folder object created by programmatic identifier (the
// retrieval library creates one when its front object is constructed).
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "common/ComponentRegistry.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "interface/CFileAdmin.h"

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

const std::string& Argument(const std::vector<std::string>& arguments, std::size_t index) {
  if (index >= arguments.size()) platform::RaiseRuntime(platform::errInvalidCall);
  return arguments[index];
}

std::string Text(bool value) {
  return platform::convert::BoolText(value);
}

class CFileAdminComponent : public prescora::IComponent {
 public:
  std::string Invoke(std::string_view member, std::vector<std::string>& arguments) override {
    if (Is(member, "DefaultResponseFile")) return admin_.DefaultResponseFile();
    if (Is(member, "InternalResponseFile")) return admin_.InternalResponseFile();
    if (Is(member, "GetDllPath")) return admin_.GetDllPath();
    if (Is(member, "GetSendedPath")) return admin_.GetSendedPath();
    if (Is(member, "GetAuditorPath")) return admin_.GetAuditorPath();
    if (Is(member, "GetDelayedPath")) return admin_.GetDelayedPath();
    if (Is(member, "GetReceivedPath")) return admin_.GetReceivedPath();
    if (Is(member, "MakeSended")) return Text(admin_.MakeSended());
    if (Is(member, "MakeReceived")) return Text(admin_.MakeReceived());
    if (Is(member, "MakeDelayed")) return Text(admin_.MakeDelayed());
    if (Is(member, "MakeAuditor")) return Text(admin_.MakeAuditor());
    if (Is(member, "ExistExecutorFile")) return Text(admin_.ExistExecutorFile());
    if (Is(member, "ExistIniFile")) return Text(admin_.ExistIniFile());
    if (Is(member, "ExistDefaultResponseFile")) return Text(admin_.ExistDefaultResponseFile());
    if (Is(member, "ExistResponseFile")) {
      auto folder = arguments.size() > 1
                        ? static_cast<FolderEnum>(platform::convert::ToInt32(arguments[1]))
                        : fldReceived;
      return Text(admin_.ExistResponseFile(Argument(arguments, 0), folder));
    }
    if (Is(member, "DeleteFromSended"))
      return Text(admin_.DeleteFromSended(Argument(arguments, 0)));
    if (Is(member, "DeleteFromReceived"))
      return Text(admin_.DeleteFromReceived(Argument(arguments, 0)));
    if (Is(member, "MoveToDelayed"))
      return Text(admin_.MoveToDelayed(Argument(arguments, 0), Argument(arguments, 1)));
    if (Is(member, "DeleteLogFileIfExcededSize")) {
      admin_.DeleteLogFileIfExcededSize();
      return {};
    }
    platform::RaiseRuntime(platform::errNoSuchMember);
  }

 private:
  CFileAdmin admin_;
};

}  // namespace

PRESCORA_REGISTER_COMPONENT("CFileAdmin", CFileAdminComponent)

}  // namespace PRESCORA_NS
