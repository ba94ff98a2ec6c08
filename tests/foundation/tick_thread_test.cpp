#include <gtest/gtest.h>

#include <atomic>

#include "foundation/tick_thread.h"
#include "support/fake_driver.h"

using namespace norvane;
using namespace std::chrono_literals;

namespace {

struct Owner {
    int OnTick() {
        monitor.Update([&] { ++ticks; });
        return 0;
    }
    bool WaitTicks(int count) {
        return monitor.WaitFor([&] { return ticks >= count; }, 10s);
    }
    int Ticks() {
        return monitor.With([&] { return ticks; });
    }
    host::Monitor monitor;
    int ticks = 0;
};

}  // namespace

TEST(TickThread, ImmediateStartTicksAtOnce) {
    test::FakeDriver driver;
    Owner owner;
    TTickThread<Owner> thread(&driver, &owner, &Owner::OnTick);
    thread.SetInterval(60000);
    ASSERT_TRUE(thread.StartImmediate("immediate"));
    EXPECT_TRUE(owner.WaitTicks(1));
    EXPECT_TRUE(thread.StopTick());
    EXPECT_EQ(owner.Ticks(), 1);
}

TEST(TickThread, PlainStartWaitsOneIntervalBeforeTheFirstTick) {
    test::FakeDriver driver;
    Owner owner;
    TTickThread<Owner> thread(&driver, &owner, &Owner::OnTick);
    thread.SetInterval(60000);
    ASSERT_TRUE(thread.Start("delayed"));
    EXPECT_TRUE(thread.StopTick());
    EXPECT_EQ(owner.Ticks(), 0);
    EXPECT_EQ(driver.log.Count(), 0u) << "the stop event ends the wait at once";
}

TEST(TickThread, TicksRepeatedlyAtTheInterval) {
    test::FakeDriver driver;
    Owner owner;
    TTickThread<Owner> thread(&driver, &owner, &Owner::OnTick);
    thread.SetInterval(5);
    ASSERT_TRUE(thread.Start("periodic"));
    EXPECT_TRUE(owner.WaitTicks(3));
    EXPECT_TRUE(thread.StopTick());
}

TEST(TickThread, WithoutOwnerTickDoesNothing) {
    test::FakeDriver driver;
    TTickThread<Owner> thread(&driver, nullptr, &Owner::OnTick);
    thread.SetInterval(1);
    ASSERT_TRUE(thread.StartImmediate("ownerless"));
    EXPECT_TRUE(thread.StopTick());
}
