#include "host/camera_options.h"

#include "host/bundled_camera.h"

namespace host {

void AddCameraOptions(CLI::App& command, CameraOptions& o) {
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
        o.media = DefaultMediaDir();
    command
        .add_option("--media", o.media,
                    "Reference media folder of the bundled simulator ('' for none)")
        ->capture_default_str();
}

}  // namespace host
