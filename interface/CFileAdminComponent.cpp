// "Interface.CFileAdmin": the spool-folder object created by programmatic identifier (the
// retrieval library creates one when its front object is constructed).
#include <string>
#include <string_view>
#include <vector>

#include "common/ComponentRegistry.h"
#include "common/platform/convert.h"
#include "common/platform/errors.h"
#include "interface/CFileAdmin.h"

namespace PRESCORA_NS {

namespace {

class CFileAdminComponent : public prescora::IComponent {
 public:
  std::string Invoke(std::string_view member, std::vector<std::string>& arguments) override {
    if (IsMember(member, "DefaultResponseFile")) return admin_.DefaultResponseFile();
    if (IsMember(member, "InternalResponseFile")) return admin_.InternalResponseFile();
    if (IsMember(member, "GetDllPath")) return admin_.GetDllPath();
    if (IsMember(member, "GetSendedPath")) return admin_.GetSendedPath();
    if (IsMember(member, "GetAuditorPath")) return admin_.GetAuditorPath();
    if (IsMember(member, "GetDelayedPath")) return admin_.GetDelayedPath();
    if (IsMember(member, "GetReceivedPath")) return admin_.GetReceivedPath();
    if (IsMember(member, "MakeSended")) return BoolResult(admin_.MakeSended());
    if (IsMember(member, "MakeReceived")) return BoolResult(admin_.MakeReceived());
    if (IsMember(member, "MakeDelayed")) return BoolResult(admin_.MakeDelayed());
    if (IsMember(member, "MakeAuditor")) return BoolResult(admin_.MakeAuditor());
    if (IsMember(member, "ExistExecutorFile")) return BoolResult(admin_.ExistExecutorFile());
    if (IsMember(member, "ExistIniFile")) return BoolResult(admin_.ExistIniFile());
    if (IsMember(member, "ExistDefaultResponseFile"))
      return BoolResult(admin_.ExistDefaultResponseFile());
    if (IsMember(member, "ExistResponseFile")) {
      auto folder = arguments.size() > 1
                        ? static_cast<FolderEnum>(platform::convert::ToInt32(arguments[1]))
                        : fldReceived;
      return BoolResult(admin_.ExistResponseFile(ArgumentAt(arguments, 0), folder));
    }
    if (IsMember(member, "DeleteFromSended"))
      return BoolResult(admin_.DeleteFromSended(ArgumentAt(arguments, 0)));
    if (IsMember(member, "DeleteFromReceived"))
      return BoolResult(admin_.DeleteFromReceived(ArgumentAt(arguments, 0)));
    if (IsMember(member, "MoveToDelayed"))
      return BoolResult(admin_.MoveToDelayed(ArgumentAt(arguments, 0), ArgumentAt(arguments, 1)));
    if (IsMember(member, "DeleteLogFileIfExcededSize")) {
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
