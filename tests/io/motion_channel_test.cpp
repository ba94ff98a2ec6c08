// Motion detection of one channel against the simulated camera: camera settings, records, the
// poll's reply checks and the stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "host/capture_sink.h"
#include "host/frames.h"
#include "io/sanyo_md_channel.h"
#include "io_rig.h"

using namespace norvane;
using namespace std::chrono_literals;

namespace {

const std::string SETTINGS = "/cgi-bin/alarm_set.cgi?status=1";
const std::string POLL = "/liveimg.cgi?pol=1&motion=1";

struct MotionUnderTest {
    explicit MotionUnderTest(test::IORig& rig, unsigned channel = 0)
        : motion(channel, &sink, &rig.driver) {}
    std::vector<std::vector<uint8_t>> Payloads() {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& f : sink.Frames())
            out.push_back(f.data);
        return out;
    }
    host::CaptureSink sink;
    CSanyoMDChannel motion;
};

using Payloads = std::vector<std::vector<uint8_t>>;

// A live status page of `length` bytes with one motion byte set at `motionByte` (none if past
// the end).
camsim::HttpReply StatusPage(size_t length, size_t motionByte) {
    std::string body(length, '\0');
    if (motionByte < length)
        body[motionByte] = '\x01';
    return camsim::HttpReply::Text(200, body);
}

// A host that hands out frames without a buffer.
struct Bufferless : host::Frame {
    using Frame::Frame;
    uint8_t* GetData() override { return nullptr; }
};

struct BufferlessAllocator : norvane::TBoundaryObject<norvane::IFrameAllocator> {
    norvane::IMediaFrame* AllocateFrame(unsigned fourcc, unsigned size, const char* source) override {
        ++allocated;
        return new Bufferless(fourcc, size, source ? source : "");
    }
    void ReleaseFrame(norvane::IMediaFrame* frame) override {
        ++released;
        norvane::DeleteObject(frame);
    }
    std::atomic<unsigned> allocated{0};
    std::atomic<unsigned> released{0};
};

}  // namespace

TEST(MotionSettings, OnlyDifferingSettingsAreWritten) {
    const std::string page = "motion_sw:(1)\r\nmotion_duration:(11)\r\nmotion_action:(0)\r\n";
    EXPECT_EQ(CSanyoMDChannel::MakeSettingChange(page, "motion_sw", 2), "&motion_sw=2");
    EXPECT_EQ(CSanyoMDChannel::MakeSettingChange(page, "motion_duration", 11), "");
    EXPECT_EQ(CSanyoMDChannel::MakeSettingChange(page, "motion_action", 0), "");
    EXPECT_EQ(CSanyoMDChannel::MakeSettingChange(page, "motion_other", 3), "") << "absent key";
}

// The motion area must lie inside the buffer of the reply and the zero byte the request helper
// appends: a reply of 79 bytes (a buffer of 80) holds it, one of 78 does not.
TEST(MotionSettings, MotionAreaMustLieInsideTheReplyBuffer) {
    bool motion = true;
    Web::ByteBuffer reply(78, 0);
    reply.push_back(0);  // the appended terminator: a buffer of 79
    EXPECT_FALSE(CSanyoMDChannel::MotionInReply(reply, motion));
    reply.assign(79, 0);
    reply.push_back(0);
    reply[50] = 3;
    EXPECT_TRUE(CSanyoMDChannel::MotionInReply(reply, motion));
    EXPECT_TRUE(motion);
    reply.assign(80, 0);
    reply.push_back(0);
    EXPECT_TRUE(CSanyoMDChannel::MotionInReply(reply, motion));
    EXPECT_FALSE(motion);
    reply[79] = 7;
    EXPECT_TRUE(CSanyoMDChannel::MotionInReply(reply, motion));
    EXPECT_TRUE(motion);
    reply[79] = 0;
    reply[47] = 1;
    EXPECT_TRUE(CSanyoMDChannel::MotionInReply(reply, motion));
    EXPECT_FALSE(motion) << "byte 47 lies before the area";
}

