// Channel load: one host process loads Tavrin.so as a recording server does, runs N H.264
// channels with alarm I/O and motion polling against a camera simulator started separately,
// and prints its CPU time, memory, threads, file descriptors, frame counts and the latency from
// the simulator's sending of each frame's last packet to DeliverFrame. The peer mode runs N copies
// of another RTSP client (FFmpeg, GStreamer) for the same time and prints their CPU time as wait4
// reports it; the floor mode measures this machine's latency of thread hand-offs alone.
// Output: one "result key=value ..." line for bench/channels.sh to tabulate.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camsim/send_stamp.h"
#include "host/channel_config.h"
#include "host/device_config.h"
#include "host/driver_library.h"
#include "host/frames.h"
#include "host/io_sink.h"
#include "host/log_receiver.h"
#include "host/process_figures.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}
double CpuSeconds(const rusage& r) {
    return Seconds(r.ru_utime) + Seconds(r.ru_stime);
}
long Switches(const rusage& r) {
    return r.ru_nvcsw + r.ru_nivcsw;
}
double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using host::StatusField;

struct Sample {
    double at;  // seconds since the channels were started
    long rssKiB;
    long threads;
    long descriptors;
};

Sample TakeSample(Clock::time_point start) {
    const host::ProcessFigures now = host::SampleProcess();
    return {SecondsSince(start), now.rssKiB, now.threads, now.fds};
}

// Collects the channels that have their frames; the waiter wakes once per finished channel.
class Tally {
public:
    void ChannelDone(unsigned channel) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_.push_back(channel);
        }
        cv_.notify_all();
    }
    // The channels finished since the last call; waits up to `limit` for one.
    std::vector<unsigned> TakeFinished(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, limit, [&] { return !finished_.empty(); });
        return std::exchange(finished_, {});
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<unsigned> finished_;
};

// A host sink that counts video frames, bytes and motion records, keeps nothing but each
// stamped frame's latency: CLOCK_MONOTONIC at DeliverFrame minus the send stamp the simulator
// put at the end of the frame.
class CountingSink : public norvane::TBoundaryObject<norvane::ICaptureSink> {
public:
    CountingSink(Tally& tally, unsigned channel, uint64_t target)
        : tally_(tally), channel_(channel), target_(target) {
        latencies_.reserve(target);
    }

    bool DeliverFrame(norvane::IMediaFrame* media) override {
        const uint64_t now = camsim::MonotonicNanoseconds();
        const auto* frame = dynamic_cast<host::Frame*>(media);
        if (frame && frame->fourcc == norvane::FOURCC_MEMD) {
            ++motionRecords;
            return true;
        }
        const size_t size = frame ? std::min<size_t>(frame->dataSize, frame->buffer.size()) : 0;
        bytes += size;
        uint64_t sent = 0;
        if (size && camsim::ReadSendStamp(frame->buffer.data(), size, sent)) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (latencies_.size() < latencies_.capacity())  // never grows while streaming
                latencies_.push_back(now >= sent ? now - sent : 0);
        }
        if (frames.fetch_add(1) + 1 == target_)
            tally_.ChannelDone(channel_);
        return true;
    }
    void OnSignalLost() override { ++signalLost; }

    // Appends the latencies (ns) recorded so far to `all`.
    void CollectLatencies(std::vector<uint64_t>& all) {
        std::lock_guard<std::mutex> lock(mutex_);
        all.insert(all.end(), latencies_.begin(), latencies_.end());
    }

    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<uint64_t> signalLost{0};
    std::atomic<uint64_t> motionRecords{0};

private:
    Tally& tally_;
    const unsigned channel_;
    const uint64_t target_;
    std::mutex mutex_;
    std::vector<uint64_t> latencies_;
};

