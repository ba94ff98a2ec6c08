// tavrin-host's capability query: the `probe` subcommand, and the probe a streaming run makes
// before it opens the driver.
#pragma once

#include <CLI/CLI.hpp>
#include <map>
#include <optional>
#include <string>

#include "host/driver_library.h"
#include "host/probe.h"

namespace host {

// Adds `probe` to `app`; its callback runs the probe and sets `exitCode`.
void AddProbeCommand(CLI::App& app, const std::string& defaultLibrary, int& exitCode);

// Probes the camera, prints the table and returns the probed custom parameters with `given`
// laid over them (a number given on the command line wins); `given` alone when the probe fails.
// The whole result goes to `result` when one is given.
std::map<int, std::string> ProbeCustomParameters(const DriverLibrary& library,
                                                 const ProbeTarget& target,
                                                 const std::map<int, std::string>& given,
                                                 std::optional<ProbeResult>* result = nullptr);

}  // namespace host
