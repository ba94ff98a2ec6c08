// The per-channel control and the handler, over the simulated camera.
#include "ptz/sanyo_ptz_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "preset_support.h"
#include "ptz/sanyo_ptz_handler.h"
#include "ptz_rig.h"

using namespace norvane;

namespace {

class PtzControlTest : public test::PtzTest {
protected:
    void SetUp() override {
        test::PtzTest::SetUp();
        directory = test::OutputDir();
    }

    std::unique_ptr<CSanyoPTZHandler> MakeHandler(int channels = 2) {
        auto handler = std::make_unique<CSanyoPTZHandler>(&driver, channels);
        handler->SetStoreDirectory(directory);
        return handler;
    }

    std::string directory;
};

}  // namespace

TEST_F(PtzControlTest, ContinuousCommandsFollowCapabilitiesAndFlags) {
    auto handler = MakeHandler();
    IIPPTZApiEx* ptz = handler->GetPTZApiEx(0);
    ASSERT_NE(ptz, nullptr);
    EXPECT_EQ(ptz->IsPTZSupported(), 1);
    EXPECT_TRUE(ptz->IsFeatureSupported(1));
    EXPECT_FALSE(ptz->IsFeatureSupported(2));
    EXPECT_EQ(ptz->Stop(), PTZ_OK);
    EXPECT_EQ(ptz->StartMove(10, 1), PTZ_INVALID_ARGUMENT);
    EXPECT_EQ(ptz->AreaZoom(1, 2, 3, 4), PTZ_NOT_SUPPORTED);
    EXPECT_EQ(ptz->StartZoom9(16), PTZ_OK);
    EXPECT_EQ(ptz->Stop(), PTZ_OK);
    EXPECT_EQ(ptz->Stop(), PTZ_OK);
    ASSERT_TRUE(WaitForCommands(2));
    EXPECT_EQ(Commands(), (std::vector<std::string>{"ope=51&cmd=10&z_speed=4", "ope=51&cmd=11"}))
        << "one stop for the one zoom; nothing for a stop without a command";
}

TEST_F(PtzControlTest, ReducedGroupsLackPanTiltAndCentre) {
    for (const char* group : {"2", "4"}) {
        driver.custom[3] = group;
        auto handler = MakeHandler();
        IIPPTZApiEx* ptz = handler->GetPTZApiEx(0);
        ASSERT_NE(ptz, nullptr);
        EXPECT_EQ(ptz->StartMove(0, 1), PTZ_NOT_SUPPORTED);
        EXPECT_EQ(ptz->Center(1, 1, 1), PTZ_NOT_SUPPORTED);
        EXPECT_EQ(ptz->StartZoom8(1), PTZ_OK);
        PTZ_CAPABILITIES record;
        std::memset(&record, 0x33, sizeof record);
        EXPECT_EQ(ptz->GetCapabilities(&record), PTZ_OK);
        EXPECT_EQ(record.hostField, 0x33333333);
        EXPECT_EQ(record.pan, 0);
        EXPECT_EQ(record.tilt, 0);
        EXPECT_EQ(record.center, 0);
        EXPECT_EQ(record.zoom, 1);
        EXPECT_EQ(record.maxPrepositions, 8);
        EXPECT_EQ(record.prepositionCount, 0);
        EXPECT_EQ(ptz->GetCapabilities(nullptr), PTZ_INVALID_ARGUMENT);
    }
    driver.custom.erase(3);
    auto handler = MakeHandler();
    PTZ_CAPABILITIES record{};
    ASSERT_EQ(handler->GetPTZApiEx(0)->GetCapabilities(&record), PTZ_OK);
    EXPECT_EQ(record.pan, 1) << "a missing group counts as group 1";
    EXPECT_EQ(record.maxPrepositions, 255);
}

TEST_F(PtzControlTest, PresetNamesThroughHostBuffers) {
    auto handler = MakeHandler();
    IIPPTZApiEx* ptz = handler->GetPTZApiEx(0);
    ASSERT_NE(ptz, nullptr);
    EXPECT_EQ(ptz->AddPreposition(nullptr), PTZ_INVALID_ARGUMENT);
    EXPECT_EQ(ptz->AddPreposition("Gate"), PTZ_OK);
    char buffer[8];
    EXPECT_EQ(ptz->GetPrepositionName(0, buffer, 4), PTZ_INVALID_ARGUMENT)
        << "no room for the zero";
    EXPECT_EQ(ptz->GetPrepositionName(0, buffer, 5), PTZ_OK);
    EXPECT_STREQ(buffer, "Gate");
    EXPECT_EQ(ptz->GetPrepositionName(0, nullptr, 5), PTZ_INVALID_ARGUMENT);
    EXPECT_EQ(ptz->GetPrepositionName(1, buffer, 8), PTZ_PRESET_FAILED);
    EXPECT_EQ(ptz->GetPrepositionName(-1, buffer, 8), PTZ_PRESET_FAILED);
    EXPECT_EQ(ptz->GetCurrentPrepositionName(buffer, 8), PTZ_OK);
    EXPECT_EQ(ptz->StartMove(3, 1), PTZ_OK);
    EXPECT_EQ(ptz->GetCurrentPrepositionName(buffer, 8), PTZ_PRESET_FAILED) << "the head moved";
    EXPECT_EQ(ptz->GotoPreposition(0, "Gate"), PTZ_OK);
    EXPECT_EQ(ptz->GotoPreposition(0, "Nope"), PTZ_PRESET_FAILED);
    EXPECT_EQ(ptz->GotoPreposition(0, nullptr), PTZ_INVALID_ARGUMENT);
    EXPECT_EQ(ptz->RemovePreposition("Nope"), PTZ_PRESET_FAILED);
    EXPECT_EQ(ptz->RemovePreposition("Gate"), PTZ_OK);
    EXPECT_EQ(ptz->GetPrepositionCount(), 0);
}

