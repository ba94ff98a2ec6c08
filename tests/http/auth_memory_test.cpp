#include "http/auth_memory.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/http_transport.h"

using norvane::platform::HTTP_AUTH_BASIC;
using norvane::platform::HTTP_AUTH_DIGEST;
using norvane::Web::CAuthMemory;

namespace {

std::string Address(size_t n) {
    return "10.0." + std::to_string(n / 256) + "." + std::to_string(n % 256) + ":80";
}

}  // namespace

// A camera that asked for Digest is never answered in Basic again; the other way round the
// scheme follows what the camera asks for.
TEST(AuthMemory, DigestIsNeverDowngradedToBasic) {
    CAuthMemory memory;
    EXPECT_EQ(memory.Scheme("a:80"), 0u);
    EXPECT_TRUE(memory.Learn("a:80", HTTP_AUTH_BASIC));
    EXPECT_EQ(memory.Scheme("a:80"), HTTP_AUTH_BASIC);
    EXPECT_TRUE(memory.Learn("a:80", HTTP_AUTH_DIGEST));
    EXPECT_FALSE(memory.Learn("a:80", HTTP_AUTH_BASIC));
    EXPECT_EQ(memory.Scheme("a:80"), HTTP_AUTH_DIGEST);
    EXPECT_EQ(memory.Scheme("a:81"), 0u);  // another port is another camera
    EXPECT_TRUE(memory.Learn("a:81", HTTP_AUTH_BASIC));
}

// Past its bound the memory forgets the camera asked least recently, not one in use.
TEST(AuthMemory, HoldsAtMostItsBoundForgettingTheLeastRecentlyUsed) {
    CAuthMemory memory;
    for (size_t n = 0; n < CAuthMemory::MAX_CAMERAS; ++n)
        ASSERT_TRUE(memory.Learn(Address(n), HTTP_AUTH_DIGEST));
    EXPECT_EQ(memory.Scheme(Address(0)), HTTP_AUTH_DIGEST);  // camera 0 is in use again
    ASSERT_TRUE(memory.Learn(Address(CAuthMemory::MAX_CAMERAS), HTTP_AUTH_BASIC));
    EXPECT_EQ(memory.Scheme(Address(0)), HTTP_AUTH_DIGEST);
    EXPECT_EQ(memory.Scheme(Address(1)), 0u);
    EXPECT_EQ(memory.Scheme(Address(CAuthMemory::MAX_CAMERAS)), HTTP_AUTH_BASIC);
    size_t known = 0;
    for (size_t n = 0; n <= CAuthMemory::MAX_CAMERAS; ++n)
        known += memory.Scheme(Address(n)) != 0;
    EXPECT_EQ(known, CAuthMemory::MAX_CAMERAS);
}

// Channels of several drivers learn and look up at once (ThreadSanitizer checks the sharing).
TEST(AuthMemory, ThreadsShareIt) {
    CAuthMemory memory;
    constexpr size_t THREADS = 4;
    constexpr size_t CAMERAS = 2 * CAuthMemory::MAX_CAMERAS;
    std::vector<std::thread> threads;
    for (size_t t = 0; t < THREADS; ++t)
        threads.emplace_back([&memory] {
            for (size_t n = 0; n < CAMERAS; ++n) {
                memory.Learn(Address(n), HTTP_AUTH_DIGEST);
                memory.Learn(Address(n), HTTP_AUTH_BASIC);
                memory.Scheme(Address(n / 2));
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    size_t known = 0;
    for (size_t n = 0; n < CAMERAS; ++n)
        known += memory.Scheme(Address(n)) != 0;
    EXPECT_EQ(known, CAuthMemory::MAX_CAMERAS);
    // The camera learnt last asked for Digest, then for Basic: it stays at Digest.
    EXPECT_EQ(memory.Scheme(Address(CAMERAS - 1)), HTTP_AUTH_DIGEST);
}
