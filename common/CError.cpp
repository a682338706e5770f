#include "common/CError.h"

#include "common/platform/errors.h"

namespace PRESCORA_NS {

void CErrorItem::Clear() noexcept {
  number_ = 0;
  description_.clear();
  helpContext_.clear();
  helpFile_.clear();
  source_.clear();
}

void CError::AddError(const platform::Failure& error) noexcept {
  try {
    CErrorItem item;
    item.set_Number(error.Number());
    item.set_Description(error.Description());
    item.set_HelpContext("0");
    item.set_Source(error.Source());
    errores_.push_back(std::move(item));
  } catch (...) {
  }
}

void CError::AddError2(const CErrorItem& error) noexcept {
  try {
    errores_.push_back(error);
  } catch (...) {
  }
}

void CError::ResetErrorsCollection() noexcept {
  errores_.clear();
  ++resets_;
}

}  // namespace PRESCORA_NS
