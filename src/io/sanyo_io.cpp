#include "io/sanyo_io.h"

#include <cstdio>

#include "camera/custom_parameters.h"
#include "http/camera_request.h"

namespace norvane {

namespace {

int CameraGroupOf(IDriver* driver) {
    const int group = driver->GetCustomParameterInt(CAMERA_GROUP.number);
    return group == CUSTOM_PARAMETER_NOT_SET ? 1 : group;
}

}  // namespace

CSanyoIO::CSanyoIO(IDriver* driver)
    : CIOBase(driver),
      outputClient(*driver->GetDeviceInfo(), Web::HTTP_CLIENT_AGENT),
      inputClient(*driver->GetDeviceInfo(), Web::HTTP_CLIENT_AGENT),
      cameraGroup(CameraGroupOf(driver)) {
    outputClient.SetStopEvent(&OutputStopEvent());
    inputClient.SetStopEvent(&InputStopEvent());
}

// The threads use the clients: they end before the clients go.
CSanyoIO::~CSanyoIO() {
    StopIO();
}

int CSanyoIO::InputState(uint8_t status, unsigned index) {
    const bool active = index < STATUS_BITS && ((status >> index) & 1u) != 0;
    return active ? IO_STATE_ACTIVE : IO_STATE_INACTIVE;
}

std::string CSanyoIO::OutputRequest(int group, int index, int state) {
    const int polarity = state == IO_STATE_INACTIVE ? 0 : 1;
    char path[128];
    if (group == 2) {
        std::snprintf(path, sizeof path, "/cgi-bin/alarm_out.cgi?alarm_out_polarity=%d&status=1",
                      polarity);
    } else {
        const std::string number = index == 0 ? std::string() : std::to_string(index + 1);
        std::snprintf(path, sizeof path, "/cgi-bin/alarm_set.cgi?alarm_out_polarity%s=%d&status=1",
                      number.c_str(), polarity);
    }
    return path;
}

bool CSanyoIO::WriteOutput(int index, int state) {
    Web::ByteBuffer reply;
    return Utils::SendRequestWithLanguageFallback(
        outputClient, reply, OutputRequest(cameraGroup, index, state), &OutputStopEvent());
}

// A failed request changes and reports nothing: only a failed write resets the states.
bool CSanyoIO::PollInputs() {
    Web::ByteBuffer reply;
    const size_t offset = StatusOffset(cameraGroup);
    if (!Utils::SendRequestWithLanguageFallback(inputClient, reply, POLL_REQUEST,
                                                &InputStopEvent()) ||
        Utils::ReplyLength(reply) <= offset)
        return true;
    const uint8_t status = reply[offset];
    const unsigned inputs = GetDriver()->GetIOCounts().first;
    for (unsigned i = 0; i < inputs; ++i)
        InputChanged(i, InputState(status, i));
    return true;
}

void CSanyoIO::CloseConnections() {
    inputClient.CloseRequest();
    outputClient.CloseRequest();
}

}  // namespace norvane
