// tavrin-soak: a bounded soak of the driver as a recording server runs it. One host process loads
// Tavrin.so, streams N H.264 channels from tavrin-camsim (a separate process, so the figures are
// the host's alone), polls alarm I/O and motion, sends PTZ commands and toggles outputs, and once
// a period stops the simulator, keeps it away past the driver's offline judgement, starts it
// again and checks that every channel came back. Each period it prints one line of figures and
// fails on growth beyond the slack, a channel that did not come back, or a failed command.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "camsim/personality.h"
#include "host/bundled_camera.h"
#include "host/camsim_process.h"
#include "host/device_config.h"
#include "host/driver_library.h"
#include "host/frames.h"
#include "host/io_sink.h"
#include "host/log_receiver.h"
#include "host/process_figures.h"
#include "host/soak_channels.h"
#include "host/stop_signal.h"
#include "norvane/ptz.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kModel = "VCC-HD5600";  // full PTZ, two inputs, two outputs
constexpr const char* kPresetOwner = "Soak";  // names this run's preset file

struct Options {
    std::string library = TAVRIN_LIBRARY;
    std::string camsim = TAVRIN_CAMSIM;
    std::string media;
    std::string h264Media = "h264_1slice.264";  // 320x240 baseline: cheap even under TSan
    std::string logDir = ".";
    unsigned seconds = 300;
    unsigned period = 60;
    unsigned channels = 16;
    unsigned offlineSeconds = 22;  // past the driver's 20 s offline judgement
    unsigned backSeconds = 30;     // bound for every channel to deliver again
    // Growth allowed over the first period's figures. Threads and descriptors: the driver's
    // transient request threads and connections (an I/O poll, an output write, a PTZ command)
    // may be alive at the sample. Heap: the live heap (soak.sh turns glibc's per-thread caches
    // off, which it would count as in use; a sanitizer counts its own allocations), judged on
    // the smaller of the last two samples; 512 KiB leaves room for the first minutes' buffers
    // reaching their working sizes, while a leak of 100 bytes per frame (24000 frames a minute)
    // passes it within the first minute, and one of 10 KiB a minute within the hour. Under a
    // sanitizer, whose slower threads let more packets queue at a sample, 2 MiB. RSS: glibc arenas keep freed pages; a sanitizer's quarantine of
    // freed blocks (256 MiB by default) fills over the first minutes, so RSS is judged loosely
    // there and the sanitizer's own count of allocated bytes carries the heap judgement.
    long rssSlackKiB = host::SanitizerHeap() ? 320 * 1024 : 16 * 1024;
    long heapSlackKiB = host::SanitizerHeap() ? 2 * 1024 : 512;
    long threadSlack = 4;
    long fdSlack = 8;
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Failures of the run, printed as they happen and counted for the exit status.
class Verdict {
public:
    void Fail(const std::string& what) {
        std::printf("FAIL %s\n", what.c_str());
        std::fflush(stdout);
        ++failures_;
    }
    unsigned Failures() const { return failures_; }

private:
    unsigned failures_ = 0;
};

// PTZ moves and preset store/recall/removal, rotating over the channels, and output toggles.
class Commands {
public:
    Commands(norvane::ipcapture::IIPCaptureDriverEx3& driver, unsigned channels, Verdict& verdict)
        : driver_(driver), channels_(channels), verdict_(verdict) {}

    // One round: a short move on one channel, a preset stored, recalled and removed there, and
    // the next output toggled.
    void Round(host::StopSignal& stop) {
        const int channel = static_cast<int>(round_ % channels_);
        norvane::IIPPTZDriverEx* handler = driver_.GetPTZDriverEx();
        norvane::IIPPTZApiEx* ptz = handler ? handler->GetPTZApiEx(channel) : nullptr;
        const std::string where = "channel " + std::to_string(channel);
        if (!ptz) {
            verdict_.Fail("no PTZ control for " + where);
        } else {
            const std::string preset = "Soak" + std::to_string(round_ % 4);
            Check(where + " move", ptz->StartMove(static_cast<int>(round_ % 8), 8));
            stop.WaitUntil(Clock::now() + milliseconds(300));
            Check(where + " stop", ptz->Stop());
            Check(where + " preset add", ptz->AddPreposition(preset.c_str()));
            Check(where + " preset goto", ptz->GotoPreposition(0, preset.c_str()));
            Check(where + " preset remove", ptz->RemovePreposition(preset.c_str()));
        }
        norvane::ICaptureIOApi* io = driver_.GetCaptureIOApi();
        const int outputs = io ? io->GetOutputCount() : 0;
        if (outputs > 0) {
            const int output = static_cast<int>(round_ % static_cast<unsigned>(outputs));
            const int state = (round_ / static_cast<unsigned>(outputs)) % 2 ? 1 : 2;
            ++done_;
            if (!io->SetOutput(output, state))
                verdict_.Fail("output " + std::to_string(output) + " not set");
        } else {
            verdict_.Fail("the driver reports no outputs");
        }
        ++round_;
    }
    unsigned Done() const { return done_; }

private:
    void Check(const std::string& what, int code) {
        ++done_;
        if (code != norvane::PTZ_OK)
            verdict_.Fail(what + " answered " + std::to_string(code));
    }

