// A recording-server host as Microsoft's compiler builds it: every object the host hands to the
// driver, and the scenario that drives Tavrin.dll through its exports and interfaces. Compiled
// by clang for the Microsoft C++ ABI, freestanding (no Microsoft runtime): so both directions of
// every call across the boundary use the layout and calling conventions a host built with
// Microsoft's compiler uses. The few C runtime functions it needs come from the system's msvcrt.
#include "msabi_host.h"
#include "norvane/exports.h"

using Size = __SIZE_TYPE__;

extern "C" {
void* malloc(Size size);
void free(void* block);
int _snprintf(char* buffer, Size size, const char* format, ...);
int _vsnprintf(char* buffer, Size size, const char* format, __builtin_va_list args);
}

void* operator new(Size size) {
    return malloc(size ? size : 1);
}
void* operator new[](Size size) {
    return malloc(size ? size : 1);
}
void operator delete(void* block) noexcept {
    free(block);
}
void operator delete[](void* block) noexcept {
    free(block);
}
void operator delete(void* block, Size) noexcept {
    free(block);
}
void operator delete[](void* block, Size) noexcept {
    free(block);
}

using namespace norvane;
using namespace norvane::ipcapture;

namespace {

const MsAbiServices* services = nullptr;

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));

void Say(const char* format, ...) {
    char line[512];
    __builtin_va_list args;
    __builtin_va_start(args, format);
    int n = _vsnprintf(line, sizeof line - 1, format, args);
    __builtin_va_end(args);
    line[n < 0 ? sizeof line - 1 : static_cast<Size>(n)] = 0;
    services->Print(line);
}

// Counts failed steps; prints each.
struct Verdict {
    int failures = 0;

    bool Expect(bool condition, const char* what) {
        if (!condition) {
            ++failures;
            Say("FAILED: %s", what);
        }
        return condition;
    }
};

// Polls a condition until it holds or the limit passes.
template <typename Condition>
bool WaitFor(unsigned limitMs, Condition condition) {
    const unsigned start = services->Milliseconds();
    while (!condition()) {
        if (services->Milliseconds() - start > limitMs)
            return false;
        services->Sleep(20);
    }
    return true;
}

void CopyText(char* target, Size size, const char* text) {
    Size i = 0;
    for (; text && text[i] && i + 1 < size; ++i)
        target[i] = text[i];
    target[i] = 0;
}

unsigned Load(const unsigned& value) {
    return __atomic_load_n(&value, __ATOMIC_ACQUIRE);
}
void Add(unsigned& value, unsigned amount) {
    __atomic_fetch_add(&value, amount, __ATOMIC_ACQ_REL);
}
void Store(unsigned& value, unsigned amount) {
    __atomic_store_n(&value, amount, __ATOMIC_RELEASE);
}

// ---- Frames -------------------------------------------------------------------------------------

class Frame : public IMediaFrame {
public:
    // The code asked for at allocation holds until SetFourCC changes it.
    Frame(unsigned fourcc, unsigned capacity)
        : capacity_(capacity),
          data_(static_cast<uint8_t*>(malloc(capacity ? capacity : 1))),
          fourcc_(fourcc) {}
    ~Frame() override { free(data_); }

    uint8_t* GetData() override { return data_; }
    void SetDataSize(unsigned size) override { size_ = size; }
    void StampTime() override { stamped_ = true; }
    void SetTime(const SYSTEMTIME* time) override {
        if (time)
            time_ = *time, timed_ = true;
    }
    void SetFourCC(unsigned fourcc) override { fourcc_ = fourcc; }
    void SetHeight(unsigned height) override { height_ = height; }
    void SetWidth(unsigned width) override { width_ = width; }
    void SetSizeClass(unsigned sizeClass) override { sizeClass_ = sizeClass; }

    unsigned capacity_;
    uint8_t* data_;
    unsigned fourcc_;
    unsigned size_ = 0, width_ = 0, height_ = 0, sizeClass_ = 0;
    bool stamped_ = false, timed_ = false;
    SYSTEMTIME time_{};
};

