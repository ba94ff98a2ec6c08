#include "host/probe_command.h"

#include <cstdio>
#include <memory>

#include "host/bundled_camera.h"
#include "host/camera_options.h"
#include "host/camera_options.h"

namespace host {

namespace {

// The query's own requests end within twice their 10 s time-out each; this bounds the wait.
constexpr std::chrono::seconds PROBE_LIMIT{60};

struct ProbeOptions {
    CameraOptions camera;
    bool json = false;
};

int RunProbe(const ProbeOptions& o) {
    DriverLibrary library;
    if (!library.Load(o.camera.library)) {
        std::fprintf(stderr, "tavrin-host: %s\n", library.Error().c_str());
        return 2;
    }
    ProbeTarget target{o.camera.address, o.camera.port, o.camera.user, o.camera.password};
    std::unique_ptr<camsim::Camera> simulator;
    if (o.camera.address.empty()) {
        simulator = StartBundledCamera(
            {o.camera.model, 1920, 1080, o.camera.user, o.camera.password, o.camera.media});
        if (!simulator) {
            std::fprintf(stderr, "tavrin-host: the bundled simulator did not start\n");
            return 2;
        }
        target.address = "127.0.0.1";
        target.port = simulator->HttpPort();
        if (!o.json)
            std::printf("bundled camera simulator %s on 127.0.0.1:%u\n", o.camera.model.c_str(),
                        target.port);
    }
    const ProbeResult probe = Probe(library, target, PROBE_LIMIT);
    std::fputs((o.json ? ProbeJson(probe) : ProbeTable(probe)).c_str(), stdout);
    return probe.succeeded && TookEveryRequest(simulator.get()) ? 0 : 1;
}

}  // namespace

void AddProbeCommand(CLI::App& app, const std::string& defaultLibrary, int& exitCode) {
    auto options = std::make_shared<ProbeOptions>();
    options->camera.library = defaultLibrary;
    CLI::App* probe = app.add_subcommand(
        "probe",
        "Ask the driver library what the camera offers (capability query) and print "
        "the results; exit code 0 when the query succeeded, 1 when it failed, 2 when "
        "the library or the simulator could not be used");
    AddCameraOptions(*probe, options->camera);
    probe->add_flag("--json", options->json, "Print the results as JSON");
    probe->callback([options, &exitCode] { exitCode = RunProbe(*options); });
}

std::map<int, std::string> ProbeCustomParameters(const DriverLibrary& library,
                                                 const ProbeTarget& target,
                                                 const std::map<int, std::string>& given,
                                                 std::optional<ProbeResult>* result) {
    const ProbeResult probe = Probe(library, target, PROBE_LIMIT);
    std::fputs(ProbeTable(probe).c_str(), stdout);
    if (result)
        *result = probe;
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
