// The messages of a call: the request envelope built from an operation and its argument. The
// reading of the answer (ReadAnswer) is declared with the client. Internal to the client.
#pragma once

#include <string>

#include "common/platform/soapdescription.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS::platform::soap {

// The request envelope of one call: SOAP 1.1, the operation element of RPC style holding the first
// input part (typed with xsi:type when encoded), whose children are copies of the argument's nodes.
std::string BuildEnvelope(const Operation& op, const xml::NodeList& argument);

}  // namespace PRESCORA_NS::platform::soap
