// A streaming session against a video capture that delivers on start: files, figures, states
// and the channel recorder's view of each frame.
#include <gtest/gtest.h>

#include "host/bundled_camera.h"
#include "host/capture_time.h"
#include "host/channel_config.h"
#include "host/frames.h"
#include "host/stream_session.h"
#include "norvane/ipcapture.h"
#include "support/media.h"

using norvane::FOURCC_H264;
using norvane::FOURCC_I264;
using norvane::FOURCC_JPEG;
using Bytes = std::vector<uint8_t>;

namespace {

// Delivers a frame the way the driver does: allocate, fill, deliver, release.
bool Deliver(host::FrameAllocator& allocator, norvane::ICaptureSink& sink, unsigned fourcc,
             const Bytes& payload, const SYSTEMTIME* time, bool setFourcc) {
    auto* frame = allocator.AllocateFrame(fourcc, static_cast<unsigned>(payload.size()), "test");
    std::copy(payload.begin(), payload.end(), frame->GetData());
    frame->SetDataSize(static_cast<unsigned>(payload.size()));
    if (setFourcc)
        frame->SetFourCC(fourcc);
    if (time)
        frame->SetTime(time);
    else
        frame->StampTime();
    const bool taken = sink.DeliverFrame(frame);
    allocator.ReleaseFrame(frame);
    return taken;
}

// Channel i delivers i + 2 H.264 frames (a key frame first) when it starts; channel `refuse`
// does not start.
class DeliveringCapture : public norvane::TBoundaryObject<norvane::ipcapture::IIPVideoCaptureEx> {
public:
    explicit DeliveringCapture(unsigned count, int refuse = -1) : count_(count), refuse_(refuse) {}
    unsigned GetChannelCount() override { return count_; }
    bool StartChannel(unsigned index, norvane::ICaptureSink* sink, norvane::IChannelConfig*) override {
        if (static_cast<int>(index) == refuse_)
            return false;
        running_.push_back(index);
        for (unsigned n = 0; n < index + 2; ++n)
            Deliver(allocator_, *sink, n == 0 ? FOURCC_H264 : FOURCC_I264,
                    Bytes(10 + n, static_cast<uint8_t>(index * 16 + n)), &time_, true);
        sink->OnSignalLost();
        return true;
    }
    bool StopChannel(unsigned index) override {
        stopped.push_back(index);
        return true;
    }
    bool ChangeChannelFormat(unsigned, norvane::IResolution*, unsigned) override { return false; }
    int Reserved5() override { return 0; }
    bool GetChannelState(unsigned index, int* state, int* detail, char*, unsigned) override {
        *detail = 0;
        if (std::find(running_.begin(), running_.end(), index) == running_.end())
            return false;
        *state = 0;
        return true;
    }
    bool Reserved7(unsigned, unsigned, void*) override { return false; }
    bool Reserved8(unsigned, unsigned, void*) override { return false; }
    bool ResumeChannel(unsigned) override { return false; }
    bool PauseChannel(unsigned) override { return false; }

    std::vector<unsigned> stopped;

private:
    unsigned count_;
    int refuse_;
    std::vector<unsigned> running_;
    host::FrameAllocator allocator_;
    SYSTEMTIME time_ = host::ToSystemTime(std::chrono::sys_days(std::chrono::year(2024) /
                                                                 5 / 1));
};

Bytes FileBytes(const std::string& path) {
    const std::string text = test::ReadText(path);
    return Bytes(text.begin(), text.end());
}

}  // namespace

TEST(StreamSession, EveryChannelWritesItsFileAndReportsItsFigures) {
    const std::string out = test::OutputDir() + "/run";
    DeliveringCapture video(2);
    host::ChannelConfig config(1920, 1080);
    host::StreamSession session(video, config, {out, 3, 10});
    std::string error;
    ASSERT_TRUE(session.Open(error)) << error;
    ASSERT_TRUE(session.Start());
    const std::vector<std::string> lines = session.StatusLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("ch1 Running"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("frames 3 (key 1)  lost: signal 1"), std::string::npos) << lines[1];

    const std::vector<host::ChannelSummary> channels = session.Stop();
    EXPECT_EQ(video.stopped, (std::vector<unsigned>{0, 1}));
    ASSERT_EQ(channels.size(), 2u);
    for (unsigned i = 0; i < 2; ++i) {
        const host::ChannelSummary& c = channels[i];
        EXPECT_TRUE(c.started);
        EXPECT_EQ(c.file, "channel-" + std::to_string(i) + ".h264");
        EXPECT_EQ(c.codec, "h264");
        EXPECT_EQ(c.endState, "Running");  // read before the channel is stopped
        EXPECT_EQ(c.counts.frames, i + 2);
        EXPECT_EQ(c.counts.keyFrames, 1u);
        EXPECT_EQ(c.signalLost, 1u);
        EXPECT_EQ(c.writer.written, i + 2);
        ASSERT_TRUE(c.counts.firstCapture && c.counts.lastCapture);
        EXPECT_EQ(host::FormatUtc(*c.counts.firstCapture), "2024-05-01T00:00:00.000Z");
        Bytes expected;
        for (unsigned n = 0; n < i + 2; ++n) {
            const Bytes frame(10 + n, static_cast<uint8_t>(i * 16 + n));
            expected.insert(expected.end(), frame.begin(), frame.end());
        }
        EXPECT_EQ(FileBytes(out + "/" + c.file), expected);
    }
    host::RunSummary run;
    run.channels = channels;
    EXPECT_EQ(host::ExitCode(run), 0);
}

