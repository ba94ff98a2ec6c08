// Writes one channel's frames on its own thread, so the driver's delivery thread only copies a
// frame into a bounded queue; when the output falls behind, the oldest queued frames are dropped.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host {

struct WriterCounts {
    uint64_t written = 0;  // frames the output took
    uint64_t bytes = 0;
    uint64_t dropped = 0;  // oldest frames pushed out of a full queue
    uint64_t failed = 0;   // frames the output could not take
};

class StreamWriter {
public:
    // Takes one frame's bytes; false when they could not be written.
    using Output = std::function<bool(const std::vector<uint8_t>&)>;

    StreamWriter(Output output, size_t capacity);
    ~StreamWriter();
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    // Queues a copy; never waits for the output.
    void Push(std::vector<uint8_t> frame);
    // Writes what is still queued, then ends the thread. Later pushes are ignored.
    void Close();
    WriterCounts Counts();

private:
    void Run();

    const Output output_;
    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::vector<uint8_t>> queue_;
    WriterCounts counts_;
    bool closing_ = false;
    std::thread thread_;
};

// Output appending to the file at `path` (created or emptied first); empty when it cannot open.
StreamWriter::Output FileOutput(const std::string& path);
// As FileOutput, for H.264 frames that end with an access unit delimiter: each frame's delimiter
// is written only before the next frame, so the file ends with the last whole frame (a decoder
// reports a delimiter without a picture after it).
StreamWriter::Output H264FileOutput(const std::string& path);

}  // namespace host
