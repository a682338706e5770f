// What every part of the SOAP client shares: its way of failing and the small text checks of
// names and addresses. Internal to the client.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/Trim.h"
#include "common/platform/errors.h"

namespace PRESCORA_NS::platform::soap {

inline constexpr const char* kSource = "SoapClient";

[[noreturn]] inline void Fail(int32_t number, std::string description) {
  throw Failure(number, kSource, std::move(description));
}

bool IEquals(std::string_view a, std::string_view b);
bool IStartsWith(std::string_view text, std::string_view prefix);
using prescora::Trim;
// An attribute takes only the spaces around it off (TrimSpaces): a parser has already turned
// the line breaks and tabs written in it into spaces, so what remains of them came as character
// references.
using prescora::TrimSpaces;
// Whether an address may go into a request line: no control character and no white space, so
// that none can end the line and start a header or a second request.
bool Clean(std::string_view address);

}  // namespace PRESCORA_NS::platform::soap
