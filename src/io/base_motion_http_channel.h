// Motion detection polled over HTTP: configure the camera, then poll it once per interval until
// a poll fails, and configure again a second later.
#pragma once

#include "http/http_client.h"
#include "io/base_motion_channel.h"

namespace norvane {

class CBaseMotionHTTPChannel : public CBaseMotionChannel {
public:
    static constexpr unsigned POLL_INTERVAL_MS = 1000;
    static constexpr unsigned RETRY_DELAY_MS = 1000;

    CBaseMotionHTTPChannel(unsigned channel, IDriver* driver, ICaptureSink* sink);
    ~CBaseMotionHTTPChannel() override;

    void CloseConnection() override { httpClient.CloseRequest(); }
    virtual bool ConfigureCamera() = 0;
    virtual bool PollMotion() = 0;

protected:
    void Run() override;

    Web::CHttpClient& HttpClient() { return httpClient; }
    CManualEvent& Stop() { return StopEvent(); }

private:
    unsigned pollInterval = POLL_INTERVAL_MS;
    Web::CHttpClient httpClient;
};

}  // namespace norvane
