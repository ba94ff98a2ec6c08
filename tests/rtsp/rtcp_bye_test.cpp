// BYE packets in RTCP datagrams: which sources they name, and the RTCP handler telling its user.
#include "rtsp/rtcp_bye.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "camsim/udp_sender.h"
#include "platform/socket.h"
#include "rtsp/rtcp_handler.h"
#include "support/fake_driver.h"

using camsim::Bytes;
using norvane::RtcpByeSources;

namespace {

// `ssrc` in network order, as the packets carry it.
uint32_t Wire(uint32_t ssrc) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(ssrc >> 24), static_cast<uint8_t>(ssrc >> 16),
                              static_cast<uint8_t>(ssrc >> 8), static_cast<uint8_t>(ssrc)};
    uint32_t wire;
    std::memcpy(&wire, bytes, sizeof(wire));
    return wire;
}

Bytes Join(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes SenderReport(uint32_t ssrc) {
    return camsim::BuildSenderReport(ssrc, 1, 2, 3, 4, 5);
}

std::vector<uint32_t> Sources(const Bytes& datagram) {
    return RtcpByeSources(datagram.data(), datagram.size());
}

class ByeRecorder : public norvane::IRTCPByeUser {
public:
    void OnBye(const std::vector<uint32_t>& sources) override {
        std::lock_guard<std::mutex> lock(mutex);
        byes.push_back(sources);
        changed.notify_all();
    }
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5),
                                [&] { return byes.size() >= count; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<uint32_t>> byes;
};

}  // namespace

TEST(RtcpByeSources, FoundAloneOrAfterOtherPacketsOfACompound) {
    EXPECT_EQ(Sources(camsim::BuildBye(0x11223344)), std::vector<uint32_t>{Wire(0x11223344)});
    EXPECT_EQ(Sources(Join(SenderReport(7), camsim::BuildBye(7))), std::vector<uint32_t>{Wire(7)});
    // Two sources in one BYE, with a reason text after them.
    const Bytes two = {0x82, 203, 0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 3, 'e', 'n', 'd'};
    EXPECT_EQ(Sources(two), (std::vector<uint32_t>{Wire(1), Wire(2)}));
    EXPECT_TRUE(Sources(SenderReport(7)).empty());
}

TEST(RtcpByeSources, LengthsThatRunPastTheDatagramEndTheWalk) {
    Bytes bye = camsim::BuildBye(9);
    bye[3] = 2;  // announces 12 bytes, holds 8
    EXPECT_TRUE(Sources(bye).empty());
    Bytes report = SenderReport(7);
    report[3] = 200;  // the BYE behind it is not reached
    EXPECT_TRUE(Sources(Join(report, camsim::BuildBye(9))).empty());
    const Bytes countTooHigh = {0x83, 203, 0, 1, 0, 0, 0, 5};  // three sources in room for one
    EXPECT_EQ(Sources(countTooHigh), std::vector<uint32_t>{Wire(5)});
    EXPECT_TRUE(Sources({0x81, 203, 0}).empty());
    EXPECT_TRUE(RtcpByeSources(nullptr, 8).empty());
}

// The camera's BYE reaches the handler's user, alone (shorter than any report) or in a compound.
TEST(RtcpHandlerBye, TheCamerasByeIsReportedToTheUser) {
    test::FakeDriver driver;
    norvane::CRTCPHandler handler(&driver);
    ByeRecorder recorder;
    handler.SetByeUser(&recorder);
    ASSERT_TRUE(handler.Start(0, norvane::platform::LoopbackIPv4()));
    camsim::UdpSender camera;
    ASSERT_TRUE(camera.Open());
    ASSERT_TRUE(camera.Send(SenderReport(7), handler.GetPort()));
    ASSERT_TRUE(camera.Send(camsim::BuildBye(7), handler.GetPort()));
    ASSERT_TRUE(camera.Send(Join(SenderReport(8), camsim::BuildBye(8)), handler.GetPort()));
    ASSERT_TRUE(recorder.WaitFor(2));
    handler.Stop();
    std::lock_guard<std::mutex> lock(recorder.mutex);
    EXPECT_EQ(recorder.byes, (std::vector<std::vector<uint32_t>>{{Wire(7)}, {Wire(8)}}));
}
