// Message and trace log writer: appends whole lines to a text file, never reports a failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/Export.h"

namespace PRESCORA_NS {

class CLog {
 public:
  // Option bits.
  enum : int32_t { optWriteToFile = 1, optAccepted = 2 };

  const std::string& FileName() const noexcept { return fileName_; }
  void set_FileName(std::string value) noexcept { fileName_ = std::move(value); }
  int32_t Options() const noexcept { return options_; }
  void set_Options(int32_t value) noexcept { options_ = value; }
  const std::string& Header() const noexcept { return header_; }
  void set_Header(std::string value) noexcept { header_ = std::move(value); }

  // One message line: the time stamp and the text.
  void Writeln(std::string_view text, bool blnDate = true) noexcept;
  // One trace line: "IN " or "OUT", tab, procedure, tab, value, tab. `caller` is not used.
  void WriteTrace(const void* caller, bool blnIn, std::string_view procedure,
                  std::string_view value, bool blnDate = true) noexcept;

 private:
  std::string fileName_;
  int32_t options_ = 0;
  std::string header_;
};

}  // namespace PRESCORA_NS
