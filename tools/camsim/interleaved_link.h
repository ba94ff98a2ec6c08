// The RTSP connection as a carrier of RTP and RTCP (RFC 2326 10.12): replies and '$' frames go
// out whole, one at a time, from the connection's thread and the sessions' threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/socket.h"

namespace camsim {

class InterleavedLink {
public:
    // Time a frame may wait for the client to take data; a client that reads nothing for this
    // long loses its connection, as a camera's send buffer would overflow.
    static constexpr unsigned kFrameSendMs = 2000;

    explicit InterleavedLink(norvane::platform::TcpSocket& socket) : socket_(&socket) {}

    // One '$' frame on `channel`; false once the link is closed. A frame that did not go out
    // whole closes the link and shuts the connection down.
    bool SendFrame(uint8_t channel, const uint8_t* data, size_t size);
    // Reply text, whole, waiting up to `milliseconds` for the client to take each part, with
    // `pauseMs` before each byte (0: in one piece; `pause` waits and tells whether to go on).
    template <typename Pause>
    bool SendText(const std::string& text, unsigned milliseconds, unsigned pauseMs, Pause pause) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!socket_)
            return false;
        if (pauseMs == 0)
            return socket_->SendAllWithin(text.data(), text.size(), milliseconds);
        for (const char byte : text) {
            if (!pause(pauseMs) || !socket_->SendAllWithin(&byte, 1, milliseconds))
                return false;
        }
        return true;
    }
    // The connection ends: nothing more is sent.
    void Close();

private:
    std::mutex mutex_;
    norvane::platform::TcpSocket* socket_;  // null once closed
};

}  // namespace camsim
