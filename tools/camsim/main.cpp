// tavrin-camsim: a fake camera of the supported family on loopback, for trying the driver.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "camsim/camera.h"
#include "camsim/http_server.h"
#include "camsim/oversized_pages.h"
#include "camsim/rtsp_server.h"

namespace {

// Any thread may take a signal, so the flags are lock-free atomics rather than sig_atomic_t,
// which is only safe within the thread that reads it.
std::atomic<bool> stopRequested{false};
std::atomic<bool> totalsRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int) { stopRequested = true; }

// Exit status of a run in which the camera refused a request.
constexpr int REJECTED_REQUESTS_STATUS = 3;
void OnTotalsSignal(int) { totalsRequested = true; }

struct Options {
    camsim::CameraConfig camera;
    std::string model = "VCC-HD4000";
    std::string auth = "none";
    int group = 0;
    bool family25 = false;
    int aspect = -1;
    int inputs = -1;
    int outputs = -1;
    bool languageNotChosen = false;
    bool languageStuck = false;
    std::vector<std::string> alarms;
    unsigned slowMs = 0;
    unsigned trickleMs = 0;
    bool denyAll = false;
    std::vector<std::string> pageStatus;
    std::vector<std::string> garbage;
    std::vector<std::string> oversized;
    std::vector<std::string> shortPages;
    unsigned announcedTimeout = 60;
    unsigned enforcedTimeoutMs = 0;
    unsigned reportMs = 5000;
    uint64_t sessionFrames = 0;
    bool sendStamps = false;
    bool spreadPhases = false;
    camsim::RtpFaults rtp;
    std::vector<unsigned> dropSequences;
    unsigned cutAfter = 0;
    bool noGetParameter = false;
    bool refuseUdp = false;
    bool optionsNotKeepAlive = false;
    unsigned offlineAt = 0;
    unsigned offlineFor = 0;
    unsigned seconds = 0;
};