// Nearest-rank percentile (0-100) of sorted values, in microseconds; -1 when there are none.
double PercentileUs(const std::vector<uint64_t>& sorted, double percent) {
    if (sorted.empty())
        return -1;
    const size_t rank = static_cast<size_t>(std::ceil(percent / 100 * sorted.size()));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1] / 1000.0;
}

// The largest of sorted values, in microseconds; -1 when there are none.
double MaxUs(const std::vector<uint64_t>& sorted) {
    return sorted.empty() ? -1.0 : sorted.back() / 1000.0;
}

struct HostOptions {
    std::string library = TAVRIN_LIBRARY;
    std::string address = "127.0.0.1";
    uint16_t port = 80;
    uint16_t rtspPort = 554;
    std::string h264Path;
    std::string transport = "auto";  // custom parameter 10: auto, udp or tcp
    int group = 1;
    unsigned channels = 1;
    unsigned seconds = 20;
    uint64_t frames = 0;  // per channel; 0: 25 per second
    unsigned graceSeconds = 15;
    int inputs = 1;  // alarm inputs given to the driver (0 with no I/O)
    int outputs = 1;
    bool io = true;      // start the driver's alarm I/O
    bool motion = true;  // ask for motion detection on every channel
};

// Median RSS of the samples in the second half of the streaming time (the last sample when
// there are none).
long SteadyRss(const std::vector<Sample>& samples, double streamingSeconds) {
    std::vector<long> late;
    for (const Sample& s : samples)
        if (s.at >= streamingSeconds / 2)
            late.push_back(s.rssKiB);
    if (late.empty())
        return samples.empty() ? -1 : samples.back().rssKiB;
    std::nth_element(late.begin(), late.begin() + static_cast<long>(late.size() / 2), late.end());
    return late[late.size() / 2];
}

// What the channels' sinks counted, over all channels.
struct Totals {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t signalLost = 0;
    uint64_t short_ = 0;  // frames the channels fell short of the target by
    uint64_t motion = 0;
    std::vector<uint64_t> latencies;  // sorted
};

Totals Sum(const std::vector<std::unique_ptr<CountingSink>>& sinks, uint64_t target) {
    Totals t;
    for (const auto& sink : sinks) {
        t.frames += sink->frames;
        t.bytes += sink->bytes;
        t.signalLost += sink->signalLost;
        t.motion += sink->motionRecords;
        t.short_ += sink->frames < target ? target - sink->frames : 0;
        sink->CollectLatencies(t.latencies);
    }
    std::sort(t.latencies.begin(), t.latencies.end());
    return t;
}

// The most of each sampled figure.
Sample Peaks(const std::vector<Sample>& samples) {
    Sample peak{0, 0, 0, 0};
    for (const Sample& s : samples) {
        peak.threads = std::max(peak.threads, s.threads);
        peak.descriptors = std::max(peak.descriptors, s.descriptors);
        peak.rssKiB = std::max(peak.rssKiB, s.rssKiB);
    }
    return peak;
}

// Everything a host run's result line reports besides its options.
struct HostFigures {
    rusage before{};
    rusage after{};
    Clock::time_point begun;
    unsigned started = 0;
    bool complete = false;
    double streaming = 0;
    long baseRss = 0;
    long steadyRss = 0;
    long peakRss = 0;
    Sample peak{};
    Totals totals;
    size_t errors = 0;
    size_t warnings = 0;
    unsigned refused = 0;
    bool ioStarted = false;
    size_t ioEvents = 0;
};

