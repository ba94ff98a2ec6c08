#include "host/ptz_command.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "host/bundled_camera.h"
#include "host/capture_sink.h"
#include "host/channel_config.h"
#include "host/device_config.h"
#include "host/driver_library.h"
#include "host/frames.h"
#include "host/log_receiver.h"
#include "norvane/ptz.h"

namespace host {

namespace {

using norvane::IIPPTZApiEx;

constexpr const char* kOperationPath = "/cgi-bin/opecmd.cgi";

// The operation requests the bundled camera received; nothing without one.
void PrintOperationRequests(camsim::Camera* camera) {
    if (!camera)
        return;
    std::printf("camera received:\n");
    for (const camsim::HttpRequest& request : camera->HttpRequests())
        if (request.path == kOperationPath)
            std::printf("  %s\n", request.target.c_str());
}

std::unique_ptr<camsim::Camera> StartSimulator(PtzOptions& o, DeviceConfig& config) {
    camsim::CameraConfig camera;
    camera.personality = SimulatorPersonality(o.camera.model, 320, 240);
    camera.mediaDir = o.camera.media;
    camera.jpegMedia = JpegMediaFor(320, 240).name;
    camera.user = o.camera.user;
    camera.password = o.camera.password;
    camera.auth = o.camera.user.empty() ? camsim::HttpAuthConfig::Mode::None
                                        : camsim::HttpAuthConfig::Mode::Digest;
    auto simulator = std::make_unique<camsim::Camera>(camera);
    if (!simulator->Start())
        return nullptr;
    config.custom = CustomParameters(camera.personality, simulator->RtspPort());
    o.camera.address = "127.0.0.1";
    o.camera.port = simulator->HttpPort();
    std::printf("bundled camera simulator %s on 127.0.0.1:%u\n", o.camera.model.c_str(),
                o.camera.port);
    return simulator;
}

// Runs the requested operations in a fixed order, printing each result; false when one failed.
class PtzSession {
public:
    PtzSession(IIPPTZApiEx& ptz, const PtzOptions& o) : ptz_(ptz), o_(o) {}

    bool Result(const std::string& what, int code) {
        std::printf("%-28s %d\n", what.c_str(), code);
        ok_ = ok_ && code == norvane::PTZ_OK;
        return code == norvane::PTZ_OK;
    }

    // Starts a continuous command, keeps it going for --for, then stops it.
    void Hold(const std::string& what, int code) {
        if (Result(what, code)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(o_.forMs));
            Result("stop", ptz_.Stop());
        }
    }

    void Continuous() {
        const int s = o_.speed;
        if (o_.move >= 0)
            Hold("move " + std::to_string(o_.move) + " speed " + std::to_string(s),
                 ptz_.StartMove(o_.move, s));
        if (!o_.zoom.empty())
            Hold("zoom " + o_.zoom, o_.zoom == "in" ? ptz_.StartZoom8(s) : ptz_.StartZoom9(s));
        if (!o_.focus.empty())
            Hold("focus " + o_.focus,
                 o_.focus == "near" ? ptz_.StartFocus1(s) : ptz_.StartFocus2(s));
        if (!o_.iris.empty())
            Hold("iris " + o_.iris, o_.iris == "open" ? ptz_.StartIris3(s) : ptz_.StartIris4(s));
        if (o_.unzoom)
            Result("unzoom", ptz_.Unzoom(1));
    }

    void Center(int x, int y) {
        Result("center " + std::to_string(x) + "," + std::to_string(y),
               ptz_.Center(x, y, o_.speed));
    }

    void Presets() {
        if (!o_.presetAdd.empty())
            Result("preset-add " + o_.presetAdd, ptz_.AddPreposition(o_.presetAdd.c_str()));
        if (!o_.presetGoto.empty())
            Result("preset-goto " + o_.presetGoto, ptz_.GotoPreposition(0, o_.presetGoto.c_str()));
        if (!o_.presetRemove.empty())
            Result("preset-remove " + o_.presetRemove,
                   ptz_.RemovePreposition(o_.presetRemove.c_str()));
        if (o_.presetList) {
            const int count = ptz_.GetPrepositionCount();
            std::printf("presets: %d\n", count);
            for (int i = 0; i < count; ++i) {
                char name[256] = {};
                if (ptz_.GetPrepositionName(i, name, sizeof name) == norvane::PTZ_OK)
                    std::printf("  %d %s\n", i, name);
            }
        }
    }