    norvane::ipcapture::IIPCaptureDriverEx3& driver_;
    const unsigned channels_;
    Verdict& verdict_;
    unsigned round_ = 0;
    unsigned done_ = 0;
};

// Log records by level since the last call; the receiver is emptied so it does not grow.
struct LogTally {
    size_t errors = 0;
    size_t warnings = 0;
};
LogTally TakeLog(host::LogReceiver& log) {
    LogTally t;
    for (const host::LogRecord& r : log.Records()) {
        t.errors += r.level == 1;
        t.warnings += r.level == 2;
    }
    log.Clear();
    return t;
}

// The driver keeps the preset file beside the host's executable.
std::string PresetPath() {
    std::error_code failed;
    const std::filesystem::path executable =
        std::filesystem::read_symlink("/proc/self/exe", failed);
    return executable.parent_path().string() + "/Sanyo_" + kPresetOwner + ".preset";
}
void RemovePresetFiles() {
    std::error_code ignored;
    for (const char* suffix : {"", ".bad", ".tmp"})
        std::filesystem::remove(PresetPath() + suffix, ignored);
}

// Every start of the simulator replays its alarm script: input 0 and motion go on and off again
// within the time the camera is there each period, so every period brings changes to report.
std::vector<std::string> CamsimArguments(const Options& o) {
    std::vector<std::string> args{"--model", kModel,         "--media",
                                  o.media,   "--h264-media", o.h264Media};
    const unsigned window = (o.period - o.offlineSeconds) * 1000;
    const std::pair<const char*, unsigned> events[] = {{"input0=1", window / 4},
                                                       {"motion=1", window / 3},
                                                       {"input0=0", window / 2},
                                                       {"motion=0", window * 2 / 3}};
    for (const auto& [what, at] : events)
        args.insert(args.end(), {"--alarm", std::to_string(at) + ":" + what});
    return args;
}

std::string Join(const std::vector<unsigned>& items) {
    std::string text;
    for (unsigned i : items)
        text += (text.empty() ? "" : ",") + std::to_string(i);
    return text;
}

// The figures printed each period and judged against the first.
struct PeriodFigures {
    host::ProcessFigures process;
    std::pair<size_t, size_t> frames;
    double backSeconds = 0;
};

class Soak {
public:
    Soak(const Options& o, host::StopSignal& stop) : o_(o), stop_(stop) {}

    int Run() {
        std::printf(
            "soak: %u channels, %u s, a cycle every %u s (offline %u s, back within %u s), "
            "slack rss %ld KiB heap %ld KiB threads %ld fds %ld; heap is %s\n",
            o_.channels, o_.seconds, o_.period, o_.offlineSeconds, o_.backSeconds, o_.rssSlackKiB,
            o_.heapSlackKiB, o_.threadSlack, o_.fdSlack, host::HeapSource());
        std::fflush(stdout);
        if (!library_.Load(o_.library))
            return Fatal(library_.Error());
        std::string error;
        if (!camera_.ChoosePorts() || !camera_.Start(seconds(20), error))
            return Fatal("the simulator did not start: " + error);
        RemovePresetFiles();
        const int status = Drive();
        if (!camera_.Stop(seconds(10), error))
            verdict_.Fail(error);
        RemovePresetFiles();
        std::printf("soak: %s, %u failure(s)\n", verdict_.Failures() ? "FAILED" : "passed",
                    verdict_.Failures());
        return status ? status : verdict_.Failures() ? 1 : 0;
    }

private:
    int Fatal(const std::string& what) {
        std::printf("soak: FAILED: %s\n", what.c_str());
        return 2;
    }

    int Drive() {
        const camsim::Personality camera = camsim::Personality::ForModel(kModel);
        host::DeviceConfig config;
        config.device.model = kModel;
        config.device.channelCount = static_cast<int>(o_.channels);
        config.device.inputCount = camera.inputs;
        config.device.outputCount = camera.outputs;
        config.connection.address = "127.0.0.1";
        config.connection.port = camera_.HttpPort();
        config.connection.codecType = 3;
        config.custom = host::CustomParameters(camera, camera_.RtspPort());
        config.SetCustomParameter(6, kPresetOwner);
        auto* driver = library_.CreateDriver();
        if (!driver || !driver->Open(&log_, &allocator_, &config)) {
            library_.DeleteDriver(driver);
            return Fatal("the driver did not open");
        }
        const int status = Stream(*driver);
        driver->Close();
        library_.DeleteDriver(driver);
        return status;
    }

