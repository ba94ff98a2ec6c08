// Receive path: a 1400-byte RTP datagram over loopback UDP -> CUDPClient reader thread -> parse
// -> packet queue -> queue thread -> user callback.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "camsim/udp_sender.h"
#include "rtsp/rtp_receiver.h"
#include "../tests/support/fake_driver.h"  // the tests' IDriver with recorded log lines

namespace {

class CountingUser : public norvane::IRTPReceiverUser {
public:
    void OnPacket(norvane::CRTPPacket*) override {}
    void OnPacketFrom(const norvane::SocketAddress&, norvane::CRTPPacket* packet) override {
        bytes += packet->GetPayloadLength();
        bool reached;
        {
            std::lock_guard<std::mutex> lock(mutex);
            reached = ++delivered >= target;
        }
        if (reached)  // wake the waiter once per batch, not once per packet
            cv.notify_one();
    }
    void OnReceiveTimeout() override {}
    void OnReceiveError() override {}

    // Waits until `count` packets in all were delivered; false after the limit.
    bool WaitFor(uint64_t count, unsigned ms) {
        std::unique_lock<std::mutex> lock(mutex);
        target = count;
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return delivered >= count; });
    }
    uint64_t Delivered() {
        std::lock_guard<std::mutex> lock(mutex);
        return delivered;
    }

    std::atomic<uint64_t> bytes{0};

private:
    std::mutex mutex;
    std::condition_variable cv;
    uint64_t delivered = 0;
    uint64_t target = 0;
};

// Sends batches of packets and waits for their delivery; lost datagrams (kernel buffer full)
// are counted, not waited for.
void BM_RtpReceivePath(benchmark::State& state) {
    const auto batch = static_cast<uint64_t>(state.range(0));
    test::FakeDriver driver;
    CountingUser user;
    norvane::CRTPReceiver receiver(&driver);
    receiver.SetUser(&user);
    camsim::UdpSender sender;
    if (!receiver.Open(0) || !sender.Open()) {
        state.SkipWithError("cannot open loopback sockets");
        return;
    }
    camsim::RtpHeaderFields header;
    const camsim::Bytes payload(1400 - 12, 0x5A);
    uint64_t sent = 0;
    uint64_t lost = 0;
    for (auto _ : state) {
        const uint64_t target = user.Delivered() + batch;
        for (uint64_t i = 0; i < batch; ++i) {
            header.sequence = static_cast<uint16_t>(sent++);
            sender.Send(camsim::BuildRtpPacket(header, payload), receiver.GetPort());
        }
        if (!user.WaitFor(target, 200))
            lost += target - user.Delivered();
    }
    receiver.SetUser(nullptr);
    receiver.Close();
    state.SetItemsProcessed(static_cast<int64_t>(user.Delivered()));
    state.SetBytesProcessed(static_cast<int64_t>(user.bytes.load()));
    state.counters["ns/packet"] = benchmark::Counter(
        static_cast<double>(user.Delivered()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(BM_RtpReceivePath)->Arg(1)->Arg(16)->UseRealTime()->MinTime(1.0);

// The same path without the socket: datagram bytes handed to the receiver as its UDP client
// would, measuring parse, queue and hand-over to the queue thread.
void BM_RtpParseQueueDeliver(benchmark::State& state) {
    const auto batch = static_cast<uint64_t>(state.range(0));
    test::FakeDriver driver;
    CountingUser user;
    norvane::CRTPReceiver receiver(&driver);
    receiver.SetUser(&user);
    if (!receiver.Open(0)) {
        state.SkipWithError("cannot open loopback socket");
        return;
    }
    camsim::RtpHeaderFields header;
    const camsim::Bytes datagram = camsim::BuildRtpPacket(header, camsim::Bytes(1400 - 12, 0x5A));
    const norvane::SocketAddress source =
        norvane::platform::MakeInetAddress(norvane::platform::LoopbackIPv4(), 5000);
    for (auto _ : state) {
        const uint64_t target = user.Delivered() + batch;
        for (uint64_t i = 0; i < batch; ++i)
            receiver.OnDatagram(receiver.GetClient(), source, datagram.data(),
                                static_cast<uint32_t>(datagram.size()));
        user.WaitFor(target, 5000);
    }
    receiver.SetUser(nullptr);
    receiver.Close();
    state.SetItemsProcessed(static_cast<int64_t>(user.Delivered()));
    state.counters["ns/packet"] = benchmark::Counter(
        static_cast<double>(user.Delivered()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RtpParseQueueDeliver)->Arg(256)->UseRealTime()->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