void Describe(CLI::App& app, Options& o) {
    app.add_option("--http-port", o.camera.httpPort, "HTTP port on 127.0.0.1 (0: any free port)")
        ->capture_default_str();
    app.add_option("--rtsp-port", o.camera.rtspPort, "RTSP port on 127.0.0.1 (0: any free port)")
        ->capture_default_str();
    app.add_option("--model", o.model, "Model name; chooses the camera group and its pages")
        ->capture_default_str();
    app.add_option("--group", o.group, "Camera group override (1-6; 0 keeps the model's)");
    app.add_option("--auth", o.auth, "Authentication: none, basic or digest")
        ->check(CLI::IsMember({"none", "basic", "digest"}))
        ->capture_default_str();
    app.add_option("--user", o.camera.user, "Login the camera accepts")->capture_default_str();
    app.add_option("--password", o.camera.password, "Password the camera accepts")
        ->capture_default_str();
    app.add_option("--media", o.camera.mediaDir,
                   "Reference media folder made by scripts/make-media.sh: RTSP streams "
                   "and server push pictures");
    app.add_option("--h264-media", o.camera.h264Media,
                   "H.264 file of the media folder served at the H.264 path")
        ->capture_default_str();
    app.add_option("--jpeg-media", o.camera.jpegMedia,
                   "Picture folder of the media folder served at the Motion-JPEG path and by "
                   "server push")
        ->capture_default_str();
    app.add_flag("--family25", o.family25, "25-frame video standard (default: 30-frame)");
    app.add_option("--aspect", o.aspect, "Aspect ratio value of aspect.cgi (0-3)");
    app.add_option("--inputs", o.inputs, "Number of alarm inputs");
    app.add_option("--outputs", o.outputs, "Number of alarm outputs");
    app.add_flag("--language-not-chosen", o.languageNotChosen,
                 "Answer CGI requests with an HTML page until /cgi-bin/lang.cgi is requested");
    app.add_flag("--language-stuck", o.languageStuck,
                 "Answer CGI requests with an HTML page even after /cgi-bin/lang.cgi");
    app.add_option("--alarm", o.alarms,
                   "T:inputN=0|1 or T:motion=0|1: set alarm input N (0 is the first) or the motion "
                   "state T milliseconds after start (repeatable)");
    app.add_option("--slow-ms", o.slowMs, "Delay every CGI and RTSP reply by this many milliseconds");
    app.add_option("--trickle-ms", o.trickleMs,
                   "Send every CGI reply one byte at a time, pausing this many milliseconds before each");
    app.add_flag("--deny-all", o.denyAll, "Answer every HTTP and RTSP request with 401, whatever the login");
    app.add_option("--page-status", o.pageStatus,
                   "PATH=STATUS: answer that CGI path with this HTTP status (repeatable)");
    app.add_option("--garbage", o.garbage, "PATH: answer that CGI path with a garbage body (repeatable)");
    app.add_option("--oversized-page", o.oversized,
                   "PATH=BYTES: answer that CGI path with a page of this many bytes, 0 for one "
                   "without end (repeatable)");
    app.add_option("--short-page", o.shortPages,
                   "PATH: answer that CGI path announcing 1000 bytes, sending 430 and holding the "
                   "connection (repeatable)");
    app.add_option("--session-timeout", o.announcedTimeout,
                   "RTSP session time-out in seconds announced in the Session header (0: none)")
        ->capture_default_str();
    app.add_option("--short-timeout-ms", o.enforcedTimeoutMs,
                   "End sessions not kept alive for this long instead of the announced time-out");
    app.add_option("--sr-interval-ms", o.reportMs, "RTCP sender report interval")->capture_default_str();
    app.add_option("--session-frames", o.sessionFrames,
                   "Each RTSP session sends this many frames, then stays quiet (0: no limit)");
    app.add_flag("--send-stamps", o.sendStamps,
                 "End each H.264 frame with a NAL unit holding the CLOCK_MONOTONIC time its last "
                 "packet was sent (for latency figures)");
    app.add_flag("--spread-phases", o.spreadPhases,
                 "Start each session's frame clock at its own phase, as independent cameras do "
                 "(otherwise sessions played together send their frames together)");
    app.add_option("--rtp-loss", o.rtp.lossPercent, "Lose this share of RTP packets (percent)");
    app.add_option("--rtp-drop", o.dropSequences, "Lose the RTP packet with this sequence number (repeatable)");
    app.add_option("--rtp-reorder", o.rtp.reorderEvery, "Send every Nth RTP packet after the one behind it");
    app.add_option("--rtp-duplicate", o.rtp.duplicateEvery, "Send every Nth RTP packet twice");
    app.add_option("--rtp-fault-budget", o.rtp.budget, "Packets that loss, reordering and duplication each touch at most")
        ->capture_default_str();
    app.add_option("--rtp-freeze-ms", o.rtp.freezeMs, "Each session sends nothing for this long, once (at most 60000)");
    app.add_option("--rtp-freeze-at", o.rtp.freezeAtFrame, "Frame of a session at which the freeze starts");
    app.add_flag("--rtp-other-address", o.rtp.otherSource, "Send RTP from 127.0.0.2 instead of 127.0.0.1");
    app.add_flag("--udp-blocked", o.rtp.udpBlocked,
                 "RTP and RTCP over UDP are silently not sent (RTP interleaved on the RTSP "
                 "connection still is)");
    app.add_flag("--refuse-udp", o.refuseUdp,
                 "Answer SETUP asking for RTP over UDP with 461 Unsupported Transport");
    app.add_option("--rtsp-cut-after", o.cutAfter, "Close each RTSP connection instead of answering its Nth request");
    app.add_flag("--no-get-parameter", o.noGetParameter,
                 "Neither list GET_PARAMETER in Public nor answer it (501)");
    app.add_flag("--options-not-keep-alive", o.optionsNotKeepAlive,
                 "OPTIONS does not count as activity of a session (as VLC's server)");
    app.add_option("--offline-at", o.offlineAt, "Go offline (refuse connections, end sessions) after this many seconds");
    app.add_option("--offline-for", o.offlineFor, "Come back online after this many seconds offline")
        ->needs("--offline-at");
    app.add_option("--seconds", o.seconds, "Stop after this many seconds (0: run until Ctrl-C)");
}

camsim::HttpAuthConfig::Mode AuthMode(const std::string& name) {
    if (name == "basic")
        return camsim::HttpAuthConfig::Mode::Basic;
    if (name == "digest")
        return camsim::HttpAuthConfig::Mode::Digest;
    return camsim::HttpAuthConfig::Mode::None;
}

