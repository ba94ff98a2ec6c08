#include "host/stream_command.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define STDOUT_FILENO 1
#else
#include <unistd.h>
#endif

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "host/bundled_camera.h"
#include "host/channel_config.h"
#include "host/contact_sheet.h"
#include "host/device_config.h"
#include "host/driver_library.h"
#include "host/frames.h"
#include "host/log_receiver.h"
#include "host/module_loader.h"
#include "host/probe_command.h"
#include "host/run_report.h"
#include "host/stop_signal.h"
#include "host/stream_session.h"

namespace host {

namespace {

constexpr int kTransportParameter = 10;  // the driver's RTP transport choice

// The file's version: its version resource on Windows, its version note on Linux.
void PrintDriverFile(const std::string& path) {
    std::array<uint16_t, 4> v{};
    if (FileVersion(path, v))
        std::printf("driver file: %s, version %u.%u.%u.%u\n", path.c_str(), v[0], v[1], v[2], v[3]);
    else
        std::printf("driver file: %s, no version\n", path.c_str());
}

// Starts the bundled simulator and points the options at it; null when it did not start.
std::unique_ptr<camsim::Camera> StartSimulator(StreamOptions& o) {
    auto simulator = StartBundledCamera(
        {o.camera.model, o.width, o.height, o.camera.user, o.camera.password, o.camera.media});
    if (!simulator)
        return nullptr;
    const SimulatorMedia media =
        o.codec == 3 ? H264MediaFor(o.width, o.height) : JpegMediaFor(o.width, o.height);
    o.camera.address = "127.0.0.1";
    o.camera.port = simulator->HttpPort();
    std::printf("bundled camera simulator %s on 127.0.0.1:%u (RTSP %u), serving %ux%u media\n",
                o.camera.model.c_str(), o.camera.port, simulator->RtspPort(), media.width,
                media.height);
    if (media.width != o.width || media.height != o.height)
        std::printf("note: the simulator does not scale; %ux%u was asked for\n", o.width, o.height);
    return simulator;
}

void MakeContactSheets(const StreamOptions& o, const RunSummary& run) {
    if (!FfmpegInstalled()) {
        std::printf("ffmpeg is not installed: no contact sheet\n");
        return;
    }
    for (const ChannelSummary& c : run.channels) {
        if (c.counts.frames == 0)
            continue;
        const std::string sheet = o.out + "/contact-" + std::to_string(c.index) + ".png";
        const bool made = MakeContactSheet(o.out + "/" + c.file, sheet);
        std::printf("%s %s\n",
                    made ? "contact sheet" : "no contact sheet (ffmpeg failed):", sheet.c_str());
    }
}

// One streaming run, from loading the library to the report. The members are declared in the
// order the run needs them, so that they end in the reverse order.
class StreamRun {
public:
    explicit StreamRun(StreamOptions& o) : o_(o) {}
    int Run();

private:
    bool Prepare();
    void ProbeCamera();
    void OpenLog();
    bool Configure();
    bool Drive();
    void Capture(norvane::ipcapture::IIPCaptureDriverEx3& driver);
    void StreamChannels(norvane::ipcapture::IIPVideoCaptureEx& video);
    void Finish();

