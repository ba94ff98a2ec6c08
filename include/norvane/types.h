// Records shared between the host and the driver.
#pragma once

#include <stdint.h>

// Broken-down UTC time, as the host's frames take it: on Windows the system's own record.
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The record alone, without the functions windows.h declares.
#include <windef.h>
#include <minwinbase.h>
#else
struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
#endif

namespace norvane {

// Four ASCII characters in memory order as one 32-bit value.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

constexpr uint32_t FOURCC_JPEG = MakeFourCC('J', 'P', 'E', 'G');
constexpr uint32_t FOURCC_H264 = MakeFourCC('H', '2', '6', '4');
constexpr uint32_t FOURCC_I264 = MakeFourCC('I', '2', '6', '4');
constexpr uint32_t FOURCC_MEMD = MakeFourCC('M', 'E', 'M', 'D');

// Custom parameter integer that is missing or not a number.
constexpr int CUSTOM_PARAMETER_NOT_SET = static_cast<int>(0x80000000u);

}  // namespace norvane
