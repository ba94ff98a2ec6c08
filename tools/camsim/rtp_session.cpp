#include "camsim/rtp_session.h"

#include <algorithm>
#include <utility>

#include "camsim/send_stamp.h"
#include "camsim/udp_sender.h"

namespace camsim {

namespace platform = norvane::platform;

namespace {

constexpr unsigned kRtcpReceiverReport = 201;
constexpr unsigned kRtcpBye = 203;
constexpr unsigned kMaxWaitMs = 50;  // bound of one wait, so PLAY and PAUSE take effect quickly
constexpr uint64_t kNtpUnixOffset = 2208988800ull;

// Binds `rtp` to an even port of `rtpAddress` and `rtcp` to the next port of 127.0.0.1.
bool OpenPortPair(platform::UdpSocket& rtp, platform::UdpSocket& rtcp, uint32_t rtpAddress) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        platform::UdpSocket probe;
        if (!probe.Open(0, platform::LoopbackIPv4()))
            return false;
        const uint16_t port = static_cast<uint16_t>(probe.LocalPort() & ~1u);
        probe.Close();
        if (port != 0 && rtp.Open(port, rtpAddress) &&
            rtcp.Open(static_cast<uint16_t>(port + 1), platform::LoopbackIPv4()))
            return true;
        rtp.Close();
        rtcp.Close();
    }
    return false;
}

}  // namespace

RtpSession::RtpSession(SessionSetup setup, std::function<void()> changed)
    : setup_(std::move(setup)),
      changed_(std::move(changed)),
      frames_(*setup_.media, setup_.ssrc, setup_.firstSequence, setup_.timestampBase, setup_.fps),
      lastActivity_(Clock::now()) {
    filter_.Set(setup_.faults);
    frames_.SetSendStamps(setup_.sendStamps);
}

RtpSession::~RtpSession() { Stop(SessionEnd::Stopped); }

bool RtpSession::Open(uint32_t rtpAddress) {
    if (!OpenPortPair(rtp_, rtcp_, rtpAddress))
        return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool RtpSession::Play(uint16_t& sequence, uint32_t& timestamp) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stats_.end != SessionEnd::None)
            return false;
        if (!stats_.playing) {
            nextFrame_ = nextReport_ = Clock::now();
            if (setup_.spreadPhase)
                nextFrame_ +=
                    std::chrono::microseconds(setup_.ssrc % (1000000 / std::max(setup_.fps, 1u)));
            stats_.playing = true;
        }
        lastActivity_ = Clock::now();
        sequence = frames_.NextSequence();
        timestamp = frames_.NextTimestamp();
    }
    changed_();
    return true;
}

void RtpSession::Pause() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stats_.playing = false;
        lastActivity_ = Clock::now();
    }
    changed_();
}

void RtpSession::Touch() {
    std::lock_guard<std::mutex> lock(mutex_);
    lastActivity_ = Clock::now();
}

void RtpSession::SetFaults(const RtpFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    filter_.Set(faults);
}

void RtpSession::Stop(SessionEnd why) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stats_.end == SessionEnd::None)
            stats_.end = why;
        stats_.playing = false;
    }
    rtcp_.Wake();
    {
        // Stop may come from several threads at once (a TEARDOWN and the reaping of ended
        // sessions at another SETUP); one of them joins.
        std::lock_guard<std::mutex> lock(joinMutex_);
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
            thread_.join();
    }
    changed_();
}

void RtpSession::End() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stats_.end != SessionEnd::None)
            return;
        Packet datagram = SenderReport();
        const Bytes bye = BuildBye(setup_.ssrc);
        datagram.insert(datagram.end(), bye.begin(), bye.end());
        Send(datagram, true);
        stats_.end = SessionEnd::Bye;  // the thread sends nothing after the BYE
        stats_.playing = false;
    }
    Stop(SessionEnd::Bye);
}

SessionStats RtpSession::Stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    SessionStats stats = stats_;
    stats.faults = filter_.Counts();
    return stats;
}

