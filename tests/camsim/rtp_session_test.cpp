#include "camsim/rtp_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

namespace {

std::string WriteStream() {
    const std::vector<uint8_t> bytes = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0xDA,
                                        0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80,
                                        0, 0, 1, 0x65, 0x88, 0x84, 0x21};
    const std::string path = ::testing::TempDir() + "camsim_rtp_session.264";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

}  // namespace

// A TEARDOWN and the reaping of ended sessions at another SETUP may stop one session at the
// same time: both return, and the session thread is joined once.
TEST(RtpSession, ConcurrentStopsJoinOnce) {
    const std::string path = WriteStream();
    camsim::MediaSource source;
    ASSERT_TRUE(source.Load(camsim::StreamCodec::H264, path));
    std::filesystem::remove(path);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        camsim::SessionSetup setup;
        setup.id = std::to_string(round);
        setup.media = &source;
        setup.clientRtpPort = 9;  // discard; nothing listens
        setup.clientRtcpPort = 10;
        camsim::RtpSession session(setup, [] {});
        ASSERT_TRUE(session.Open(norvane::platform::LoopbackIPv4()));
        uint16_t sequence = 0;
        uint32_t timestamp = 0;
        ASSERT_TRUE(session.Play(sequence, timestamp));
        std::promise<void> go;
        std::shared_future<void> start = go.get_future().share();
        auto stop = [&](camsim::SessionEnd why) {
            return std::async(std::launch::async, [&session, start, why] {
                start.wait();
                session.Stop(why);
            });
        };
        auto first = stop(camsim::SessionEnd::Teardown);
        auto second = stop(camsim::SessionEnd::Stopped);
        go.set_value();
        ASSERT_EQ(first.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        ASSERT_EQ(second.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        first.get();
        second.get();
        EXPECT_NE(session.Stats().end, camsim::SessionEnd::None);
        EXPECT_FALSE(session.Stats().playing);
    }
}