void PrintHostResult(const HostOptions& o, uint64_t target, const HostFigures& f) {
    const Totals& t = f.totals;
    std::printf(
        "result tool=tavrin n=%u started=%u target=%llu complete=%d cpu_s=%.3f user_s=%.3f "
        "sys_s=%.3f wall_s=%.2f streaming_s=%.2f frames=%llu bytes=%llu short=%llu "
        "signal_lost=%llu base_rss_kib=%ld steady_rss_kib=%ld peak_rss_kib=%ld threads=%ld "
        "errors=%zu warnings=%zu refused=%u switches=%ld fds=%ld io=%d io_events=%zu motion=%llu "
        "stamped=%zu lat_p50_us=%.1f lat_p99_us=%.1f lat_max_us=%.1f\n",
        o.channels, f.started, static_cast<unsigned long long>(target), f.complete ? 1 : 0,
        CpuSeconds(f.after) - CpuSeconds(f.before),
        Seconds(f.after.ru_utime) - Seconds(f.before.ru_utime),
        Seconds(f.after.ru_stime) - Seconds(f.before.ru_stime), SecondsSince(f.begun), f.streaming,
        static_cast<unsigned long long>(t.frames), static_cast<unsigned long long>(t.bytes),
        static_cast<unsigned long long>(t.short_), static_cast<unsigned long long>(t.signalLost),
        f.baseRss, f.steadyRss, f.peakRss, f.peak.threads, f.errors, f.warnings, f.refused,
        Switches(f.after) - Switches(f.before), f.peak.descriptors, f.ioStarted ? 1 : 0, f.ioEvents,
        static_cast<unsigned long long>(t.motion), t.latencies.size(),
        PercentileUs(t.latencies, 50), PercentileUs(t.latencies, 99), MaxUs(t.latencies));
}

// One host run. The driver's host objects and the channels' sinks are members, so that they
// outlive the driver.
class HostRun {
public:
    explicit HostRun(const HostOptions& o)
        : o_(o), target_(o.frames ? o.frames : 25ull * o.seconds), stopped_(o.channels, false) {}
    int Run();

private:
    void Configure();
    void Measure(norvane::ipcapture::IIPCaptureDriverEx3& driver);
    void RunChannels(norvane::ipcapture::IIPVideoCaptureEx* video);
    std::vector<Sample> StopAsDone(norvane::ipcapture::IIPVideoCaptureEx* video,
                                   Clock::time_point started);
    void CountLog();

    const HostOptions& o_;
    const uint64_t target_;
    HostFigures f_;
    host::DriverLibrary library_;
    host::LogReceiver log_;
    host::FrameAllocator allocator_;
    host::DeviceConfig config_;
    host::IOEventSink ioEvents_;
    Tally tally_;
    std::vector<std::unique_ptr<CountingSink>> sinks_;
    std::vector<bool> stopped_;
};

int HostRun::Run() {
    getrusage(RUSAGE_SELF, &f_.before);
    f_.begun = Clock::now();
    if (!library_.Load(o_.library)) {
        std::fprintf(stderr, "channel_load: %s\n", library_.Error().c_str());
        return 2;
    }
    Configure();
    auto* driver = library_.CreateDriver();
    if (!driver || !driver->Open(&log_, &allocator_, &config_)) {
        std::fprintf(stderr, "channel_load: the driver did not open\n");
        library_.DeleteDriver(driver);
        return 1;
    }
    Measure(*driver);
    driver->Close();
    library_.DeleteDriver(driver);
    getrusage(RUSAGE_SELF, &f_.after);
    // The kernel's high-water mark trails the sampled RSS by its per-thread counter caches.
    f_.peakRss = std::max(StatusField("VmHWM"), f_.peak.rssKiB);
    CountLog();
    f_.refused = allocator_.Refused();
    f_.ioEvents = ioEvents_.Events().size();
    PrintHostResult(o_, target_, f_);
    return 0;
}

void HostRun::Configure() {
    config_.device.model = "VCC-HD4000";
    config_.device.channelCount = static_cast<int>(o_.channels);
    config_.connection.address = o_.address;
    config_.connection.port = o_.port;
    config_.connection.codecType = 3;
    config_.SetCustomParameter(1, "0");  // 25-frame family
    config_.SetCustomParameter(2, std::to_string(o_.rtspPort));
    config_.SetCustomParameter(3, std::to_string(o_.group));
    config_.SetCustomParameter(4, "noRtspMjpeg");
    config_.SetCustomParameter(5, o_.h264Path);
    host::FillCustomParameterGaps(config_.custom);
    config_.SetCustomParameter(10, o_.transport);
    config_.device.inputCount = o_.io ? o_.inputs : 0;
    config_.device.outputCount = o_.io ? o_.outputs : 0;
}