TEST(StreamSession, AChannelThatDoesNotStartFailsTheRun) {
    DeliveringCapture video(2, 1);
    host::ChannelConfig config;
    host::StreamSession session(video, config, {test::OutputDir(), 1, 10});
    std::string error;
    ASSERT_TRUE(session.Open(error));
    EXPECT_FALSE(session.Start());
    host::RunSummary run;
    run.channels = session.Stop();
    ASSERT_EQ(run.channels.size(), 2u);
    EXPECT_EQ(run.channels[1].file, "channel-1.mjpeg");
    EXPECT_FALSE(run.channels[1].started);
    EXPECT_EQ(run.channels[1].endState, "None");
    EXPECT_EQ(host::ExitCode(run), 1);
}

TEST(StreamSession, OpenFailsWhenTheFolderCannotBeMade) {
    const std::string blocker = test::OutputDir() + "/file";
    ASSERT_TRUE(test::WriteBytes(blocker, {1}));
    DeliveringCapture video(1);
    host::ChannelConfig config;
    host::StreamSession session(video, config, {blocker + "/out", 3, 10});
    std::string error;
    EXPECT_FALSE(session.Open(error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

TEST(ChannelRecorder, JpegPicturesCountAsKeyFramesAndUntimedFramesGetTheHostClock) {
    size_t written = 0;
    host::ChannelRecorder recorder([&written](const Bytes&) { return ++written, true; }, 10);
    host::FrameAllocator allocator;
    const SYSTEMTIME before = host::UtcNow();
    // The JPEG producer gives the code only at allocation and lets the host stamp the time.
    for (int n = 0; n < 3; ++n)
        EXPECT_TRUE(Deliver(allocator, recorder.Sink(), FOURCC_JPEG, Bytes(100, 1), nullptr, false));
    recorder.Close();
    const host::ChannelCounts counts = recorder.Counts();
    EXPECT_EQ(counts.frames, 3u);
    EXPECT_EQ(counts.keyFrames, 3u);
    EXPECT_EQ(counts.bytes, 300u);
    EXPECT_EQ(written, 3u);
    ASSERT_TRUE(counts.firstCapture);
    EXPECT_GE(host::FormatUtc(*counts.firstCapture), host::FormatUtc(before));
}

TEST(BundledCamera, MediaFitsTheRequestedSize) {
    EXPECT_EQ(host::H264MediaFor(1920, 1080).name, "h264_1080p25.264");
    EXPECT_EQ(host::H264MediaFor(1280, 720).name, "h264_1slice.264");
    EXPECT_EQ(host::H264MediaFor(160, 120).name, "h264_1slice.264");
    EXPECT_EQ(host::JpegMediaFor(1920, 1080).name, "jpeg1080p");
    EXPECT_EQ(host::JpegMediaFor(1600, 1200).name, "jpeg720p");
    EXPECT_EQ(host::JpegMediaFor(640, 480).name, "jpeg420");
    EXPECT_EQ(host::JpegMediaFor(1280, 720).width, 1280u);
}

TEST(BundledCamera, CustomParametersAreWhatAQueryOfTheCameraReports) {
    camsim::Personality p = host::SimulatorPersonality("VCC-HD2300", 1920, 1080);
    EXPECT_EQ(p.group, 3);
    EXPECT_TRUE(p.family25);
    EXPECT_EQ(p.aspectRatio, 0);  // wide
    EXPECT_EQ(host::SimulatorPersonality("VCC-HD2300", 640, 480).aspectRatio, 1);
    p.h264Path = "";
    const auto custom = host::CustomParameters(p, 5541);
    const std::map<int, std::string> expected = {
        {1, "0"},
        {2, "5541"},
        {3, "3"},
        {4, "mjpeg"},
        {5, "noRtspH264"},
        {6, "0080F0A1B2C3"},
        {7, "CAM MAIN:2.10 CAM SUB:1.03 NET MAIN:3.01 NET SUB:1.00"},
        {8, "0"},
        {9, "0"},
    };
    EXPECT_EQ(custom, expected);
}

TEST(CaptureTime, ClockTimesBreakDownToUtc) {
    using namespace std::chrono;
    const auto t = sys_days(year(2024) / 2 / 29) + hours(23) + minutes(59) + seconds(58) +
                   milliseconds(7);
    const SYSTEMTIME s = host::ToSystemTime(t);
    EXPECT_EQ(host::FormatUtc(s), "2024-02-29T23:59:58.007Z");
    EXPECT_EQ(s.wDayOfWeek, 4);  // Thursday
}
