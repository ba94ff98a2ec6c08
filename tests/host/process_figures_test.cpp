// The figures a soak watches in its own process and the judgement of their growth.
#include "host/process_figures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

host::ProcessFigures Figures(long rss, int64_t heap, long threads, long fds) {
    return {rss, heap, threads, fds};
}

}  // namespace

TEST(GrowthBeyondSlack, JudgesEachFigureAgainstItsOwnSlack) {
    const host::GrowthSlack slack{1000, 2000, 2, 3};
    const auto base = Figures(10000, 50000, 40, 100);
    EXPECT_TRUE(host::GrowthBeyondSlack(base, Figures(11000, 52000, 42, 103), slack).empty())
        << "growth equal to the slack is allowed";
    EXPECT_TRUE(host::GrowthBeyondSlack(base, Figures(5000, 100, 30, 90), slack).empty())
        << "shrinking is no growth";
    EXPECT_EQ(host::GrowthBeyondSlack(base, Figures(11001, 52000, 43, 103), slack),
              (std::vector<std::string>{"rss_kib 10000 -> 11001, slack 1000",
                                        "threads 40 -> 43, slack 2"}));
    EXPECT_EQ(host::GrowthBeyondSlack(base, Figures(10000, 60000, 40, 104), slack),
              (std::vector<std::string>{"heap_bytes 50000 -> 60000, slack 2000",
                                        "fds 100 -> 104, slack 3"}));
}

TEST(GrowthBeyondSlack, LeavesUnknownFiguresUnjudged) {
    const host::GrowthSlack none{};
    EXPECT_TRUE(
        host::GrowthBeyondSlack(Figures(-1, -1, 10, 10), Figures(900, 900, 10, 10), none).empty());
    EXPECT_TRUE(
        host::GrowthBeyondSlack(Figures(10, 10, 10, 10), Figures(10, 10, -1, -1), none).empty());
}

// The sample follows what the process holds: a thread, a descriptor, a touched allocation.
TEST(SampleProcess, FollowsThreadsDescriptorsAndMemory) {
    // A sanitizer's runtime may start a thread of its own along with the program's first.
    std::thread([] {}).join();
    const host::ProcessFigures before = host::SampleProcess();
    ASSERT_GT(before.rssKiB, 0);
    ASSERT_GE(before.heapBytes, 0);
    ASSERT_GE(before.threads, 1);
    ASSERT_GE(before.fds, 3);

    std::promise<void> release;
    std::promise<void> running;
    std::thread worker([&] {
        running.set_value();
        release.get_future().wait();
    });
    running.get_future().wait();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
    ASSERT_TRUE(file);
    constexpr size_t kBlock = 32u << 20;
    std::vector<char> block(kBlock, 1);  // written, so resident

    const host::ProcessFigures during = host::SampleProcess();
    EXPECT_EQ(during.threads, before.threads + 1);
    EXPECT_EQ(during.fds, before.fds + 1);
    EXPECT_GE(during.heapBytes - before.heapBytes, static_cast<int64_t>(kBlock));
    EXPECT_GE(during.rssKiB - before.rssKiB, static_cast<long>(kBlock / 1024 * 3 / 4));

    release.set_value();
    worker.join();
    file.reset();
    std::vector<char>().swap(block);
    const host::ProcessFigures after = host::SampleProcess();
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_LT(after.heapBytes, during.heapBytes - static_cast<int64_t>(kBlock / 2));
}
