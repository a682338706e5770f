// How a line of a private-profile file reads, shared by the whole-file reader/writer (`profile`)
// and the one that works from the end of a growing file (`profiletail`), so that both see the
// same sections, keys and values.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Export.h"
#include "common/Trim.h"

namespace PRESCORA_NS::platform::inirules {

// A name or value without the blanks (spaces, tabs) around it.
inline std::string_view Trim(std::string_view text) {
  return prescora::Trim(text, prescora::kBlanks);
}

// Names are compared without regard to case.
bool SameName(std::string_view a, std::string_view b);

// A name or value as it may be written into one line: line breaks would split it into lines of
// their own (a value could otherwise forge keys or sections), so they become spaces.
std::string OneLine(std::string_view text);

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionOf(std::string_view line);

// The key and value of a "key=value" line, or nothing for sections, comments and other lines.
std::optional<std::pair<std::string_view, std::string_view>> EntryOf(std::string_view line);

// A value enclosed in matching quotes (" or ') without them.
std::string Unquote(std::string_view value);

// At most `chars` characters (UTF-8 code points) of the text.
std::string Cut(std::string text, std::size_t chars);

// Whether a write may go ahead: a section name and every key name not blank.
bool NamesGiven(std::string_view section,
                const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace PRESCORA_NS::platform::inirules
