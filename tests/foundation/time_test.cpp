#include <gtest/gtest.h>

#include "foundation/time.h"

using namespace norvane;

namespace {

SYSTEMTIME Convert(uint64_t fileTime) {
    SYSTEMTIME st{};
    EXPECT_TRUE(FileTimeToSystemTime(fileTime, &st));
    return st;
}

}  // namespace

TEST(Time, FileTimeConvertsToCalendarDates) {
    const SYSTEMTIME origin = Convert(0);
    EXPECT_EQ(origin.wYear, 1601);
    EXPECT_EQ(origin.wMonth, 1);
    EXPECT_EQ(origin.wDay, 1);
    EXPECT_EQ(origin.wDayOfWeek, 1);  // Monday

    const SYSTEMTIME unix = Convert(116444736000000000ull);
    EXPECT_EQ(unix.wYear, 1970);
    EXPECT_EQ(unix.wMonth, 1);
    EXPECT_EQ(unix.wDay, 1);
    EXPECT_EQ(unix.wDayOfWeek, 4);  // Thursday

    // 2024-02-29 13:45:30.123 UTC: Unix 1709214330.
    const uint64_t leap = 116444736000000000ull + 1709214330ull * 10000000ull + 1230000ull;
    const SYSTEMTIME st = Convert(leap);
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wDayOfWeek, 4);
    EXPECT_EQ(st.wHour, 13);
    EXPECT_EQ(st.wMinute, 45);
    EXPECT_EQ(st.wSecond, 30);
    EXPECT_EQ(st.wMilliseconds, 123);
}

TEST(Time, InvalidConversionsFail) {
    SYSTEMTIME st{};
    EXPECT_FALSE(FileTimeToSystemTime(1ull << 63, &st));
    EXPECT_FALSE(FileTimeToSystemTime(0, nullptr));
}

TEST(Time, CurrentTimeIsAfter2020AndElapsedStartsNearZero) {
    const uint64_t now = GetCurrentFileTime();
    EXPECT_GT(now, 132223104000000000ull);  // 2020-01-01
    CTime t;
    t.Now();
    EXPECT_LE(t.ElapsedMs(), 50u);
    EXPECT_GE(GetCurrentFileTime(), t.GetValue());
}