    int Stream(norvane::ipcapture::IIPCaptureDriverEx3& driver) {
        auto* video = driver.GetVideoCaptureEx();
        norvane::ICaptureIOApi* io = driver.GetCaptureIOApi();
        if (!video || !io)
            return Fatal("the driver offers no video capture or no I/O");
        io->SetEventSink(&ioSink_);
        if (!io->StartIO())
            return Fatal("the driver's I/O did not start");
        int status = 0;
        {
            host::SoakChannels channels(*video, o_.channels);
            if (channels.Start() != o_.channels)
                verdict_.Fail("a channel did not start");
            const auto silent = channels.WaitAllDelivered(Clock::now() + seconds(o_.backSeconds));
            if (!silent.empty())
                verdict_.Fail("no first frame on channel(s) " + Join(silent));
            status = Periods(driver, channels);
        }
        io->StopIO();
        return status;
    }

    // One cycle: the camera goes away past the offline judgement and comes back; every channel
    // must deliver again within the bound. The seconds it took, or -1.
    double Cycle(host::SoakChannels& channels) {
        std::string error;
        if (!camera_.Stop(seconds(10), error))
            verdict_.Fail("offline: " + error);
        if (stop_.WaitUntil(Clock::now() + seconds(o_.offlineSeconds)))
            return -1;
        if (!camera_.Start(seconds(20), error)) {
            verdict_.Fail("back online: " + error);
            return -1;
        }
        const auto back = Clock::now();
        channels.Mark();
        const auto silent = channels.WaitAllDelivered(back + seconds(o_.backSeconds));
        if (!silent.empty()) {
            verdict_.Fail("channel(s) " + Join(silent) + " did not come back within " +
                          std::to_string(o_.backSeconds) + " s");
            return -1;
        }
        return SecondsSince(back);
    }

    int Periods(norvane::ipcapture::IIPCaptureDriverEx3& driver, host::SoakChannels& channels) {
        const unsigned periods = std::max(1u, o_.seconds / o_.period);
        Commands commands(driver, o_.channels, verdict_);
        // A channel's PTZ control starts its worker on first use: one round on every channel
        // before the first period, so that the baseline holds them all.
        for (unsigned i = 0; i < o_.channels; ++i)
            commands.Round(stop_);
        const auto start = Clock::now();
        channels.Mark();
        TakeLog(log_);
        std::vector<PeriodFigures> figures;
        size_t inputsSeen = 0, motionSeen = 0;
        for (unsigned p = 1; p <= periods; ++p) {
            const auto end = start + seconds(o_.period * p);
            const double back = Cycle(channels);
            if (stop_.WaitUntil(Clock::now()))
                return Interrupted();
            // Commands once a second while the camera is there, until shortly before the sample.
            for (auto next = Clock::now(); back >= 0 && next + seconds(4) < end;
                 next += seconds(1)) {
                if (stop_.WaitUntil(next))
                    return Interrupted();
                commands.Round(stop_);
            }
            if (stop_.WaitUntil(end))
                return Interrupted();
            const LogTally logged = TakeLog(log_);
            PeriodFigures f{host::SampleProcess(), channels.Spread(), back};
            channels.Mark();
            figures.push_back(f);
            const size_t inputs = ioSink_.ChangeCount() - inputsSeen;
            inputsSeen = ioSink_.ChangeCount();
            const size_t motion = channels.MotionRecords() - motionSeen;
            motionSeen = channels.MotionRecords();
            std::printf(
                "period %u elapsed_s=%.0f rss_kib=%ld heap_kib=%lld threads=%ld fds=%ld "
                "frames_min=%zu frames_max=%zu cycles=%u back_s=%.1f commands=%u "
                "input_changes=%zu motion_records=%zu io_failures=%zu signal_lost=%zu "
                "log_errors=%zu log_warnings=%zu refused=%u frames_held=%d\n",
                p, SecondsSince(start), f.process.rssKiB,
                static_cast<long long>(f.process.heapBytes / 1024), f.process.threads,
                f.process.fds, f.frames.first, f.frames.second, p, back, commands.Done(), inputs,
                motion, ioSink_.FailureCount(), channels.SignalLost(), logged.errors,
                logged.warnings, allocator_.Refused(),
                static_cast<int>(allocator_.Allocated() - allocator_.Released()));
            std::fflush(stdout);
            if (back >= 0 && inputs == 0)
                verdict_.Fail("no input change reported in period " + std::to_string(p));
            if (back >= 0 && motion < channels.Count())
                verdict_.Fail("fewer motion records than channels in period " + std::to_string(p));
            for (const std::string& grew : host::GrowthBeyondSlack(
                     figures.front().process, Judged(figures),
                     {o_.rssSlackKiB, o_.heapSlackKiB * 1024, o_.threadSlack, o_.fdSlack}))
                verdict_.Fail("grew: " + grew);
        }
        Summarise(figures);
        return 0;
    }