// Runs the channels with the driver's alarm I/O around them.
void HostRun::Measure(norvane::ipcapture::IIPCaptureDriverEx3& driver) {
    norvane::ICaptureIOApi* io = o_.io ? driver.GetCaptureIOApi() : nullptr;
    if (io)
        io->SetEventSink(&ioEvents_);
    f_.ioStarted = io && io->StartIO();
    f_.baseRss = StatusField("VmRSS");
    RunChannels(driver.GetVideoCaptureEx());
    if (f_.ioStarted)
        io->StopIO();
}

void HostRun::RunChannels(norvane::ipcapture::IIPVideoCaptureEx* video) {
    host::ChannelConfig channel(1920, 1080);
    channel.stream.framePeriodMs = 40;
    channel.stream.motionDetection = o_.motion ? 1 : 0;
    const auto started = Clock::now();
    for (unsigned i = 0; i < o_.channels; ++i) {
        sinks_.push_back(std::make_unique<CountingSink>(tally_, i, target_));
        f_.started += video && video->StartChannel(i, sinks_.back().get(), &channel);
    }
    const std::vector<Sample> samples = StopAsDone(video, started);
    f_.streaming = SecondsSince(started);
    f_.totals = Sum(sinks_, target_);
    f_.peak = Peaks(samples);
    f_.steadyRss = SteadyRss(samples, f_.streaming);
    for (unsigned i = 0; i < o_.channels && video; ++i)
        if (!stopped_[i])
            video->StopChannel(i);
}

// Stops each channel as soon as it has its frames (a session that has sent them all goes
// quiet, and a channel left waiting would judge its signal lost and set up another); samples
// memory and threads once a second until every channel is stopped or the time is up.
std::vector<Sample> HostRun::StopAsDone(norvane::ipcapture::IIPVideoCaptureEx* video,
                                        Clock::time_point started) {
    std::vector<Sample> samples;
    unsigned finished = 0;
    const auto deadline = started + std::chrono::seconds(o_.seconds + o_.graceSeconds);
    auto nextSample = started + std::chrono::seconds(1);
    while (finished < o_.channels && Clock::now() < deadline) {
        for (const unsigned i : tally_.TakeFinished(std::chrono::milliseconds(100))) {
            if (stopped_[i] || !video)
                continue;
            if (finished == 0)  // steady state: every channel still streaming
                samples.push_back(TakeSample(started));
            video->StopChannel(i);
            stopped_[i] = true;
            ++finished;
        }
        if (Clock::now() >= nextSample) {
            samples.push_back(TakeSample(started));
            nextSample += std::chrono::seconds(1);
        }
    }
    f_.complete = finished == o_.channels;
    return samples;
}

// Counts the driver's errors and warnings, printing the first five errors.
void HostRun::CountLog() {
    for (const host::LogRecord& r : log_.Records()) {
        f_.errors += r.level == 1;
        f_.warnings += r.level == 2;
        if (r.level == 1 && f_.errors <= 5)
            std::fprintf(stderr, "channel_load: driver error: %s\n", r.text.c_str());
    }
}

int RunHost(const HostOptions& o) {
    return HostRun(o).Run();
}

struct PeerOptions {
    std::string name;
    unsigned copies = 1;
    unsigned seconds = 20;
    unsigned graceSeconds = 2;
    std::string logDir = ".";
    std::vector<std::string> command;
};

