// A minimal recording host: loads the Tavrin plug-in, asks the camera what it offers (capability
// query), opens it with the custom parameters the query reported, streams channel 0 as H.264 for
// a few seconds and prints how many frames arrived. Exit status 0 when frames arrived.
//
//   minimal-host --address 127.0.0.1 --port 80 [--user U] [--password P] [--seconds 5]
//                [--plugin PATH]   (default: the plug-in of the Tavrin package found at build time)
#include <norvane/exports.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#undef GetUserName  // windows.h's macro would rename IConnectionSettings::GetUserName here
static void* OpenPlugin(const char* path) {
    return LoadLibraryA(path);
}
static void* Export(void* plugin, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(plugin), name));
}
#else
#include <dlfcn.h>
static void* OpenPlugin(const char* path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
static void* Export(void* plugin, const char* name) {
    return dlsym(plugin, name);
}
#endif

using namespace norvane;

namespace {

// One custom parameter as the query reports it; the host stores the value for the camera.
class CustomEntry : public TBoundaryObject<ICustomParameterEntry> {
public:
    void SetValue(const char* text) override { value = text ? text : ""; }
    void SetFlag(uint32_t) override {}
    void SetName(const char*) override {}
    void SetOption(int) override {}
    std::string value;
};

// The capability query's callback and result collector in one object.
class Probe : public TBoundaryObject<ICapabilityQueryCallback, ICapabilityResults, ICapabilityText,
                                     IResolutionList, IFrameRateList> {
public:
    void OnQuerySucceeded() override { Finish(true); }
    void OnQueryFailed(int code, const char* message) override {
        std::fprintf(stderr, "capability query failed: %d %s\n", code, message ? message : "");
        Finish(false);
    }
    void OnQueryThreadTerminated() override {}

    void SetCapability(uint32_t, uint32_t) override {}
    void SetModel(const char* text) override { model = text ? text : ""; }
    ICapabilityText* GetConnectionField(int) override { return this; }  // not kept
    ICustomParameterEntry* GetCustomParameterEntry(int number) override { return &custom[number]; }
    IResolutionList* GetResolutionList() override { return this; }
    IFrameRateList* GetFrameRateList(int) override { return this; }
    void SetText(const char*) override {}
    void Add(const char* text, uint32_t, uint32_t, uint32_t) override { sizes.emplace_back(text); }
    void SetDefaultPeriod(uint32_t) override {}
    void AddPeriod(uint32_t) override {}

    // True when the query succeeded within the limit.
    bool Wait(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, limit, [this] { return finished_; }) && succeeded_;
    }

    std::string model;
    std::map<int, CustomEntry> custom;
    std::vector<std::string> sizes;

private:
    void Finish(bool succeeded) {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        succeeded_ = succeeded;
        done_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool succeeded_ = false;
};

// The camera record the driver reads when it opens: one H.264 channel, no alarm I/O.
class Camera
    : public TBoundaryObject<IDeviceConfig, IDeviceSettings, IConnectionSettings, IDeviceOptions> {
public:
    IDeviceSettings* GetDeviceSettings() override { return this; }
    IConnectionSettings* GetConnectionSettings() override { return this; }
    IDeviceOptions* GetOptions() override { return this; }
    const char* GetCustomParameter(int number) override {
        const auto it = custom.find(number);
        return it == custom.end() ? nullptr : it->second.c_str();
    }
    const char* GetModelName() override { return model.c_str(); }
    int GetChannelCount() override { return 1; }
    int GetInputCount() override { return 0; }
    int GetOutputCount() override { return 0; }
    const char* GetAddress() override { return address.c_str(); }
    uint16_t GetPort() override { return port; }
    int GetCodecType() override { return 3; }  // H.264
    const char* GetUserName() override { return user.c_str(); }
    const char* GetPassword() override { return password.c_str(); }
    int GetOptionFlag() override { return 0; }

    std::string model, address, user, password;
    uint16_t port = 80;
    std::map<int, std::string> custom;
};

// Channel 0's stream: 1920x1080, a frame every 40 ms, middle quality.
class Channel : public TBoundaryObject<IChannelConfig, IVideoFormat, IResolution, IStreamSettings> {
public:
    IVideoFormat* GetVideoFormat() override { return this; }
    IStreamSettings* GetStreamSettings() override { return this; }
    IResolution* GetResolution() override { return this; }
    uint16_t GetWidth() override { return 1920; }
    uint16_t GetHeight() override { return 1080; }
    uint16_t GetFrameRate() override { return 40; }
    uint16_t GetQuality() override { return 50; }
    int IsMotionDetectionEnabled() override { return 0; }
};

class Frame : public TBoundaryObject<IMediaFrame> {
public:
    explicit Frame(unsigned size) : data(size) {}
    uint8_t* GetData() override { return data.data(); }
    void SetDataSize(unsigned n) override { size = n; }
    void StampTime() override {}
    void SetTime(const SYSTEMTIME*) override {}
    void SetFourCC(unsigned) override {}
    void SetHeight(unsigned) override {}
    void SetWidth(unsigned) override {}
    void SetSizeClass(unsigned) override {}
    std::vector<uint8_t> data;
    unsigned size = 0;
};

class Frames : public TBoundaryObject<IFrameAllocator> {
public:
    IMediaFrame* AllocateFrame(unsigned, unsigned size, const char*) override {
        try {
            return new Frame(size);
        } catch (...) {
            return nullptr;  // nothing may cross into the driver
        }
    }
    void ReleaseFrame(IMediaFrame* frame) override { delete static_cast<Frame*>(frame); }
};

// Counts what channel 0 delivers; a recording server would store the frames here.
class Sink : public TBoundaryObject<ICaptureSink> {
public:
    bool DeliverFrame(IMediaFrame* frame) override {
        ++frames;
        bytes += static_cast<Frame*>(frame)->size;
        return true;
    }
    void OnSignalLost() override { ++signalLost; }
    std::atomic<unsigned> frames{0}, signalLost{0};
    std::atomic<unsigned long long> bytes{0};
};

class Log : public TBoundaryObject<IDebugInfoSink> {
public:
    void OnDebugInfo(CDebugInfoIf* info) override {
        if (info && info->GetLevel() <= LOG_WARNING)
            std::fprintf(stderr, "driver: %s\n", info->GetText() ? info->GetText() : "");
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> o{
        {"--plugin", TAVRIN_PLUGIN_PATH}, {"--port", "80"}, {"--seconds", "5"}};
    for (int i = 1; i + 1 < argc; i += 2)
        o[argv[i]] = argv[i + 1];
    void* plugin = OpenPlugin(o["--plugin"].c_str());
    auto createQuery = reinterpret_cast<CreateCapabilityQueryModuleFn>(
        plugin ? Export(plugin, "CreateCapabilityQueryModule") : nullptr);
    auto deleteQuery = reinterpret_cast<DeleteCapabilityQueryModuleFn>(
        plugin ? Export(plugin, "DeleteCapabilityQueryModule") : nullptr);
    auto createDriver = reinterpret_cast<CreateIPCaptureEx3Fn>(
        plugin ? Export(plugin, "CreateIPCaptureEx3") : nullptr);
    auto deleteDriver = reinterpret_cast<DeleteIPCaptureEx3Fn>(
        plugin ? Export(plugin, "DeleteIPCaptureEx3") : nullptr);
    if (!createQuery || !deleteQuery || !createDriver || !deleteDriver) {
        std::fprintf(stderr, "cannot use the plug-in %s\n", o["--plugin"].c_str());
        return 2;
    }
    Camera camera;
    camera.address = o["--address"];
    camera.port = static_cast<uint16_t>(std::atoi(o["--port"].c_str()));
    camera.user = o["--user"];
    camera.password = o["--password"];

    Probe probe;
    IIPCapabilityQuery* query = createQuery(&probe, 0);
    const bool probed = query &&
                        query->Start(camera.address.c_str(), camera.port, camera.user.c_str(),
                                     camera.password.c_str(), &probe) == 1 &&
                        probe.Wait(std::chrono::seconds(60));
    deleteQuery(query);  // waits for the query's thread: the results are complete after it
    if (!probed)
        return 1;
    std::printf("camera %s, %zu picture sizes\n", probe.model.c_str(), probe.sizes.size());
    camera.model = probe.model;
    for (const auto& [number, entry] : probe.custom)
        camera.custom[number] = entry.value;

    Log log;
    Frames frames;
    Sink sink;
    Channel channel;
    ipcapture::IIPCaptureDriverEx3* driver = createDriver();
    if (!driver || !driver->Open(&log, &frames, &camera)) {
        std::fprintf(stderr, "the driver did not open the camera\n");
        deleteDriver(driver);
        return 1;
    }
    ipcapture::IIPVideoCapture* video = driver->GetVideoCapture();
    const bool started = video && video->StartChannel(0, &sink, &channel);
    const int seconds = std::atoi(o["--seconds"].c_str());
    for (int s = 1; started && s <= seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf("%d s: %u frames\n", s, sink.frames.load());
    }
    if (started)
        video->StopChannel(0);
    driver->Close();
    deleteDriver(driver);
    std::printf("frames %u, bytes %llu, signal lost %u\n", sink.frames.load(), sink.bytes.load(),
                sink.signalLost.load());
    return sink.frames > 0 ? 0 : 1;
}
