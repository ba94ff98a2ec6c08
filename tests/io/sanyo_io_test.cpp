// The camera's alarm inputs and outputs through the I/O object, against the simulated camera.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "host/io_sink.h"
#include "io/sanyo_io.h"
#include "io_rig.h"

using namespace norvane;
using namespace std::chrono_literals;

namespace {

using Changes = std::vector<std::pair<unsigned, int>>;

constexpr unsigned FAST_POLL_MS = 30;
const std::string POLL = "/liveimg.cgi?pol=1";

// The sink outlives the I/O object, whose threads report to it until they end.
struct IOUnderTest {
    explicit IOUnderTest(test::IORig& rig) : io(&rig.driver) {
        io.SetPollInterval(FAST_POLL_MS);
        io.SetEventSink(&sink);
    }
    host::IOEventSink sink;
    CSanyoIO io;
};

}  // namespace

TEST(SanyoIO, OutputRequestFollowsTheCameraGroup) {
    EXPECT_EQ(CSanyoIO::OutputRequest(1, 0, 2), "/cgi-bin/alarm_set.cgi?alarm_out_polarity=1&status=1");
    EXPECT_EQ(CSanyoIO::OutputRequest(1, 1, 1), "/cgi-bin/alarm_set.cgi?alarm_out_polarity2=0&status=1");
    EXPECT_EQ(CSanyoIO::OutputRequest(5, 2, 7), "/cgi-bin/alarm_set.cgi?alarm_out_polarity3=1&status=1");
    EXPECT_EQ(CSanyoIO::OutputRequest(2, 3, 2), "/cgi-bin/alarm_out.cgi?alarm_out_polarity=1&status=1");
    EXPECT_EQ(CSanyoIO::OutputRequest(2, 0, 1), "/cgi-bin/alarm_out.cgi?alarm_out_polarity=0&status=1");
    EXPECT_EQ(CSanyoIO::StatusOffset(2), 27u);
    EXPECT_EQ(CSanyoIO::StatusOffset(1), 33u);
    EXPECT_EQ(CSanyoIO::StatusOffset(3), 33u);
}

// Inputs past the status byte's bits read inactive, whatever the byte; no shift past its width.
TEST(SanyoIO, InputsBeyondTheStatusByteReadInactive) {
    for (unsigned i = 0; i < 8; ++i)
        EXPECT_EQ(CSanyoIO::InputState(0xFF, i), 2) << i;
    for (unsigned i = 8; i < 70; ++i)
        EXPECT_EQ(CSanyoIO::InputState(0xFF, i), 1) << i;
    EXPECT_EQ(CSanyoIO::InputState(0x05, 0), 2);
    EXPECT_EQ(CSanyoIO::InputState(0x05, 1), 1);
}

TEST(SanyoIO, NoCountsStartsNoThreadAndSucceeds) {
    test::IORig rig(1, 0, 0);
    ASSERT_TRUE(rig.started);
    IOUnderTest t(rig);
    EXPECT_TRUE(t.io.StartIO());
    EXPECT_TRUE(t.io.StopIO());
    EXPECT_EQ(rig.camera->Http().RequestCount(), 0u);
}

class SanyoIOGroups : public ::testing::TestWithParam<int> {};