// Starts one copy with stdin and stdout on /dev/null and stderr into `logPath`; it is killed
// if this process dies. -1 when fork fails.
pid_t StartPeer(const std::vector<std::string>& command, const std::string& logPath) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = open("/dev/null", O_RDWR);
    const int err = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err >= 0 ? err : null, 2);
    std::vector<char*> argv;
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// Reaps every ended child among `live`, adding its usage; returns when none is live or at
// `until`. SIGCHLD is blocked by the caller, so no exit is missed between reaps and waits.
void ReapUntil(std::vector<pid_t>& live, rusage& total, long& maxRss, Clock::time_point until) {
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    for (;;) {
        for (auto it = live.begin(); it != live.end();) {
            rusage usage{};
            int status = 0;
            if (wait4(*it, &status, WNOHANG, &usage) == *it) {
                timeradd(&total.ru_utime, &usage.ru_utime, &total.ru_utime);
                timeradd(&total.ru_stime, &usage.ru_stime, &total.ru_stime);
                maxRss = std::max(maxRss, usage.ru_maxrss);
                total.ru_nvcsw += usage.ru_nvcsw;
                total.ru_nivcsw += usage.ru_nivcsw;
                it = live.erase(it);
            } else {
                ++it;
            }
        }
        const auto left = until - Clock::now();
        if (live.empty() || left <= Clock::duration::zero())
            return;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
        sigtimedwait(&child, nullptr, &wait);
    }
}

// Frames the peer reported in its last "frame=" progress field; -1 when it printed none.
long long ReportedFrames(const std::string& logPath) {
    std::ifstream file(logPath);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const size_t at = text.rfind("frame=");
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + 6);
}

int RunPeers(const PeerOptions& o) {
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child, nullptr);

    const auto begun = Clock::now();
    std::vector<pid_t> live;
    std::vector<std::string> logs;
    for (unsigned i = 0; i < o.copies; ++i) {
        logs.push_back(o.logDir + "/" + o.name + "-" + std::to_string(i) + ".log");
        const pid_t pid = StartPeer(o.command, logs.back());
        if (pid > 0)
            live.push_back(pid);
    }
    const unsigned started = static_cast<unsigned>(live.size());
    rusage total{};
    long maxRss = 0;
    // Run for the time, then ask nicely, then force. FFmpeg takes a first SIGINT only between
    // packets, and the stream is quiet by then; a second one interrupts its read, and it still
    // ends cleanly (TEARDOWN, final figures).
    ReapUntil(live, total, maxRss, begun + std::chrono::seconds(o.seconds + o.graceSeconds));
    const size_t exitedEarly = started - live.size();
    for (const unsigned waitMs : {1000u, 5000u}) {
        for (pid_t pid : live)
            kill(pid, SIGINT);
        ReapUntil(live, total, maxRss, Clock::now() + std::chrono::milliseconds(waitMs));
    }
    const size_t killed = live.size();
    for (pid_t pid : live)
        kill(pid, SIGKILL);
    ReapUntil(live, total, maxRss, Clock::now() + std::chrono::seconds(5));

    long long frames = 0;
    for (const std::string& path : logs) {
        const long long reported = ReportedFrames(path);
        frames = reported < 0 || frames < 0 ? -1 : frames + reported;
    }
    std::printf(
        "result tool=%s n=%u started=%u cpu_s=%.3f user_s=%.3f sys_s=%.3f wall_s=%.2f "
        "frames=%lld peak_rss_kib=%ld exited_early=%zu killed=%zu unreaped=%zu switches=%ld\n",
        o.name.c_str(), o.copies, started, CpuSeconds(total), Seconds(total.ru_utime),
        Seconds(total.ru_stime), SecondsSince(begun), frames, maxRss, exitedEarly, killed,
        live.size(), Switches(total));
    return started == o.copies && live.empty() ? 0 : 1;
}

struct FloorOptions {
    unsigned streams = 8;
    unsigned seconds = 10;
};