// The first poll gives the opposite state and then the state; later only changes, each a
// "MEMD" record of two bytes, released after delivery.
TEST(MotionChannel, RecordsOnFirstPollAndOnEveryChange) {
    test::IORig rig(1);
    ASSERT_TRUE(rig.started);
    MotionUnderTest t(rig, 3);
    ASSERT_TRUE(t.motion.StartDetection());
    ASSERT_TRUE(t.sink.WaitForFrames(2, 5s));
    EXPECT_EQ(t.Payloads(), (Payloads{{1, 1}, {1, 0}}));
    const size_t polls = rig.Count(POLL);
    ASSERT_TRUE(rig.WaitForRequests(POLL, polls + 1, 5000));
    EXPECT_EQ(t.sink.FrameCount(), 2u) << "unchanged state, no record";
    rig.camera->Cgi().SetMotion(true);
    ASSERT_TRUE(t.sink.WaitForFrames(3, 5s));
    rig.camera->Cgi().SetMotion(false);
    ASSERT_TRUE(t.sink.WaitForFrames(4, 5s));
    t.motion.StopDetection();
    EXPECT_EQ(t.Payloads(), (Payloads{{1, 1}, {1, 0}, {1, 1}, {1, 0}}));
    for (const host::DeliveredFrame& f : t.sink.Frames()) {
        EXPECT_EQ(f.fourcc, FOURCC_MEMD);
        EXPECT_EQ(f.width, 320u);
        EXPECT_EQ(f.height, 240u);
        EXPECT_EQ(f.sizeClass, 2u);
        EXPECT_TRUE(f.stamped);
        EXPECT_EQ(f.source, "CBaseMotionChannel");
    }
    EXPECT_EQ(rig.driver.frames.Allocated(), 4u);
    EXPECT_EQ(rig.driver.frames.Released(), 4u);
}

// The camera's motion settings are brought to the wanted values by one request holding exactly
// the differing ones, in their order; a camera already set gets only the status query.
TEST(MotionChannel, ConfigurationWritesOnlyTheDifferingSettings) {
    test::IORig rig(1);
    ASSERT_TRUE(rig.started);
    MotionUnderTest t(rig);
    ASSERT_TRUE(t.motion.StartDetection());
    ASSERT_TRUE(t.sink.WaitForFrames(2, 5s));
    t.motion.StopDetection();
    EXPECT_EQ(rig.Targets("/cgi-bin/alarm_set.cgi"),
              (std::vector<std::string>{
                  SETTINGS, SETTINGS + "&motion_sw=2&motion_duration=11&motion_action=0"}));
    EXPECT_EQ(rig.camera->Cgi().AlarmValue("motion_duration"), "11");

    rig.camera->Cgi().SetSetting("motion_sw", "1");
    ASSERT_TRUE(t.motion.StartDetection());
    ASSERT_TRUE(rig.WaitForRequests(POLL, rig.Count(POLL) + 1, 5000));
    t.motion.StopDetection();
    const auto writes = rig.Targets("/cgi-bin/alarm_set.cgi");
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[2], SETTINGS);
    EXPECT_EQ(writes[3], SETTINGS + "&motion_sw=2");

    ASSERT_TRUE(t.motion.StartDetection());
    ASSERT_TRUE(rig.WaitForRequests(POLL, rig.Count(POLL) + 1, 5000));
    t.motion.StopDetection();
    EXPECT_EQ(rig.Count("/cgi-bin/alarm_set.cgi"), 5u) << "already set: the status query only";
}

// A reply of 78 bytes fails the poll; the camera is configured again a second later and the
// poll that then holds the area (79 bytes and the appended zero) delivers.
TEST(MotionChannel, ShortReplyFailsThePollAndConfiguresAgain) {
    test::IORig rig(1);
    ASSERT_TRUE(rig.started);
    rig.camera->SetPageFault("/liveimg.cgi", StatusPage(78, 60));
    MotionUnderTest t(rig);
    ASSERT_TRUE(t.motion.StartDetection());
    ASSERT_TRUE(rig.WaitForRequests(SETTINGS, 3, 5000)) << "configured again after the failure";
    EXPECT_EQ(t.sink.FrameCount(), 0u);
    rig.camera->SetPageFault("/liveimg.cgi", StatusPage(79, 78));
    ASSERT_TRUE(t.sink.WaitForFrames(2, 5s));
    EXPECT_EQ(t.Payloads(), (Payloads{{1, 0}, {1, 1}}));
}

