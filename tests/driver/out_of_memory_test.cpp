// Out of memory at every allocation of a boundary operation: the operation gives its failure
// result (or succeeds), and no exception reaches the host. This program's operator new fails on
// demand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "driver/capability_query.h"
#include "host/capability_results.h"
#include "host/probe.h"
#include "io/io_base.h"
#include "support/fake_driver.h"

using namespace norvane;

namespace {

// Allocations left before the next one fails on this thread; negative: none fails.
thread_local long allocationsLeft = -1;

// Runs `operation` on an object from `make` with its Nth allocation failing, for N = 0, 1, …
// until it runs through without a failed allocation; true when no exception escaped any run.
template <typename Make, typename Operation>
bool SurvivesEveryFailedAllocation(Make make, Operation operation) {
    for (long failing = 0; failing < 10000; ++failing) {
        auto object = make();
        allocationsLeft = failing;
        bool threw = false;
        try {
            operation(*object);
        } catch (...) {
            threw = true;
        }
        const bool allocationFailed = allocationsLeft < 0;
        allocationsLeft = -1;
        if (threw)
            return false;
        if (!allocationFailed)
            return true;
    }
    return false;
}

class OutputsOnly : public CIOBase {
public:
    using CIOBase::CIOBase;
    ~OutputsOnly() override { StopIO(); }

protected:
    bool WriteOutput(int, int) override { return true; }
    bool PollInputs() override { return true; }
    void CloseConnections() override {}
};

}  // namespace

// This program's operator new is malloc and its operator delete free, by design; the compiler's
// check of new against free does not know that.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    if (allocationsLeft == 0) {
        allocationsLeft = -2;  // failed once; the run then goes on without failures
        throw std::bad_alloc();
    }
    if (allocationsLeft > 0)
        --allocationsLeft;
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
// Every other form goes through the one above, so that no allocation and release mix this
// program's allocator with a sanitizer's.
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

TEST(OutOfMemory, SetOutputGivesFalseInsteadOfThrowing) {
    test::FakeDriver driver;
    driver.outputs = 2;
    EXPECT_TRUE(SurvivesEveryFailedAllocation(
        [&] {
            auto io = std::make_unique<OutputsOnly>(&driver);
            EXPECT_TRUE(io->StartIO());
            return io;
        },
        [](OutputsOnly& io) { io.SetOutput(1, 2); }));
}

TEST(OutOfMemory, CapabilityQueryStartGivesZeroInsteadOfThrowing) {
    host::QueryCallback callback;
    host::CapabilityResults results;
    EXPECT_TRUE(SurvivesEveryFailedAllocation(
        [&] {
            return std::make_unique<CSanyoCapabilityQueryModule>(
                &callback, false, CCapabilityQueryModule::Timing{200, 50});
        },
        // An address nothing answers at: a query that starts fails at once.
        [&](CSanyoCapabilityQueryModule& module) {
            module.Start("127.0.0.1", 9, "admin", "admin", &results);
        }));
}