    bool Ok() const { return ok_; }

private:
    IIPPTZApiEx& ptz_;
    const PtzOptions& o_;
    bool ok_ = true;
};

bool ParsePoint(const std::string& text, int& x, int& y) {
    char tail = 0;
    return std::sscanf(text.c_str(), "%d,%d%c", &x, &y, &tail) == 2;
}

// The driver learns the picture size from delivered pictures: run channel 0 as Motion-JPEG
// until one arrives.
bool LearnPictureSize(norvane::ipcapture::IIPVideoCaptureEx* video, CaptureSink& sink) {
    ChannelConfig channel(320, 240);
    return video && video->StartChannel(0, &sink, &channel) &&
           sink.WaitForFrames(1, std::chrono::seconds(10));
}

// The device the bundled or given camera is configured as: channel 0 to --channel, Motion-JPEG,
// and the custom parameters --mac and --group name.
void ConfigureDevice(DeviceConfig& config, const PtzOptions& o) {
    ConfigureCamera(config, o.camera, o.channel + 1, 1);
    FillCustomParameterGaps(config.custom);
    if (!o.mac.empty())
        config.SetCustomParameter(6, o.mac);
    if (o.group)
        config.SetCustomParameter(3, std::to_string(o.group));
}

// Runs the requested operations on the channel's PTZ control; false when one failed or the
// driver offers none. `sink` takes channel 0's pictures while --center learns the picture size.
bool Steer(norvane::ipcapture::IIPCaptureDriverEx3& driver, const PtzOptions& o, int x, int y,
           CaptureSink& sink) {
    norvane::IIPPTZDriverEx* handler = driver.GetPTZDriverEx();
    IIPPTZApiEx* ptz = handler ? handler->GetPTZApiEx(o.channel) : nullptr;
    if (!ptz) {
        std::fprintf(stderr, "tavrin-host ptz: the driver offers no PTZ control for channel %d\n",
                     o.channel);
        return false;
    }
    PtzSession session(*ptz, o);
    session.Continuous();
    if (!o.center.empty()) {
        if (!LearnPictureSize(driver.GetVideoCaptureEx(), sink))
            std::printf(
                "note: no picture arrived, so the driver knows no picture size and "
                "sends no centre request (give --media with the simulator)\n");
        session.Center(x, y);
    }
    session.Presets();
    return session.Ok();
}

// The driver's errors and warnings.
void PrintComplaints(LogReceiver& log) {
    for (const LogRecord& record : log.Records())
        if (record.level == 1 || record.level == 2)
            std::fprintf(stderr, "driver: %s\n", record.text.c_str());
}

// Opens the driver on `config`, steers and closes it: 0 when every operation succeeded, 1 when
// one did not, 2 when the driver did not open.
int SteerThroughDriver(const DriverLibrary& library, DeviceConfig& config, const PtzOptions& o,
                       int x, int y) {
    LogReceiver log;
    FrameAllocator frames;
    CaptureSink sink;
    auto* driver = library.CreateDriver();
    if (!driver || !driver->Open(&log, &frames, &config)) {
        std::fprintf(stderr, "tavrin-host ptz: the driver did not open\n");
        library.DeleteDriver(driver);
        return 2;
    }
    const bool ok = Steer(*driver, o, x, y, sink);
    // Close returns once every command accepted above has reached a camera that answers (within
    // the request time-out), whether it is the bundled one or not.
    driver->Close();
    library.DeleteDriver(driver);
    PrintComplaints(log);
    return ok ? 0 : 1;
}

}  // namespace

int RunPtzCommand(PtzOptions& o, const std::string& media) {
    if (o.camera.media.empty())
        o.camera.media = media;
    int x = 0, y = 0;
    if (!o.center.empty() && !ParsePoint(o.center, x, y)) {
        std::fprintf(stderr, "tavrin-host ptz: --center takes X,Y\n");
        return 2;
    }
    DriverLibrary library;
    if (!library.Load(o.camera.library)) {
        std::fprintf(stderr, "tavrin-host ptz: %s\n", library.Error().c_str());
        return 2;
    }
    DeviceConfig config;
    std::unique_ptr<camsim::Camera> simulator;
    if (o.camera.address.empty() && !(simulator = StartSimulator(o, config))) {
        std::fprintf(stderr, "tavrin-host ptz: the bundled simulator did not start\n");
        return 2;
    }
    ConfigureDevice(config, o);
    const int steered = SteerThroughDriver(library, config, o, x, y);
    if (steered == 2)
        return 2;
    PrintOperationRequests(simulator.get());
    return steered == 0 && TookEveryRequest(simulator.get()) ? 0 : 1;
}

}  // namespace host
