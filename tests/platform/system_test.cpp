#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <future>

#include "platform/system.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace norvane::platform;

TEST(Text, Utf8AndUtf16RoundTripIncludingSupplementaryCharacters) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xA5";  // A é € 🎥
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, (std::u16string{u'A', u'\u00E9', u'\u20AC', 0xD83C, 0xDFA5}));
    EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Text, InvalidInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), (std::u16string{u'a', 0xFFFD, u'b'}));
    EXPECT_EQ(Utf8ToUtf16("\xC3"), std::u16string{0xFFFD}) << "truncated sequence";
#if defined(_WIN32)
    // MultiByteToWideChar replaces these byte by byte (two characters each), never passes them.
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD})) << "overlong form";
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD})) << "encoded surrogate";
#else
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), std::u16string{0xFFFD}) << "overlong form";
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), std::u16string{0xFFFD}) << "encoded surrogate";
#endif
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx") << "lone surrogate";
}

// Thread ids are asked of the kernel once per thread: each thread keeps its own.
TEST(Threads, IdsAreDistinctAndStable) {
    const unsigned mine = CurrentThreadId();
    EXPECT_EQ(CurrentThreadId(), mine);
    const unsigned other = std::async(std::launch::async, [] { return CurrentThreadId(); }).get();
    EXPECT_NE(other, mine);
    EXPECT_EQ(CurrentThreadId(), mine);
}

#if !defined(_WIN32)
// A forked child, whose one thread has a new id, does not inherit the parent's.
TEST(Threads, ForkedChildHasAnIdOfItsOwn) {
    const unsigned mine = CurrentThreadId();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)  // the child's only thread has the process id as its thread id
        _exit(CurrentThreadId() == static_cast<unsigned>(getpid()) && CurrentThreadId() != mine ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(CurrentThreadId(), mine);
}
#endif

TEST(Files, ExistenceAndSize) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tavrin-files-" + std::to_string(CurrentThreadId()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "data.bin").string();
    std::ofstream(path) << "12345";
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(FileSize(path), 5);
    EXPECT_FALSE(FileExists((dir / "missing").string()));
    EXPECT_EQ(FileSize((dir / "missing").string()), -1);
    std::filesystem::remove_all(dir);
}

TEST(Process, ExecutableDirectoryHoldsThisTestProgram) {
    const std::string dir = ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
#if defined(_WIN32)
    EXPECT_NE(dir.back(), '\\');
    EXPECT_TRUE(std::filesystem::exists(dir + "/tests_platform.exe"));
#else
    EXPECT_TRUE(std::filesystem::exists(dir + "/tests_platform"));
#endif
}

TEST(Process, NoHostModuleMeansNoVersion) {
    std::array<uint16_t, 4> version{};
    EXPECT_FALSE(HostModuleVersion(version));
    EXPECT_GE(ProcessorCount(), 1u);
}
