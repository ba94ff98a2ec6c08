// The destructor position that TBoundaryObject gives every implementation of a boundary interface
// under the Itanium ABI behaves as Microsoft's scalar deleting destructor: destroy, free only when
// bit 0 of the flags is set, return the object.
#include <gtest/gtest.h>

#include <new>

#include "norvane/abi.h"
#include "norvane/host.h"
#include "norvane/io.h"

using namespace norvane;

namespace {

int destroyed = 0;

// Two interfaces, so that the position is reached through a secondary base as well.
class Sink final : public TBoundaryObject<IIOEventSink, IResolution> {
public:
    ~Sink() override { ++destroyed; }
    void OnInputChanged(unsigned, int) override {}
    void OnIOFailure() override {}
    uint16_t GetWidth() override { return 1; }
    uint16_t GetHeight() override { return 2; }
};

}  // namespace

TEST(BoundaryObject, FlagZeroDestroysWithoutFreeing) {
    alignas(Sink) unsigned char storage[sizeof(Sink)];
    Sink* sink = new (storage) Sink;
    destroyed = 0;
    IIOEventSink* view = sink;
    EXPECT_EQ(view->ScalarDeletingDestructor(0u), static_cast<void*>(view));
    EXPECT_EQ(destroyed, 1);  // the storage is the test's: freeing it would crash the test
}

TEST(BoundaryObject, FlagOneDestroysAndFreesThroughEveryInterface) {
    destroyed = 0;
    IIOEventSink* first = new Sink;
    EXPECT_EQ(first->ScalarDeletingDestructor(1u), static_cast<void*>(first));
    IResolution* second = new Sink;
    DeleteObject(second);  // what a host's delete does: the object leaves from a secondary base
    EXPECT_EQ(destroyed, 2);
    DeleteObject(static_cast<IResolution*>(nullptr));
    EXPECT_EQ(destroyed, 2);
}
