#include "rtsp/timestamp_converter.h"

#include <gtest/gtest.h>

using norvane::CTimeStampConverter;

namespace {
constexpr uint64_t MS = 10000;  // file-time units
}  // namespace

TEST(TimeStampConverter, SpacesRepeatedTimestampsThenFollowsArrival) {
    CTimeStampConverter converter;
    const uint64_t t0 = 133000000000000000ull;
    converter.UpdateAt(9000, t0);
    EXPECT_EQ(converter.GetLastFrameTime(), t0);
    converter.UpdateAt(9000, t0 + 1000);  // same timestamp, 0.1 ms later
    EXPECT_EQ(converter.GetLastFrameTime(), t0 + MS);
    converter.UpdateAt(9000, t0 + 2000);
    EXPECT_EQ(converter.GetLastFrameTime(), t0 + 2 * MS);
    EXPECT_EQ(converter.GetAdvanceCount(), 2);
    // A later frame with a new timestamp gets its arrival time minus 1 ms.
    converter.UpdateAt(12600, t0 + 40 * MS);
    EXPECT_EQ(converter.GetLastFrameTime(), t0 + 39 * MS);
    EXPECT_EQ(converter.GetAdvanceCount(), 1);
    converter.UpdateAt(16200, t0 + 80 * MS);
    EXPECT_EQ(converter.GetLastFrameTime(), t0 + 79 * MS);
    converter.UpdateAt(19800, t0 + 120 * MS);  // advance count used up: arrival time itself
    EXPECT_EQ(converter.GetLastFrameTime(), t0 + 120 * MS);
}

TEST(TimeStampConverter, ZeroInputsChangeNothingAndBackwardStepAdvances) {
    CTimeStampConverter converter;
    converter.UpdateAt(0, 133000000000000000ull);
    converter.UpdateAt(5, 0);
    EXPECT_EQ(converter.GetLastFrameTime(), 0u);
    const uint64_t t0 = 133000000000000000ull;
    converter.UpdateAt(90000, t0);
    converter.UpdateAt(1000, t0 + 40 * MS);  // timestamp went back: negative step
    EXPECT_EQ(converter.GetLastFrameTime(), t0 + MS);
}

TEST(TimeStampConverter, GetTimeBeforeUpdateIsNow) {
    CTimeStampConverter converter;
    const SYSTEMTIME time = converter.GetTime();
    EXPECT_GE(time.wYear, 2024);
    converter.UpdateAt(1, 133000000000000000ull);  // 2022-06-18 (UTC)
    EXPECT_EQ(converter.GetTime().wYear, 2022);
}
