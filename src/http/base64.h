// Base64 of RFC 4648 (standard alphabet, "=" padding, no line breaks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvane::Utils {

std::string Base64Encode(const uint8_t* data, size_t size);
std::string Base64Encode(std::string_view text);

// Characters outside the alphabet (padding included) are skipped; bits short of a whole byte at
// the end are dropped. False, with `out` emptied, when the result would exceed `maxBytes`.
bool Base64Decode(std::string_view text, std::vector<uint8_t>& out, size_t maxBytes = SIZE_MAX);

}  // namespace norvane::Utils
