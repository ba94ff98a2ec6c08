#include "host/probe_command.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "host/bundled_camera.h"

namespace host {

namespace {

// The query's own requests end within twice their 10 s time-out each; this bounds the wait.
constexpr std::chrono::seconds PROBE_LIMIT{60};

}  // namespace

int RunProbeCommand(const ProbeOptions& o) {
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
