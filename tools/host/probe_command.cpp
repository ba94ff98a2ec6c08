#include "host/probe_command.h"

#include <cstdio>
#include <memory>

#include "host/bundled_camera.h"

namespace host {

namespace {

// The query's own requests end within twice their 10 s time-out each; this bounds the wait.
constexpr std::chrono::seconds PROBE_LIMIT{60};

struct ProbeOptions {
    std::string library;
    std::string address;  // empty: the bundled simulator
    uint16_t port = 80;
    std::string user;
    std::string password;
    std::string model = "VCC-HD2300";
    std::string media;
    bool json = false;
};

int RunProbe(const ProbeOptions& o) {
    DriverLibrary library;
    if (!library.Load(o.library)) {
        std::fprintf(stderr, "tavrin-host: %s\n", library.Error().c_str());
        return 2;
    }
    ProbeTarget target{o.address, o.port, o.user, o.password};
    std::unique_ptr<camsim::Camera> simulator;
    if (o.address.empty()) {
        simulator = StartBundledCamera({o.model, 1920, 1080, o.user, o.password, o.media});
        if (!simulator) {
            std::fprintf(stderr, "tavrin-host: the bundled simulator did not start\n");
            return 2;
        }
        target.address = "127.0.0.1";
        target.port = simulator->HttpPort();
        if (!o.json)
            std::printf("bundled camera simulator %s on 127.0.0.1:%u\n", o.model.c_str(),
                        target.port);
    }
    const ProbeResult probe = Probe(library, target, PROBE_LIMIT);
    std::fputs((o.json ? ProbeJson(probe) : ProbeTable(probe)).c_str(), stdout);
    return probe.succeeded ? 0 : 1;
}

}  // namespace

void AddProbeCommand(CLI::App& app, const std::string& defaultLibrary, int& exitCode) {
    auto options = std::make_shared<ProbeOptions>();
    options->library = defaultLibrary;
    CLI::App* probe = app.add_subcommand(
        "probe",
        "Ask the driver library what the camera offers (capability query) and print "
        "the results; exit code 0 when the query succeeded, 1 when it failed, 2 when "
        "the library or the simulator could not be used");
    probe->add_option("--library", options->library, "Path of the driver library to load")
        ->capture_default_str();
    probe->add_option("--address", options->address,
                      "Camera host name or IPv4 address (default: start the bundled simulator)");
    probe->add_option("--port", options->port, "Camera HTTP port")->capture_default_str();
    probe->add_option("--user", options->user, "Camera login");
    probe->add_option("--password", options->password, "Camera password");
    probe->add_option("--model", options->model, "Model the bundled simulator plays")
        ->capture_default_str();
    probe->add_option("--media", options->media,
                      "Reference media folder for the bundled simulator");
    probe->add_flag("--json", options->json, "Print the results as JSON");
    probe->callback([options, &exitCode] { exitCode = RunProbe(*options); });
}

std::map<int, std::string> ProbeCustomParameters(const DriverLibrary& library,
                                                 const ProbeTarget& target,
                                                 const std::map<int, std::string>& given) {
    const ProbeResult probe = Probe(library, target, PROBE_LIMIT);
    std::fputs(ProbeTable(probe).c_str(), stdout);
    if (!probe.succeeded) {
        std::printf("streaming with the custom parameters given on the command line only\n");
        return given;
    }
    std::map<int, std::string> custom = probe.record.CustomTexts();
    for (const auto& [number, text] : given)
        custom[number] = text;
    return custom;
}

}  // namespace host
