// A Motion-JPEG channel that receives the camera's pictures as an HTTP server-push reply
// instead of RTSP: configure the stream, open the push request, cut the pictures out of the
// byte stream, hand them to the host, and reconnect when the stream ends or fails.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "camera/common_channel.h"
#include "channels/base_camera_channel.h"
#include "channels/jpeg_push_scanner.h"

namespace norvane {

class CMjpegHttpChannel final : public CBaseCameraChannel,
                                public IJpegReceiver,
                                public CCommonChannel {
public:
    static constexpr uint32_t READ_BUFFER_SIZE = 16384;
    static constexpr uint32_t RETRY_MS = 1000;
    static constexpr uint32_t SLOW_RETRY_MS = 5000;
    static constexpr unsigned QUICK_RETRIES = 3;
    static constexpr uint32_t PAUSED_POLL_MS = 200;

    CMjpegHttpChannel(unsigned number, IDriver* driver, ICaptureSink* sink);
    ~CMjpegHttpChannel() override;

    void OnJpegPicture(const uint8_t* picture, size_t size, uint32_t width,
                       uint32_t height) override;

    uint64_t GetDroppedPictures() const { return scanner.GetDroppedCount(); }

protected:
    int Run() override;
    void OnStopThread() override;

private:
    bool ConfigureCamera();
    bool Connect();
    void ReadStream();
    // Between attempts and at the end: the state, and the loss notices once the last picture
    // is older than the frame time-out.
    void JudgeAttempt(bool stopping);
    // Milliseconds without a picture on this connection.
    uint32_t SilenceMs();

    CJpegPushScanner scanner;
    std::vector<uint8_t> readBuffer;
    std::atomic<bool> deliveryFailed{false};
    uint32_t connectedAtMs = 0;
};

}  // namespace norvane