void ApplyPersonality(Options& o) {
    camsim::Personality& p = o.camera.personality;
    p = camsim::Personality::ForModel(o.model);
    if (o.group > 0)
        p.group = o.group;
    p.family25 = o.family25;
    if (o.aspect >= 0)
        p.aspectRatio = o.aspect;
    if (o.inputs >= 0)
        p.inputs = o.inputs;
    if (o.outputs >= 0)
        p.outputs = o.outputs;
    o.camera.auth = AuthMode(o.auth);
}

// PATH=VALUE of a repeatable option into `path` and `value`; false, said on stderr, without '='.
bool SplitPathValue(const std::string& item, const char* usage, std::string& path,
                    std::string& value) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) {
        std::fprintf(stderr, "tavrin-camsim: %s, not %s\n", usage, item.c_str());
        return false;
    }
    path = item.substr(0, eq);
    value = item.substr(eq + 1);
    return true;
}

// Pages too long for a CGI client, and short of their announced length.
bool ApplyPageShapes(camsim::Camera& camera, const Options& o) {
    std::string page, value;
    for (const std::string& item : o.oversized) {
        if (!SplitPathValue(item, "--oversized-page wants PATH=BYTES", page, value))
            return false;
        const uint64_t bytes = std::strtoull(value.c_str(), nullptr, 10);
        camera.SetPageFault(page, bytes ? camsim::OversizedPage(bytes) : camsim::EndlessPage());
    }
    for (const std::string& path : o.shortPages)
        camera.SetPageFault(path, camsim::ShortPage(1000, 430));
    return true;
}

bool ApplyFaults(camsim::Camera& camera, const Options& o) {
    std::string page, value;
    for (const std::string& item : o.pageStatus) {
        if (!SplitPathValue(item, "--page-status wants PATH=STATUS", page, value))
            return false;
        camera.SetPageFault(page, camsim::HttpReply::Text(std::atoi(value.c_str()), "fault\r\n"));
    }
    for (const std::string& path : o.garbage)
        camera.SetPageFault(path, camsim::HttpReply::Text(200, "\x01\x7f garbage (((:::\r\n"));
    camera.SetReplyDelay(o.slowMs);
    camera.SetTrickle(o.trickleMs);
    camera.SetDenyAll(o.denyAll);
    camera.Cgi().SetLanguageChosen(!o.languageNotChosen);
    camera.Cgi().SetLanguageStuck(o.languageStuck);
    std::vector<camsim::AlarmEvent> events;
    for (const std::string& text : o.alarms) {
        const auto event = camsim::ParseAlarmEvent(text);
        if (!event) {
            std::fprintf(stderr, "tavrin-camsim: --alarm wants T:inputN=0|1 or T:motion=0|1, not %s\n",
                         text.c_str());
            return false;
        }
        events.push_back(*event);
    }
    camera.Cgi().ScheduleAlarms(std::move(events));
    camsim::RtspServer& rtsp = camera.Rtsp();
    camsim::RtpFaults rtp = o.rtp;
    for (unsigned sequence : o.dropSequences)
        rtp.lossSequences.insert(static_cast<uint16_t>(sequence));
    rtsp.SetRtpFaults(rtp);
    rtsp.SetSessionTimeout(o.announcedTimeout,
                           o.enforcedTimeoutMs ? o.enforcedTimeoutMs : o.announcedTimeout * 1000);
    rtsp.SetSenderReportInterval(o.reportMs);
    rtsp.SetSessionFrameLimit(o.sessionFrames);
    rtsp.SetSendStamps(o.sendStamps);
    rtsp.SetSpreadPhases(o.spreadPhases);
    rtsp.SetCutAfterRequests(o.cutAfter);
    rtsp.SetGetParameter(!o.noGetParameter);
    rtsp.SetUdpRefused(o.refuseUdp);
    rtsp.SetOptionsKeepAlive(!o.optionsNotKeepAlive);
    return true;
}

// Prints the requests that arrived since the last call, one line each.
size_t PrintRequests(camsim::HttpServer& http, size_t printed) {
    const auto requests = http.Requests();
    for (; printed < requests.size(); ++printed) {
        const camsim::HttpRequest& r = requests[printed];
        std::printf("http #%u %s %s -> %d%s\n", r.connection, r.method.c_str(), r.target.c_str(),
                    r.status, r.user.empty() ? "" : (" user " + r.user).c_str());
    }
    std::fflush(stdout);
    return printed;
}

