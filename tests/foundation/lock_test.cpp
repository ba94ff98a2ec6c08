#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/event.h"
#include "foundation/lock.h"

using namespace norvane;

namespace {

bool OtherThreadCanEnter(CLock& lock) {
    bool entered = false;
    std::thread other([&] {
        entered = lock.TryEnter();
        if (entered)
            lock.Leave();
    });
    other.join();
    return entered;
}

}  // namespace

TEST(Lock, OwnerMustLeaveAsOftenAsItEntered) {
    CLock lock;
    lock.Enter();
    lock.Enter();
    EXPECT_TRUE(lock.TryEnter());
    lock.Leave();
    EXPECT_FALSE(OtherThreadCanEnter(lock));
    lock.Leave();
    EXPECT_FALSE(OtherThreadCanEnter(lock));
    lock.Leave();
    EXPECT_TRUE(OtherThreadCanEnter(lock));
}

TEST(Lock, ExcludesOtherThreadsUnderContention) {
    CLock lock;
    long counter = 0;  // deliberately unsynchronised except by the lock
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CLockGuard guard(lock);
                CLockGuard nested(lock);  // recursion under contention
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 80000);
}

TEST(Lock, ASleepingWaiterWakesWhenTheOwnerLeaves) {
    CLock lock;
    CEvent waiterStarted(false);
    std::atomic<bool> inside{false};
    lock.Enter();
    std::thread waiter([&] {
        waiterStarted.Set();
        CLockGuard guard(lock);  // spins, then sleeps on the lock's event
        inside = true;
    });
    ASSERT_TRUE(waiterStarted.Wait(5000));
    EXPECT_FALSE(inside.load());
    lock.Leave();
    waiter.join();
    EXPECT_TRUE(inside.load());
}

TEST(Lock, GuardLeavesOnException) {
    CLock lock;
    try {
        CLockGuard guard(lock);
        throw 1;
    } catch (int) {
    }
    EXPECT_TRUE(OtherThreadCanEnter(lock));
}
