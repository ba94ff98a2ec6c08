// The bundled camera simulator as the host sets it up when no camera address is given: media
// that fits the requested picture size, and the custom parameters a capability query of that
// camera would have handed to the host.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "camsim/camera.h"

namespace host {

struct SimulatorMedia {
    std::string name;  // H.264 file or picture folder in the media folder
    unsigned width = 0;
    unsigned height = 0;
};

// The largest reference media that fits the requested size (else the smallest). The simulator
// serves it as it is, whatever size the driver asks the camera for.
SimulatorMedia H264MediaFor(unsigned width, unsigned height);
SimulatorMedia JpegMediaFor(unsigned width, unsigned height);

// Personality of `model` whose picture shape (wide or narrow) follows `width` x `height`.
camsim::Personality SimulatorPersonality(const std::string& model, unsigned width,
                                         unsigned height);

// The reference media folder when none is given: the one installed beside the program
// (<prefix>/share/tavrin/media), else the build tree's; empty when neither holds the media.
std::string DefaultMediaDir();

// The simulator playing `model` with the media that fit `width` x `height` (from `mediaDir`; none
// when empty), Digest authentication when `user` is given; null when it did not start.
struct BundledCameraSetup {
    std::string model;
    unsigned width = 1920;
    unsigned height = 1080;
    std::string user;
    std::string password;
    std::string mediaDir;
};
std::unique_ptr<camsim::Camera> StartBundledCamera(const BundledCameraSetup& setup);

// False when the bundled simulator refused a request (each refusal was printed as it came):
// the run fails then, as a camera of the model would not have taken the request. True without
// a simulator.
bool TookEveryRequest(camsim::Camera* simulator);

// Custom parameters 1 to 9 as a capability query reports them for this camera.
std::map<int, std::string> CustomParameters(const camsim::Personality& camera, uint16_t rtspPort);

}  // namespace host
