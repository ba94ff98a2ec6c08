#include "host/stream_writer.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>

namespace host {

StreamWriter::StreamWriter(Output output, size_t capacity)
    : output_(std::move(output)), capacity_(capacity ? capacity : 1), thread_([this] { Run(); }) {}

StreamWriter::~StreamWriter() { Close(); }

void StreamWriter::Push(std::vector<uint8_t> frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_)
            return;
        if (queue_.size() >= capacity_) {
            queue_.pop_front();
            ++counts_.dropped;
        }
        queue_.push_back(std::move(frame));
    }
    wake_.notify_one();
}

void StreamWriter::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

WriterCounts StreamWriter::Counts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

void StreamWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty())
            return;  // closing and drained
        std::vector<uint8_t> frame = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const bool ok = output_ && output_(frame);
        lock.lock();
        if (ok) {
            ++counts_.written;
            counts_.bytes += frame.size();
        } else {
            ++counts_.failed;
        }
    }
}

namespace {

using File = std::shared_ptr<std::FILE>;

File OpenFile(const std::string& path) {
    return File(std::fopen(path.c_str(), "wb"), [](std::FILE* f) {
        if (f)
            std::fclose(f);
    });
}

// Nothing to write is no call: fwrite takes no null buffer, which an empty vector may give.
bool Write(const File& file, const uint8_t* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, file.get()) == size;
}

// Length of the access unit delimiter (00 00 01 09, one payload byte) that ends `frame`, or 0.
size_t TrailingDelimiter(const std::vector<uint8_t>& frame) {
    constexpr uint8_t START[] = {0, 0, 1, 9};
    constexpr size_t SIZE = sizeof(START) + 1;
    const bool ends =
        frame.size() >= SIZE && std::equal(std::begin(START), std::end(START), frame.end() - SIZE);
    return ends ? SIZE : 0;
}

}  // namespace

StreamWriter::Output FileOutput(const std::string& path) {
    File file = OpenFile(path);
    if (!file)
        return {};
    return [file](const std::vector<uint8_t>& frame) {
        return Write(file, frame.data(), frame.size()) && std::fflush(file.get()) == 0;
    };
}

StreamWriter::Output H264FileOutput(const std::string& path) {
    File file = OpenFile(path);
    if (!file)
        return {};
    auto held = std::make_shared<std::vector<uint8_t>>();  // the last frame's delimiter
    return [file, held](const std::vector<uint8_t>& frame) {
        const size_t picture = frame.size() - TrailingDelimiter(frame);
        const bool written = Write(file, held->data(), held->size()) &&
                             Write(file, frame.data(), picture) && std::fflush(file.get()) == 0;
        held->assign(frame.begin() + static_cast<std::ptrdiff_t>(picture), frame.end());
        return written;
    };
}

}  // namespace host
