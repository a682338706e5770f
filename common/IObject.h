// The contract of every record with an XML form.
#pragma once

#include <optional>

#include "common/Export.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS {

class PRESCORA_API IObject {
 public:
  virtual ~IObject() = default;
  // The record as the child nodes of its XML form's root; nothing on failure.
  virtual std::optional<platform::xml::NodeList> ToXML() noexcept { return std::nullopt; }
  // Fills the record from a node list; true on success.
  virtual bool FromXML(platform::xml::NodeList& objIXMLDOMNodeList) noexcept {
    (void)objIXMLDOMNodeList;
    return false;
  }
  // True when every mandatory field is set.
  virtual bool RequiredFields() noexcept { return false; }
};

}  // namespace PRESCORA_NS