// After a reset every input is reported once, then only changes; an identical poll reports
// nothing. Both status byte layouts.
TEST_P(SanyoIOGroups, FirstFullReportThenOnlyChanges) {
    test::IORig rig(GetParam(), 4, 0);
    ASSERT_TRUE(rig.started);
    rig.camera->Cgi().SetInputs(0x05);
    IOUnderTest t(rig);
    ASSERT_TRUE(t.io.StartIO());
    ASSERT_TRUE(t.sink.WaitForChanges(4, 5s));
    EXPECT_EQ(t.sink.Changes(), (Changes{{0, 2}, {1, 1}, {2, 2}, {3, 1}}));
    const size_t polls = rig.Count(POLL);
    ASSERT_TRUE(rig.WaitForRequests(POLL, polls + 2, 5000));
    EXPECT_EQ(t.sink.ChangeCount(), 4u) << "identical polls report nothing";

    rig.camera->Cgi().SetInputs(0x0C);  // 0 off, 3 on
    ASSERT_TRUE(t.sink.WaitForChanges(6, 5s));
    EXPECT_EQ(t.sink.Changes(), (Changes{{0, 2}, {1, 1}, {2, 2}, {3, 1}, {0, 1}, {3, 2}}));
    EXPECT_TRUE(t.io.StopIO());
    EXPECT_EQ(t.sink.FailureCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SanyoIOGroups, ::testing::Values(1, 2));

// Forty inputs: the first eight follow their bits, the rest read inactive once.
TEST(SanyoIO, ManyInputsReportOnlyTheBitsThatExist) {
    test::IORig rig(1, 40, 0);
    ASSERT_TRUE(rig.started);
    rig.camera->Cgi().SetInputs(0xFF);
    IOUnderTest t(rig);
    ASSERT_TRUE(t.io.StartIO());
    ASSERT_TRUE(t.sink.WaitForChanges(40, 5s));
    const Changes changes = t.sink.Changes();
    for (unsigned i = 0; i < 40; ++i)
        EXPECT_EQ(changes[i], (std::pair<unsigned, int>(i, i < 8 ? 2 : 1)));
}

// Start makes the outputs inactive on the camera; the same state twice is written once.
TEST(SanyoIO, OutputWritesGoOutOnceEach) {
    test::IORig rig(1, 0, 2);
    ASSERT_TRUE(rig.started);
    IOUnderTest t(rig);
    const std::string alarm = "/cgi-bin/alarm_set.cgi";
    ASSERT_TRUE(t.io.StartIO());
    ASSERT_TRUE(rig.WaitForRequests(alarm, 2, 5000)) << "start writes every output inactive";
    EXPECT_TRUE(t.io.SetOutput(1, 2));
    EXPECT_TRUE(t.io.SetOutput(1, 2));
    EXPECT_TRUE(t.io.SetOutput(0, 1));  // already inactive
    EXPECT_TRUE(t.io.SetOutput(1, 1));
    EXPECT_TRUE(t.io.SetOutput(0, 5));
    ASSERT_TRUE(rig.WaitForRequests(alarm, 5, 5000));
    EXPECT_EQ(rig.Targets(alarm),
              (std::vector<std::string>{alarm + "?alarm_out_polarity=0&status=1",
                                        alarm + "?alarm_out_polarity2=0&status=1",
                                        alarm + "?alarm_out_polarity2=1&status=1",
                                        alarm + "?alarm_out_polarity2=0&status=1",
                                        alarm + "?alarm_out_polarity=1&status=1"}));
    EXPECT_TRUE(t.io.StopIO());
    EXPECT_EQ(rig.Count(alarm), 5u);
    EXPECT_EQ(rig.camera->Cgi().AlarmValue("alarm_out_polarity"), "1");
    EXPECT_FALSE(t.io.SetOutput(0, 2)) << "refused once stopped";
}

TEST(SanyoIO, GroupTwoWritesItsSingleOutput) {
    test::IORig rig(2, 0, 1);
    ASSERT_TRUE(rig.started);
    IOUnderTest t(rig);
    ASSERT_TRUE(t.io.StartIO());
    ASSERT_TRUE(t.io.SetOutput(0, 2));
    ASSERT_TRUE(rig.WaitForRequests("/cgi-bin/alarm_out.cgi", 2, 5000));
    EXPECT_EQ(rig.Targets("/cgi-bin/alarm_out.cgi").back(),
              "/cgi-bin/alarm_out.cgi?alarm_out_polarity=1&status=1");
}

// A failed write tells the host and resets the states: the next poll reports every input again.
TEST(SanyoIO, FailedWriteReportsFailureAndNextPollReportsAll) {
    test::IORig rig(1, 2, 1);
    ASSERT_TRUE(rig.started);
    rig.camera->Cgi().SetInputs(0x01);
    IOUnderTest t(rig);
    ASSERT_TRUE(t.io.StartIO());
    ASSERT_TRUE(t.sink.WaitForChanges(2, 5s));
    ASSERT_TRUE(rig.WaitForRequests("/cgi-bin/alarm_set.cgi", 1, 5000)) << "start's write";
    rig.camera->SetPageFault("/cgi-bin/alarm_set.cgi", camsim::HttpReply::Text(500, "fault\r\n"));
    ASSERT_TRUE(t.io.SetOutput(0, 2));
    ASSERT_TRUE(t.sink.WaitForFailures(1, 5s));
    ASSERT_TRUE(t.sink.WaitForChanges(4, 5s));
    EXPECT_EQ(t.sink.Changes(), (Changes{{0, 2}, {1, 1}, {0, 2}, {1, 1}}));
    // The output state was reset too: the same request is tried again once the camera answers.
    rig.camera->ClearPageFaults();
    const size_t writes = rig.Count("/cgi-bin/alarm_set.cgi");
    ASSERT_TRUE(t.io.SetOutput(0, 2));
    ASSERT_TRUE(rig.WaitForRequests("/cgi-bin/alarm_set.cgi", writes + 1, 5000));
    EXPECT_EQ(t.sink.FailureCount(), 1u);
}

// The language page leads to one language request and one repeat; a repeat that is still the
// page is not read as the status and reports nothing.
TEST(SanyoIO, LanguagePageIsVisitedOnceAndAStuckPageReportsNothing) {
    test::IORig rig(1, 4, 0);
    ASSERT_TRUE(rig.started);
    rig.camera->Cgi().SetInputs(0x02);
    rig.camera->Cgi().SetLanguageChosen(false);
    {
        IOUnderTest t(rig);
        ASSERT_TRUE(t.io.StartIO());
        ASSERT_TRUE(t.sink.WaitForChanges(4, 5s));
        t.io.StopIO();
        const auto all = rig.Targets("/");
        ASSERT_GE(all.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 3),
                  (std::vector<std::string>{POLL, "/cgi-bin/lang.cgi", POLL}));
        EXPECT_EQ(rig.Count("/cgi-bin/lang.cgi"), 1u);
        EXPECT_EQ(t.sink.Changes(), (Changes{{0, 1}, {1, 2}, {2, 1}, {3, 1}}));
    }
    rig.camera->Cgi().SetLanguageStuck(true);
    IOUnderTest stuck(rig);
    ASSERT_TRUE(stuck.io.StartIO());
    const size_t languageVisits = rig.Count("/cgi-bin/lang.cgi");
    ASSERT_TRUE(rig.WaitForRequests("/cgi-bin/lang.cgi", languageVisits + 3, 5000));
    stuck.io.StopIO();
    EXPECT_EQ(stuck.sink.Events().size(), 0u) << "nothing read from the language page";
}

