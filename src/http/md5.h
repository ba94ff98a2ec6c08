// MD5 message digest of RFC 1321.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace norvane::Utils {

class CMd5 {
public:
    using Digest = std::array<uint8_t, 16>;

    CMd5();
    void Update(const void* data, size_t size);
    // Pads, returns the digest and leaves the object ready for a new message.
    Digest Final();

private:
    void Reset();
    void Transform(const uint8_t block[64]);

    std::array<uint32_t, 4> state_;
    uint64_t length_ = 0;  // bytes hashed so far
    std::array<uint8_t, 64> buffer_{};
};

}  // namespace norvane::Utils
