// H.264 Annex B byte streams split into NAL units and access units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

using NalUnit = std::vector<uint8_t>;     // without start code
using AccessUnit = std::vector<NalUnit>;  // in decoding order

// The NAL units between start codes (00 00 01 or 00 00 00 01); trailing zero bytes dropped.
std::vector<NalUnit> SplitNalUnits(const std::vector<uint8_t>& stream);

// Groups NAL units into access units (H.264 7.4.1.2.3): a new one starts at an access unit
// delimiter, SPS, PPS or SEI after a slice, or at a slice with first_mb_in_slice 0.
std::vector<AccessUnit> SplitAccessUnits(const std::vector<NalUnit>& units);

// Start code before each unit.
std::vector<uint8_t> ToAnnexB(const AccessUnit& unit);

// The whole file, or false when it cannot be read.
bool ReadFile(const std::string& path, std::vector<uint8_t>& out);

}  // namespace camsim
