// A host loads Tavrin.so and uses the camera's alarm inputs, alarm outputs and motion detection
// against the simulated camera's scripted course, judging only what a host and the camera see.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "camsim/alarm_timeline.h"
#include "host/io_sink.h"
#include "support/host_rig.h"

using namespace norvane;
using namespace std::chrono_literals;
using test::HostRig;

namespace {

using Changes = std::vector<std::pair<unsigned, int>>;

constexpr auto POLL_PERIOD = 3000ms;
constexpr auto SLACK = 1500ms;
const std::string POLL = "/liveimg.cgi?pol=1";

camsim::Personality Camera(int group, int inputs, int outputs) {
    camsim::Personality p = camsim::Personality::ForModel("VCC-HD4000");
    p.group = group;
    p.inputs = inputs;
    p.outputs = outputs;
    return p;
}

camsim::AlarmEvent Input(uint32_t atMs, unsigned input, bool on) {
    return {atMs, camsim::AlarmEvent::Kind::Input, input, on};
}

camsim::AlarmEvent Motion(uint32_t atMs, bool on) {
    return {atMs, camsim::AlarmEvent::Kind::Motion, 0, on};
}

// The rig opened, with its I/O object and a recording sink set.
struct IORig {
    IORig(int group, int inputs, int outputs)
        : rig(3, camsim::HttpAuthConfig::Mode::Digest, 1, Camera(group, inputs, outputs)) {
        opened = rig.started && rig.Open() && (io = rig.driver->GetCaptureIOApi()) != nullptr &&
                 io->SetEventSink(&sink);
    }
    // Requests the camera answered (not the challenges of the Digest login).
    std::vector<std::string> Targets(const std::string& prefix) {
        std::vector<std::string> out;
        for (const auto& r : rig.simulator->Http().Requests())
            if (r.status != 401 && r.target.rfind(prefix, 0) == 0)
                out.push_back(r.target);
        return out;
    }
    size_t Count(const std::string& prefix) { return Targets(prefix).size(); }
    bool WaitForRequests(const std::string& prefix, size_t count, std::chrono::milliseconds limit) {
        return rig.simulator->Http().WaitUntil([&] { return Count(prefix) >= count; },
                                               static_cast<unsigned>(limit.count()));
    }

    host::IOEventSink sink;  // outlives the driver, whose threads report to it
    HostRig rig;
    ICaptureIOApi* io = nullptr;
    bool opened = false;
};

}  // namespace

// The scripted inputs in both status byte layouts: the first full report, then exactly the
// changes, each within one poll period of happening.
TEST(DriverIO, InputsFollowTheScriptInBothLayouts) {
    for (const int group : {1, 2}) {
        SCOPED_TRACE(group);
        IORig t(group, 3, 0);
        ASSERT_TRUE(t.opened);
        const auto scripted = std::chrono::steady_clock::now();
        t.rig.simulator->Cgi().ScheduleAlarms(
            {Input(0, 2, true), Input(3500, 0, true), Input(4000, 2, false)});
        ASSERT_TRUE(t.io->StartIO());
        ASSERT_TRUE(t.sink.WaitForChanges(5, 4 * POLL_PERIOD));
        EXPECT_EQ(t.sink.Changes(), (Changes{{0, 1}, {1, 1}, {2, 2}, {0, 2}, {2, 1}}));
        const auto events = t.sink.Events();
        EXPECT_LT(events[0].arrived - scripted, SLACK) << "the first poll comes at once";
        EXPECT_LT(events[3].arrived - scripted, 3500ms + POLL_PERIOD + SLACK);
        EXPECT_LT(events[4].arrived - scripted, 4000ms + POLL_PERIOD + SLACK);
        EXPECT_TRUE(t.io->StopIO());
        EXPECT_EQ(t.sink.FailureCount(), 0u);
    }
}

