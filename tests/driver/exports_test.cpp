// The library as a host sees it: loaded by path, reached only through its exports.
#include <gtest/gtest.h>

#include "host/capture_sink.h"
#include "host/channel_config.h"
#include "host/device_config.h"
#include "host/frames.h"
#include "host/log_receiver.h"
#include "host/module_loader.h"
#include "norvane/exports.h"

using namespace norvane;
using namespace norvane::ipcapture;

namespace {

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        module = host::LoadModule(TAVRIN_SO_PATH, &error);
        ASSERT_NE(module, nullptr) << error;
    }
    void TearDown() override { host::UnloadModule(module); }

    template <typename F>
    F Export(const char* name) {
        void* symbol = host::ModuleSymbol(module, name);
        EXPECT_NE(symbol, nullptr) << name;
        return reinterpret_cast<F>(symbol);
    }

    void* module = nullptr;
};

}  // namespace

TEST_F(Library, CreateAndDeleteFormsBuildIndependentDrivers) {
    auto create = Export<IIPCaptureDriver* (*)()>("CreateIPCapture");
    auto createEx = Export<IIPCaptureDriverEx* (*)()>("CreateIPCaptureEx");
    auto createEx2 = Export<IIPCaptureDriverEx2* (*)()>("CreateIPCaptureEx2");
    auto createEx3 = Export<CreateIPCaptureEx3Fn>("CreateIPCaptureEx3");
    auto del = Export<void (*)(IIPCaptureDriver*)>("DeleteIPCapture");
    auto delEx = Export<void (*)(IIPCaptureDriverEx*)>("DeleteIPCaptureEx");
    auto delEx2 = Export<void (*)(IIPCaptureDriverEx2*)>("DeleteIPCaptureEx2");
    auto delEx3 = Export<DeleteIPCaptureEx3Fn>("DeleteIPCaptureEx3");
    IIPCaptureDriver* a = create();
    IIPCaptureDriver* b = create();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->GetVideoCapture(), nullptr) << "closed until opened";
    EXPECT_EQ(a->GetCaptureIOApi(), nullptr);
    del(a);
    del(b);
    delEx(createEx());
    delEx2(createEx2());
    delEx3(createEx3());
    del(nullptr);
    delEx(nullptr);
    delEx2(nullptr);
    delEx3(nullptr);
}

TEST_F(Library, DriverOpensLogsAndClosesThroughTheInterfaces) {
    auto create = Export<CreateIPCaptureEx3Fn>("CreateIPCaptureEx3");
    auto destroy = Export<DeleteIPCaptureEx3Fn>("DeleteIPCaptureEx3");
    host::LogReceiver log;
    host::FrameAllocator frames;
    host::DeviceConfig config;
    config.device.model = "VCC-HD4000";
    config.connection.address = "127.0.0.1";
    config.connection.port = 8080;
    IIPCaptureDriverEx3* driver = create();
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(driver->Open(&log, &frames, &config));
    EXPECT_EQ(log.CountContaining("DRIVER IS OPENED (name: Tavrin, device model: VCC-HD4000, "
                                  "address: 127.0.0.1:8080)"),
              1u);
    ASSERT_NE(driver->GetVideoCaptureEx(), nullptr);
    EXPECT_EQ(static_cast<IIPVideoCapture*>(driver->GetVideoCaptureEx()),
              driver->GetVideoCapture());
    EXPECT_EQ(driver->GetVideoCapture()->GetChannelCount(), 1u);
    driver->Close();
    EXPECT_EQ(driver->GetVideoCapture(), nullptr);
    destroy(driver);
}

// A host built with Microsoft's compiler deletes a driver through its destructor position (flag 1:
// destroy and free); that must end in what DeleteIPCapture does, also with a channel running.
// The sanitizer configurations see a missing free or a second one.
TEST_F(Library, DestructorPositionDeletesARunningDriverAsDeleteIPCaptureDoes) {
    auto create = Export<CreateIPCaptureEx3Fn>("CreateIPCaptureEx3");
    auto destroy = Export<void (*)(IIPCaptureDriver*)>("DeleteIPCapture");
    for (bool throughPosition : {false, true}) {
        host::LogReceiver log;
        host::FrameAllocator frames;
        host::DeviceConfig config;
        config.connection.address = "127.0.0.1";
        config.connection.port = 9;  // nothing answers: the channel keeps trying
        host::CaptureSink sink;
        host::ChannelConfig channel;
        IIPCaptureDriverEx3* driver = create();
        ASSERT_NE(driver, nullptr);
        ASSERT_TRUE(driver->Open(&log, &frames, &config));
        ASSERT_TRUE(driver->GetVideoCapture()->StartChannel(0, &sink, &channel));
        IIPCaptureDriver* base = driver;
        if (throughPosition)
            EXPECT_EQ(base->ScalarDeletingDestructor(1u), static_cast<void*>(base));
        else
            destroy(base);
    }
}

TEST_F(Library, CapabilityQueryExportsRejectBadArgumentsAndAlwaysEndCleanly) {
    auto create = Export<IIPCapabilityQuery* (*)(ICapabilityQueryCallback*, int)>(
        "CreateCapabilityQueryModule");
    auto destroy = Export<void (*)(IIPCapabilityQuery*)>("DeleteCapabilityQueryModule");
    auto init = Export<int (*)(ICapabilityQueryCallback*, int)>("InitCapabilityQuery");
    auto start = Export<int (*)(const char*, int, const char*, const char*,
                                ICapabilityResults*)>("StartCapabilityQuery");
    auto terminate = Export<int (*)()>("TerminateCapabilityQuery");
    auto uninit = Export<int (*)()>("UninitCapabilityQuery");
    destroy(nullptr);
    destroy(create(nullptr, 0));
    EXPECT_EQ(start(nullptr, 80, "u", "p", nullptr), 0);
    EXPECT_EQ(start("127.0.0.1", 80, nullptr, "p", nullptr), 0);
    EXPECT_EQ(start("127.0.0.1", 80, "u", nullptr, nullptr), 0);
    EXPECT_EQ(terminate(), 1);
    EXPECT_EQ(uninit(), 1);
    EXPECT_EQ(start("127.0.0.1", 80, "u", "p", nullptr), 0) << "no process-wide module";
    EXPECT_EQ(terminate(), 1);
    EXPECT_EQ(uninit(), 1);
    EXPECT_EQ(init(nullptr, 0), 1) << "no module existed";
    EXPECT_EQ(uninit(), 1);
}
