// The writer thread: every frame it was given, in order, and a bounded queue when the output
// falls behind.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "host/stream_writer.h"
#include "support/media.h"

using host::StreamWriter;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes FrameBytes(uint8_t n, size_t size) { return Bytes(size, n); }

// An output that holds every write until it is opened, so the queue fills up.
struct GatedOutput {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    size_t waiting = 0;
    std::vector<Bytes> written;

    StreamWriter::Output Output() {
        return [this](const Bytes& frame) {
            std::unique_lock<std::mutex> lock(mutex);
            ++waiting;
            changed.notify_all();
            changed.wait(lock, [this] { return open; });
            written.push_back(frame);
            return true;
        };
    }
    bool WaitForWriter() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [this] { return waiting > 0; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
};

}  // namespace

TEST(StreamWriter, FileHoldsEveryFrameInOrder) {
    const std::string path = test::OutputDir() + "/stream.bin";
    Bytes expected;
    {
        StreamWriter writer(host::FileOutput(path), 1000);
        for (uint8_t n = 0; n < 200; ++n) {
            const Bytes frame = FrameBytes(n, 1 + n * 7);
            expected.insert(expected.end(), frame.begin(), frame.end());
            writer.Push(frame);
        }
        writer.Close();
        const host::WriterCounts counts = writer.Counts();
        EXPECT_EQ(counts.written, 200u);
        EXPECT_EQ(counts.bytes, expected.size());
        EXPECT_EQ(counts.dropped, 0u);
        EXPECT_EQ(counts.failed, 0u);
        writer.Push(FrameBytes(9, 10));  // after Close: ignored
        EXPECT_EQ(writer.Counts().written, 200u);
    }
    const std::string text = test::ReadText(path);
    EXPECT_EQ(Bytes(text.begin(), text.end()), expected);
}

// Each H.264 frame's closing access unit delimiter goes before the next frame: the file holds the
// frames as delivered, short of the last delimiter, which no picture follows.
TEST(StreamWriter, H264FileEndsWithTheLastWholeFrame) {
    const std::string path = test::OutputDir() + "/stream.h264";
    const Bytes delimiter = {0, 0, 1, 9, 0x30};
    const Bytes first = {0, 0, 1, 0x65, 1, 2, 0, 0, 1, 9, 0x30};
    const Bytes second = {0, 0, 1, 0x41, 3, 0, 0, 1, 9, 0x30};
    const Bytes third = {0, 0, 1, 0x41, 4};  // no delimiter: written whole
    {
        StreamWriter writer(host::H264FileOutput(path), 10);
        for (const Bytes& frame : {first, second, third, second})
            writer.Push(frame);
        writer.Close();
        EXPECT_EQ(writer.Counts().written, 4u);
        EXPECT_EQ(writer.Counts().bytes, first.size() + 2 * second.size() + third.size());
    }
    Bytes expected = first;
    for (const Bytes& frame : {second, third, second})
        expected.insert(expected.end(), frame.begin(), frame.end());
    expected.resize(expected.size() - delimiter.size());
    const std::string text = test::ReadText(path);
    EXPECT_EQ(Bytes(text.begin(), text.end()), expected);
}

TEST(StreamWriter, FullQueueDropsTheOldestAndCountsThem) {
    GatedOutput output;
    StreamWriter writer(output.Output(), 3);
    writer.Push(FrameBytes(0, 4));
    ASSERT_TRUE(output.WaitForWriter());  // frame 0 is being written and holds the thread
    for (uint8_t n = 1; n <= 6; ++n)
        writer.Push(FrameBytes(n, 4));
    EXPECT_EQ(writer.Counts().dropped, 3u);  // 1, 2 and 3 made way for 4, 5 and 6
    output.Open();
    writer.Close();
    ASSERT_EQ(output.written.size(), 4u);
    EXPECT_EQ(output.written[0], FrameBytes(0, 4));
    EXPECT_EQ(output.written[1], FrameBytes(4, 4));
    EXPECT_EQ(output.written[2], FrameBytes(5, 4));
    EXPECT_EQ(output.written[3], FrameBytes(6, 4));
    EXPECT_EQ(writer.Counts().written, 4u);
}

TEST(StreamWriter, OutputFailuresAreCountedNotWritten) {
    size_t calls = 0;
    StreamWriter writer([&calls](const Bytes&) { return ++calls % 2 == 0; }, 10);
    for (uint8_t n = 0; n < 4; ++n)
        writer.Push(FrameBytes(n, 8));
    writer.Close();
    EXPECT_EQ(writer.Counts().written, 2u);
    EXPECT_EQ(writer.Counts().bytes, 16u);
    EXPECT_EQ(writer.Counts().failed, 2u);
}

TEST(StreamWriter, FileOutputCannotOpenAMissingFolder) {
    EXPECT_FALSE(host::FileOutput(test::OutputDir() + "/missing/stream.bin"));
}