void RtpSession::Run() {
    for (;;) {
        ReadRtcp();
        const bool going = Turn(Clock::now());
        changed_();
        if (!going)
            return;
        unsigned waitMs = kMaxWaitMs;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stats_.playing) {
                const auto due = std::max(std::min(nextFrame_, nextReport_), frozenUntil_) - Clock::now();
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due).count();
                waitMs = static_cast<unsigned>(std::clamp<long long>(ms, 0, kMaxWaitMs));
            }
        }
        const platform::WaitResult result = rtcp_.WaitReadable(waitMs);
        if (result == platform::WaitResult::Woken || result == platform::WaitResult::Error)
            return;  // Stop has set the end
    }
}

bool RtpSession::Turn(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stats_.end != SessionEnd::None)
        return false;
    if (now - lastActivity_ > std::chrono::milliseconds(setup_.timeoutMs)) {
        stats_.end = SessionEnd::Timeout;
        stats_.playing = false;
        return false;
    }
    if (!stats_.playing || now < frozenUntil_)
        return true;
    const bool spent = setup_.frameLimit && stats_.frames >= setup_.frameLimit;
    if (!spent && now >= nextFrame_) {
        if (const unsigned freezeMs = filter_.FreezeAt(stats_.frames)) {
            frozenUntil_ = nextFrame_ = now + std::chrono::milliseconds(freezeMs);
            return true;
        }
        SendFrame();
        nextFrame_ += std::chrono::microseconds(1000000 / std::max(setup_.fps, 1u));
        if (now - nextFrame_ > std::chrono::seconds(1))
            nextFrame_ = now;  // far behind (a stalled machine): do not burst to catch up
    }
    if (now >= nextReport_) {
        SendReport();
        nextReport_ = now + std::chrono::milliseconds(std::max(setup_.reportIntervalMs, 10u));
    }
    return true;
}

void RtpSession::SendFrame() {
    std::vector<Packet> packets = frames_.NextFrame();
    ++stats_.frames;
    filter_.Apply(packets);
    for (Packet& packet : packets) {
        if (setup_.sendStamps && &packet == &packets.back())
            WriteSendStamp(packet.data(), packet.size(), MonotonicNanoseconds());
        Send(packet, false);
        ++stats_.packets;
        stats_.octets += packet.size() - 12;
    }
}

void RtpSession::SendReport() {
    Send(SenderReport(), true);
    ++stats_.senderReports;
}

Packet RtpSession::SenderReport() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const uint64_t micros =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count());
    const uint32_t seconds = static_cast<uint32_t>(micros / 1000000 + kNtpUnixOffset);
    const uint32_t fraction = static_cast<uint32_t>(((micros % 1000000) << 32) / 1000000);
    return BuildSenderReport(setup_.ssrc, seconds, fraction, frames_.NextTimestamp(),
                             static_cast<uint32_t>(stats_.packets),
                             static_cast<uint32_t>(stats_.octets));
}

void RtpSession::ReadRtcp() {
    uint8_t buffer[1500];
    platform::InetAddress source;
    bool truncated = false;
    for (int got; (got = rtcp_.ReceiveFrom(buffer, sizeof(buffer), source, truncated)) > 0;)
        OnRtcp(buffer, std::min(static_cast<size_t>(got), sizeof(buffer)));
}

void RtpSession::OnRtcp(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (setup_.rtcpKeepsAlive)
        lastActivity_ = Clock::now();
    CountRtcp(data, size);
}

void RtpSession::CountRtcp(const uint8_t* data, size_t size) {
    for (size_t at = 0; at + 4 <= size;) {  // each part of a compound packet
        stats_.receiverReports += data[at + 1] == kRtcpReceiverReport;
        stats_.byes += data[at + 1] == kRtcpBye;
        at += 4 * (static_cast<size_t>((data[at + 2] << 8) | data[at + 3]) + 1);
    }
}

void RtpSession::Send(const Packet& datagram, bool control) {
    if (setup_.link) {
        setup_.link->SendFrame(control ? setup_.rtcpChannel : setup_.rtpChannel, datagram.data(),
                               datagram.size());
        return;
    }
    if (filter_.BlocksUdp())
        return;
    platform::UdpSocket& socket = control ? rtcp_ : rtp_;
    const uint16_t port = control ? setup_.clientRtcpPort : setup_.clientRtpPort;
    socket.SendTo(datagram.data(), datagram.size(), platform::MakeInetAddress(platform::LoopbackIPv4(), port));
}

}  // namespace camsim