    // The last sample, with the heap judged on the smaller of the last two: a leak shows at
    // every sample, a burst (packets queued while the machine is busy) at one.
    static host::ProcessFigures Judged(const std::vector<PeriodFigures>& figures) {
        host::ProcessFigures judged = figures.back().process;
        if (figures.size() >= 2)
            judged.heapBytes =
                std::min(judged.heapBytes, figures[figures.size() - 2].process.heapBytes);
        return judged;
    }

    int Interrupted() {
        std::printf("soak: interrupted\n");
        return 130;
    }

    void Summarise(const std::vector<PeriodFigures>& figures) {
        if (figures.empty())
            return;
        const host::ProcessFigures& a = figures.front().process;
        const host::ProcessFigures& b = figures.back().process;
        double slowest = 0;
        for (const PeriodFigures& f : figures)
            slowest = std::max(slowest, f.backSeconds);
        std::printf(
            "summary periods=%zu rss_kib %ld->%ld heap_kib %lld->%lld threads %ld->%ld "
            "fds %ld->%ld slowest_back_s=%.1f input_changes=%zu io_failures=%zu\n",
            figures.size(), a.rssKiB, b.rssKiB, static_cast<long long>(a.heapBytes / 1024),
            static_cast<long long>(b.heapBytes / 1024), a.threads, b.threads, a.fds, b.fds, slowest,
            ioSink_.ChangeCount(), ioSink_.FailureCount());
    }

    const Options& o_;
    host::StopSignal& stop_;
    Verdict verdict_;
    host::DriverLibrary library_;
    host::CamsimProcess camera_{o_.camsim, CamsimArguments(o_), o_.logDir + "/camsim.log"};
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> driverLog_{
        std::fopen((o_.logDir + "/driver.log").c_str(), "w"), &std::fclose};
    host::LogReceiver log_{driverLog_.get()};
    host::FrameAllocator allocator_;
    host::IOEventSink ioSink_;
};

void AddBounded(CLI::App& app, const std::string& name, unsigned& value, const std::string& text,
                unsigned low, unsigned high) {
    app.add_option(name, value, text)->capture_default_str()->check(CLI::Range(low, high));
}

}  // namespace

int main(int argc, char** argv) {
    host::StopSignal stop;  // first: the signals are blocked for every later thread
    Options o;
    if (const char* env = std::getenv("TAVRIN_SOAK_SECONDS"))
        o.seconds = static_cast<unsigned>(std::strtoul(env, nullptr, 10));
    CLI::App app{
        "tavrin-soak: a bounded soak of N channels with PTZ, outputs and an offline "
        "cycle each period, through Tavrin.so against tavrin-camsim."};
    app.add_option("--library", o.library, "Driver library")->capture_default_str();
    app.add_option("--camsim", o.camsim, "tavrin-camsim executable")->capture_default_str();
    app.add_option("--media", o.media, "Reference media folder (scripts/make-media.sh)")
        ->required();
    app.add_option("--h264-media", o.h264Media, "H.264 file of the media folder")
        ->capture_default_str();
    app.add_option("--log-dir", o.logDir, "Folder for driver.log and camsim.log")
        ->capture_default_str();
    AddBounded(app, "--seconds", o.seconds, "Soak time (default TAVRIN_SOAK_SECONDS, else 300)", 10,
               4 * 3600);
    AddBounded(app, "--period", o.period, "Seconds between offline cycles and figure lines", 10,
               3600);
    AddBounded(app, "--channels", o.channels, "H.264 channels", 1, 64);
    AddBounded(app, "--offline", o.offlineSeconds, "Seconds the camera stays away each cycle", 1,
               600);
    AddBounded(app, "--back-within", o.backSeconds, "Seconds every channel has to deliver again", 1,
               600);
    app.add_option("--rss-slack-kib", o.rssSlackKiB, "RSS growth allowed")->capture_default_str();
    app.add_option("--heap-slack-kib", o.heapSlackKiB, "Heap growth allowed")
        ->capture_default_str();
    app.add_option("--thread-slack", o.threadSlack, "Thread growth allowed")->capture_default_str();
    app.add_option("--fd-slack", o.fdSlack, "Descriptor growth allowed")->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    if (o.period < o.offlineSeconds + 10) {
        std::fprintf(stderr, "tavrin-soak: --period must leave at least 10 s after --offline\n");
        return 2;
    }
    std::error_code made;
    std::filesystem::create_directories(o.logDir, made);
    return Soak(o, stop).Run();
}