// A camera offline and back: polls fail quietly and resume with no false change.
TEST(SanyoIO, OfflineAndBackReportsNoFalseChanges) {
    test::IORig rig(1, 3, 0);
    ASSERT_TRUE(rig.started);
    rig.camera->Cgi().SetInputs(0x04);
    IOUnderTest t(rig);
    ASSERT_TRUE(t.io.StartIO());
    ASSERT_TRUE(t.sink.WaitForChanges(3, 5s));
    ASSERT_TRUE(rig.camera->SetOffline(true));
    // Polls keep failing for a while (each ends on refused connections); nothing is reported.
    EXPECT_FALSE(t.sink.WaitForChanges(4, 300ms));
    ASSERT_TRUE(rig.camera->SetOffline(false));
    ASSERT_TRUE(rig.WaitForRequests(POLL, 2, 5000)) << "polling resumed";
    rig.camera->Cgi().SetInputs(0x05);
    ASSERT_TRUE(t.sink.WaitForChanges(4, 5s));
    EXPECT_EQ(t.sink.Changes(), (Changes{{0, 1}, {1, 1}, {2, 2}, {0, 2}}));
    EXPECT_EQ(t.sink.FailureCount(), 0u);
}

// While the camera is slow the host sets output 1 once and toggles output 0 a hundred times: the
// queue drops output 0's older requests, never output 1's only one, so the camera gets both
// outputs' last words and a bounded number of writes.
TEST(SanyoIO, OutputQueueKeepsTheNewestRequestOfEachOutput) {
    test::IORig rig(1, 0, 2);
    ASSERT_TRUE(rig.started);
    rig.driver.info.timeout = 2000;
    IOUnderTest t(rig);
    ASSERT_TRUE(t.io.StartIO());
    ASSERT_TRUE(rig.WaitForRequests("/cgi-bin/alarm_set.cgi", 2, 5000));
    rig.camera->SetReplyDelay(50);
    ASSERT_TRUE(t.io.SetOutput(1, 2));
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(t.io.SetOutput(0, i % 2 ? 2 : 1));  // the last: active
    EXPECT_TRUE(rig.camera->Http().WaitUntil(
        [&] { return rig.camera->Cgi().AlarmValue("alarm_out_polarity2") == "1"; }, 10000))
        << "output 1's request was dropped";
    EXPECT_TRUE(rig.camera->Http().WaitUntil(
        [&] { return rig.camera->Cgi().AlarmValue("alarm_out_polarity") == "1"; }, 10000));
    EXPECT_TRUE(t.io.StopIO());
    EXPECT_LE(rig.Count("/cgi-bin/alarm_set.cgi?alarm_out_polarity="),
              1 + 1 + CIOBase::OUTPUT_QUEUE_LIMIT)
        << "initial, in progress, queued";
}

