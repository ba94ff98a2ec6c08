// MD5 and Base64 of the simulator's authentication, from the system's crypto library rather than
// the driver's code: a fault in the driver's Digest or Basic then shows as a refused request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace camsim {

// Lower-case hexadecimal MD5 digest of `text`.
std::string Md5Hex(std::string_view text);

std::string Base64Encode(const uint8_t* data, size_t size);

// Strict Base64 (padded, no characters outside the alphabet); false when malformed or when the
// decoded text would exceed `maxBytes`.
bool Base64Decode(std::string_view text, std::string& out, size_t maxBytes);

}  // namespace camsim
