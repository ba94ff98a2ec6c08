#include "camsim/send_stamp.h"

#include <time.h>

#include <cstring>

namespace camsim {

namespace {

constexpr uint8_t kFillerNal = 12;
constexpr char kTag[] = "TVRN-SENT:";
constexpr size_t kTagSize = sizeof(kTag) - 1;
constexpr size_t kDigits = 16;
constexpr size_t kStampSize = 1 + kTagSize + kDigits + 1;  // header, tag, digits, trailing bits
constexpr uint8_t kTrailing = 0x80;
constexpr size_t kSearchSpan = 16;  // trailing bytes a receiver may add after the stamp

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The stamp that starts at `p` (kStampSize bytes); false when it is none.
bool ParseAt(const uint8_t* p, uint64_t& nanoseconds) {
    if ((p[0] & 0x1F) != kFillerNal || std::memcmp(p + 1, kTag, kTagSize) != 0 ||
        p[kStampSize - 1] != kTrailing)
        return false;
    uint64_t value = 0;
    for (size_t i = 0; i < kDigits; ++i) {
        const int digit = HexValue(p[1 + kTagSize + i]);
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    nanoseconds = value;
    return true;
}

}  // namespace

NalUnit SendStampPlaceholder() {
    NalUnit nal(kStampSize, '0');
    nal.front() = kFillerNal;
    std::memcpy(nal.data() + 1, kTag, kTagSize);
    nal.back() = kTrailing;
    return nal;
}

bool WriteSendStamp(uint8_t* packet, size_t size, uint64_t nanoseconds) {
    uint64_t old = 0;
    if (size < kStampSize || !ParseAt(packet + size - kStampSize, old))
        return false;
    static constexpr char kHex[] = "0123456789abcdef";
    uint8_t* digits = packet + size - kStampSize + 1 + kTagSize;
    for (size_t i = kDigits; i-- > 0; nanoseconds >>= 4)
        digits[i] = static_cast<uint8_t>(kHex[nanoseconds & 0xF]);
    return true;
}

bool ReadSendStamp(const uint8_t* data, size_t size, uint64_t& nanoseconds) {
    if (size < kStampSize)
        return false;
    const size_t last = size - kStampSize;
    for (size_t at = last + 1; at-- > 0 && last - at <= kSearchSpan;)
        if (ParseAt(data + at, nanoseconds))
            return true;
    return false;
}

uint64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace camsim
