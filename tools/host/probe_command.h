// tavrin-host's capability query: the `probe` subcommand, and the probe a streaming run makes
// before it opens the driver.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "host/camera_options.h"
#include "host/driver_library.h"
#include "host/probe.h"

namespace host {

struct ProbeOptions {
    CameraOptions camera;
    bool json = false;
};

// Probes the camera and prints the results: 0 when the query succeeded, 1 when it failed, 2 when
// the library or the simulator could not be used.
int RunProbeCommand(const ProbeOptions& options);

// Probes the camera, prints the table and returns the probed custom parameters with `given`
// laid over them (a number given on the command line wins); `given` alone when the probe fails.
// The whole result goes to `result` when one is given.
std::map<int, std::string> ProbeCustomParameters(const DriverLibrary& library,
                                                 const ProbeTarget& target,
                                                 const std::map<int, std::string>& given,
                                                 std::optional<ProbeResult>* result = nullptr);

}  // namespace host
