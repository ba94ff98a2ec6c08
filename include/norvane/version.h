// Where a host reads the driver file's version A.B.C.D: Tavrin.dll carries a version resource,
// Tavrin.so an ELF note of this owner and type whose description is four 16-bit numbers.
#pragma once

#include <stdint.h>

namespace norvane {

inline constexpr char kVersionNoteOwner[] = "Tavrin";
inline constexpr uint32_t kVersionNoteType = 1;

}  // namespace norvane
