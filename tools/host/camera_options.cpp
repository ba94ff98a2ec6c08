#include "host/camera_options.h"

namespace host {

void ConfigureCamera(DeviceConfig& config, const CameraOptions& camera, int channels, int codec) {
    config.device.model = camera.model;
    config.device.channelCount = channels;
    config.connection.address = camera.address;
    config.connection.port = camera.port;
    config.connection.userName = camera.user;
    config.connection.password = camera.password;
    config.connection.codecType = codec;
}

}  // namespace host
