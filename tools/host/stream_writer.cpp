#include "host/stream_writer.h"

#include <cstdio>
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

StreamWriter::Output FileOutput(const std::string& path) {
    std::shared_ptr<std::FILE> file(std::fopen(path.c_str(), "wb"), [](std::FILE* f) {
        if (f)
            std::fclose(f);
    });
    if (!file)
        return {};
    return [file](const std::vector<uint8_t>& frame) {
        return std::fwrite(frame.data(), 1, frame.size(), file.get()) == frame.size() &&
               std::fflush(file.get()) == 0;
    };
}

}  // namespace host
