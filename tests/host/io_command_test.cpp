// tavrin-host's output settings and its I/O and motion lines.
#include <gtest/gtest.h>

#include "host/io_command.h"

TEST(IOCommand, OutputSettingsParseToDriverStates) {
    std::pair<int, int> s;
    ASSERT_TRUE(host::ParseOutputSetting("0=1", s));
    EXPECT_EQ(s, (std::pair<int, int>{0, 2}));
    ASSERT_TRUE(host::ParseOutputSetting("12=0", s));
    EXPECT_EQ(s, (std::pair<int, int>{12, 1}));
    for (const char* bad : {"", "=1", "1", "1=2", "a=1", "-1=1", "99999=1", "1=1x"})
        EXPECT_FALSE(host::ParseOutputSetting(bad, s)) << bad;
}

TEST(IOCommand, EventLinesNameInputStateAndMotion) {
    host::IOEvent change{{2024, 5, 3, 1, 12, 0, 0, 40}, {}, false, 3, 2};
    EXPECT_EQ(host::DescribeIOEvent(change), "2024-05-01T12:00:00.040Z input 3 active");
    change.state = 1;
    EXPECT_NE(host::DescribeIOEvent(change).find("input 3 inactive"), std::string::npos);
    host::IOEvent failure{change.time, {}, true, 0, 0};
    EXPECT_NE(host::DescribeIOEvent(failure).find("I/O failure"), std::string::npos);
    host::DeliveredFrame record{};
    record.data = {1, 1};
    EXPECT_NE(host::DescribeMotionRecord(2, record).find("channel 2 motion on"), std::string::npos);
    record.data = {1, 0};
    EXPECT_NE(host::DescribeMotionRecord(2, record).find("channel 2 motion off"), std::string::npos);
}
