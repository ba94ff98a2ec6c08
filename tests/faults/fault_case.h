// One fault through Tavrin.so against the simulated camera: the stream before, during and after
// the fault, what the host received, how fast it came back, and how much memory the process
// holds. Each case leaves its row of the fault matrix in <binary dir>/fault-matrix/.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>

#include "support/host_rig.h"
#include "support/media.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVRIN_FAULTS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TAVRIN_FAULTS_SANITIZED 1
#endif
#endif

#ifdef TAVRIN_FAULTS_SANITIZED
// The sanitizer runtimes' count of live heap bytes (declared here: GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Heap bytes the process holds now: the sanitizer allocator's count, or malloc's in-use bytes.
inline int64_t AllocatedBytes() {
#ifdef TAVRIN_FAULTS_SANITIZED
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
}

inline long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Heap growth allowed between the warmed-up stream and the recovered one: connections, buffers
// and threads are made again after a fault, but nothing may pile up.
constexpr int64_t MEMORY_BOUND = 4 << 20;
// Recovery bound when the channel has to notice the fault by itself: the frame time-out that the
// driver sets after Open (timeout2, 10 s), the next pass of the capture loop, a reconnect and the
// next key frame.
constexpr auto FRAME_TIMEOUT = 10s;
constexpr auto HTTP_TIMEOUT = 10s;  // `timeout` after Open: an HTTP exchange idle this long ends
constexpr auto RECONNECT_BOUND = FRAME_TIMEOUT + 3s;
// How long a case waits for the stream to come back where no bound is promised: the table shows
// the time taken; a loaded machine (sanitizers, parallel tests) must not turn it into a failure.
constexpr auto RECOVERY_LIMIT = FRAME_TIMEOUT + 10s;

class FaultCase {
public:
    // An H.264 channel of the HD4000 personality; `h264Media` replaces the simulator's stream.
    explicit FaultCase(std::string fault, const std::string& h264Media = {})
        : rig(3, camsim::HttpAuthConfig::Mode::Digest, 1,
              camsim::Personality::ForModel("VCC-HD4000"), h264Media),
          fault_(std::move(fault)),
          scratch_(OutputDir()) {
        // Only counts stay in the sink: the frames go to a file as they come, so that the
        // process's heap does not grow with the recording.
        rig.sink.SetKeepFrames(false);
        rig.sink.SetFrameCallback([this](const host::DeliveredFrame& frame) { Write(frame); });
    }
    // Runs in the host's DeliverFrame before each frame is recorded (a host that stalls).
    void SetHostHook(std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(writeMutex_);
        hostHook_ = std::move(hook);
    }

    ~FaultCase() { rig.Close(); }  // no frame reaches the writer after its members are gone
    FaultCase(const FaultCase&) = delete;
    FaultCase& operator=(const FaultCase&) = delete;

    bool Open() { return rig.started && rig.Open(); }
    bool StartChannel() { return rig.video->StartChannel(0, &rig.sink, &rig.channel); }
    // Opens, starts the channel and waits for a running stream.
    bool Warm(size_t frames = 25) {
        return Open() && StartChannel() && rig.sink.WaitForFrames(frames, 15s) && Mark();
    }
    // The reference point of memory growth and frame loss.
    bool Mark() {
        memoryBefore_ = AllocatedBytes();
        simFramesBefore_ = rig.simulator->Rtsp().Totals().frames;
        framesBefore_ = rig.sink.FrameCount();
        return true;
    }
    // The fault is over (or, for a camera that comes back by itself, it has come back).
    void FaultCleared() {
        cleared_ = Clock::now();
        framesAtClear_ = rig.sink.FrameCount();
    }
    // Waits for the stream to come back after FaultCleared and to run for `frames` more frames.
    bool WaitRecovered(std::chrono::milliseconds limit, size_t frames = 25) {
        recovered_ = rig.sink.WaitForFrames(framesAtClear_ + 1, limit);
        if (recovered_)
            recoveryMs_ = MillisecondsSince(cleared_);
        recovered_ = recovered_ && rig.sink.WaitForFrames(framesAtClear_ + frames, 15s);
        return recovered_;
    }
    long long RecoveryMs() const { return recoveryMs_; }
    int64_t GrowthSinceMark() const { return AllocatedBytes() - memoryBefore_; }
    // Added to the memory column of the row.
    void NoteMemory(const std::string& note) { memoryNote_ = " (" + note + ")"; }

