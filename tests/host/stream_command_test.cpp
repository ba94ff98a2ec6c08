// tavrin-host's streaming run: the picture size it asks for and the custom parameters it hands
// to the driver, from the options and what the capability query found.
#include "host/stream_command.h"

#include <gtest/gtest.h>

namespace {

std::pair<int, int> SizeFor(int codec, bool sizeGiven) {
    host::StreamOptions o;
    o.codec = codec;
    o.sizeGiven = sizeGiven;
    host::ApplyDefaultSize(o);
    return {o.width, o.height};
}

}  // namespace

TEST(StreamCommand, MotionJpegAsksFor720pUnlessASizeIsGiven) {
    EXPECT_EQ(SizeFor(3, false), (std::pair<int, int>{1920, 1080}));
    EXPECT_EQ(SizeFor(1, false), (std::pair<int, int>{1280, 720}));
    EXPECT_EQ(SizeFor(1, true), (std::pair<int, int>{1920, 1080}));
}

TEST(StreamCommand, GivenTransportWinsOverTheProbedOneAndGapsAreFilled) {
    host::StreamOptions o;
    o.rtspTransport = "udp";
    const std::map<int, std::string> probed{{3, "4"}, {7, "V2.03"}, {10, "tcp"}};
    std::map<int, std::string> custom = host::DriverCustomParameters(o, probed);
    EXPECT_EQ(custom[10], "tcp");  // probed, and the transport option left at its default
    o.transportGiven = true;
    custom = host::DriverCustomParameters(o, probed);
    EXPECT_EQ(custom[10], "udp");
    EXPECT_EQ(custom.size(), 10u);
    for (int n = 1; n <= 9; ++n)
        EXPECT_EQ(custom[n], n == 3 ? "4" : n == 7 ? "V2.03" : "(none)") << n;
    o.transportGiven = false;
    EXPECT_EQ(host::DriverCustomParameters(o, {})[10], "udp");  // nothing probed: the option's
}
