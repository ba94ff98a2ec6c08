#include "io/base_motion_http_channel.h"

namespace norvane {

CBaseMotionHTTPChannel::CBaseMotionHTTPChannel(unsigned channel, IDriver* driver,
                                               ICaptureSink* sink)
    : CBaseMotionChannel(channel, driver, sink),
      httpClient(*driver->GetDeviceInfo(), Web::HTTP_CLIENT_AGENT) {
    httpClient.SetStopEvent(&StopEvent());
}

// The thread uses the client: it ends before the client goes.
CBaseMotionHTTPChannel::~CBaseMotionHTTPChannel() { StopDetection(); }

void CBaseMotionHTTPChannel::Run() {
    for (;;) {
        if (ConfigureCamera()) {
            while (!StopEvent().Wait(pollInterval) && PollMotion()) {
            }
        }
        if (StopEvent().Wait(RETRY_DELAY_MS))
            return;
    }
}

}  // namespace norvane