// Each write sends its group's request; the same state twice sends once; a failed write tells
// the host and the next poll reports every input again.
TEST(DriverIO, OutputsWriteOnceAndAFailedWriteResetsTheInputs) {
    IORig t(1, 2, 2);
    ASSERT_TRUE(t.opened);
    const std::string alarm = "/cgi-bin/alarm_set.cgi";
    ASSERT_TRUE(t.io->StartIO());
    ASSERT_TRUE(t.sink.WaitForChanges(2, POLL_PERIOD + SLACK));
    ASSERT_TRUE(t.WaitForRequests(alarm, 2, 5s)) << "start writes the outputs inactive";
    EXPECT_TRUE(t.io->SetOutput(1, 2));
    EXPECT_TRUE(t.io->SetOutput(1, 2));
    EXPECT_TRUE(t.io->SetOutput(0, 2));
    ASSERT_TRUE(t.WaitForRequests(alarm, 4, 5s));
    EXPECT_EQ(t.Targets(alarm), (std::vector<std::string>{
                                    alarm + "?alarm_out_polarity=0&status=1",
                                    alarm + "?alarm_out_polarity2=0&status=1",
                                    alarm + "?alarm_out_polarity2=1&status=1",
                                    alarm + "?alarm_out_polarity=1&status=1"}));

    t.rig.simulator->SetPageFault(alarm, camsim::HttpReply::Text(500, "fault\r\n"));
    EXPECT_TRUE(t.io->SetOutput(0, 1));
    ASSERT_TRUE(t.sink.WaitForFailures(1, 5s));
    ASSERT_TRUE(t.sink.WaitForChanges(4, POLL_PERIOD + SLACK));
    EXPECT_EQ(t.sink.Changes(), (Changes{{0, 1}, {1, 1}, {0, 1}, {1, 1}}));
    t.io->StopIO();
    EXPECT_EQ(t.Count(alarm), 5u);
}

TEST(DriverIO, GroupTwoWritesItsOwnOutputRequest) {
    IORig t(2, 1, 1);
    ASSERT_TRUE(t.opened);
    ASSERT_TRUE(t.io->StartIO());
    EXPECT_TRUE(t.io->SetOutput(0, 2));
    ASSERT_TRUE(t.WaitForRequests("/cgi-bin/alarm_out.cgi", 2, 5s));
    EXPECT_EQ(t.Targets("/cgi-bin/alarm_out.cgi"),
              (std::vector<std::string>{"/cgi-bin/alarm_out.cgi?alarm_out_polarity=0&status=1",
                                        "/cgi-bin/alarm_out.cgi?alarm_out_polarity=1&status=1"}));
    EXPECT_EQ(t.rig.simulator->Cgi().AlarmValue("alarm_out_polarity"), "1");
}

// A language page that stays reports nothing; once the language request takes effect, one
// language request and one repeat give the inputs.
TEST(DriverIO, LanguagePageLeadsToOneLanguageRequestAndOneRepeat) {
    IORig t(1, 2, 0);
    ASSERT_TRUE(t.opened);
    camsim::CameraCgi& cgi = t.rig.simulator->Cgi();
    cgi.SetInputs(0x02);
    cgi.SetLanguageChosen(false);
    cgi.SetLanguageStuck(true);
    ASSERT_TRUE(t.io->StartIO());
    ASSERT_TRUE(t.WaitForRequests(POLL, 2, 5s));
    ASSERT_TRUE(t.WaitForRequests("/cgi-bin/lang.cgi", 1, 5s));
    EXPECT_EQ(t.Targets("/"), (std::vector<std::string>{POLL, "/cgi-bin/lang.cgi", POLL}));
    cgi.SetLanguageStuck(false);
    ASSERT_TRUE(t.sink.WaitForChanges(2, POLL_PERIOD + SLACK));
    const auto all = t.Targets("/");
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(all.begin() + 3, all.end()),
              (std::vector<std::string>{POLL, "/cgi-bin/lang.cgi", POLL}));
    EXPECT_EQ(t.sink.Changes(), (Changes{{0, 1}, {1, 2}}));
}

