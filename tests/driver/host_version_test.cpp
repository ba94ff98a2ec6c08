// The log level of information lines follows the version in the host module's file name. Each
// case loads a differently named copy of a stand-in module in a child process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "driver/fake_channels.h"
#include "host/device_config.h"
#include "host/log_receiver.h"
#include "host/module_loader.h"

using namespace norvane;

namespace {

// Exits with the level the host received for an information line, or 99 on a set-up failure.
[[noreturn]] void LevelWithHostModule(const std::string& version) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tavrin-orbhost-" + version + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto copy = dir / ("liborbhost.so." + version);
    std::filesystem::copy_file(ORBHOST_DUMMY_PATH, copy,
                               std::filesystem::copy_options::overwrite_existing);
    void* module = host::LoadModule(copy.string());
    std::filesystem::remove_all(dir);
    if (!module)
        std::_Exit(99);
    host::LogReceiver log;
    host::DeviceConfig config;
    test::TestDriver driver;
    if (!driver.Open(&log, nullptr, &config))
        std::_Exit(99);
    driver.Log(LOG_INFO, "%s: information", "test");
    const auto records = log.Records();
    std::_Exit(records.size() == 1 ? records[0].level : 99);
}

}  // namespace

TEST(HostVersionDeathTest, InformationIsAWarningBelow512) {
    EXPECT_EXIT(LevelWithHostModule("5.11.0.0"), ::testing::ExitedWithCode(2), "");
    EXPECT_EXIT(LevelWithHostModule("4.99.7.1"), ::testing::ExitedWithCode(2), "");
}

TEST(HostVersionDeathTest, InformationStaysInformationFrom512) {
    EXPECT_EXIT(LevelWithHostModule("5.12.0.0"), ::testing::ExitedWithCode(3), "");
    EXPECT_EXIT(LevelWithHostModule("6.0.0.0"), ::testing::ExitedWithCode(3), "");
}
