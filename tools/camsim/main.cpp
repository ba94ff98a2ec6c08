// tavrin-camsim: a fake camera of the supported family on loopback, for trying the driver.
#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "camsim/camera.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) { stopRequested = 1; }

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
    unsigned slowMs = 0;
    bool denyAll = false;
    std::vector<std::string> pageStatus;
    std::vector<std::string> garbage;
    unsigned seconds = 0;
};

void Describe(CLI::App& app, Options& o) {
    app.add_option("--http-port", o.camera.httpPort, "HTTP port on 127.0.0.1 (0: any free port)")
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
                   "Reference media folder made by scripts/make-media.sh (server push pictures)");
    app.add_flag("--family25", o.family25, "25-frame video standard (default: 30-frame)");
    app.add_option("--aspect", o.aspect, "Aspect ratio value of aspect.cgi (0-3)");
    app.add_option("--inputs", o.inputs, "Number of alarm inputs");
    app.add_option("--outputs", o.outputs, "Number of alarm outputs");
    app.add_flag("--language-not-chosen", o.languageNotChosen,
                 "Answer CGI requests with an HTML page until /cgi-bin/lang.cgi is requested");
    app.add_option("--slow-ms", o.slowMs, "Delay every CGI reply by this many milliseconds");
    app.add_flag("--deny-all", o.denyAll, "Answer every request with 401, whatever the login");
    app.add_option("--page-status", o.pageStatus,
                   "PATH=STATUS: answer that CGI path with this HTTP status (repeatable)");
    app.add_option("--garbage", o.garbage, "PATH: answer that CGI path with a garbage body");
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

bool ApplyFaults(camsim::Camera& camera, const Options& o) {
    for (const std::string& item : o.pageStatus) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr, "tavrin-camsim: --page-status wants PATH=STATUS, not %s\n",
                         item.c_str());
            return false;
        }
        camera.SetPageFault(item.substr(0, eq),
                            camsim::HttpReply::Text(std::atoi(item.c_str() + eq + 1), "fault\r\n"));
    }
    for (const std::string& path : o.garbage)
        camera.SetPageFault(path, camsim::HttpReply::Text(200, "\x01\x7f garbage (((:::\r\n"));
    camera.SetReplyDelay(o.slowMs);
    camera.SetDenyAll(o.denyAll);
    camera.Cgi().SetLanguageChosen(!o.languageNotChosen);
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

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"tavrin-camsim: a simulated network camera of the supported family on "
                 "127.0.0.1 - CGI status and settings pages, authentication, alarm and motion "
                 "status, PTZ command log, Motion-JPEG server push - with fault injection."};
    Options o;
    Describe(app, o);
    CLI11_PARSE(app, argc, argv);
    ApplyPersonality(o);

    camsim::Camera camera(o.camera);
    if (!ApplyFaults(camera, o))
        return 2;
    if (!camera.Start()) {
        std::fprintf(stderr, "tavrin-camsim: cannot listen on port %u\n", o.camera.httpPort);
        return 1;
    }
    std::printf("camera %s (group %d) on http://127.0.0.1:%u/\n", o.model.c_str(),
                o.camera.personality.group, camera.HttpPort());
    std::fflush(stdout);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
    size_t printed = 0;
    while (!stopRequested && (o.seconds == 0 || std::chrono::steady_clock::now() < end)) {
        camera.Http().WaitUntil([&] { return camera.Http().RequestCount() > printed; }, 200);
        printed = PrintRequests(camera.Http(), printed);
    }
    camera.Stop();
    PrintRequests(camera.Http(), printed);
    return 0;
}
