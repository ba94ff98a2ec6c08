// tavrin-host: a recording-server stand-in that loads Tavrin.so, runs one camera through it and
// streams its channels to files.
#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define STDOUT_FILENO 1
#else
#include <unistd.h>
#endif

#include <CLI/CLI.hpp>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "host/bundled_camera.h"
#include "host/camera_options.h"
#include "host/channel_config.h"
#include "host/contact_sheet.h"
#include "host/device_config.h"
#include "host/driver_library.h"
#include "host/frames.h"
#include "host/io_command.h"
#include "host/log_receiver.h"
#include "host/module_loader.h"
#include "host/probe_command.h"
#include "host/ptz_command.h"
#include "host/run_report.h"
#include "host/stream_session.h"

namespace {

struct Options {
    host::CameraOptions camera;
    int codec = 3;
    int channels = 1;
    uint16_t width = 1920;  // 1280x720 for Motion-JPEG unless given
    uint16_t height = 1080;
    uint16_t framePeriod = 40;
    uint16_t quality = 50;
    unsigned seconds = 10;
    std::string out = "tavrin-out";
    size_t queue = 100;
    std::map<int, std::string> custom;
    std::string rtspTransport = "auto";
};

constexpr int kTransportParameter = 10;  // the driver's RTP transport choice

const char* const kFooter =
    "Status and summary: frames are what the driver delivered; key frames are \"H264\" access "
    "units (key frame with its SPS) and \"JPEG\" pictures. \"lost\" counts only what a host can "
    "see: the driver's signal-loss notices, frames the host's allocator refused and frames the "
    "writer dropped because the disk fell behind; pictures the camera never sent or the driver "
    "discarded are not visible to a host. Exit code 0 when every channel started and delivered "
    "frames, 1 when one did not, 2 when the library or the simulator could not be used.";

void Describe(CLI::App& app, Options& o) {
    host::AddCameraOptions(app, o.camera);
    app.add_option("--codec", o.codec, "Codec type: 1 Motion-JPEG, 3 H.264")
        ->check(CLI::IsMember({1, 3}))
        ->capture_default_str();
    app.add_option("--channels", o.channels, "Number of video channels")
        ->check(CLI::Range(1, 16))
        ->capture_default_str();
    app.add_option("--width", o.width,
                   "Requested picture width (default 1920 for H.264, 1280 for Motion-JPEG, which "
                   "the driver receives over HTTP above 1600)");
    app.add_option("--height", o.height, "Requested picture height (default 1080 or 720)");
    app.add_option("--frame-period", o.framePeriod, "Frame period in ms (40: 25 fps)")
        ->capture_default_str();
    app.add_option("--quality", o.quality, "Picture quality 1 to 100")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    app.add_option("--seconds", o.seconds, "How long to stream")
        ->check(CLI::Range(1u, 86400u))
        ->capture_default_str();
    app.add_option("--out", o.out,
                   "Output folder: channel-N.h264/.mjpeg, summary.json, driver.log, report.html")
        ->capture_default_str();
    app.add_option("--queue", o.queue, "Frames queued per channel before the oldest is dropped")
        ->check(CLI::Range(size_t{1}, size_t{10000}))
        ->capture_default_str();
    app.add_option("--rtsp-transport", o.rtspTransport,
                   "RTP transport of RTSP channels, handed to the driver as custom parameter 10: "
                   "auto (UDP, TCP where UDP fails), udp or tcp (interleaved on the RTSP "
                   "connection)")
        ->check(CLI::IsMember({"auto", "udp", "tcp"}))
        ->capture_default_str();
    app.add_option("--custom", o.custom,
                   "Custom parameter as NUMBER TEXT (repeatable), e.g. --custom 7 V2.03; these "
                   "override what the capability query before streaming gives");
    app.footer(kFooter);
}

// The file's version: its version resource on Windows, its version note on Linux.
void PrintDriverFile(const std::string& path) {
    std::array<uint16_t, 4> v{};
    if (host::FileVersion(path, v))
        std::printf("driver file: %s, version %u.%u.%u.%u\n", path.c_str(), v[0], v[1], v[2], v[3]);
    else
        std::printf("driver file: %s, no version\n", path.c_str());
}

// Starts the bundled simulator and points the options at it; null when it did not start.
std::unique_ptr<camsim::Camera> StartSimulator(Options& o) {
    auto simulator = host::StartBundledCamera(
        {o.camera.model, o.width, o.height, o.camera.user, o.camera.password, o.camera.media});
    if (!simulator)
        return nullptr;
    const host::SimulatorMedia media = o.codec == 3 ? host::H264MediaFor(o.width, o.height)
                                                    : host::JpegMediaFor(o.width, o.height);
    o.camera.address = "127.0.0.1";
    o.camera.port = simulator->HttpPort();
    std::printf("bundled camera simulator %s on 127.0.0.1:%u (RTSP %u), serving %ux%u media\n",
                o.camera.model.c_str(), o.camera.port, simulator->RtspPort(), media.width,
                media.height);
    if (media.width != o.width || media.height != o.height)
        std::printf("note: the simulator does not scale; %ux%u was asked for\n", o.width, o.height);
    return simulator;
}

std::map<int, size_t> CountLevels(host::LogReceiver& log) {
    std::map<int, size_t> levels;
    for (const host::LogRecord& record : log.Records())
        ++levels[record.level];
    return levels;
}

void MakeContactSheets(const Options& o, const host::RunSummary& run) {
    if (!host::FfmpegInstalled()) {
        std::printf("ffmpeg is not installed: no contact sheet\n");
        return;
    }
    for (const host::ChannelSummary& c : run.channels) {
        if (c.counts.frames == 0)
            continue;
        const std::string sheet = o.out + "/contact-" + std::to_string(c.index) + ".png";
        const bool made = host::MakeContactSheet(o.out + "/" + c.file, sheet);
        std::printf("%s %s\n",
                    made ? "contact sheet" : "no contact sheet (ffmpeg failed):", sheet.c_str());
    }
}

}  // namespace