class FrameAllocator : public IFrameAllocator {
public:
    IMediaFrame* AllocateFrame(unsigned fourcc, unsigned size, const char* source) override {
        if (!source || size == 0 ||
            (fourcc != FOURCC_H264 && fourcc != FOURCC_JPEG && fourcc != FOURCC_I264 &&
             fourcc != FOURCC_MEMD))
            Add(badRequests, 1);
        Add(allocated, 1);
        return new Frame(fourcc, size);
    }
    void ReleaseFrame(IMediaFrame* frame) override {
        Add(released, 1);
        delete frame;  // position 0 with flag 1, as this compiler calls it
    }

    unsigned allocated = 0, released = 0, badRequests = 0;
};

// One channel's sink: checks each picture as the host contract describes it and writes it out.
class CaptureSink : public ICaptureSink {
public:
    CaptureSink(MsAbiStream stream, unsigned fourcc) : stream_(stream), fourcc_(fourcc) {}

    bool DeliverFrame(IMediaFrame* media) override {
        Frame* frame = static_cast<Frame*>(media);
        const bool fourccOk =
            frame->fourcc_ == fourcc_ || (fourcc_ == FOURCC_H264 && frame->fourcc_ == FOURCC_I264);
        const SYSTEMTIME& t = frame->time_;
        const bool timeOk = frame->stamped_ ||
                            (frame->timed_ && t.wYear >= 2020 && t.wYear < 2200 && t.wMonth >= 1 &&
                             t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 && t.wHour < 24 &&
                             t.wMinute < 60 && t.wSecond < 61 && t.wMilliseconds < 1000);
        const bool sizeOk = frame->size_ > 0 && frame->size_ <= frame->capacity_ &&
                            frame->width_ > 0 && frame->height_ > 0 && frame->sizeClass_ >= 1 &&
                            frame->sizeClass_ <= 4;
        if (!fourccOk || !timeOk || !sizeOk) {
            if (__atomic_fetch_add(&malformed, 1, __ATOMIC_ACQ_REL) == 0)
                Say("malformed picture: FourCC %08x, %u of %u bytes, %ux%u, size class %u, "
                    "time %s %04u-%02u-%02u %02u:%02u:%02u.%03u",
                    frame->fourcc_, frame->size_, frame->capacity_, frame->width_, frame->height_,
                    frame->sizeClass_, frame->stamped_ ? "stamped" : "given", t.wYear, t.wMonth,
                    t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
            return false;
        }
        if (frame->fourcc_ == FOURCC_H264)
            Add(keyFrames, 1);
        Store(width, frame->width_);
        Store(height, frame->height_);
        services->Write(stream_, frame->data_, frame->size_);
        Add(frames, 1);
        return true;
    }
    void OnSignalLost() override { Add(signalLost, 1); }

    unsigned frames = 0, keyFrames = 0, malformed = 0, signalLost = 0, width = 0, height = 0;

private:
    MsAbiStream stream_;
    unsigned fourcc_;
};

class LogReceiver : public IDebugInfoSink {
public:
    void OnDebugInfo(CDebugInfoIf* info) override {
        char line[600];
        const signed char level = info->GetLevel();
        const char* text = info->GetText();
        int n = _snprintf(line, sizeof line - 1, "[%d] %s\n", level, text ? text : "");
        services->Write(MSABI_LOG, line, n < 0 ? sizeof line - 1 : static_cast<unsigned>(n));
        Add(lines, 1);
        if (level == 1)
            Add(errors, 1);
    }

    unsigned lines = 0, errors = 0;
};

// ---- Device and channel configuration -----------------------------------------------------------

class DeviceSettings : public IDeviceSettings {
public:
    const char* GetModelName() override { return model; }
    int GetChannelCount() override { return 1; }
    int GetInputCount() override { return 1; }
    int GetOutputCount() override { return 1; }