// Binds `reader` to a free loopback port, its address in `address`; false when a step failed.
bool BindLoopback(int reader, sockaddr_in& address) {
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    const int buffer = 4 << 20;
    return setsockopt(reader, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer)) == 0 &&
           bind(reader, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
           getsockname(reader, reinterpret_cast<sockaddr*>(&address), &length) == 0;
}

// The floor's receiving end: a reader thread takes each burst's stamped datagram and records
// its latency (one hop), then hands the stamp through a mutex and condition variable to a
// worker thread, which records it again (two hops).
class FloorReceiver {
public:
    FloorReceiver(int reader, size_t bursts) : reader_(reader), bursts_(bursts) {
        oneHop_.reserve(bursts);
        twoHops_.reserve(bursts);
        worker_ = std::thread([this] { Work(); });
        receiver_ = std::thread([this] { Receive(); });
    }
    // Ends both threads, a reader still waiting for a lost burst too; sorts the latencies.
    void Finish() {
        shutdown(reader_, SHUT_RDWR);
        receiver_.join();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
        }
        cv_.notify_one();
        worker_.join();
        std::sort(oneHop_.begin(), oneHop_.end());
        std::sort(twoHops_.begin(), twoHops_.end());
    }
    const std::vector<uint64_t>& OneHop() const { return oneHop_; }
    const std::vector<uint64_t>& TwoHops() const { return twoHops_; }

private:
    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return ended_ || !handed_.empty(); });
            if (handed_.empty())
                return;
            twoHops_.push_back(camsim::MonotonicNanoseconds() - handed_.front());
            handed_.pop_front();
        }
    }
    void Receive() {
        uint8_t datagram[2048];
        for (size_t got = 0; got < bursts_;) {
            const ssize_t size = recv(reader_, datagram, sizeof(datagram), 0);
            if (size <= 0)
                break;
            if (datagram[0] != 1)
                continue;
            uint64_t sent = 0;
            std::memcpy(&sent, datagram + 1, sizeof(sent));
            oneHop_.push_back(camsim::MonotonicNanoseconds() - sent);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                handed_.push_back(sent);
            }
            cv_.notify_one();
            ++got;
        }
    }

    const int reader_;
    const size_t bursts_;
    std::vector<uint64_t> oneHop_;
    std::vector<uint64_t> twoHops_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<uint64_t> handed_;
    bool ended_ = false;
    std::thread worker_;
    std::thread receiver_;
};

