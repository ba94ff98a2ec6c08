// The simulator's scripted alarm course: its text form and the application of due events.
#include <gtest/gtest.h>

#include "camsim/alarm_timeline.h"

using namespace camsim;

TEST(AlarmTimeline, TextFormRoundTripsAndRejectsTheRest) {
    for (const char* text : {"0:input0=1", "2500:input31=0", "4000:motion=1", "10:motion=0"}) {
        const auto event = ParseAlarmEvent(text);
        ASSERT_TRUE(event) << text;
        EXPECT_EQ(FormatAlarmEvent(*event), text);
    }
    for (const char* text : {"", "100", "x:input0=1", "100:input32=1", "100:input=1",
                             "100:inputs1=1", "100:motion=2", "-5:motion=1", "100:input1=",
                             "99999999999:motion=1"})
        EXPECT_FALSE(ParseAlarmEvent(text)) << text;
}

TEST(AlarmTimeline, EventsApplyInTimeOrderWhenTheirTimeComes) {
    AlarmTimeline timeline;
    timeline.Schedule({{300, AlarmEvent::Kind::Input, 1, false},
                       {100, AlarmEvent::Kind::Input, 1, true},
                       {200, AlarmEvent::Kind::Motion, 0, true},
                       {200, AlarmEvent::Kind::Input, 3, true}},
                      1000);
    uint32_t bits = 0x01;
    bool motion = false;
    EXPECT_EQ(timeline.Apply(1099, bits, motion), 0u);
    EXPECT_EQ(timeline.Apply(1100, bits, motion), 1u);
    EXPECT_EQ(bits, 0x03u);
    EXPECT_EQ(timeline.Apply(1250, bits, motion), 2u);
    EXPECT_EQ(bits, 0x0Bu);
    EXPECT_TRUE(motion);
    EXPECT_EQ(timeline.Apply(5000, bits, motion), 1u);
    EXPECT_EQ(bits, 0x09u);
    EXPECT_EQ(timeline.Apply(6000, bits, motion), 0u);
}
