// Faults of a running stream, through Tavrin.so: the camera restarts, its RTSP connection is cut,
// it ends the session, its session ends early, its packets are lost, reordered, duplicated or come
// from elsewhere, it freezes, the host stalls in DeliverFrame, its RTP over UDP never arrives, and
// the RTSP connection that carries RTP over TCP is cut. The channel must come back by itself,
// deliver nothing corrupt and hold no more memory afterwards.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "faults/fault_case.h"

using test::FaultCase;
using namespace std::chrono_literals;

namespace {

// Totals of the simulator's RTSP side, read under its lock.
camsim::RtspTotals Totals(FaultCase& c) {
    return c.rig.simulator->Rtsp().Totals();
}

bool WaitForRtsp(FaultCase& c, const std::function<bool(const camsim::RtspTotals&)>& condition,
                 unsigned milliseconds) {
    return c.rig.simulator->Rtsp().WaitUntil([&] { return condition(Totals(c)); }, milliseconds);
}

// The fault is over or has been noticed: the channel sets up a new session and streams again.
void ExpectNewSession(FaultCase& c, size_t frames = 25) {
    c.FaultCleared();
    EXPECT_TRUE(c.WaitRecovered(test::RECOVERY_LIMIT, frames));
    EXPECT_GE(c.rig.CountRtsp("SETUP"), 2u) << "no new session";
}

}  // namespace

// The camera goes away for two seconds and comes back on the same ports.
TEST(StreamFaults, CameraRestart) {
    FaultCase c("camera restarts");
    ASSERT_TRUE(c.Warm());
    const auto down = test::Clock::now();
    ASSERT_TRUE(c.rig.simulator->SetOffline(true));
    EXPECT_FALSE(c.rig.sink.WaitForFrames(c.rig.sink.FrameCount() + 2, 2s)) << "still streaming";
    ASSERT_TRUE(c.rig.simulator->SetOffline(false));
    const long long outageMs = test::MillisecondsSince(down);
    ExpectNewSession(c);
    // Counted from the moment the camera went down.
    EXPECT_LE(outageMs + c.RecoveryMs(), std::chrono::milliseconds(test::RECONNECT_BOUND).count());
    c.Finish();
}

// The RTSP connection is cut under a session that the camera ends when its keep-alives stop.
TEST(StreamFaults, RtspConnectionCut) {
    FaultCase c("RTSP connection cut");
    c.rig.simulator->Rtsp().SetSessionTimeout(4, 4000);
    ASSERT_TRUE(c.Warm());
    c.rig.simulator->Rtsp().CutConnections();
    ASSERT_TRUE(WaitForRtsp(
        c, [](const auto& t) { return t.timedOut >= 1; }, 10000))
        << "the session outlived its keep-alives";
    ExpectNewSession(c);
    c.Finish();
}

// The camera ends the session: a BYE for its stream, and the RTSP connection closed. It is back at
// once, so the time to recover counts from the end: the channel notices it by itself instead of
// waiting out the frame time-out.
TEST(StreamFaults, SessionEndedByTheServer) {
    FaultCase c("session ended by the server");
    ASSERT_TRUE(c.Warm());
    c.rig.simulator->Rtsp().EndSessions();
    c.rig.simulator->Rtsp().CutConnections();
    ExpectNewSession(c);
    EXPECT_LT(c.RecoveryMs(), std::chrono::milliseconds(test::FRAME_TIMEOUT).count() / 2);
    c.Finish();
}

// The camera ends sessions after 3 s although it announces 60 s: each ended session is
// replaced.
TEST(StreamFaults, SessionTimeOutShorterThanAnnounced) {
    FaultCase c("session time-out shorter than announced");
    c.rig.simulator->Rtsp().SetSessionTimeout(60, 3000);
    c.rig.simulator->Rtsp().SetRtcpKeepAlive(false);  // else a receiver report may keep it alive
    ASSERT_TRUE(c.Warm(10));
    ASSERT_TRUE(WaitForRtsp(
        c, [](const auto& t) { return t.timedOut >= 1; }, 10000));
    ExpectNewSession(c, 10);
    c.Finish();
}

// 5 % of the packets lost, 5 % reordered and 5 % duplicated for about 5 s. The 320x240 stream
// (a few packets per frame, a key frame every second) still completes key frames under 5 % loss;
// a 1080p key frame of 100+ packets would almost never arrive whole, so nothing would be
// delivered during the fault and nothing would be checked.
TEST(StreamFaults, LossReorderingAndDuplicates) {
    FaultCase c("5 % loss, reordering, duplicates");
    ASSERT_TRUE(c.Warm());
    camsim::RtpFaults faults;
    faults.lossPercent = 5;
    faults.reorderEvery = 20;
    faults.duplicateEvery = 21;  // not 20: a packet held back for reordering is not doubled
    faults.seed = 7;
    c.rig.simulator->Rtsp().SetRtpFaults(faults);
    const size_t before = c.rig.sink.FrameCount();
    const uint64_t sentBefore = Totals(c).frames;
    EXPECT_TRUE(WaitForRtsp(
        c,
        [](const auto& t) {
            return t.faults.lost >= 20 && t.faults.reordered >= 10 && t.faults.duplicated >= 10;
        },
        15000))
        << Totals(c).faults.lost << " " << Totals(c).faults.reordered << " "
        << Totals(c).faults.duplicated << " of " << Totals(c).packets;
    const size_t got = c.rig.sink.FrameCount() - before;
    EXPECT_GT(got, 0u) << "complete frames still come through";
    EXPECT_LT(got, Totals(c).frames - sentBefore) << "frames spoilt by the faults were delivered";
    c.rig.simulator->Rtsp().SetRtpFaults({});
    c.FaultCleared();
    EXPECT_TRUE(c.WaitRecovered(3s));
    EXPECT_EQ(c.rig.CountRtsp("SETUP"), 1u) << "the session carried on";
    c.Finish();
}

