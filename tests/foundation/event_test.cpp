#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/event.h"

using namespace norvane;

TEST(Event, AutoResetWakesOneWaitAndIsConsumed) {
    CEvent event(false);
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0)) << "an auto-reset event is consumed by the wait";
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    CManualEvent event;
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(Event, SetFromAnotherThreadWakesAnInfiniteWait) {
    CEvent event(false);
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(INFINITE_WAIT));
    setter.join();
}

TEST(TwoEventWait, ReturnsThePositionOfTheSignalledEvent) {
    CManualEvent stop;
    CEvent item(false);
    const EventPair pair{&stop, &item};
    item.Set();
    EXPECT_EQ(WaitForStopOrItem(&pair, 1000), 1);
    EXPECT_EQ(WaitForStopOrItem(&pair, 0), -1) << "the item event was consumed";
    stop.Set();
    item.Set();
    EXPECT_EQ(WaitForStopOrItem(&pair, 1000), 0) << "the stop event comes first";
}

TEST(TwoEventWait, TimesOutWithMinusOneAndRejectsANullPair) {
    CManualEvent stop;
    CEvent item(false);
    const EventPair pair{&stop, &item};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForStopOrItem(&pair, 60), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
    EXPECT_EQ(WaitForStopOrItem(nullptr, 10), -1);
}

TEST(TwoEventWait, WakesWhenEitherEventIsSetFromAnotherThread) {
    for (int which = 0; which < 2; ++which) {
        CManualEvent stop;
        CEvent item(false);
        const EventPair pair{&stop, &item};
        std::thread setter([&] { (which == 0 ? static_cast<CEvent&>(stop) : item).Set(); });
        EXPECT_EQ(WaitForStopOrItem(&pair, INFINITE_WAIT), which);
        setter.join();
    }
}

TEST(TwoEventWait, AutoResetSignalIsTakenByExactlyOneOfTwoWaiters) {
    CManualEvent stopA, stopB;
    CEvent shared(false);
    const EventPair a{&stopA, &shared}, b{&stopB, &shared};
    std::atomic<int> got{0};
    auto waiter = [&](const EventPair* pair) {
        if (WaitForStopOrItem(pair, INFINITE_WAIT) == 1)
            ++got;
    };
    std::thread ta(waiter, &a), tb(waiter, &b);
    shared.Set();
    // One waiter takes the item; release the other through its stop event.
    while (got.load() == 0)
        std::this_thread::yield();
    stopA.Set();
    stopB.Set();
    ta.join();
    tb.join();
    EXPECT_EQ(got.load(), 1);
}