// A camera offline and back: polling resumes and nothing false is reported.
TEST(DriverIO, OfflineAndBackResumesWithoutFalseChanges) {
    IORig t(1, 2, 0);
    ASSERT_TRUE(t.opened);
    t.rig.simulator->Cgi().SetInputs(0x01);
    ASSERT_TRUE(t.io->StartIO());
    ASSERT_TRUE(t.sink.WaitForChanges(2, POLL_PERIOD + SLACK));
    const size_t polls = t.Count(POLL);
    ASSERT_TRUE(t.rig.simulator->SetOffline(true));
    EXPECT_FALSE(t.sink.WaitForChanges(3, POLL_PERIOD + SLACK)) << "an offline poll reports nothing";
    ASSERT_TRUE(t.rig.simulator->SetOffline(false));
    // The first poll to the restarted camera meets a fresh Digest challenge and counts as failed.
    ASSERT_TRUE(t.WaitForRequests(POLL, 1, 2 * POLL_PERIOD + SLACK)) << "polling resumed";
    t.rig.simulator->Cgi().SetInputs(0x03);
    ASSERT_TRUE(t.sink.WaitForChanges(3, POLL_PERIOD + SLACK));
    EXPECT_EQ(t.sink.Changes(), (Changes{{0, 2}, {1, 1}, {1, 2}}));
    EXPECT_EQ(t.sink.FailureCount(), 0u);
    EXPECT_GT(polls, 0u);
}

// Close ends the I/O threads at once, also while a request hangs.
TEST(DriverIO, CloseEndsTheIOThreadsWithAHangingCamera) {
    IORig t(1, 1, 1);
    ASSERT_TRUE(t.opened);
    t.rig.simulator->SetReplyDelay(20000);
    ASSERT_TRUE(t.io->StartIO());
    ASSERT_TRUE(t.WaitForRequests(POLL, 1, 5s));
    EXPECT_LT(test::MillisecondsOf([&] { t.rig.Close(); }), 1000);
    EXPECT_EQ(t.rig.log.CountContaining("was not stopped"), 0u);
}

// Motion on and off from the script reach the host as "MEMD" records beside the video; the
// first poll gives two records and the camera gets exactly the differing settings.
TEST(DriverIO, MotionRecordsFollowTheScript) {
    std::vector<std::vector<uint8_t>> records;  // outlive the driver that fills them
    std::mutex mutex;
    IORig t(1, 0, 0);
    ASSERT_TRUE(t.opened);
    t.rig.channel.stream.motionDetection = 1;
    t.rig.sink.SetKeepFrames(false);
    t.rig.sink.SetFrameCallback([&](const host::DeliveredFrame& f) {
        if (f.fourcc != FOURCC_MEMD)
            return;
        EXPECT_EQ(f.width, 320u);
        EXPECT_EQ(f.height, 240u);
        EXPECT_EQ(f.sizeClass, 2u);
        EXPECT_EQ(f.source, "CBaseMotionChannel");
        std::lock_guard<std::mutex> lock(mutex);
        records.push_back(f.data);
    });
    const auto count = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return records.size();
    };
    t.rig.simulator->Cgi().ScheduleAlarms({Motion(3000, true), Motion(5000, false)});
    ASSERT_TRUE(t.rig.video->StartChannel(0, &t.rig.sink, &t.rig.channel));
    const auto until = std::chrono::steady_clock::now() + 15s;
    while (count() < 4 && std::chrono::steady_clock::now() < until)
        t.rig.sink.WaitForFrames(t.rig.sink.FrameCount() + 1, 500ms);
    EXPECT_TRUE(t.rig.video->StopChannel(0));
    EXPECT_EQ(records, (std::vector<std::vector<uint8_t>>{{1, 1}, {1, 0}, {1, 1}, {1, 0}}));
    const std::string settings = "/cgi-bin/alarm_set.cgi?status=1";
    EXPECT_EQ(t.Targets("/cgi-bin/alarm_set.cgi"),
              (std::vector<std::string>{
                  settings, settings + "&motion_sw=2&motion_duration=11&motion_action=0"}));
    EXPECT_EQ(t.rig.frames.Allocated(), t.rig.frames.Released());
}

