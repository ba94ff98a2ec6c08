// tavrin-host: a recording-server stand-in that loads Tavrin.so, runs one camera through it and
// streams its channels to files. This file is its command line: the options of the command and
// its subcommands, kept in the one file that compiles the CLI11 parser.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <string>

#include "host/bundled_camera.h"
#include "host/camera_options.h"
#include "host/io_command.h"
#include "host/module_loader.h"
#include "host/probe_command.h"
#include "host/ptz_command.h"
#include "host/stream_command.h"

namespace {

const char* const kFooter =
    "Status and summary: frames are what the driver delivered; key frames are \"H264\" access "
    "units (key frame with its SPS) and \"JPEG\" pictures. \"lost\" counts only what a host can "
    "see: the driver's signal-loss notices, frames the host's allocator refused and frames the "
    "writer dropped because the disk fell behind; pictures the camera never sent or the driver "
    "discarded are not visible to a host. Exit code 0 when every channel started and delivered "
    "frames, 1 when one did not, 2 when the library or the simulator could not be used.";

// --library, --address, --port, --user, --password, --model and --media.
void AddCameraOptions(CLI::App& command, host::CameraOptions& o) {
    command.add_option("--library", o.library, "Path of the driver library to load")
        ->capture_default_str();
    command.add_option("--address", o.address,
                       "Camera host name or IPv4 address (default: start the bundled simulator)");
    command.add_option("--port", o.port, "Camera HTTP port")->capture_default_str();
    command.add_option("--user", o.user, "Camera login");
    command.add_option("--password", o.password, "Camera password");
    command
        .add_option("--model", o.model,
                    "Device model as the host configures it; the bundled simulator plays it")
        ->capture_default_str();
    if (o.media.empty())
        o.media = host::DefaultMediaDir();
    command
        .add_option("--media", o.media,
                    "Reference media folder of the bundled simulator ('' for none)")
        ->capture_default_str();
}

void AddIOOptions(CLI::App& app, host::IOOptions& o) {
    app.add_flag("--io", o.io, "Start the camera's alarm I/O and print every input change live");
    app.add_flag("--motion", o.motion,
                 "Ask for motion detection on every channel and print each motion record live");
    app.add_option("--inputs", o.inputs,
                   "Alarm inputs of the device (default: the bundled simulator's count)");
    app.add_option("--outputs", o.outputs,
                   "Alarm outputs of the device (default: the bundled simulator's count)");
    app.add_option("--set-output", o.setOutputs,
                   "N=0|1: drive alarm output N (0 is the first) inactive or active once I/O "
                   "starts (repeatable; implies --io)");
    app.add_option("--alarm", o.alarms,
                   "T:inputN=0|1 or T:motion=0|1: the bundled simulator sets input N or its "
                   "motion T milliseconds after start (repeatable)");
}

// The picture and the run: codec, channels, size, rate, quality, time and output.
void AddPictureOptions(CLI::App& app, host::StreamOptions& o) {
    app.add_option("--codec", o.codec, "Codec type: 1 Motion-JPEG, 3 H.264")
        ->check(CLI::IsMember({1, 3}))
        ->capture_default_str();
    app.add_option("--channels", o.channels, "Number of video channels")
        ->check(CLI::Range(1, 16))
        ->capture_default_str();
    app.add_option("--width", o.width,
                   "Requested picture width (default 1920 for H.264, 1280 for Motion-JPEG, which "
                   "the driver receives over HTTP above 1600)");
    app.add_option("--height", o.height, "Requested picture height (default 1080 or 720)");
    app.add_option("--frame-period", o.framePeriod, "Frame period in ms (40: 25 fps)")
        ->capture_default_str();
    app.add_option("--quality", o.quality, "Picture quality 1 to 100")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    app.add_option("--seconds", o.seconds, "How long to stream")
        ->check(CLI::Range(1u, 86400u))
        ->capture_default_str();
}

// The streaming run's options, the main command's own.
void AddStreamOptions(CLI::App& app, host::StreamOptions& o) {
    AddCameraOptions(app, o.camera);
    AddPictureOptions(app, o);
    app.add_option("--out", o.out,
                   "Output folder: channel-N.h264/.mjpeg, summary.json, driver.log, report.html")
        ->capture_default_str();
    app.add_option("--queue", o.queue, "Frames queued per channel before the oldest is dropped")
        ->check(CLI::Range(size_t{1}, size_t{10000}))
        ->capture_default_str();
    app.add_option("--rtsp-transport", o.rtspTransport,
                   "RTP transport of RTSP channels, handed to the driver as custom parameter 10: "
                   "auto (UDP, TCP where UDP fails), udp or tcp (interleaved on the RTSP "
                   "connection)")
        ->check(CLI::IsMember({"auto", "udp", "tcp"}))
        ->capture_default_str();
    app.add_option("--custom", o.custom,
                   "Custom parameter as NUMBER TEXT (repeatable), e.g. --custom 7 V2.03; these "
                   "override what the capability query before streaming gives");
    app.footer(kFooter);
    AddIOOptions(app, o.io);
}

CLI::App* AddProbeCommand(CLI::App& app, host::ProbeOptions& o) {
    CLI::App* probe = app.add_subcommand(
        "probe",
        "Ask the driver library what the camera offers (capability query) and print "
        "the results; exit code 0 when the query succeeded, 1 when it failed, 2 when "
        "the library or the simulator could not be used");
    AddCameraOptions(*probe, o.camera);
    probe->add_flag("--json", o.json, "Print the results as JSON");
    return probe;
}

// Pan, tilt, zoom, focus and iris: each runs for --for ms, then stops.
void AddPtzMoves(CLI::App& ptz, host::PtzOptions& o) {
    ptz.add_option("--move", o.move,
                   "Move in direction 0-7 (pan/tilt) or 8-9 (zoom) for --for ms, then stop")
        ->check(CLI::Range(0, 9));
    ptz.add_option("--speed", o.speed, "Speed 1 to 16")->capture_default_str();
    ptz.add_option("--for", o.forMs, "How long a move, zoom, focus or iris command runs, in ms")
        ->check(CLI::Range(0u, 60000u))
        ->capture_default_str();
    ptz.add_option("--zoom", o.zoom, "Zoom in or out for --for ms")
        ->check(CLI::IsMember({"in", "out"}));
    ptz.add_option("--focus", o.focus, "Focus near or far for --for ms")
        ->check(CLI::IsMember({"near", "far"}));
    ptz.add_option("--iris", o.iris, "Open or close the iris for --for ms")
        ->check(CLI::IsMember({"open", "close"}));
}

CLI::App* AddPtzCommand(CLI::App& app, host::PtzOptions& o) {
    CLI::App* ptz = app.add_subcommand(
        "ptz",
        "Steer the camera's head and presets through the driver; prints each result code "
        "(1 success, -3 invalid argument, -18 failed, -19 not supported, -23 preset not "
        "found, -26 preset table full) and, against the bundled simulator, the operation "
        "requests the camera received.");
    AddCameraOptions(*ptz, o.camera);
    ptz->add_option("--mac", o.mac,
                    "Custom parameter 6, which names the preset file Sanyo_<mac>.preset beside "
                    "tavrin-host (default: the simulator's)");
    ptz->add_option(
        "--group", o.group,
        "Camera group, custom parameter 3 (2 and 4: zoom, focus and iris only, 8 presets)");
    ptz->add_option("--channel", o.channel, "PTZ channel")->capture_default_str();
    AddPtzMoves(*ptz, o);
    ptz->add_option("--center", o.center, "Centre the picture on the point X,Y");
    ptz->add_flag("--unzoom", o.unzoom, "Zoom all the way out");
    ptz->add_option(
        "--preset-add", o.presetAdd,
        "Store the current position under NAME (renames the preset the head stands on)");
    ptz->add_option("--preset-goto", o.presetGoto, "Move to the preset NAME");
    ptz->add_option("--preset-remove", o.presetRemove, "Remove the preset NAME");
    ptz->add_flag("--preset-list", o.presetList, "List the channel's presets");
    return ptz;
}

}  // namespace

