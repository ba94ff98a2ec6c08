// PTZ command thread of Sanyo cameras: each command is one GET of the operation CGI.
#pragma once

#include <atomic>
#include <string>

#include "foundation/lock.h"
#include "http/http_client.h"
#include "ptz/base_ptz_comm.h"

namespace norvane {

// Camera speed for a host speed; host speeds outside 1 to 16 count as the nearest end.
int SanyoCameraSpeed(int speed, bool zoom);
// Request of a move in `direction` (0 to 9; others send the bare move command).
std::string SanyoMovePath(int direction, int speed);
// Relative pan/tilt step that centres the picture on (x, y); the point is clamped into the
// picture. Empty (nothing to send) when half the width or height is 0.
std::string SanyoCenterPath(int width, int height, int x, int y);

class CSanyoPTZComm : public CBasePTZComm {
public:
    CSanyoPTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel);
    // Stops the thread before the HTTP client goes.
    ~CSanyoPTZComm() override;

    bool SavePreposition(unsigned slot, const std::string& name) override;
    bool GotoPreposition(unsigned slot, const std::string& name, int value) override;

protected:
    void HandleWorkItem(CPTZItem* item) override;
    void AbortRequests() override { client.CloseRequest(); }
    // One request time-out, nothing once the camera left a request unanswered.
    unsigned DrainLimitMs() override { return cameraSilent ? 0 : client.Timeout(); }

private:
    // One request at a time: the command thread and preset calls from host threads share the
    // client.
    bool SendCommand(const std::string& path);
    struct LensCommand;
    void ProcessLensCommand(const CPTZItem& item, const LensCommand& command);
    void ProcessStopCommand(const CPTZItem& item);
    void ProcessCenterCommand(const CPTZItem& item);

    CLock requestLock;  // never taken on the stop path
    Web::CHttpClient client;
    std::atomic<bool> cameraSilent{false};  // the last request got no answer
};

}  // namespace norvane