    StreamOptions& o_;
    StopSignal stop_;  // before any other thread starts
    DriverLibrary library_;
    std::unique_ptr<camsim::Camera> simulator_;
    ReportInput report_;
    const std::string logPath_ = o_.out + "/driver.log";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> logFile_{nullptr, &std::fclose};
    std::unique_ptr<LogReceiver> log_;
    FrameAllocator frames_;
    DeviceConfig config_;
    RunSummary run_;
};

int StreamRun::Run() {
    if (!Prepare())
        return 2;
    ProbeCamera();
    OpenLog();
    if (!Configure())
        return 2;
    if (!Drive())
        return 1;
    Finish();
    return TookEveryRequest(simulator_.get()) ? ExitCode(run_) : 1;
}

// Loads the library and starts the bundled simulator unless a camera is given.
bool StreamRun::Prepare() {
    if (!library_.Load(o_.camera.library)) {
        std::fprintf(stderr, "tavrin-host: %s\n", library_.Error().c_str());
        return false;
    }
    PrintDriverFile(o_.camera.library);
    if (o_.camera.address.empty() && !(simulator_ = StartSimulator(o_))) {
        std::fprintf(stderr, "tavrin-host: the bundled simulator did not start\n");
        return false;
    }
    return true;
}

void StreamRun::ProbeCamera() {
    const CameraOptions& camera = o_.camera;
    report_.camera = camera.address + ":" + std::to_string(camera.port);
    const std::map<int, std::string> probed =
        ProbeCustomParameters(library_, {camera.address, camera.port, camera.user, camera.password},
                              o_.custom, &report_.probe);
    o_.custom = DriverCustomParameters(o_, probed);
}

void StreamRun::OpenLog() {
    std::error_code made;
    std::filesystem::create_directories(o_.out, made);
    logFile_.reset(std::fopen(logPath_.c_str(), "w"));
    log_ = std::make_unique<LogReceiver>(logFile_.get());
}

// The device as the options give it; false (printed) when the I/O options do not apply.
bool StreamRun::Configure() {
    ConfigureCamera(config_, o_.camera, o_.channels, o_.codec);
    config_.custom = o_.custom;
    std::string error;
    if (ApplyIOOptions(o_.io, simulator_.get(), config_.device.inputCount,
                       config_.device.outputCount, error))
        return true;
    std::fprintf(stderr, "tavrin-host: %s\n", error.c_str());
    return false;
}

// Opens the driver, captures and closes it; false when it did not open.
bool StreamRun::Drive() {
    auto* driver = library_.CreateDriver();
    if (!driver || !driver->Open(log_.get(), &frames_, &config_)) {
        std::fprintf(stderr, "tavrin-host: the driver did not open (see %s)\n", logPath_.c_str());
        library_.DeleteDriver(driver);
        return false;
    }
    Capture(*driver);
    driver->Close();
    library_.DeleteDriver(driver);
    return true;
}

// Streams the channels with the driver's I/O around them, as the options ask.
void StreamRun::Capture(norvane::ipcapture::IIPCaptureDriverEx3& driver) {
    IOSession io(driver.GetCaptureIOApi(), stdout);
    std::string error;
    if ((o_.io.io || !o_.io.setOutputs.empty()) && !io.Start(o_.io, error))
        std::fprintf(stderr, "tavrin-host: %s\n", error.c_str());
    if (auto* video = driver.GetVideoCaptureEx())
        StreamChannels(*video);
    io.Stop();
    run_.inputChanges = io.Sink().ChangeCount();
    run_.ioFailures = io.Sink().FailureCount();
    report_.io = io.Sink().Events();
}

void StreamRun::StreamChannels(norvane::ipcapture::IIPVideoCaptureEx& video) {
    ChannelConfig channel(o_.width, o_.height);
    channel.stream.framePeriodMs = o_.framePeriod;
    channel.stream.quality = o_.quality;
    channel.stream.motionDetection = o_.io.motion;
    StreamSession session(video, channel, {o_.out, o_.codec, o_.queue});
    session.SetMotionCallback([](unsigned i, const DeliveredFrame& f) {
        std::printf("%s\n", DescribeMotionRecord(i, f).c_str());
    });
    std::string error;
    if (session.Open(error)) {
        if (!session.Start())
            std::printf("a channel did not start\n");
        StatusLine status(stdout, isatty(STDOUT_FILENO));
        run_.interrupted = session.Run(std::chrono::seconds(o_.seconds), stop_, status);
    } else {
        std::fprintf(stderr, "tavrin-host: %s\n", error.c_str());
    }
    run_.channels = session.Stop();
    TakeTimelines(report_, session);
}

// Writes summary.json, the contact sheets and report.html, and prints the closing table.
void StreamRun::Finish() {
    run_.logLevels = log_->LevelCounts();
    run_.refusedFrames = frames_.Refused();
    std::ofstream(o_.out + "/summary.json") << SummaryJson(run_);
    std::printf("%s%s\n", run_.interrupted ? "interrupted\n" : "", SummaryTable(run_).c_str());
    std::printf("files in %s (summary.json, driver.log)\n", o_.out.c_str());
    MakeContactSheets(o_, run_);
    report_.run = run_;
    report_.log = log_->Records();
    std::printf("%s %s/report.html\n",
                WriteRunReport(std::move(report_), o_.out) ? "report" : "could not write",
                o_.out.c_str());
}

}  // namespace

void ApplyDefaultSize(StreamOptions& o) {
    if (o.codec == 1 && !o.sizeGiven)
        o.width = 1280, o.height = 720;
}

std::map<int, std::string> DriverCustomParameters(const StreamOptions& o,
                                                  std::map<int, std::string> custom) {
    if (o.transportGiven || !custom.count(kTransportParameter))
        custom[kTransportParameter] = o.rtspTransport;
    FillCustomParameterGaps(custom);
    return custom;
}

int RunStreamCommand(StreamOptions& o) {
    ApplyDefaultSize(o);
    return StreamRun(o).Run();
}

}  // namespace host