// The plug-in an installed tavrin-host finds relative to its own folder, else the build tree's.
std::string DefaultLibrary() {
    const std::filesystem::path installed = host::FromExecutableDirectory(TAVRIN_INSTALLED_LIBRARY);
    std::error_code error;
    return std::filesystem::is_regular_file(installed, error) ? installed.string()
                                                              : TAVRIN_DEFAULT_LIBRARY;
}

int main(int argc, char** argv) {
    CLI::App app{
        "tavrin-host: loads the Tavrin driver library as a recording server does, opens "
        "one camera, streams its channels to files for a bounded time with a live status "
        "line per channel, and writes a summary."};
    const std::string library = DefaultLibrary();
    host::StreamOptions stream;
    stream.camera.library = library;
    AddStreamOptions(app, stream);
    host::ProbeOptions probe;
    probe.camera.library = library;
    CLI::App* probeCommand = AddProbeCommand(app, probe);
    host::PtzOptions ptz;
    ptz.camera.library = library;
    CLI::App* ptzCommand = AddPtzCommand(app, ptz);
    CLI11_PARSE(app, argc, argv);
    if (probeCommand->parsed())
        return host::RunProbeCommand(probe);
    if (ptzCommand->parsed())
        return host::RunPtzCommand(ptz, stream.camera.media);
    stream.sizeGiven = app.count("--width") || app.count("--height");
    stream.transportGiven = app.count("--rtsp-transport") > 0;
    return host::RunStreamCommand(stream);
}
