// One error item and the ordered collection of them that the front objects expose as Errores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Export.h"

namespace PRESCORA_NS {

namespace platform {
class Failure;
}

class PRESCORA_API CErrorItem {
 public:
  int32_t Number() const noexcept { return number_; }
  void set_Number(int32_t value) noexcept { number_ = value; }
  const std::string& Description() const noexcept { return description_; }
  void set_Description(std::string value) noexcept { description_ = std::move(value); }
  const std::string& HelpContext() const noexcept { return helpContext_; }
  void set_HelpContext(std::string value) noexcept { helpContext_ = std::move(value); }
  const std::string& HelpFile() const noexcept { return helpFile_; }
  void set_HelpFile(std::string value) noexcept { helpFile_ = std::move(value); }
  const std::string& Source() const noexcept { return source_; }
  void set_Source(std::string value) noexcept { source_ = std::move(value); }

  // Number 0 and every text empty.
  void Clear() noexcept;

 private:
  int32_t number_ = 0;
  std::string description_;
  std::string helpContext_;
  std::string helpFile_;
  std::string source_;
};

class PRESCORA_API CError {
 public:
  // In the order the items were added; "item 1" is front().
  const std::vector<CErrorItem>& Errores() const noexcept { return errores_; }
  // Appends the raised error (number, description, source; help context 0 as "0").
  void AddError(const platform::Failure& error) noexcept;
  // Appends a copy of the five values of `error`.
  void AddError2(const CErrorItem& error) noexcept;
  void ResetErrorsCollection() noexcept;
  // How many times the collection was emptied: tells a mark taken earlier that it no longer holds.
  uint64_t Resets() const noexcept { return resets_; }

 private:
  std::vector<CErrorItem> errores_;
  uint64_t resets_ = 0;
};

}  // namespace PRESCORA_NS
