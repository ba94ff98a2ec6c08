// tavrin-host: a recording-server stand-in that loads Tavrin.so and runs one camera through it.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>
#include <string>

#include "camsim/camera.h"
#include "host/capture_sink.h"
#include "host/channel_config.h"
#include "host/device_config.h"
#include "host/driver_library.h"
#include "host/frames.h"
#include "host/log_receiver.h"

namespace {

struct Options {
    std::string library = TAVRIN_DEFAULT_LIBRARY;
    std::string address;  // empty: the bundled camera simulator on loopback
    uint16_t port = 80;
    std::string user;
    std::string password;
    std::string model = "VCC-HD4000";
    int codec = 3;
    int channels = 1;
    uint16_t width = 640;
    uint16_t height = 480;
    std::map<int, std::string> custom;
    std::string media;
};

void Describe(CLI::App& app, Options& o) {
    app.add_option("--library", o.library, "Path of the driver library to load")->capture_default_str();
    app.add_option("--address", o.address,
                   "Camera host name or IPv4 address (default: start the bundled simulator)");
    app.add_option("--media", o.media, "Reference media folder for the bundled simulator");
    app.add_option("--port", o.port, "Camera HTTP port")->capture_default_str();
    app.add_option("--user", o.user, "Camera login");
    app.add_option("--password", o.password, "Camera password");
    app.add_option("--model", o.model, "Device model name as the host configures it")->capture_default_str();
    app.add_option("--codec", o.codec, "Codec type: 1 Motion-JPEG, 3 H.264")->capture_default_str();
    app.add_option("--channels", o.channels, "Number of video channels")->capture_default_str();
    app.add_option("--width", o.width, "Requested picture width")->capture_default_str();
    app.add_option("--height", o.height, "Requested picture height")->capture_default_str();
    app.add_option("--custom", o.custom,
                   "Custom parameter as NUMBER TEXT (repeatable), e.g. --custom 7 V2.03");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"tavrin-host: loads the Tavrin driver library as a recording server does, opens "
                 "one camera, starts its channels and reports what the driver says."};
    Options o;
    Describe(app, o);
    CLI11_PARSE(app, argc, argv);

    host::DriverLibrary library;
    if (!library.Load(o.library)) {
        std::fprintf(stderr, "tavrin-host: %s\n", library.Error().c_str());
        return 2;
    }
    std::unique_ptr<camsim::Camera> simulator;
    if (o.address.empty()) {
        camsim::CameraConfig camera;
        camera.personality = camsim::Personality::ForModel(o.model);
        camera.user = o.user;
        camera.password = o.password;
        camera.auth = o.user.empty() ? camsim::HttpAuthConfig::Mode::None
                                     : camsim::HttpAuthConfig::Mode::Digest;
        camera.mediaDir = o.media;
        simulator = std::make_unique<camsim::Camera>(camera);
        if (!simulator->Start()) {
            std::fprintf(stderr, "tavrin-host: the bundled simulator did not start\n");
            return 2;
        }
        o.address = "127.0.0.1";
        o.port = simulator->HttpPort();
        std::printf("bundled camera simulator %s on 127.0.0.1:%u\n", o.model.c_str(), o.port);
    }
    host::LogReceiver log(stdout);
    host::FrameAllocator frames;
    host::DeviceConfig config;
    config.device.model = o.model;
    config.device.channelCount = o.channels;
    config.connection.address = o.address;
    config.connection.port = o.port;
    config.connection.userName = o.user;
    config.connection.password = o.password;
    config.connection.codecType = o.codec;
    config.custom = o.custom;

    auto* driver = library.CreateDriver();
    if (!driver || !driver->Open(&log, &frames, &config)) {
        std::fprintf(stderr, "tavrin-host: the driver did not open\n");
        library.DeleteDriver(driver);
        return 1;
    }
    auto* video = driver->GetVideoCaptureEx();
    const unsigned count = video ? video->GetChannelCount() : 0;
    std::printf("driver opened: %u video channel(s), I/O %s, PTZ %s\n", count,
                driver->GetCaptureIOApi() ? "present" : "absent",
                driver->GetPTZDriver() ? "present" : "absent");
    host::CaptureSink sink;
    host::ChannelConfig channel(o.width, o.height);
    for (unsigned i = 0; i < count; ++i) {
        const bool started = video->StartChannel(i, &sink, &channel);
        int state = -1;
        const bool known = video->GetChannelState(i, &state, nullptr, nullptr, 0);
        std::printf("channel %u: %s (state %s)\n", i, started ? "started" : "not started",
                    known ? std::to_string(state).c_str() : "none");
        video->StopChannel(i);
    }
    driver->Close();
    library.DeleteDriver(driver);
    std::printf("driver closed\n");
    return 0;
}
