// Users of the UDP client and RTP receiver that record every call and let tests wait for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "rtsp/rtp_receiver.h"
#include "rtsp/udp_client.h"

namespace test {

using Bytes = std::vector<uint8_t>;

// Waits (bounded) until `done` holds under the mutex; `done` is evaluated on every notification.
class Recorder {
public:
    std::mutex mutex;  // guards the recorded fields of the derived class

    bool WaitUntil(const std::function<bool()>& done, unsigned ms = 5000) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), done);
    }

protected:
    template <typename F>
    void Record(F change) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            change();
        }
        cv.notify_all();
    }

private:
    std::condition_variable cv;
};

class RecordingClientUser : public norvane::IRTPClientUser, public Recorder {
public:
    void OnDatagram(norvane::IRTPClient*, const norvane::SocketAddress& source, const uint8_t* data,
                    uint32_t length) override {
        if (gate)
            gate();
        Record([&] {
            datagrams.emplace_back(data, data + length);
            sources.push_back(source);
        });
    }
    void OnWaitTimeout(norvane::IRTPClient*) override { Record([&] { ++timeouts; }); }
    void OnSocketError(norvane::IRTPClient*) override { Record([&] { ++errors; }); }

    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return datagrams.size();
    }

    std::function<void()> gate;  // run before each datagram is recorded (on the reader thread)
    std::vector<Bytes> datagrams;
    std::vector<norvane::SocketAddress> sources;
    int timeouts = 0;
    int errors = 0;
};

class RecordingReceiverUser : public norvane::IRTPReceiverUser, public Recorder {
public:
    void OnPacket(norvane::CRTPPacket*) override {}
    void OnPacketFrom(const norvane::SocketAddress& source, norvane::CRTPPacket* packet) override {
        if (gate)
            gate();
        Record([&] {
            sequences.push_back(packet->GetSequenceNumber());
            sources.push_back(source);
            const uint8_t* payload = packet->GetPayload();
            payloads.emplace_back(payload, payload + packet->GetPayloadLength());
            headerExtras.push_back(packet->GetCsrcList().size() + packet->GetExtensionData().size());
        });
    }
    void OnReceiveTimeout() override { Record([&] { ++timeouts; }); }
    void OnReceiveError() override { Record([&] { ++errors; }); }

    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return sequences.size();
    }

    std::function<void()> gate;  // run before each delivery is recorded (on the queue thread)
    std::vector<uint16_t> sequences;
    std::vector<norvane::SocketAddress> sources;
    std::vector<Bytes> payloads;
    std::vector<size_t> headerExtras;  // CSRC entries + extension bytes of each packet
    int timeouts = 0;
    int errors = 0;
};

}  // namespace test