// Sends `bursts` bursts of 15 datagrams of 1400 bytes, 25 bursts a second per stream, the
// last datagram of each marked and stamped.
void SendBursts(int sender, const sockaddr_in& address, size_t bursts, unsigned streams) {
    std::vector<uint8_t> payload(1400, 0);
    const auto period = std::chrono::nanoseconds(40000000 / streams);
    auto next = Clock::now();
    for (size_t i = 0; i < bursts; ++i) {
        std::this_thread::sleep_until(next);
        next += period;
        for (int k = 0; k < 15; ++k) {
            payload[0] = k == 14 ? 1 : 0;
            if (k == 14) {
                const uint64_t now = camsim::MonotonicNanoseconds();
                std::memcpy(payload.data() + 1, &now, sizeof(now));
            }
            sendto(sender, payload.data(), payload.size(), 0,
                   reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        }
    }
}

// Latency floor of this machine for the driver's road of a frame: stamped UDP bursts on a
// loopback socket, read by one thread and handed to a second (FloorReceiver). Prints
// p50/p99/max of one hop and of both.
int RunFloor(const FloorOptions& o) {
    const int reader = socket(AF_INET, SOCK_DGRAM, 0);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    if (reader < 0 || sender < 0 || !BindLoopback(reader, address)) {
        std::perror("channel_load floor");
        return 1;
    }
    const size_t bursts = 25ull * o.streams * o.seconds;
    FloorReceiver receiver(reader, bursts);
    SendBursts(sender, address, bursts, o.streams);
    receiver.Finish();
    close(reader);
    close(sender);
    const std::vector<uint64_t>& one = receiver.OneHop();
    const std::vector<uint64_t>& two = receiver.TwoHops();
    std::printf(
        "floor streams=%u bursts=%zu one_hop_us=%.1f/%.1f/%.1f two_hops_us=%.1f/%.1f/%.1f\n",
        o.streams, one.size(), PercentileUs(one, 50), PercentileUs(one, 99), MaxUs(one),
        PercentileUs(two, 50), PercentileUs(two, 99), MaxUs(two));
    return one.size() == bursts ? 0 : 1;
}

// The bounded options both modes share: how many at once, for how long, and the grace time.
void AddCounts(CLI::App& mode, unsigned& count, unsigned& seconds, unsigned& grace,
               const std::string& countName, const std::string& graceText) {
    mode.add_option(countName, count, "Streams at once")
        ->capture_default_str()
        ->check(CLI::Range(1, 64));
    mode.add_option("--seconds", seconds, "Streaming time")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
    mode.add_option("--grace", grace, graceText)->capture_default_str()->check(CLI::Range(0, 600));
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"channel_load: channel load figures of the driver and of peer RTSP clients."};
    app.require_subcommand(1);

    HostOptions h;
    CLI::App* hostMode =
        app.add_subcommand("host", "Run N H.264 channels of the driver in this process");
    hostMode->add_option("--library", h.library, "Driver library")->capture_default_str();
    hostMode->add_option("--address", h.address, "Camera address")->capture_default_str();
    hostMode->add_option("--port", h.port, "Camera HTTP port")->required();
    hostMode->add_option("--rtsp-port", h.rtspPort, "Camera RTSP port")->required();
    hostMode->add_option("--h264-path", h.h264Path, "H.264 stream path")->required();
    hostMode->add_option("--group", h.group, "Camera group")->capture_default_str();
    hostMode->add_option("--rtsp-transport", h.transport, "RTP transport: auto, udp or tcp")
        ->check(CLI::IsMember({"auto", "udp", "tcp"}))
        ->capture_default_str();
    hostMode->add_option("--frames", h.frames, "Frames each channel waits for (0: 25 per second)");
    hostMode->add_option("--inputs", h.inputs, "Alarm inputs of the camera")->capture_default_str();
    hostMode->add_option("--outputs", h.outputs, "Alarm outputs of the camera")
        ->capture_default_str();
    hostMode->add_flag("!--no-io", h.io, "Do not start the driver's alarm I/O");
    hostMode->add_flag("!--no-motion", h.motion, "Do not ask for motion detection");
    AddCounts(*hostMode, h.channels, h.seconds, h.graceSeconds, "--channels",
              "Extra seconds allowed for start-up and stragglers");

    PeerOptions p;
    CLI::App* peerMode =
        app.add_subcommand("peer", "Run N copies of a peer command and sum their CPU");
    peerMode->add_option("--name", p.name, "Peer name for the result")->required();
    peerMode->add_option("--log-dir", p.logDir, "Folder for each copy's stderr")
        ->capture_default_str();
    peerMode->add_option("command", p.command, "Peer command and arguments (after --)")->required();
    AddCounts(*peerMode, p.copies, p.seconds, p.graceSeconds, "--copies",
              "Extra seconds before SIGINT");

    FloorOptions f;
    CLI::App* floorMode = app.add_subcommand(
        "floor", "Latency of one and of two thread hand-offs of stamped UDP bursts");
    floorMode->add_option("--streams", f.streams, "Streams of 25 bursts a second")
        ->capture_default_str()
        ->check(CLI::Range(1, 64));
    floorMode->add_option("--seconds", f.seconds, "Sending time")
        ->capture_default_str()
        ->check(CLI::Range(1, 600));

    CLI11_PARSE(app, argc, argv);
    if (floorMode->parsed())
        return RunFloor(f);
    return hostMode->parsed() ? RunHost(h) : RunPeers(p);
}
