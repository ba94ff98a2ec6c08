#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "foundation/smart_ptr.h"

namespace {

struct Tracked {
    explicit Tracked(int* deletions) : deletions(deletions) {}
    virtual ~Tracked() { ++*deletions; }
    int* deletions;
};

}  // namespace

TEST(SmartPtr, SharesTheObjectAndDeletesItWithTheLastHolder) {
    int deletions = 0;
    auto first = std::make_unique<TSmartPtr<Tracked>>(new Tracked(&deletions));
    TSmartPtr<Tracked> second(*first);
    EXPECT_EQ(second.Get(), first->Get());
    EXPECT_EQ(second.Count(), 2);
    first.reset();
    EXPECT_EQ(deletions, 0);
    EXPECT_EQ(second.Count(), 1);
    second.Assign(nullptr);
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(second.Get(), nullptr);
}

TEST(SmartPtr, CopyOfAnEmptyPointerHoldsNothing) {
    TSmartPtr<Tracked> empty;
    TSmartPtr<Tracked> copy(empty);
    EXPECT_EQ(copy.Get(), nullptr);
    EXPECT_EQ(copy.Count(), 0);
}

TEST(SmartPtr, AssignReleasesTheOldObject) {
    int deletions = 0;
    TSmartPtr<Tracked> p(new Tracked(&deletions));
    p.Assign(new Tracked(&deletions));
    EXPECT_EQ(deletions, 1);
    p = TSmartPtr<Tracked>();
    EXPECT_EQ(deletions, 2);
}

TEST(SmartPtr, CopiesBeyondTheCountLimitAreRefusedNotWrapped) {
    int deletions = 0;
    std::vector<TSmartPtr<Tracked>> holders;
    holders.reserve(200);
    holders.emplace_back(new Tracked(&deletions));
    for (int i = 1; i < 200; ++i)
        holders.push_back(holders.front());
    size_t sharing = 0;
    for (const auto& h : holders)
        sharing += h.Get() != nullptr;
    EXPECT_EQ(sharing, static_cast<size_t>(TSmartPtr<Tracked>::MAX_HOLDERS));
    EXPECT_EQ(holders.front().Count(), TSmartPtr<Tracked>::MAX_HOLDERS);
    // Releasing every holder deletes the object exactly once.
    holders.clear();
    EXPECT_EQ(deletions, 1);
}
