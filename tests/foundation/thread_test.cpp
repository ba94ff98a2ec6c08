#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/base_thread.h"
#include "support/fake_driver.h"

using namespace norvane;
using namespace std::chrono_literals;

namespace {

// Body that ignores the stop event until the test releases it.
class StubbornThread : public CBaseThread {
public:
    using CBaseThread::CBaseThread;
    ~StubbornThread() override {
        release.Set();
        StopThread(2000);
    }
    CManualEvent started;
    CManualEvent release;
    std::atomic<bool> finished{false};

protected:
    void Run() override {
        started.Set();
        release.Wait(INFINITE_WAIT);
        finished = true;
    }
};

// Body that runs until its stop event.
class PoliteThread : public CBaseThread {
public:
    using CBaseThread::CBaseThread;
    ~PoliteThread() override { StopThread(2000); }
    std::atomic<int> runs{0};
    bool stopsItself = false;
    std::atomic<bool> selfStopResult{true};
    std::atomic<bool> selfJoinResult{true};

protected:
    void Run() override {
        ++runs;
        if (stopsItself) {
            selfStopResult = StopThread(10);
            selfJoinResult = JoinThread(10);
        }
        StopEvent().Wait(INFINITE_WAIT);
    }
};

// Releases `thread` once `fragment` shows in the log, from another thread.
std::thread ReleaseWhenLogged(test::FakeDriver& driver, StubbornThread& thread,
                              const std::string& fragment) {
    return std::thread([&driver, &thread, fragment] {
        driver.log.WaitForText(fragment, 10s);
        thread.release.Set();
    });
}

}  // namespace

TEST(BaseThread, StopWithoutThreadReturnsTrueAndLogsNothing) {
    test::FakeDriver driver;
    PoliteThread thread(&driver);
    EXPECT_TRUE(thread.StopThread(2000));
    EXPECT_TRUE(thread.JoinThread(2000));
    EXPECT_EQ(driver.log.Count(), 0u);
}

TEST(BaseThread, StartsOnceAndCanBeRestartedAfterStopping) {
    test::FakeDriver driver;
    PoliteThread thread(&driver);
    ASSERT_TRUE(thread.Start("polite"));
    EXPECT_FALSE(thread.Start("again")) << "a running thread is not started twice";
    EXPECT_TRUE(thread.StopThread(2000));
    ASSERT_TRUE(thread.Start("polite"));
    EXPECT_TRUE(thread.JoinThread(2000));
    EXPECT_EQ(thread.runs.load(), 2);
    EXPECT_EQ(driver.log.Count(), 0u);
}

TEST(BaseThread, StopAndJoinFromTheThreadItselfReturnFalse) {
    test::FakeDriver driver;
    PoliteThread thread(&driver);
    thread.stopsItself = true;
    ASSERT_TRUE(thread.Start("self"));
    EXPECT_TRUE(thread.StopThread(2000));
    EXPECT_FALSE(thread.selfStopResult.load());
    EXPECT_FALSE(thread.selfJoinResult.load());
}

TEST(BaseThread, StopAtTheLimitLogsTerminationAndWaitsForTheBody) {
    test::FakeDriver driver;
    StubbornThread thread(&driver);
    ASSERT_TRUE(thread.Start("stubborn"));
    ASSERT_TRUE(thread.started.Wait(5000));
    std::thread releaser = ReleaseWhenLogged(driver, thread, "will be terminated!");
    EXPECT_TRUE(thread.StopThread(30));
    releaser.join();
    EXPECT_TRUE(thread.finished.load()) << "the object is not freed under a live thread";
    const auto records = driver.log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LOG_WARNING);
    EXPECT_EQ(records[0].text,
              "norvane::CBaseThread::StopThread: Thread (id=" +
                  std::to_string(thread.GetThreadId()) +
                  ", name=\"stubborn\") was not stopped during 30 milliseconds and will be "
                  "terminated!");
}

TEST(BaseThread, JoinAtTheLimitLogsThenWaitsAndLogsStoppedCorrectly) {
    test::FakeDriver driver;
    StubbornThread thread(&driver);
    ASSERT_TRUE(thread.Start("joiner"));
    ASSERT_TRUE(thread.started.Wait(5000));
    std::thread releaser = ReleaseWhenLogged(driver, thread, "was not stopped during 40");
    EXPECT_TRUE(thread.JoinThread(40));
    releaser.join();
    const std::string id = std::to_string(thread.GetThreadId());
    const auto records = driver.log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, LOG_WARNING);
    EXPECT_EQ(records[0].text, "norvane::CBaseThread::JoinThread: Thread (id=" + id +
                                   ", name=\"joiner\") was not stopped during 40 milliseconds");
    EXPECT_EQ(records[1].level, LOG_INFO);
    EXPECT_EQ(records[1].text, "norvane::CBaseThread::JoinThread: Thread (id=" + id +
                                   ", name=\"joiner\") was stopped correctly");
}

// Host threads racing a start against a stop of one object (StartIO against StopIO): the stop's
// signal is never cleared by the start, so no stop waits out its limit (before, the thread kept
// running and the stop then waited for it for ever). Either order may win; after a final stop
// nothing runs.
TEST(BaseThread, StartRacingStopNeverLosesTheStop) {
    test::FakeDriver driver;
    PoliteThread thread(&driver);
    for (int round = 0; round < 200; ++round) {
        ASSERT_TRUE(thread.Start("racing"));
        std::thread starter([&] { thread.Start("racing"); });
        EXPECT_TRUE(thread.JoinThread(5000));
        starter.join();
        EXPECT_TRUE(thread.StopThread(5000));
    }
    EXPECT_EQ(driver.log.CountContaining("was not stopped"), 0u);
    EXPECT_GE(thread.runs, 200);
}