    // Memory after recovery, the channel closed, the delivered stream decoded, the row written.
    void Finish(int64_t memoryBound = MEMORY_BOUND) {
        const int64_t growth = AllocatedBytes() - memoryBefore_;
        const uint64_t sent = rig.simulator->Rtsp().Totals().frames - simFramesBefore_;
        const uint64_t got = rig.sink.FrameCount() - framesBefore_;
        rig.Close();
        const long long lost = static_cast<long long>(sent) - static_cast<long long>(got);
        WriteRow(recovered_ ? "yes" : "no", recovered_ ? std::to_string(recoveryMs_) + " ms" : "-",
                 std::to_string(lost), std::to_string(growth) + memoryNote_);
        EXPECT_LE(growth, memoryBound) << "heap bytes held after the fault";
        if (!recovered_) {
            for (const auto& record : rig.log.Records())
                std::printf("driver: %s\n", record.text.c_str());
            for (const auto& request : rig.simulator->Http().Requests())
                std::printf("camera: %s %d\n", request.target.c_str(), request.status);
        }
        ExpectDecodable();
    }

    // ffmpeg decodes every delivered frame without an error.
    void ExpectDecodable() {
        std::string path;
        {
            std::lock_guard<std::mutex> lock(writeMutex_);
            if (!file_.is_open())
                return;
            file_.close();
            path = path_;
        }
        // The trailer of the last frame has no picture after it; ffmpeg would report it.
        const auto size = std::filesystem::file_size(path);
        if (size >= 5)
            std::filesystem::resize_file(path, size - 5);
        const std::string log = path + ".log";
        EXPECT_TRUE(RunCommand("ffmpeg -nostdin -hide_banner -v error -xerror -f h264 -i '" + path +
                               "' -f null - 2>'" + log + "'"));
        EXPECT_EQ(ReadText(log), "") << "decoding errors in " << path;
    }

    HostRig rig;

private:
    void Write(const host::DeliveredFrame& frame) {
        std::lock_guard<std::mutex> lock(writeMutex_);
        if (hostHook_)
            hostHook_();
        if (!file_.is_open() && path_.empty()) {
            path_ = scratch_ + "/delivered.h264";
            file_.open(path_, std::ios::binary);
        }
        if (file_.is_open())
            file_.write(reinterpret_cast<const char*>(frame.data.data()),
                        static_cast<std::streamsize>(frame.data.size()));
    }

    void WriteRow(const std::string& recovered, const std::string& time, const std::string& lost,
                  const std::string& growth) {
        const std::string dir = std::string(TAVRIN_BINARY_DIR) + "/fault-matrix";
        std::filesystem::create_directories(dir);
        const std::string row =
            "| " + fault_ + " | " + recovered + " | " + time + " | " + lost + " | " + growth + " |";
        std::ofstream(dir + "/" + Name() + ".row") << row << "\n";
        std::printf("%s\n", row.c_str());
    }

    static std::string Name() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return std::string(info->test_suite_name()) + "." + info->name();
    }

    const std::string fault_;
    const std::string scratch_;
    std::mutex writeMutex_;
    std::function<void()> hostHook_;
    std::ofstream file_;
    std::string path_;
    int64_t memoryBefore_ = 0;
    uint64_t simFramesBefore_ = 0;
    size_t framesBefore_ = 0;
    Clock::time_point cleared_ = Clock::now();
    size_t framesAtClear_ = 0;
    bool recovered_ = false;
    long long recoveryMs_ = -1;
    std::string memoryNote_;
};

}  // namespace test