// After CloseComm the list no longer holds the destroyed command thread.
TEST_F(PtzControlTest, ClosedControlRefusesEverything) {
    CSanyoPTZControl control(&driver, 0);
    TSmartPtr<CXMLPrepositionReader> store(test::OpenStore(directory, "Sanyo_0080F0A1B2C3.preset"));
    ASSERT_TRUE(control.Initialize(store));
    EXPECT_EQ(control.AddPreposition("A"), PTZ_OK);
    control.CloseComm();
    EXPECT_EQ(control.StartMove(0, 1), PTZ_FAILED);
    EXPECT_EQ(control.Stop(), PTZ_FAILED);
    EXPECT_EQ(control.IsPTZSupported(), PTZ_FAILED);
    control.StartMove(0, 1);
    EXPECT_EQ(control.AddPreposition("B"), PTZ_FAILED);
    EXPECT_EQ(control.RemovePreposition("A"), PTZ_PRESET_FAILED);
    EXPECT_EQ(control.GetPrepositionCount(), 1) << "the list itself stays";
    CSanyoPTZControl noStore(&driver, 1);
    EXPECT_FALSE(noStore.Initialize(TSmartPtr<CXMLPrepositionReader>()));
}

TEST_F(PtzControlTest, HandlerHandsOutOneControlPerChannel) {
    auto handler = MakeHandler(2);
    EXPECT_EQ(handler->GetPTZApiEx(2), nullptr);
    EXPECT_EQ(handler->GetPTZApiEx(-1), nullptr);
    EXPECT_FALSE(std::filesystem::exists(directory + "/Sanyo_0080F0A1B2C3.preset"))
        << "out-of-range channels do not touch the store";
    IIPPTZApiEx* first = handler->GetPTZApiEx(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(handler->GetPTZApi(0), first);
    EXPECT_NE(handler->GetPTZApiEx(1), first);
    EXPECT_TRUE(std::filesystem::exists(directory + "/Sanyo_0080F0A1B2C3.preset"));
}

TEST_F(PtzControlTest, ConcurrentFirstRequestsBuildOneControl) {
    for (int round = 0; round < 20; ++round) {
        auto handler = MakeHandler(1);
        IIPPTZApiEx* seen[4] = {};
        std::vector<std::thread> threads;
        for (auto& slot : seen)
            threads.emplace_back([&handler, &slot] { slot = handler->GetPTZApiEx(0); });
        for (auto& t : threads)
            t.join();
        for (IIPPTZApiEx* control : seen)
            EXPECT_EQ(control, seen[0]);
    }
}

TEST_F(PtzControlTest, MissingOrUnsafeFileNameGivesNoControl) {
    for (const char* mac : {"(none)", "", "../escape", "a/b", ".", "..", "tab\there"}) {
        driver.custom[6] = mac;
        driver.log.Clear();
        auto handler = MakeHandler();
        for (int attempt = 0; attempt < 2; ++attempt)
            EXPECT_EQ(handler->GetPTZApiEx(0), nullptr) << mac;
        EXPECT_EQ(driver.log.CountContaining("Required custom parameter was not defined!"), 2u)
            << mac;
        EXPECT_EQ(driver.log.CountContaining("Name of file for preset storing was not defined"),
                  2u);
    }
    EXPECT_FALSE(std::filesystem::exists(directory + "/../escape.preset"));
    // A parameter full of conversions is data, not a format.
    driver.custom[6] = "%s%n%s";
    auto handler = MakeHandler();
    ASSERT_NE(handler->GetPTZApiEx(0), nullptr);
    EXPECT_TRUE(std::filesystem::exists(directory + "/Sanyo_%s%n%s.preset"));
}

// A store that cannot be opened stays attached: after the failed first request the host gets a
// working control, only without saved presets. A corrupt file is kept aside as .bad.
TEST_F(PtzControlTest, AStoreThatCannotOpenStillGivesWorkingControls) {
    const std::string corrupt = directory + "/corrupt";
    std::filesystem::create_directories(corrupt);
    test::WriteFile(corrupt + "/Sanyo_0080F0A1B2C3.preset", "<Sanyo><PtzChannel01>");
    test::WriteFile(directory + "/not-a-folder", "");
    for (const std::string& folder : {corrupt, directory + "/not-a-folder/presets"}) {
        driver.log.Clear();
        auto handler = std::make_unique<CSanyoPTZHandler>(&driver, 2);
        handler->SetStoreDirectory(folder);
        EXPECT_EQ(handler->GetPTZApiEx(0), nullptr) << folder;
        EXPECT_EQ(driver.log.CountContaining("cannot initialize CXMLPrepositionReader object with "
                                             "parameter \"Sanyo_0080F0A1B2C3.preset\""),
                  1u);
        IIPPTZApiEx* ptz = handler->GetPTZApiEx(0);
        ASSERT_NE(ptz, nullptr) << folder;
        EXPECT_EQ(handler->GetPTZApiEx(1) != nullptr, true) << "every channel gets its control";
        EXPECT_EQ(ptz->StartMove(2, 5), PTZ_OK);
        EXPECT_EQ(ptz->Stop(), PTZ_OK);
        EXPECT_EQ(ptz->AddPreposition("A"), PTZ_FAILED) << "nothing can be saved";
    }
    EXPECT_EQ(test::ReadFile(corrupt + "/Sanyo_0080F0A1B2C3.preset.bad"), "<Sanyo><PtzChannel01>");
}
