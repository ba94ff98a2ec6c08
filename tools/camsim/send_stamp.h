// Send stamps for latency measurement: each H.264 access unit gets a trailing filler-data NAL
// unit whose payload is a tag and the CLOCK_MONOTONIC time, in nanoseconds as 16 hex digits,
// at which the sender handed the frame's last (marker) packet to the kernel. A receiver that
// passes access units through unchanged finds the stamp at the end of each frame. Hex digits
// hold no zero bytes, so the payload needs no emulation prevention.
#pragma once

#include <cstddef>
#include <cstdint>

#include "camsim/annexb.h"

namespace camsim {

// The stamp NAL unit with a zero stamp, to be filled by WriteSendStamp.
NalUnit SendStampPlaceholder();
// Writes `nanoseconds` into a packet that ends with the stamp NAL unit; false when it does not.
bool WriteSendStamp(uint8_t* packet, size_t size, uint64_t nanoseconds);
// Finds the stamp at the end of an access unit (up to a few trailing bytes); false when absent.
bool ReadSendStamp(const uint8_t* data, size_t size, uint64_t& nanoseconds);
// CLOCK_MONOTONIC now, in nanoseconds.
uint64_t MonotonicNanoseconds();

}  // namespace camsim
