#include "foundation/lock.h"

#include "platform/system.h"

namespace norvane {

namespace {

// -1 until the first lock is built, then 1 on a single processor, else 0.
std::atomic<int> singleProcessor{-1};

bool IsSingleProcessor() {
    int value = singleProcessor.load(std::memory_order_acquire);
    if (value < 0) {
        value = platform::ProcessorCount() == 1 ? 1 : 0;
        singleProcessor.store(value, std::memory_order_release);
    }
    return value == 1;
}

}  // namespace

CLock::CLock() : event(false), state(std::make_unique<State>()) {
    if (!IsSingleProcessor())
        state->spinCount.store(SPIN_COUNT);
}

CLock::~CLock() = default;

bool CLock::TryEnter() {
    const unsigned me = platform::CurrentThreadId();
    const int32_t tries = state->spinCount.load(std::memory_order_relaxed) + 1;
    for (int32_t i = 0; i < tries; ++i) {
        int32_t expected = 0;
        if (state->lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            state->ownerThreadId.store(me, std::memory_order_relaxed);
            state->recursion = 1;
            return true;
        }
        if (state->ownerThreadId.load(std::memory_order_relaxed) == me) {
            state->lockCount.fetch_add(1, std::memory_order_relaxed);
            ++state->recursion;
            return true;
        }
    }
    return false;
}

void CLock::Enter() {
    if (TryEnter())
        return;
    const unsigned me = platform::CurrentThreadId();
    if (state->lockCount.fetch_add(1, std::memory_order_acquire) + 1 != 1) {
        if (state->ownerThreadId.load(std::memory_order_relaxed) == me) {
            ++state->recursion;
            return;
        }
        event.Wait(INFINITE_WAIT);
    }
    state->ownerThreadId.store(me, std::memory_order_relaxed);
    state->recursion = 1;
}

void CLock::Leave() {
    if (--state->recursion > 0) {
        state->lockCount.fetch_sub(1, std::memory_order_release);
        return;
    }
    state->ownerThreadId.store(0, std::memory_order_relaxed);
    if (state->lockCount.fetch_sub(1, std::memory_order_release) - 1 > 0)
        event.Set();
}

}  // namespace norvane