// A stop ends a request in progress; an object deleted while polling stops its threads before
// its clients go.
TEST(SanyoIO, StopAndDestructionEndARequestInProgress) {
    test::IORig rig(1, 1, 1);
    ASSERT_TRUE(rig.started);
    rig.driver.info.timeout = 20000;
    rig.camera->SetReplyDelay(20000);
    for (int run = 0; run < 2; ++run) {
        auto t = std::make_unique<IOUnderTest>(rig);
        ASSERT_TRUE(t->io.StartIO());
        ASSERT_TRUE(rig.WaitForRequests(POLL, static_cast<size_t>(run + 1), 5000));
        ASSERT_TRUE(t->io.SetOutput(0, 2));
        const auto start = std::chrono::steady_clock::now();
        if (run == 0) {
            EXPECT_TRUE(t->io.StopIO());
        }
        t.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << "run " << run;
    }
    EXPECT_EQ(rig.driver.log.CountContaining("was not stopped"), 0u);
}

// Host threads set outputs while the input thread polls and the host restarts I/O; the
// sanitizer builds judge the shared state.
TEST(SanyoIO, HostThreadsSetOutputsWhilePolling) {
    test::IORig rig(1, 4, 4);
    ASSERT_TRUE(rig.started);
    IOUnderTest t(rig);
    ASSERT_TRUE(t.io.StartIO());
    const auto until = std::chrono::steady_clock::now() + 2s;
    std::vector<std::thread> threads;
    for (int n = 0; n < 3; ++n)
        threads.emplace_back([&, n] {
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
                t.io.SetOutput((i + n) % 4, i % 3 == 0 ? 1 : 2);
                if (i % 50 == 0)
                    rig.camera->Cgi().SetInputs(static_cast<uint32_t>(i));
                std::this_thread::yield();
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_TRUE(t.io.StopIO());
    EXPECT_GT(rig.Count(POLL), 0u);
    EXPECT_GT(rig.Count("/cgi-bin/alarm_set.cgi"), 0u);
}
