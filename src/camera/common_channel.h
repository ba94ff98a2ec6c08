// What every Sanyo video channel does before it connects: read the camera's stream settings,
// name the first stream and free it of other streams, set the aspect ratio, and write and submit
// only the codec settings that differ from the wanted ones.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "camera/stream_parameters.h"
#include "foundation/event.h"
#include "foundation/idriver.h"
#include "http/http_client.h"
#include "http/result_def.h"

namespace norvane {

class CCommonChannel {
public:
    // Streams a camera of the family has at most (four are usual); a status page listing more is
    // not taken, so a camera cannot make the channel send a request per listed stream.
    static constexpr unsigned MAX_STREAMS = 16;

    explicit CCommonChannel(IDriver* driver);
    virtual ~CCommonChannel();
    CCommonChannel(const CCommonChannel&) = delete;
    CCommonChannel& operator=(const CCommonChannel&) = delete;

    // The codec status page into `reply`; false when it fails or is empty. Here and in
    // ApplyAspectRatio a camera that answers with its language page is led past it; a set
    // `stop` (may be null) fails the read.
    bool ReadStreamStatus(Web::ByteBuffer& reply, CManualEvent* stop = nullptr);
    // Names an unnamed, switched-off first stream and resets every other stream that is named or
    // switched on; `changed` tells whether a request was sent. A page listing more than
    // MAX_STREAMS streams fails, with nothing sent.
    bool PrepareStreams(std::string_view status, bool& changed);
    // Writes the wanted aspect ratio when it is set and differs from the camera's.
    bool ApplyAspectRatio(CManualEvent* stop = nullptr);
    // "&name=wanted" when the camera reports `name` with another value; empty otherwise.
    static std::string BuildChangedParameter(uint32_t wanted, std::string_view status,
                                             const std::string& name);
    // The whole sequence; false on any failure and whenever `stop` is found set.
    bool ConfigureStream(CManualEvent& stop, const StreamParameterList& list);

    // Ends the request in progress; any thread (the channel's stop path).
    void AbortRequest() { httpClient.CloseRequest(); }
    Web::CHttpClient& HttpClient() { return httpClient; }
    int CameraGroup() const { return cameraGroup; }
    int WantedAspectRatio() const { return wantedAspectRatio; }

private:
    // Logs a failed result when the throttle allows it.
    void LogFailure(const CResultDef& result);
    // GET of a status page into `reply`; false when it fails or is empty. `failure` receives the
    // result of a request that failed with an error code.
    bool ReadStatusPage(const char* path, CManualEvent* stop, Web::ByteBuffer& reply,
                        CResultDef& failure);

    IDriver* configDriver;  // the driver whose camera this configures
    int wantedAspectRatio;  // 0 or 1; CUSTOM_PARAMETER_NOT_SET for anything else
    int cameraGroup;
    Web::CHttpClient httpClient;
    uint32_t failureCounter = 0;  // log throttle, never reset
};

}  // namespace norvane
