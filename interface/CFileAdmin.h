// Where every file of a dispensing lives under the library folder, and the few file operations
// the dispensing needs.
#pragma once

#include <cstdint>
#include <string>

#include "common/Export.h"

namespace PRESCORA_NS {

enum FolderEnum : int32_t {
  fldRoot = 1,
  fldSended = 2,
  fldReceived = 3,
};

class PRESCORA_API CFileAdmin {
 public:
  CFileAdmin() noexcept;
  ~CFileAdmin();
  CFileAdmin(const CFileAdmin&) noexcept;
  CFileAdmin& operator=(const CFileAdmin&) noexcept = default;

  // Paths; folders end with "/".
  std::string DefaultResponseFile() const noexcept;
  std::string InternalResponseFile() const noexcept;
  std::string GetDllPath() const noexcept;
  std::string GetSendedPath() const noexcept;
  std::string GetAuditorPath() const noexcept;
  std::string GetDelayedPath() const noexcept;
  std::string GetReceivedPath() const noexcept;

  // Create the spool folder when missing; true also when it (or a file of that name) exists.
  bool MakeSended() noexcept;
  bool MakeReceived() noexcept;
  bool MakeDelayed() noexcept;
  bool MakeAuditor() noexcept;

  bool ExistExecutorFile() noexcept;
  bool ExistIniFile() noexcept;
  bool ExistDefaultResponseFile() noexcept;
  // id.xml in the folder named; false for a value outside FolderEnum.
  bool ExistResponseFile(const std::string& strIdPrescripcion,
                         FolderEnum ResponseDir = fldReceived) noexcept;

  // Delete id.xml when present (read-only files too); true also when there was nothing.
  bool DeleteFromSended(const std::string& strIdPrescripcion) noexcept;
  bool DeleteFromReceived(const std::string& strIdPrescripcion) noexcept;

  // Moves strFolder/strFileTitle into Retrasados. A file of that name already there is kept: the
  // moved one becomes "name (2).ext" (or the next number free). False (and the source left in
  // place) when the copy fails.
  bool MoveToDelayed(const std::string& strFolder, const std::string& strFileTitle) noexcept;

  // Deletes Interface.log once it has reached the configured size limit; a limit of 0 or less is
  // no limit. Ignores every failure.
  void DeleteLogFileIfExcededSize() noexcept;

 private:
  bool MakeFolder(const char* procedure, const char* name) noexcept;
  bool Exist(const char* procedure, const std::string& path) noexcept;
  bool DeleteFrom(const char* procedure, const char* folder,
                  const std::string& strIdPrescripcion) noexcept;
};

}  // namespace PRESCORA_NS
