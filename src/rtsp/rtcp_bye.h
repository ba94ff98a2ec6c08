// Reading of RTCP BYE packets (RFC 3550 6.6) in a compound datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvane {

// The SSRCs (network order) that the BYE packets of a datagram name; empty when it holds none.
// The walk stops at the first packet whose length runs past the datagram.
std::vector<uint32_t> RtcpByeSources(const uint8_t* data, size_t length);

}  // namespace norvane
