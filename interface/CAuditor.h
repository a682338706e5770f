// The audit trail: one section per prescription identifier in the audit file, saying how far
// each dispensing got and which response the application received.
#pragma once

#include <cstdint>
#include <string>

#include "common/Export.h"

namespace PRESCORA_NS {

enum AuditTypeEnum : int32_t {
  audHeader = 0,
  audMarkPetitionDone = 1,
  audMarkMsgSended = 2,
  audMarkMsgReceived = 3,
  audSetResponse = 4,
  audSetTextResponse = 5,
};

enum ReceivedTypeEnum : int32_t {
  rcvNone = -1,
  rcvService = 0,
  rcvXML = 1,
  rcvIni = 2,
  rcvInternal = 3,
};

enum BoolTypeEnum : int32_t {
  blUnselected = -1,
  blnNo = 0,
  blnYes = 1,
};

class PRESCORA_API CAuditor {
 public:
  // Fixes both file names (audit.log and the daily yymmdd.log) in the audit folder.
  CAuditor() noexcept;
  ~CAuditor();
  CAuditor(const CAuditor&) = delete;
  CAuditor& operator=(const CAuditor&) = delete;

  // False: Save writes nothing and reports success.
  bool Enable() const noexcept { return enable_; }
  void set_Enable(bool value) noexcept { enable_ = value; }
  // True: the daily file, and times without the date.
  bool DiaryStore() const noexcept { return diaryStore_; }
  void set_DiaryStore(bool value) noexcept { diaryStore_ = value; }
  // The daily file is the one of the day of the call: an application that runs past midnight
  // writes the next day's marks where its executors write them.
  std::string OutputFileName() const noexcept;

  // Writes the keys of one action into the section of the identifier. True when written or
  // when there was nothing to write; a write the file system refuses does not count as failure.
  bool Save(const std::string& strIdPrescripcion, AuditTypeEnum intAction,
            ReceivedTypeEnum intResponse = rcvNone,
            const std::string& strTextResponse = "") noexcept;

  // Puts on the disk the marks Save left in memory, if any. Save flushes two marks of a
  // dispensing: the message sent (the executor's, before the request leaves the machine) and the
  // response text (the front object's last, before the application has its answer); each takes
  // the earlier marks of its file to the disk. The others wait in memory until then, and a
  // process done with a dispensing calls this for what is left. Not traced; the marks of the
  // calling thread's auditor, which it does not create.
  static void Flush() noexcept;

  // Whether the record of the identifier already names the response kind the application got,
  // so an answer stored now is late.
  bool StoreInDelayed(const std::string& strIdPrescripcion) noexcept;

  // The response kind recorded for the identifier ("srv", "xml", "ini", "int"), or "" when none
  // is, read as StoreInDelayed reads it.
  std::string RecordedResponse(const std::string& strIdPrescripcion) const noexcept;

  // The audit-file texts of the enumerations.
  static const char* ResponseText(ReceivedTypeEnum value) noexcept;
  static const char* BoolText(BoolTypeEnum value) noexcept;

 private:
  bool enable_ = true;
  bool diaryStore_ = false;
  std::string folder_;
  std::string fixedFile_;
};

}  // namespace PRESCORA_NS