    char model[64] = "";
};

class ConnectionSettings : public IConnectionSettings {
public:
    ConnectionSettings(const MsAbiOptions& options, int codec) : options_(options), codec_(codec) {}
    const char* GetAddress() override { return options_.address; }
    uint16_t GetPort() override { return static_cast<uint16_t>(options_.port); }
    int GetCodecType() override { return codec_; }
    const char* GetUserName() override { return options_.user; }
    const char* GetPassword() override { return options_.password; }

private:
    const MsAbiOptions& options_;
    int codec_;
};

class DeviceOptions : public IDeviceOptions {
public:
    int GetOptionFlag() override { return 0; }
};

constexpr int CUSTOM_COUNT = 9;

// The nine custom parameters a host stores from the capability query.
struct CustomParameters {
    char values[CUSTOM_COUNT][64] = {};
    char names[CUSTOM_COUNT][32] = {};
    bool set[CUSTOM_COUNT] = {};
};

class DeviceConfig : public IDeviceConfig {
public:
    DeviceConfig(const MsAbiOptions& options, int codec, const CustomParameters& custom)
        : connection_(options, codec), custom_(custom) {}
    IDeviceSettings* GetDeviceSettings() override { return &device; }
    IConnectionSettings* GetConnectionSettings() override { return &connection_; }
    IDeviceOptions* GetOptions() override { return &options_; }
    const char* GetCustomParameter(int number) override {
        if (number < 1 || number > CUSTOM_COUNT)
            return nullptr;
        return custom_.set[number - 1] ? custom_.values[number - 1] : "(none)";
    }

    DeviceSettings device;

private:
    ConnectionSettings connection_;
    DeviceOptions options_;
    const CustomParameters& custom_;
};

class Resolution : public IResolution {
public:
    Resolution(uint16_t width, uint16_t height) : width_(width), height_(height) {}
    uint16_t GetWidth() override { return width_; }
    uint16_t GetHeight() override { return height_; }

private:
    uint16_t width_, height_;
};

class VideoFormat : public IVideoFormat {
public:
    VideoFormat(uint16_t width, uint16_t height) : resolution_(width, height) {}
    IResolution* GetResolution() override { return &resolution_; }

private:
    Resolution resolution_;
};

class StreamSettings : public IStreamSettings {
public:
    uint16_t GetFrameRate() override { return 40; }  // frame period, ms
    uint16_t GetQuality() override { return 50; }
    int IsMotionDetectionEnabled() override { return 0; }
};

class ChannelConfig : public IChannelConfig {
public:
    ChannelConfig(uint16_t width, uint16_t height) : format_(width, height) {}
    IVideoFormat* GetVideoFormat() override { return &format_; }
    IStreamSettings* GetStreamSettings() override { return &stream_; }

private:
    VideoFormat format_;
    StreamSettings stream_;
};

// ---- Capability query results -------------------------------------------------------------------

class TextField : public ICapabilityText {
public:
    void SetText(const char* text) override { CopyText(value, sizeof value, text); }
    char value[128] = "";
};

class CustomEntry : public ICustomParameterEntry {
public:
    void SetValue(const char* text) override { CopyText(value, sizeof value, text), set = true; }
    void SetFlag(uint32_t value) override { flag = value; }
    void SetName(const char* text) override { CopyText(name, sizeof name, text); }
    void SetOption(int value) override { option = value; }

    char value[64] = "", name[32] = "";
    bool set = false;
    uint32_t flag = 0;
    int option = -1;
};

class ResolutionList : public IResolutionList {
public:
    void Add(const char* text, uint32_t width, uint32_t height, uint32_t) override {
        if (text && width && height)
            ++count;
    }
    unsigned count = 0;
};

class FrameRateList : public IFrameRateList {
public:
    void SetDefaultPeriod(uint32_t periodMs) override { defaultPeriod = periodMs; }
    void AddPeriod(uint32_t) override { ++count; }
    uint32_t defaultPeriod = 0;
    unsigned count = 0;
};

class CapabilityResults : public ICapabilityResults {
public:
    void SetCapability(uint32_t, uint32_t) override { ++capabilities; }
    void SetModel(const char* text) override { CopyText(model, sizeof model, text); }
    ICapabilityText* GetConnectionField(int number) override {
        return number >= 1 && number <= 4 ? &fields[number - 1] : nullptr;
    }
    ICustomParameterEntry* GetCustomParameterEntry(int number) override {
        return number >= 1 && number <= CUSTOM_COUNT ? &entries[number - 1] : nullptr;
    }
    IResolutionList* GetResolutionList() override { return &resolutions; }
    IFrameRateList* GetFrameRateList(int kind) override { return kind == 1 ? &rates : nullptr; }

