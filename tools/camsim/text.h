// Text helpers of the simulator's request parsers, kept apart from the driver's own so that a
// fault on one side of a test does not look right on the other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace camsim {

// `text` without leading and trailing blanks (space, tab, CR, LF).
std::string Trim(std::string_view text);

// `text` in lower case (ASCII).
std::string Lower(std::string_view text);

// A decimal count of digits only (no sign), at most 2^32 - 1.
bool ParseCount(std::string_view text, uint32_t& value);

}  // namespace camsim
