#include <gtest/gtest.h>

#include <cstddef>

#include "platform/event.h"
#include "platform/thread.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

using namespace norvane::platform;

namespace {

// Address space the calling thread's stack occupies, as the system reports it.
unsigned StackReservation(void*) {
#if defined(_WIN32)
    ULONG_PTR low = 0;
    ULONG_PTR high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    return static_cast<unsigned>(high - low);
#else
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0)
        return 0;
    size_t size = 0;
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
    return static_cast<unsigned>(size);
#endif
}

}  // namespace

// A 32-bit host runs hundreds of the library's threads: each reserves kThreadStackReservation,
// not the executable's default (1 MiB under Windows, 8 MiB under glibc).
TEST(Thread, ReservesTheLibrarysStackSize) {
    Thread thread;
    ASSERT_TRUE(thread.Start(&StackReservation, nullptr));
    ASSERT_TRUE(thread.WaitEnded(WAIT_INFINITE));
    const size_t reserved = thread.ExitCode();
    EXPECT_GE(reserved, kThreadStackReservation - 64 * 1024);  // less a guard page or two
#if !defined(__SANITIZE_THREAD__)  // ThreadSanitizer enlarges every thread's stack for itself
    EXPECT_LE(reserved, kThreadStackReservation + 64 * 1024);  // rounded to 64 KiB at most
#endif
}