    char model[64] = "";
    unsigned capabilities = 0;
    TextField fields[4];
    CustomEntry entries[CUSTOM_COUNT];
    ResolutionList resolutions;
    FrameRateList rates;
};

class QueryCallback : public ICapabilityQueryCallback {
public:
    void OnQuerySucceeded() override { Add(succeeded, 1); }
    void OnQueryFailed(int code, const char* text) override {
        failureCode = code;
        CopyText(message, sizeof message, text);
        Add(failed, 1);
    }
    void OnQueryThreadTerminated() override { Add(ended, 1); }

    unsigned succeeded = 0, failed = 0, ended = 0;
    int failureCode = 0;
    char message[256] = "";
};

class IOEventSink : public IIOEventSink {
public:
    void OnInputChanged(unsigned index, int state) override {
        if (index == 0 && state == 2)
            Store(input0Active, 1);
        Add(changes, 1);
    }
    void OnIOFailure() override { Add(failures, 1); }

    unsigned input0Active = 0, changes = 0, failures = 0;
};

// ---- The scenario -------------------------------------------------------------------------------

template <typename Function>
Function Export(Verdict& verdict, const char* name) {
    void* address = services->Export(name);
    verdict.Expect(address != nullptr, name);
    return reinterpret_cast<Function>(address);
}

// Probes the camera as a host does before configuring it; fills the custom parameters.
void Probe(Verdict& v, const MsAbiOptions& options, CustomParameters& custom, char* model) {
    auto create = Export<CreateCapabilityQueryModuleFn>(v, "CreateCapabilityQueryModule");
    auto destroy = Export<DeleteCapabilityQueryModuleFn>(v, "DeleteCapabilityQueryModule");
    if (!create || !destroy)
        return;
    QueryCallback callback;
    CapabilityResults results;
    IIPCapabilityQuery* query = create(&callback, 0);
    if (!v.Expect(query != nullptr, "CreateCapabilityQueryModule gives a module"))
        return;
    const int started =
        query->Start(options.address, options.port, options.user, options.password, &results);
    v.Expect(started != 0, "the capability query starts");
    v.Expect(WaitFor(30000, [&] { return Load(callback.succeeded) + Load(callback.failed) > 0; }),
             "the capability query reports within 30 s");
    v.Expect(Load(callback.succeeded) == 1, "the capability query succeeds");
    destroy(query);
    v.Expect(callback.ended == 0, "the query thread ended by itself (no forced end reported)");
    v.Expect(results.model[0] != 0, "the query reports a model");
    v.Expect(results.resolutions.count > 0 && results.rates.count > 0,
             "the query reports picture sizes and frame periods");
    for (int i = 0; i < CUSTOM_COUNT; ++i) {
        const CustomEntry& entry = results.entries[i];
        CopyText(custom.values[i], sizeof custom.values[i], entry.value);
        CopyText(custom.names[i], sizeof custom.names[i], entry.name);
        custom.set[i] = entry.set;
        v.Expect(entry.set && entry.name[0] && entry.option == 0, "a custom parameter entry");
    }
    CopyText(model, 64, results.model);
    Say("probe: model %s, %u picture sizes, %u frame periods, MAC %s, %u capabilities",
        results.model, results.resolutions.count, results.rates.count, custom.values[5],
        results.capabilities);
}

// What a host hands one driver: log receiver, frame allocator, device configuration and the
// channel's sink.
struct DriverHost {
    DriverHost(const MsAbiOptions& options, int codec, const CustomParameters& custom,
               const char* model, MsAbiStream stream, unsigned fourcc)
        : config(options, codec, custom), sink(stream, fourcc) {
        CopyText(config.device.model, sizeof config.device.model, model);
    }

