// Feeds arbitrary reply texts to the RTSP response parser; the first byte picks the method, so
// all six methods (and an unknown one) are exercised, SDP bodies included for DESCRIBE.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtsp/rtsp_response_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const auto method = static_cast<norvane::RTSPMethod>(data[0] % 7 + 1);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    norvane::CRTSPResponseParser parser;
    parser.Parse(text, method);
    // A second reply on the same parser exercises the persisted fields.
    parser.Parse(text, norvane::RTSPMethod::Describe);
    return 0;
}
