// libFuzzer target: arbitrary byte streams in arbitrary chunkings into the server-push scanner.
// The first byte seeds the chunk sizes; every chunking must find the same pictures, each one a
// well-formed JPEG of the size reported and within the limit.
#include "channels/jpeg_push_scanner.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "picture_checks.h"

namespace {

constexpr size_t kLimit = 4096;

struct Collector : norvane::IJpegReceiver {
    void OnJpegPicture(const uint8_t* p, size_t n, uint32_t w, uint32_t h) override {
        fuzz::Require(n <= kLimit + 2);
        fuzz::CheckJpeg(p, n, w, h, false);
        pictures.emplace_back(p, p + n);
    }
    std::vector<std::vector<uint8_t>> pictures;
};

std::vector<std::vector<uint8_t>> Scan(const uint8_t* data, size_t size, uint8_t seed) {
    Collector collector;
    norvane::CJpegPushScanner scanner(&collector, kLimit);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t at = 0; at < size;) {
        state = state * 1103515245u + 12345u;
        const size_t piece = seed ? 1 + (state >> 16) % 97 : size;
        const size_t n = piece < size - at ? piece : size - at;
        scanner.Scan(data + at, n);
        at += n;
        if (scanner.GetHeldBytes() > kLimit + 1)
            std::abort();
    }
    return collector.pictures;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    if (Scan(data + 1, size - 1, data[0]) != Scan(data + 1, size - 1, 0))
        std::abort();
    return 0;
}
