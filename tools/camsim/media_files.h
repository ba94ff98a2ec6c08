// Reference media read from disk for the simulator's streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

using Bytes = std::vector<uint8_t>;

// Whole file; empty when it cannot be read.
Bytes ReadFileBytes(const std::string& path);
// Every "*.jpg" file of a directory in name order; empty when there is none.
std::vector<Bytes> ReadJpegFolder(const std::string& directory);

}  // namespace camsim
