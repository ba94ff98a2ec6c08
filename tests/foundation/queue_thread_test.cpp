#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "foundation/queue_thread.h"
#include "support/fake_driver.h"

using namespace norvane;
using namespace std::chrono_literals;

namespace {

struct Counters {
    std::atomic<int> deleted{0};
};

struct Item {
    Item(int id, Counters* counters) : id(id), counters(counters) {}
    virtual ~Item() { ++counters->deleted; }
    int id;
    Counters* counters;
};

// Records handled ids; item 0 blocks until released; a negative id throws.
class Worker : public CQueueThread<Item> {
public:
    using CQueueThread::CQueueThread;
    ~Worker() override {
        release.Set();
        CloseQueue();
    }

    std::vector<int> Handled() {
        std::lock_guard<std::mutex> lock(mutex);
        return handled;
    }
    bool WaitHandled(size_t count) {
        return monitor.WaitFor([&] { return handledCount >= count; }, 10s);
    }

    CManualEvent& StoppingEvent() { return StopEvent(); }

    CManualEvent busy;
    CManualEvent release;

protected:
    void HandleWorkItem(Item* item) override {
        if (item->id == 0) {
            busy.Set();
            release.Wait(INFINITE_WAIT);
        }
        if (item->id < 0) {
            monitor.Update([&] { ++handledCount; });
            throw std::runtime_error("bad item");
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            handled.push_back(item->id);
        }
        monitor.Update([&] { ++handledCount; });
    }

private:
    std::mutex mutex;
    std::vector<int> handled;
    host::Monitor monitor;
    size_t handledCount = 0;
};

}  // namespace

TEST(QueueThread, HandlesItemsInOrderAndSurvivesThrowingItems) {
    test::FakeDriver driver;
    Counters counters;
    Worker worker(&driver);
    ASSERT_TRUE(worker.OpenQueue("worker"));
    EXPECT_TRUE(worker.PostWorkItem(new Item(1, &counters)));
    EXPECT_TRUE(worker.PostWorkItem(new Item(-1, &counters)));
    EXPECT_TRUE(worker.PostWorkItem(new Item(2, &counters)));
    ASSERT_TRUE(worker.WaitHandled(3));
    EXPECT_EQ(worker.Handled(), (std::vector<int>{1, 2}));
    EXPECT_TRUE(worker.CloseQueue());
    EXPECT_EQ(counters.deleted.load(), 3);
}

TEST(QueueThread, BoundedQueueKeepsTheNewestSixteen) {
    test::FakeDriver driver;
    Counters counters;
    Worker worker(&driver);
    ASSERT_TRUE(worker.OpenQueue("bounded"));
    ASSERT_TRUE(worker.PostWorkItemBounded(new Item(0, &counters)));
    ASSERT_TRUE(worker.busy.Wait(5000));
    for (int id = 1; id <= 20; ++id)
        EXPECT_TRUE(worker.PostWorkItemBounded(new Item(id, &counters)));
    EXPECT_EQ(counters.deleted.load(), 4) << "the four oldest are deleted unhandled";
    worker.release.Set();
    ASSERT_TRUE(worker.WaitHandled(17));
    std::vector<int> expected{0};
    for (int id = 5; id <= 20; ++id)
        expected.push_back(id);
    EXPECT_EQ(worker.Handled(), expected);
}

TEST(QueueThread, CloseDiscardsQueuedItemsAndRefusesLaterPosts) {
    test::FakeDriver driver;
    Counters counters;
    Worker worker(&driver);
    ASSERT_TRUE(worker.OpenQueue("closing"));
    ASSERT_TRUE(worker.PostWorkItem(new Item(0, &counters)));
    ASSERT_TRUE(worker.busy.Wait(5000));
    for (int id = 1; id <= 5; ++id)
        worker.PostWorkItem(new Item(id, &counters));
    // Close while item 0 is still being handled: the five queued items go unhandled.
    std::thread releaser([&] {
        worker.StoppingEvent().Wait(10000);
        worker.release.Set();
    });
    EXPECT_TRUE(worker.CloseQueue());
    releaser.join();
    EXPECT_EQ(worker.Handled(), (std::vector<int>{0}));
    EXPECT_EQ(counters.deleted.load(), 6);
    EXPECT_FALSE(worker.PostWorkItem(new Item(9, &counters)));
    EXPECT_EQ(counters.deleted.load(), 7) << "a refused item is deleted at once";
}

// A drain waits for the items posted before it, the one being handled included, and refuses
// later ones; at its limit it gives up and the thread runs on.
TEST(QueueThread, DrainWaitsForPostedItemsAndRefusesLaterOnes) {
    test::FakeDriver driver;
    Counters counters;
    Worker worker(&driver);
    ASSERT_TRUE(worker.OpenQueue("draining"));
    ASSERT_TRUE(worker.PostWorkItem(new Item(0, &counters)));
    ASSERT_TRUE(worker.busy.Wait(5000));
    EXPECT_TRUE(worker.PostWorkItem(new Item(1, &counters)));
    EXPECT_TRUE(worker.PostWorkItem(new Item(2, &counters)));
    EXPECT_FALSE(worker.DrainQueue(50)) << "item 0 is still being handled";
    EXPECT_FALSE(worker.PostWorkItem(new Item(3, &counters)));
    worker.release.Set();
    EXPECT_TRUE(worker.DrainQueue(10000));
    EXPECT_EQ(worker.Handled(), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(worker.CloseQueue());
    EXPECT_EQ(counters.deleted.load(), 4);
}

TEST(QueueThread, ReopensAfterClose) {
    test::FakeDriver driver;
    Counters counters;
    Worker worker(&driver);
    ASSERT_TRUE(worker.OpenQueue("first"));
    EXPECT_TRUE(worker.CloseQueue());
    ASSERT_TRUE(worker.OpenQueue("second"));
    EXPECT_TRUE(worker.PostWorkItem(new Item(3, &counters)));
    ASSERT_TRUE(worker.WaitHandled(1));
    EXPECT_EQ(worker.Handled(), (std::vector<int>{3}));
}
