// One RTSP session of the simulated camera: an even/odd UDP port pair (or channels interleaved on
// the RTSP connection), RTP frames paced in real time and looped, RTCP sender reports, receiver
// reports and BYEs counted, and the keep-alive time-out. One thread per session, from SETUP to its
// end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "camsim/interleaved_link.h"
#include "camsim/media_source.h"
#include "camsim/rtp_faults.h"
#include "platform/socket.h"

namespace camsim {

struct SessionSetup {
    std::string id;
    const MediaSource* media = nullptr;
    unsigned fps = 25;
    uint16_t clientRtpPort = 0;
    uint16_t clientRtcpPort = 0;
    // Set: RTP and RTCP go on these channels of the RTSP connection instead of UDP.
    std::shared_ptr<InterleavedLink> link;
    uint8_t rtpChannel = 0;
    uint8_t rtcpChannel = 1;
    uint32_t ssrc = 0;
    uint16_t firstSequence = 0;
    uint32_t timestampBase = 0;
    unsigned timeoutMs = 60000;  // ended when neither a request nor RTCP arrives for this long
    bool rtcpKeepsAlive = true;  // false: only requests count as activity
    unsigned reportIntervalMs = 5000;
    uint64_t frameLimit = 0;  // frames sent at most; then the session stays quiet (0: no limit)
    bool sendStamps = false;  // H.264 frames carry the send time of their last packet
    // The first frame waits a share of a frame period drawn from the SSRC, as a camera with a
    // clock of its own would; otherwise sessions played together send their frames together.
    bool spreadPhase = false;
    RtpFaults faults;
};

enum class SessionEnd { None, Teardown, Timeout, Stopped, Bye };

struct SessionStats {
    bool playing = false;
    SessionEnd end = SessionEnd::None;
    uint64_t frames = 0;
    uint64_t packets = 0;  // RTP datagrams sent
    uint64_t octets = 0;   // their payload bytes
    unsigned senderReports = 0;
    unsigned receiverReports = 0;
    unsigned byes = 0;
    RtpFaultCounts faults;
};

class RtpSession {
public:
    RtpSession(SessionSetup setup, std::function<void()> changed);
    ~RtpSession();
    RtpSession(const RtpSession&) = delete;
    RtpSession& operator=(const RtpSession&) = delete;

    // Binds the port pair (RTP from `rtpAddress`) and starts the session thread.
    bool Open(uint32_t rtpAddress);
    uint16_t ServerRtpPort() const { return rtp_.LocalPort(); }
    const std::string& Id() const { return setup_.id; }
    // The connection the session is interleaved on (null: UDP) and its RTCP channel there.
    const InterleavedLink* Link() const { return setup_.link.get(); }
    uint8_t RtcpChannel() const { return setup_.rtcpChannel; }
    // RTCP of the client, however it arrived.
    void OnRtcp(const uint8_t* data, size_t size);
    uint32_t Ssrc() const { return setup_.ssrc; }

    // Starts or resumes sending; gives the sequence number and timestamp of the next frame.
    bool Play(uint16_t& sequence, uint32_t& timestamp);
    void Pause();
    // A request of this session arrived: the time-out starts again.
    void Touch();
    void SetFaults(const RtpFaults& faults);
    // Ends the session (unless it ended already) and waits for its thread.
    void Stop(SessionEnd why);
    // Ends a live session with a sender report and a BYE in one datagram, as a camera whose
    // stream stops.
    void End();
    SessionStats Stats();

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    // One turn of the thread; false when the session is over.
    bool Turn(Clock::time_point now);
    void SendFrame();
    void SendReport();
    // A sender report of the stream as sent so far (under the lock).
    Packet SenderReport();
    void ReadRtcp();
    // Counts the parts of a compound RTCP packet (under the lock).
    void CountRtcp(const uint8_t* data, size_t size);
    // RTP, or RTCP with `control`, to the client (under the lock).
    void Send(const Packet& datagram, bool control);

    SessionSetup setup_;
    std::function<void()> changed_;
    norvane::platform::UdpSocket rtp_;
    norvane::platform::UdpSocket rtcp_;
    std::thread thread_;
    std::mutex joinMutex_;  // serialises the join of thread_

    std::mutex mutex_;  // guards everything below
    FramePacketizer frames_;
    RtpFaultFilter filter_;
    SessionStats stats_;
    Clock::time_point lastActivity_;
    Clock::time_point nextFrame_;
    Clock::time_point nextReport_;
    Clock::time_point frozenUntil_;
};

}  // namespace camsim