size_t PrintRtspRequests(camsim::RtspServer& rtsp, size_t printed) {
    const auto requests = rtsp.Requests();
    for (; printed < requests.size(); ++printed) {
        const camsim::RtspLogEntry& r = requests[printed];
        std::printf("rtsp #%u %s %s -> %s\n", r.connection, r.method.c_str(), r.url.c_str(),
                    r.status ? std::to_string(r.status).c_str() : "cut");
    }
    std::fflush(stdout);
    return printed;
}

// One line of the RTSP side's running totals (asked for with SIGUSR1).
void PrintTotals(camsim::RtspServer& rtsp) {
    const camsim::RtspTotals t = rtsp.Totals();
    std::printf("totals sessions %u playing %u frames %llu packets %llu octets %llu\n", t.sessions,
                t.playing, static_cast<unsigned long long>(t.frames),
                static_cast<unsigned long long>(t.packets), static_cast<unsigned long long>(t.octets));
    std::fflush(stdout);
}

// Offline from --offline-at on, for --offline-for seconds (else for good); once. True when the
// camera came back now (with a fresh HTTP request log).
bool FollowOfflinePlan(camsim::Camera& camera, const Options& o, unsigned elapsed, int& phase) {
    if (o.offlineAt == 0)
        return false;
    if (phase == 0 && elapsed >= o.offlineAt) {
        camera.SetOffline(true);
        std::printf("camera offline\n");
        phase = 1;
    } else if (phase == 1 && o.offlineFor && elapsed >= o.offlineAt + o.offlineFor) {
        std::printf(camera.SetOffline(false) ? "camera back online\n" : "camera cannot come back\n");
        phase = 2;
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "tavrin-camsim: a simulated network camera of the supported family on "
        "127.0.0.1 - CGI status and settings pages, authentication, alarm and motion "
        "status, PTZ command log, Motion-JPEG server push, H.264 and JPEG over "
        "RTSP/RTP - with fault injection. Requests a camera of the model would refuse are "
        "answered with an error and printed; the run then ends with status 3."};
    Options o;
    Describe(app, o);
    CLI11_PARSE(app, argc, argv);
    ApplyPersonality(o);

    // Before the ports open: whoever sees them open may stop the simulator at once.
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGUSR1, OnTotalsSignal);
    camsim::Camera camera(o.camera);
    if (!ApplyFaults(camera, o) || !ApplyPageShapes(camera, o))
        return 2;
    if (!camera.Start()) {
        std::fprintf(stderr, "tavrin-camsim: cannot listen on port %u\n", o.camera.httpPort);
        return 1;
    }
    std::printf("camera %s (group %d) on http://127.0.0.1:%u/, RTSP %s and %s\n", o.model.c_str(),
                o.camera.personality.group, camera.HttpPort(),
                camera.Rtsp().Url(o.camera.personality.h264Path).c_str(),
                camera.Rtsp().Url(o.camera.personality.mjpegPath).c_str());
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    size_t printed = 0, printedRtsp = 0;
    int offlinePhase = 0;
    for (;;) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::steady_clock::now() - start).count();
        if (stopRequested || (o.seconds && elapsed >= o.seconds))
            break;
        if (FollowOfflinePlan(camera, o, static_cast<unsigned>(elapsed), offlinePhase))
            printed = 0;
        camera.Http().WaitUntil([&] { return camera.Http().RequestCount() > printed; }, 200);
        printed = PrintRequests(camera.Http(), printed);
        printedRtsp = PrintRtspRequests(camera.Rtsp(), printedRtsp);
        if (totalsRequested.exchange(false))
            PrintTotals(camera.Rtsp());
    }
    camera.Stop();
    PrintRequests(camera.Http(), printed);
    PrintRtspRequests(camera.Rtsp(), printedRtsp);
    // A request the camera refused is a fault of whoever sent it: the run fails.
    if (const size_t rejected = camera.Cgi().RejectionCount()) {
        std::printf("camsim: %zu rejected request(s)\n", rejected);
        return REJECTED_REQUESTS_STATUS;
    }
    return 0;
}