// Host threads set outputs while the inputs are polled and changed and another host thread
// restarts the I/O, for a bounded time; the sanitizer builds judge the shared state. Afterwards
// the host's last word for each output is what the camera has.
TEST(DriverIO, HostThreadsSetOutputsWhilePollingAndRestarting) {
    constexpr unsigned OUTPUTS = 4;
    IORig t(1, 4, OUTPUTS);
    ASSERT_TRUE(t.opened);
    ASSERT_TRUE(t.io->StartIO());
    const auto until = std::chrono::steady_clock::now() + 10s;
    std::vector<std::thread> threads;
    for (unsigned n = 0; n < 3; ++n)
        threads.emplace_back([&, n] {
            for (unsigned i = 0; std::chrono::steady_clock::now() < until; ++i) {
                t.io->SetOutput((i + n) % OUTPUTS, i % 3 == 0 ? 1 : 2);
                t.sink.WaitForChanges(SIZE_MAX, 2ms);  // paces the host thread
            }
        });
    std::atomic<unsigned> restarts{0};
    threads.emplace_back([&] {
        while (std::chrono::steady_clock::now() < until) {
            t.WaitForRequests(POLL, t.Count(POLL) + 1, 5s);  // one poll between restarts
            t.io->StopIO();
            restarts += t.io->StartIO();
        }
    });
    for (uint32_t bits = 0; std::chrono::steady_clock::now() < until; ++bits) {
        t.rig.simulator->Cgi().SetInputs(bits);
        t.WaitForRequests(POLL, t.Count(POLL) + 1, 5s);
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_GE(restarts, 2u);
    EXPECT_GE(t.sink.ChangeCount(), 4u);

    const char* last[OUTPUTS] = {"1", "0", "0", "1"};  // polarity: 1 active
    for (unsigned i = 0; i < OUTPUTS; ++i)
        ASSERT_TRUE(t.io->SetOutput(i, last[i][0] == '1' ? 2 : 1));
    const auto polarity = [&](unsigned i) {
        return t.rig.simulator->Cgi().AlarmValue("alarm_out_polarity" +
                                                 (i ? std::to_string(i + 1) : std::string()));
    };
    EXPECT_TRUE(t.rig.simulator->Http().WaitUntil(
        [&] {
            for (unsigned i = 0; i < OUTPUTS; ++i)
                if (polarity(i) != last[i])
                    return false;
            return true;
        },
        5000));
    EXPECT_LT(test::MillisecondsOf([&] { t.rig.Close(); }), 2000);
}

// I/O started again after a stop rebuilds its states: every input is reported again, the outputs
// are written inactive again, and writes reach the camera.
TEST(DriverIO, StartedAgainAfterAStopReportsEveryInputAgain) {
    IORig t(1, 2, 1);
    ASSERT_TRUE(t.opened);
    t.rig.simulator->Cgi().SetInputs(0x01);
    ASSERT_TRUE(t.io->StartIO());
    ASSERT_TRUE(t.sink.WaitForChanges(2, POLL_PERIOD + SLACK));
    ASSERT_TRUE(t.WaitForRequests("/cgi-bin/alarm_set.cgi?alarm_out_polarity=0", 1, 5s));
    EXPECT_TRUE(t.io->StopIO());
    t.rig.simulator->Cgi().SetInputs(0x02);
    ASSERT_TRUE(t.io->StartIO());
    ASSERT_TRUE(t.sink.WaitForChanges(4, POLL_PERIOD + SLACK));
    EXPECT_EQ(t.sink.Changes(), (Changes{{0, 2}, {1, 1}, {0, 1}, {1, 2}}));
    ASSERT_TRUE(t.WaitForRequests("/cgi-bin/alarm_set.cgi?alarm_out_polarity=0", 2, 5s));
    EXPECT_TRUE(t.io->SetOutput(0, 2));
    EXPECT_TRUE(t.rig.simulator->Http().WaitUntil(
        [&] { return t.rig.simulator->Cgi().AlarmValue("alarm_out_polarity") == "1"; }, 5000));
    EXPECT_TRUE(t.io->StopIO());
}