// The plug-in an installed tavrin-host finds relative to its own folder, else the build tree's.
std::string DefaultLibrary() {
    const std::filesystem::path installed =
        std::filesystem::path(host::ExecutableDirectory()) / TAVRIN_INSTALLED_LIBRARY;
    std::error_code error;
    return std::filesystem::is_regular_file(installed, error) ? installed.lexically_normal().string()
                                                              : TAVRIN_DEFAULT_LIBRARY;
}

int main(int argc, char** argv) {
    CLI::App app{
        "tavrin-host: loads the Tavrin driver library as a recording server does, opens "
        "one camera, streams its channels to files for a bounded time with a live status "
        "line per channel, and writes a summary."};
    Options o;
    const std::string defaultLibrary = DefaultLibrary();
    o.camera.library = defaultLibrary;
    Describe(app, o);
    host::IOOptions io;
    host::AddIOOptions(app, io);
    int probeExit = -1;
    host::AddProbeCommand(app, defaultLibrary, probeExit);
    host::PtzOptions ptz;
    ptz.camera.library = defaultLibrary;
    CLI::App* ptzCommand = host::AddPtzCommand(app, ptz);
    CLI11_PARSE(app, argc, argv);
    if (probeExit >= 0)
        return probeExit;
    if (ptzCommand->parsed())
        return host::RunPtzCommand(ptz, o.camera.media);
    if (o.codec == 1 && !app.count("--width") && !app.count("--height"))
        o.width = 1280, o.height = 720;

    host::StopSignal stop;  // before any other thread starts
    host::DriverLibrary library;
    if (!library.Load(o.camera.library)) {
        std::fprintf(stderr, "tavrin-host: %s\n", library.Error().c_str());
        return 2;
    }
    PrintDriverFile(o.camera.library);
    std::unique_ptr<camsim::Camera> simulator;
    if (o.camera.address.empty() && !(simulator = StartSimulator(o))) {
        std::fprintf(stderr, "tavrin-host: the bundled simulator did not start\n");
        return 2;
    }
    host::ReportInput report;
    report.camera = o.camera.address + ":" + std::to_string(o.camera.port);
    o.custom = host::ProbeCustomParameters(
        library, {o.camera.address, o.camera.port, o.camera.user, o.camera.password}, o.custom,
        &report.probe);
    if (app.count("--rtsp-transport") || !o.custom.count(kTransportParameter))
        o.custom[kTransportParameter] = o.rtspTransport;
    // The driver reads custom parameters up to the first one missing: a host hands over those
    // before the transport, "(none)" where it stores nothing.
    for (int n = 1; n < kTransportParameter; ++n)
        o.custom.emplace(n, "(none)");
    std::error_code made;
    std::filesystem::create_directories(o.out, made);
    const std::string logPath = o.out + "/driver.log";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> logFile(std::fopen(logPath.c_str(), "w"),
                                                            &std::fclose);
    host::LogReceiver log(logFile.get());
    host::FrameAllocator frames;
    host::DeviceConfig config;
    config.device.model = o.camera.model;
    config.device.channelCount = o.channels;
    config.connection.address = o.camera.address;
    config.connection.port = o.camera.port;
    config.connection.userName = o.camera.user;
    config.connection.password = o.camera.password;
    config.connection.codecType = o.codec;
    config.custom = o.custom;
    std::string ioError;
    if (!host::ApplyIOOptions(io, simulator.get(), config.device.inputCount,
                              config.device.outputCount, ioError)) {
        std::fprintf(stderr, "tavrin-host: %s\n", ioError.c_str());
        return 2;
    }

    auto* driver = library.CreateDriver();
    if (!driver || !driver->Open(&log, &frames, &config)) {
        std::fprintf(stderr, "tavrin-host: the driver did not open (see %s)\n", logPath.c_str());
        library.DeleteDriver(driver);
        return 1;
    }
    auto* video = driver->GetVideoCaptureEx();
    host::ChannelConfig channel(o.width, o.height);
    channel.stream.framePeriodMs = o.framePeriod;
    channel.stream.quality = o.quality;
    channel.stream.motionDetection = io.motion;
    host::RunSummary run;
    host::IOSession ioSession(driver->GetCaptureIOApi(), stdout);
    if ((io.io || !io.setOutputs.empty()) && !ioSession.Start(io, ioError))
        std::fprintf(stderr, "tavrin-host: %s\n", ioError.c_str());
    if (video) {
        host::StreamSession session(*video, channel, {o.out, o.codec, o.queue});
        session.SetMotionCallback([](unsigned i, const host::DeliveredFrame& f) {
            std::printf("%s\n", host::DescribeMotionRecord(i, f).c_str());
        });
        std::string error;
        if (session.Open(error)) {
            if (!session.Start())
                std::printf("a channel did not start\n");
            host::StatusLine status(stdout, isatty(STDOUT_FILENO));
            run.interrupted = session.Run(std::chrono::seconds(o.seconds), stop, status);
        } else {
            std::fprintf(stderr, "tavrin-host: %s\n", error.c_str());
        }
        run.channels = session.Stop();
        host::TakeTimelines(report, session);
    }
    ioSession.Stop();
    run.inputChanges = ioSession.Sink().ChangeCount();
    run.ioFailures = ioSession.Sink().FailureCount();
    driver->Close();
    library.DeleteDriver(driver);
    run.logLevels = CountLevels(log);
    run.refusedFrames = frames.Refused();
    std::ofstream(o.out + "/summary.json") << host::SummaryJson(run);
    std::printf("%s%s\n", run.interrupted ? "interrupted\n" : "", host::SummaryTable(run).c_str());
    std::printf("files in %s (summary.json, driver.log)\n", o.out.c_str());
    MakeContactSheets(o, run);
    report.run = run;
    report.log = log.Records();
    report.io = ioSession.Sink().Events();
    std::printf("%s %s/report.html\n",
                host::WriteRunReport(std::move(report), o.out) ? "report" : "could not write",
                o.out.c_str());
    return host::TookEveryRequest(simulator.get()) ? host::ExitCode(run) : 1;
}
