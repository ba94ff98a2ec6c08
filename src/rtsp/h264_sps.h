// Picture size from an H.264 sequence parameter set (7.3.2.1).
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvane {

// MSB-first reader; bits past the end read as 1, and reading past the end marks a failure.
class CBitReader {
public:
    CBitReader(const uint8_t* begin, const uint8_t* end);

    uint32_t ReadBits(unsigned count);  // count <= 32
    bool ReadFlag() { return ReadBits(1) != 0; }
    // Exp-Golomb codes; a run of more than 31 leading zero bits is a failure and reads 0.
    uint32_t ReadUe();
    int32_t ReadSe();

    bool Failed() const { return failed; }
    void Fail() { failed = true; }

private:
    const uint8_t* position;
    const uint8_t* end;
    unsigned bitIndex = 0;  // next bit within *position, 0 = most significant
    bool failed = false;
};

// Reads the SPS whose bytes after the NAL header are [begin, end) (emulation-prevention bytes
// left in). False when the reader fails or the size is out of range; width and height are
// then unchanged.
bool ParseSequenceParameterSet(const uint8_t* begin, const uint8_t* end, uint32_t& width,
                               uint32_t& height);

}  // namespace norvane