// A refused record is logged once at debug level and not sent again for the same state.
TEST(MotionChannel, RefusedRecordIsLoggedAndNotRepeated) {
    test::IORig rig(1);
    ASSERT_TRUE(rig.started);
    MotionUnderTest t(rig, 5);
    t.sink.SetAccept(false);
    rig.camera->Cgi().SetMotion(true);
    ASSERT_TRUE(t.motion.StartDetection());
    ASSERT_TRUE(t.sink.WaitForFrames(2, 5s));
    ASSERT_TRUE(rig.WaitForRequests(POLL, rig.Count(POLL) + 2, 5000));
    t.motion.StopDetection();
    EXPECT_EQ(t.sink.FrameCount(), 2u);
    EXPECT_EQ(rig.driver.log.CountContaining(
                  "norvane::CBaseMotionChannel::CaptureMotionFrameCallback: Motion detection data "
                  "callback failed (device 127.0.0.1, channel 5)"),
              2u);
    EXPECT_EQ(rig.driver.frames.Released(), 2u);
}

// A frame without a buffer is given back, not written to nor delivered.
TEST(MotionChannel, AFrameWithoutABufferIsReleasedUndelivered) {
    test::IORig rig(1);
    ASSERT_TRUE(rig.started);
    BufferlessAllocator bufferless;
    rig.driver.allocator = &bufferless;
    rig.camera->Cgi().SetMotion(true);
    MotionUnderTest t(rig);
    ASSERT_TRUE(t.motion.StartDetection());
    ASSERT_TRUE(rig.WaitForRequests(POLL, 2, 5000));
    t.motion.StopDetection();
    EXPECT_GE(bufferless.allocated.load(), 1u);
    EXPECT_EQ(bufferless.released.load(), bufferless.allocated.load());
    EXPECT_EQ(t.sink.FrameCount(), 0u);
}

// A language page that stays after the language request is never read as motion.
TEST(MotionChannel, StuckLanguagePageGivesNoRecord) {
    test::IORig rig(1);
    ASSERT_TRUE(rig.started);
    rig.camera->Cgi().SetMotion(true);
    rig.camera->Cgi().SetLanguageChosen(false);
    rig.camera->Cgi().SetLanguageStuck(true);
    MotionUnderTest t(rig);
    ASSERT_TRUE(t.motion.StartDetection());
    ASSERT_TRUE(rig.WaitForRequests("/cgi-bin/lang.cgi", 2, 5000));
    ASSERT_TRUE(rig.WaitForRequests(SETTINGS, 4, 5000));
    t.motion.StopDetection();
    EXPECT_EQ(t.sink.FrameCount(), 0u);
    EXPECT_EQ(rig.Count(POLL), 0u) << "never configured, never polled";
}

// A stop ends a request in progress at once; so does deleting a running channel.
TEST(MotionChannel, StopAndDestructionEndARequestInProgress) {
    test::IORig rig(1);
    ASSERT_TRUE(rig.started);
    rig.driver.info.timeout = 20000;
    rig.camera->SetReplyDelay(20000);
    for (int run = 0; run < 2; ++run) {
        auto t = std::make_unique<MotionUnderTest>(rig);
        ASSERT_TRUE(t->motion.StartDetection());
        ASSERT_TRUE(rig.WaitForRequests(SETTINGS, static_cast<size_t>(run + 1), 5000));
        const auto start = std::chrono::steady_clock::now();
        if (run == 0)
            t->motion.StopDetection();
        t.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << "run " << run;
    }
    EXPECT_EQ(rig.driver.log.CountContaining("was not stopped"), 0u);
}
