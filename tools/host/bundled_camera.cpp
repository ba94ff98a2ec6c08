#include "host/bundled_camera.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "host/module_loader.h"

namespace host {

namespace {

// 0 wide pictures (width/height above 1.5), 1 narrow ones.
unsigned AspectClass(unsigned width, unsigned height) { return 2 * width > 3 * height ? 0 : 1; }

// `media` runs from the largest size to the smallest.
SimulatorMedia Fitting(const std::vector<SimulatorMedia>& media, unsigned width, unsigned height) {
    for (const SimulatorMedia& m : media)
        if (m.width <= width && m.height <= height)
            return m;
    return media.back();
}

std::string OrNone(const std::string& text, const std::string& none) {
    return text.empty() ? none : text;
}

}  // namespace

SimulatorMedia H264MediaFor(unsigned width, unsigned height) {
    return Fitting({{"h264_1080p25.264", 1920, 1080}, {"h264_1slice.264", 320, 240}}, width,
                   height);
}

SimulatorMedia JpegMediaFor(unsigned width, unsigned height) {
    return Fitting({{"jpeg1080p", 1920, 1080}, {"jpeg720p", 1280, 720}, {"jpeg420", 320, 240}},
                   width, height);
}

camsim::Personality SimulatorPersonality(const std::string& model, unsigned width,
                                         unsigned height) {
    camsim::Personality p = camsim::Personality::ForModel(model);
    p.family25 = true;  // the reference media run at 25 frames per second
    p.aspectRatio = static_cast<int>(AspectClass(width, height));
    return p;
}

std::string DefaultMediaDir() {
    for (const std::filesystem::path& dir : {FromExecutableDirectory(TAVRIN_INSTALLED_MEDIA),
                                             std::filesystem::path(TAVRIN_BUILD_MEDIA)}) {
        std::error_code error;
        if (std::filesystem::exists(dir / H264MediaFor(1920, 1080).name, error))
            return dir.string();
    }
    return {};
}

std::unique_ptr<camsim::Camera> StartBundledCamera(const BundledCameraSetup& setup) {
    camsim::CameraConfig camera;
    camera.personality = SimulatorPersonality(setup.model, setup.width, setup.height);
    camera.user = setup.user;
    camera.password = setup.password;
    camera.auth = setup.user.empty() ? camsim::HttpAuthConfig::Mode::None
                                     : camsim::HttpAuthConfig::Mode::Digest;
    camera.mediaDir = setup.mediaDir;
    if (camera.mediaDir.empty())
        std::fprintf(stderr,
                     "tavrin-host: the bundled simulator has no reference media and serves no "
                     "stream; make them with scripts/make-media.sh DIR and pass --media DIR\n");
    camera.h264Media = H264MediaFor(setup.width, setup.height).name;
    camera.jpegMedia = JpegMediaFor(setup.width, setup.height).name;
    auto simulator = std::make_unique<camsim::Camera>(camera);
    if (!simulator->Start())
        return nullptr;
    return simulator;
}

bool TookEveryRequest(camsim::Camera* simulator) {
    const size_t refused = simulator ? simulator->Cgi().RejectionCount() : 0;
    if (refused)
        std::fprintf(stderr, "tavrin-host: the bundled simulator refused %zu request(s)\n",
                     refused);
    return refused == 0;
}

std::map<int, std::string> CustomParameters(const camsim::Personality& camera, uint16_t rtspPort) {
    const std::string firmware = "CAM MAIN:" + camera.camMainVersion +
                                 " CAM SUB:" + camera.camSubVersion +
                                 " NET MAIN:" + camera.netMainVersion +
                                 " NET SUB:" + camera.netSubVersion;
    return {
        {1, camera.family25 ? "0" : "1"},
        {2, std::to_string(rtspPort)},
        {3, std::to_string(camera.group)},
        {4, OrNone(camera.mjpegPath, "noRtspMjpeg")},
        {5, OrNone(camera.h264Path, "noRtspH264")},
        {6, OrNone(camera.mac, "(none)")},
        {7, firmware},
        {8, std::to_string(camera.aspectRatio)},
        {9, camera.interlace ? "1" : "0"},
    };
}

}  // namespace host