    IIPCaptureDriverEx3* Open(Verdict& v, IIPCaptureDriverEx3* driver) {
        if (!v.Expect(driver != nullptr, "Create* gives a driver"))
            return nullptr;
        v.Expect(driver->Open(&log, &frames, &config), "Open");
        v.Expect(driver->GetOptionalApi1() == nullptr && driver->GetOptionalApi2() == nullptr,
                 "the optional operations give null");
        v.Expect(driver->GetVideoCaptureEx() == driver->GetVideoCapture(),
                 "GetVideoCaptureEx and GetVideoCapture give one object");
        return driver;
    }

    // After the driver went: every frame it asked for came back.
    void Finish(Verdict& v, const char* name, const char* deletedThrough) {
        v.Expect(frames.allocated == frames.released, "every allocated frame was released");
        v.Expect(frames.badRequests == 0,
                 "every frame request names a FourCC, a size and a source");
        Say("%s driver: %u log lines (%u errors), %u frames allocated and released, deleted "
            "through %s",
            name, log.lines, log.errors, frames.allocated, deletedThrough);
    }

    LogReceiver log;
    FrameAllocator frames;
    DeviceConfig config;
    CaptureSink sink;
};

// Streams one channel until it delivered `count` pictures.
void Stream(Verdict& v, IIPCaptureDriverEx3* driver, CaptureSink& sink, uint16_t width,
            uint16_t height, unsigned count, const char* name) {
    IIPVideoCaptureEx* video = driver->GetVideoCaptureEx();
    if (!v.Expect(video != nullptr, "the driver has a video capture object"))
        return;
    v.Expect(video->GetChannelCount() == 1, "one channel");
    v.Expect(video->Reserved5() == 0 && !video->Reserved7(0, 0, nullptr) &&
                 !video->Reserved8(0, 0, nullptr),
             "the constant operations of the video capture object");
    ChannelConfig config(width, height);
    v.Expect(video->StartChannel(0, &sink, &config), "StartChannel");
    const unsigned start = services->Milliseconds();
    v.Expect(WaitFor(60000, [&] { return Load(sink.frames) >= count; }), "pictures arrive");
    const unsigned elapsed = services->Milliseconds() - start;
    int state = -1, detail = -1;
    char text[128] = "";
    v.Expect(video->GetChannelState(0, &state, &detail, text, sizeof text), "GetChannelState");
    v.Expect(video->PauseChannel(0) && video->ResumeChannel(0), "PauseChannel and ResumeChannel");
    v.Expect(video->StopChannel(0), "StopChannel");
    v.Expect(sink.malformed == 0, "every picture is filled as the contract says");
    Say("%s: %u pictures (%u key) of %ux%u in %u ms, state %d/%d \"%s\", %u malformed", name,
        sink.frames, sink.keyFrames, sink.width, sink.height, elapsed, state, detail, text,
        sink.malformed);
}

void SteerPtz(Verdict& v, IIPCaptureDriverEx3* driver) {
    IIPPTZDriverEx* ptz = driver->GetPTZDriverEx();
    if (!v.Expect(ptz != nullptr && driver->GetPTZDriver() == ptz, "one PTZ handler"))
        return;
    IIPPTZApiEx* api = ptz->GetPTZApiEx(0);
    if (!v.Expect(api != nullptr && ptz->GetPTZApi(0) == api, "one PTZ control for channel 0"))
        return;
    PTZ_CAPABILITIES caps;
    __builtin_memset(&caps, 0x5A, sizeof caps);
    v.Expect(api->GetCapabilities(&caps) == PTZ_OK, "GetCapabilities");
    v.Expect(caps.hostField == 0x5A5A5A5A && caps.zoom == 1 && caps.maxPrepositions > 0 &&
                 caps.areaZoom == 0 && caps.unzoom == 1,
             "the capability record is filled field by field as Windows lays it out");
    v.Expect(api->IsFeatureSupported(1) && !api->IsFeatureSupported(2), "IsFeatureSupported");
    api->RemovePreposition("msabi");
    const int added = api->AddPreposition("msabi");
    // A move leaves the stored position, so the recall goes to the camera.
    v.Expect(api->StartMove(2, 5) == PTZ_OK && api->Stop() == PTZ_OK, "a move and its stop");
    const int recalled = api->GotoPreposition(0, "msabi");
    char name[32] = "";
    const int named = api->GetCurrentPrepositionName(name, sizeof name);
    v.Expect(added == PTZ_OK && recalled == PTZ_OK, "a preset is stored and recalled");
    v.Expect(named == PTZ_OK && __builtin_strcmp(name, "msabi") == 0, "the current preset's name");
    v.Expect(api->GetPrepositionCount() >= 1, "GetPrepositionCount");
    v.Expect(api->RemovePreposition("msabi") == PTZ_OK, "the preset is removed");
    Say("ptz: add %d, recall %d, current \"%s\", max presets %d", added, recalled, name,
        caps.maxPrepositions);
}

// The video of the first driver, with its I/O running beside it; deleted through DeleteIPCapture.
void RunH264Driver(Verdict& v, const MsAbiOptions& options, const CustomParameters& custom,
                   const char* model) {
    auto create = Export<CreateIPCaptureEx3Fn>(v, "CreateIPCaptureEx3");
    auto destroy = Export<void (*)(IIPCaptureDriver*)>(v, "DeleteIPCapture");
    if (!create || !destroy)
        return;
    DriverHost host(options, 3, custom, model, MSABI_H264, FOURCC_H264);
    IOEventSink ioSink;
    IIPCaptureDriverEx3* driver = host.Open(v, create());
    if (!driver)
        return;
    ICaptureIOApi* io = driver->GetCaptureIOApi();
    if (v.Expect(io != nullptr, "the driver has an I/O object")) {
        v.Expect(io->GetInputCount() == 1 && io->GetOutputCount() == 1, "the I/O counts");
        v.Expect(io->SetEventSink(&ioSink) && io->StartIO(), "SetEventSink and StartIO");
        v.Expect(io->SetOutput(0, 2), "SetOutput(0, active)");
    }
    Stream(v, driver, host.sink, 1920, 1080, options.h264Frames, "h264");
    SteerPtz(v, driver);
    if (io) {
        v.Expect(WaitFor(20000, [&] { return Load(ioSink.input0Active) != 0; }),
                 "input 0 is seen going active");
        v.Expect(io->StopIO(), "StopIO");
        Say("io: %u input changes, %u failures", ioSink.changes, ioSink.failures);
    }
    driver->Close();
    destroy(driver);
    host.Finish(v, "h264", "DeleteIPCapture");
}

// The Motion-JPEG driver; deleted through its destructor position, as this compiler's delete does.
void RunMjpegDriver(Verdict& v, const MsAbiOptions& options, const CustomParameters& custom,
                    const char* model) {
    auto create = Export<CreateIPCaptureEx3Fn>(v, "CreateIPCaptureEx3");
    if (!create)
        return;
    DriverHost host(options, 1, custom, model, MSABI_MJPEG, FOURCC_JPEG);
    IIPCaptureDriverEx3* driver = host.Open(v, create());
    if (!driver)
        return;
    Stream(v, driver, host.sink, 1280, 720, options.mjpegFrames, "mjpeg");
    IIPCaptureDriver* base = driver;
    delete base;  // no Close first: deletion closes
    host.Finish(v, "mjpeg", "its destructor position");
}

}  // namespace

extern "C" int TavrinMsAbiHostRun(const MsAbiServices* host, const MsAbiOptions* options) {
    services = host;
    Verdict verdict;
    static_assert(sizeof(bool) == 1 && sizeof(SYSTEMTIME) == 16 && sizeof(PTZ_CAPABILITIES) == 56,
                  "records as Windows lays them out");
    CustomParameters custom;
    char model[64] = "";
    Probe(verdict, *options, custom, model);
    RunH264Driver(verdict, *options, custom, model);
    RunMjpegDriver(verdict, *options, custom, model);
    Say("%d failed steps", verdict.failures);
    return verdict.failures;
}