// The camera's RTP leaves from 127.0.0.2: nothing is accepted and the channel reconnects; once
// the packets come from the camera's address again, the stream is back.
TEST(StreamFaults, RtpFromAnotherAddress) {
    FaultCase c("RTP from another address");
    camsim::RtpFaults faults;
    faults.otherSource = true;
    c.rig.simulator->Rtsp().SetRtpFaults(faults);
    ASSERT_TRUE(c.Open() && c.Mark() && c.StartChannel());
    ASSERT_TRUE(WaitForRtsp(
        c, [](const auto& t) { return t.frames >= 25; }, 10000));
    EXPECT_EQ(c.rig.sink.FrameCount(), 0u) << "frames from a foreign address were taken";
    c.rig.simulator->Rtsp().SetRtpFaults({});
    ExpectNewSession(c);
    c.Finish();
}

// The camera stops sending for 15 s within a live session: the channel gives the session up
// after the frame time-out and a new one streams.
TEST(StreamFaults, CameraFreezesItsStream) {
    FaultCase c("camera freezes its stream");
    ASSERT_TRUE(c.Warm());
    camsim::RtpFaults faults;
    faults.freezeMs = 15000;
    c.rig.simulator->Rtsp().SetRtpFaults(faults);
    ASSERT_TRUE(WaitForRtsp(
        c, [](const auto& t) { return t.faults.freezes >= 1; }, 2000));
    c.rig.simulator->Rtsp().SetRtpFaults({});  // sessions set up from now do not freeze
    ExpectNewSession(c);  // timed from the start of the freeze, which outlasts the frame time-out
    c.Finish();
}

// The host keeps one DeliverFrame call for 30 s while a 1080p stream of about 4 Mbit/s goes
// on: the packets that pile up meanwhile are bounded, and the stream resumes afterwards.
TEST(StreamFaults, HostStallsInDeliverFrame) {
    std::mutex mutex;
    std::condition_variable changed;
    bool stall = false, stalling = false, over = false;
    int64_t stallGrowth = 0;
    FaultCase c("host stalls 30 s in DeliverFrame", "h264_1080p25.264");
    ASSERT_TRUE(c.Warm());
    c.SetHostHook([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!stall || stalling)
            return;
        stalling = true;
        changed.notify_all();
        // The stall itself: the host does not return for 30 s.
        changed.wait_for(lock, 30s, [] { return false; });
        stallGrowth = c.GrowthSinceMark();
        over = true;
        changed.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        stall = true;
        ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return stalling; }));
        ASSERT_TRUE(changed.wait_for(lock, 40s, [&] { return over; }));
    }
    c.FaultCleared();
    EXPECT_TRUE(c.WaitRecovered(test::RECOVERY_LIMIT));
    // Queued datagrams are bounded to 8 MiB; frames in assembly and socket buffers add a little.
    EXPECT_LE(stallGrowth, int64_t{12} << 20) << "heap held at the end of the stall";
    c.NoteMemory("at the end of the stall: " + std::to_string(stallGrowth));
    c.Finish();
}

// RTP over UDP never arrives (a firewall between camera and host): the channel moves to RTP
// interleaved on the RTSP connection by itself, and frames come within 5 s of the start.
TEST(StreamFaults, UdpBlocked) {
    FaultCase c("UDP blocked");
    camsim::RtpFaults faults;
    faults.udpBlocked = true;
    c.rig.simulator->Rtsp().SetRtpFaults(faults);
    ASSERT_TRUE(c.Open() && c.Mark() && c.StartChannel());
    c.FaultCleared();  // timed from the start
    EXPECT_TRUE(c.WaitRecovered(test::RECOVERY_LIMIT));
    EXPECT_LE(c.RecoveryMs(), 5000);
    EXPECT_GE(c.rig.CountRtsp("SETUP"), 2u) << "no move to TCP";
    c.Finish();
}

// The RTSP connection that carries the stream (asked for TCP) is cut; the camera is back at once,
// and so is the stream within a second: the cut ends the session without waiting.
TEST(StreamFaults, TcpConnectionCut) {
    FaultCase c("TCP connection cut");
    c.rig.config.SetCustomParameter(10, "tcp");
    ASSERT_TRUE(c.Warm());
    c.rig.simulator->Rtsp().CutConnections();
    ExpectNewSession(c);
    EXPECT_LE(c.RecoveryMs(), 1000);
    for (const auto& request : c.rig.simulator->Rtsp().Requests())
        EXPECT_TRUE(request.method != "SETUP" ||
                    request.transport.find("interleaved=") != std::string::npos)
            << "SETUP for UDP: " << request.transport;
    c.Finish();
}
