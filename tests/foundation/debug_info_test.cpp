#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "foundation/debug_info.h"
#include "host/log_receiver.h"

using namespace norvane;

namespace {

void Deliver(IDebugInfoSink* sink, const HostVersion& version, int type, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

void Deliver(IDebugInfoSink* sink, const HostVersion& version, int type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    DeliverLog(sink, version, type, format, args);
    va_end(args);
}

}  // namespace

TEST(Logging, LevelFollowsTypeAndHostVersion) {
    const HostVersion v511{5, 11, 0, 0}, v512{5, 12, 0, 0}, v600{6, 0, 0, 0}, v4{4, 20, 0, 0};
    EXPECT_EQ(DeliveredLevel(LOG_INFO, v511), 2);
    EXPECT_EQ(DeliveredLevel(LOG_INFO, v4), 2);
    EXPECT_EQ(DeliveredLevel(LOG_INFO, v512), 3);
    EXPECT_EQ(DeliveredLevel(LOG_INFO, v600), 3);
    EXPECT_EQ(DeliveredLevel(LOG_ERROR, v511), 1);
    EXPECT_EQ(DeliveredLevel(LOG_WARNING, v600), 2);
    EXPECT_EQ(DeliveredLevel(LOG_DEBUG, v600), -1);
    EXPECT_EQ(DeliveredLevel(LOG_OPENED, v511), 4);
}

TEST(Logging, DeliversFormattedTextAndNullForEmpty) {
    host::LogReceiver sink;
    const std::string longText(5000, 'x');
    Deliver(&sink, DEFAULT_HOST_VERSION, LOG_ERROR, "%s: %s (%d)", "a::B::C", longText.c_str(), 7);
    Deliver(&sink, DEFAULT_HOST_VERSION, LOG_INFO, "%s", "");
    Deliver(&sink, DEFAULT_HOST_VERSION, LOG_DEBUG, "never");
    Deliver(nullptr, DEFAULT_HOST_VERSION, LOG_ERROR, "no receiver");
    const auto records = sink.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, 1);
    EXPECT_EQ(records[0].text, "a::B::C: " + longText + " (7)");
    EXPECT_EQ(records[1].level, 3);
    EXPECT_FALSE(records[1].hasText);
}
