#include "host/ptz_command.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

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

// The operation requests the bundled camera received.
std::vector<std::string> OperationRequests(camsim::Camera* camera) {
    std::vector<std::string> targets;
    if (camera)
        for (const camsim::HttpRequest& request : camera->HttpRequests())
            if (request.path == kOperationPath)
                targets.push_back(request.target);
    return targets;
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

}  // namespace

CLI::App* AddPtzCommand(CLI::App& app, PtzOptions& o) {
    CLI::App* ptz = app.add_subcommand(
        "ptz",
        "Steer the camera's head and presets through the driver; prints each result code "
        "(1 success, -3 invalid argument, -18 failed, -19 not supported, -23 preset not "
        "found, -26 preset table full) and, against the bundled simulator, the operation "
        "requests the camera received.");
    AddCameraOptions(*ptz, o.camera);
    ptz->add_option("--mac", o.mac,
                    "Custom parameter 6, which names the preset file Sanyo_<mac>.preset beside "
                    "tavrin-host (default: the simulator's)");
    ptz->add_option(
        "--group", o.group,
        "Camera group, custom parameter 3 (2 and 4: zoom, focus and iris only, 8 presets)");
    ptz->add_option("--channel", o.channel, "PTZ channel")->capture_default_str();
    ptz->add_option("--move", o.move,
                    "Move in direction 0-7 (pan/tilt) or 8-9 (zoom) for --for ms, then stop")
        ->check(CLI::Range(0, 9));
    ptz->add_option("--speed", o.speed, "Speed 1 to 16")->capture_default_str();
    ptz->add_option("--for", o.forMs, "How long a move, zoom, focus or iris command runs, in ms")
        ->check(CLI::Range(0u, 60000u))
        ->capture_default_str();
    ptz->add_option("--zoom", o.zoom, "Zoom in or out for --for ms")
        ->check(CLI::IsMember({"in", "out"}));
    ptz->add_option("--focus", o.focus, "Focus near or far for --for ms")
        ->check(CLI::IsMember({"near", "far"}));
    ptz->add_option("--iris", o.iris, "Open or close the iris for --for ms")
        ->check(CLI::IsMember({"open", "close"}));
    ptz->add_option("--center", o.center, "Centre the picture on the point X,Y");
    ptz->add_flag("--unzoom", o.unzoom, "Zoom all the way out");
    ptz->add_option(
        "--preset-add", o.presetAdd,
        "Store the current position under NAME (renames the preset the head stands on)");
    ptz->add_option("--preset-goto", o.presetGoto, "Move to the preset NAME");
    ptz->add_option("--preset-remove", o.presetRemove, "Remove the preset NAME");
    ptz->add_flag("--preset-list", o.presetList, "List the channel's presets");
    return ptz;
}

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
    config.device.model = o.camera.model;
    config.device.channelCount = o.channel + 1;
    config.connection.address = o.camera.address;
    config.connection.port = o.camera.port;
    config.connection.userName = o.camera.user;
    config.connection.password = o.camera.password;
    config.connection.codecType = 1;
    // A host hands over all nine custom parameters, "(none)" where it stores nothing: the driver
    // reads them up to the first one missing.
    for (int n = 1; n <= 9; ++n)
        if (!config.custom.count(n))
            config.SetCustomParameter(n, "(none)");
    if (!o.mac.empty())
        config.SetCustomParameter(6, o.mac);
    if (o.group)
        config.SetCustomParameter(3, std::to_string(o.group));
    LogReceiver log;
    FrameAllocator frames;
    CaptureSink sink;
    auto* driver = library.CreateDriver();
    if (!driver || !driver->Open(&log, &frames, &config)) {
        std::fprintf(stderr, "tavrin-host ptz: the driver did not open\n");
        library.DeleteDriver(driver);
        return 2;
    }
    norvane::IIPPTZDriverEx* handler = driver->GetPTZDriverEx();
    IIPPTZApiEx* ptz = handler ? handler->GetPTZApiEx(o.channel) : nullptr;
    bool ok = ptz != nullptr;
    if (ptz) {
        PtzSession session(*ptz, o);
        session.Continuous();
        if (!o.center.empty()) {
            if (!LearnPictureSize(driver->GetVideoCaptureEx(), sink))
                std::printf(
                    "note: no picture arrived, so the driver knows no picture size and "
                    "sends no centre request (give --media with the simulator)\n");
            session.Center(x, y);
        }
        session.Presets();
        ok = session.Ok();
    } else {
        std::fprintf(stderr, "tavrin-host ptz: the driver offers no PTZ control for channel %d\n",
                     o.channel);
    }
    // Close returns once every command accepted above has reached a camera that answers (within
    // the request time-out), whether it is the bundled one or not.
    driver->Close();
    library.DeleteDriver(driver);
    for (const LogRecord& record : log.Records())
        if (record.level == 1 || record.level == 2)
            std::fprintf(stderr, "driver: %s\n", record.text.c_str());
    if (simulator) {
        std::printf("camera received:\n");
        for (const std::string& target : OperationRequests(simulator.get()))
            std::printf("  %s\n", target.c_str());
    }
    return ok && TookEveryRequest(simulator.get()) ? 0 : 1;
}

}  // namespace host
