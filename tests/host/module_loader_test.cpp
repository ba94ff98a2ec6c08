#include "host/module_loader.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

using host::FileVersion;

// The driver file carries the project's version, which a host reads from the file.
TEST(DriverFileVersion, IsTheProjectVersion) {
    std::array<uint16_t, 4> v{};
    ASSERT_TRUE(FileVersion(TAVRIN_SO_PATH, v));
    const std::string text = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                             std::to_string(v[2]) + "." + std::to_string(v[3]);
    EXPECT_EQ(text, TAVRIN_VERSION);
}

TEST(DriverFileVersion, NoneInAFileWithoutTheNote) {
    std::array<uint16_t, 4> v{};
    EXPECT_FALSE(FileVersion(TAVRIN_SOURCE_DIR "/CMakeLists.txt", v)) << "not an ELF file";
    EXPECT_FALSE(FileVersion(std::filesystem::read_symlink("/proc/self/exe").string(), v))
        << "other notes only";
    EXPECT_FALSE(FileVersion(TAVRIN_BINARY_DIR "/no-such-file", v));
}
