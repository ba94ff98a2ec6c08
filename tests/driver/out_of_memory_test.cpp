// Out of memory at every allocation of a boundary operation: the operation gives its failure
// result (or succeeds), and no exception reaches the host. This program's operator new fails on
// demand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "camsim/camera.h"
#include "driver/capability_query.h"
#include "driver/tavrin_driver.h"
#include "host/capability_results.h"
#include "host/capture_sink.h"
#include "host/channel_config.h"
#include "host/device_config.h"
#include "host/frames.h"
#include "host/io_sink.h"
#include "host/log_receiver.h"
#include "host/probe.h"
#include "io/io_base.h"
#include "norvane/ptz.h"
#include "platform/system.h"
#include "support/fake_driver.h"

using namespace norvane;

namespace {

// Allocations left before the next one fails on this thread; negative: none fails.
thread_local long allocationsLeft = -1;

// Runs `operation` on an object from `make` with its Nth allocation failing, for N = 0, 1, …
// until it runs through without a failed allocation; true when no exception escaped any run.
// Past the first 64 allocations N grows by a 32nd each time, so that operations making
// thousands of allocations are tried at about a hundred points more, not at every one.
template <typename Make, typename Operation>
bool SurvivesEveryFailedAllocation(Make make, Operation operation) {
    for (long failing = 0; failing < 100000; failing += failing < 64 ? 1 : failing / 32) {
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

namespace {

// The preset file name part of the running test: test programs run side by side.
std::string PresetName() {
    return std::string("OutOfMemory") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A driver for a camera address where nothing answers, with I/O and two channels.
host::DeviceConfig SilentCamera() {
    host::DeviceConfig config;
    config.device.model = "VCC-HD4000";
    config.device.channelCount = 2;
    config.device.inputCount = 1;
    config.device.outputCount = 1;
    config.connection.address = "127.0.0.1";
    config.connection.port = 9;
    config.connection.codecType = 3;
    // The host hands the parameters over from 1 up to the first one missing.
    for (const auto& [number, text] : {std::pair{1, "1"}, {2, "554"}, {3, "1"}, {4, "mjpeg"},
                                       {5, "h264"}})
        config.SetCustomParameter(number, text);
    config.SetCustomParameter(6, PresetName());
    return config;
}

struct OpenDriver {
    explicit OpenDriver(host::DeviceConfig& config) { opened = driver.Open(&log, &frames, &config); }
    ~OpenDriver() {
        driver.Close();
        const std::string presets =
            platform::ExecutableDirectory() + "/Sanyo_" + PresetName() + ".preset";
        for (const char* suffix : {"", ".bad", ".bak", ".tmp"})
            std::remove((presets + suffix).c_str());
    }
    host::LogReceiver log;
    host::FrameAllocator frames;
    CTavrinDriver driver;
    bool opened = false;
};

}  // namespace

TEST(OutOfMemory, DriverOpenGivesFalseInsteadOfThrowing) {
    host::DeviceConfig config = SilentCamera();
    host::LogReceiver log;
    host::FrameAllocator frames;
    EXPECT_TRUE(SurvivesEveryFailedAllocation([] { return std::make_unique<CTavrinDriver>(); },
                                              [&](CTavrinDriver& driver) {
                                                  driver.Open(&log, &frames, &config);
                                                  driver.Close();
                                              }));
}

// PTZ needs a camera that answers: the simulated one, whose threads allocate without failing.
TEST(OutOfMemory, PtzAndPresetOperationsGiveTheirFailureInsteadOfThrowing) {
    camsim::CameraConfig camera;
    camera.personality = camsim::Personality::ForModel("VCC-HD4000");
    camsim::Camera simulator(camera);
    ASSERT_TRUE(simulator.Start());
    host::DeviceConfig config = SilentCamera();
    config.connection.port = simulator.HttpPort();
    config.connection.userName = camera.user;
    config.connection.password = camera.password;
    config.SetCustomParameter(3, std::to_string(camera.personality.group));
    size_t controls = 0;
    EXPECT_TRUE(SurvivesEveryFailedAllocation(
        [&] {
            auto open = std::make_unique<OpenDriver>(config);
            EXPECT_TRUE(open->opened);
            return open;
        },
        [&](OpenDriver& open) {
            IIPPTZDriverEx* handler = open.driver.GetPTZDriverEx();
            IIPPTZApiEx* ptz = handler ? handler->GetPTZApiEx(0) : nullptr;
            if (!ptz)
                return;
            ++controls;
            ptz->StartMove(1, 4);
            ptz->Stop();
            char name[32];
            ptz->AddPreposition("A");
            ptz->GotoPreposition(0, "A");
            ptz->GetPrepositionName(0, name, sizeof name);
            ptz->RemovePreposition("A");
        }));
    EXPECT_GT(controls, 0u) << "no run got as far as a PTZ control";

}

TEST(OutOfMemory, IOAndChannelOperationsGiveTheirFailureInsteadOfThrowing) {
    host::DeviceConfig config = SilentCamera();
    host::ChannelConfig channel(320, 240);
    host::CaptureSink sink;
    host::IOEventSink events;
    EXPECT_TRUE(SurvivesEveryFailedAllocation(
        [&] {
            auto open = std::make_unique<OpenDriver>(config);
            EXPECT_TRUE(open->opened);
            EXPECT_TRUE(open->driver.GetVideoCaptureEx()->StartChannel(0, &sink, &channel));
            return open;
        },
        [&](OpenDriver& open) {
            ICaptureIOApi* io = open.driver.GetCaptureIOApi();
            io->SetEventSink(&events);
            io->StartIO();
            io->StopIO();
            ipcapture::IIPVideoCaptureEx* video = open.driver.GetVideoCaptureEx();
            host::Resolution size(640, 480);
            video->ChangeChannelFormat(0, &size, 40);
            video->PauseChannel(0);
            video->ResumeChannel(0);
            int state = 0;
            char text[64];
            video->GetChannelState(0, &state, nullptr, text, sizeof text);
            video->StopChannel(0);
        }));
}
