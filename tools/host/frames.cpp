#include "host/frames.h"

#include <new>

namespace host {

Frame::Frame(unsigned fourcc, unsigned size, std::string source)
    : allocatedFourcc(fourcc), source(std::move(source)), buffer(size), fourcc(fourcc) {}

void Frame::SetTime(const SYSTEMTIME* t) {
    if (t)
        time = *t;
    timeSet = true;
    calls.push_back("SetTime");
}

std::vector<uint8_t> Frame::Payload() const {
    const size_t n = dataSize < buffer.size() ? dataSize : buffer.size();
    return std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(n));
}

norvane::IMediaFrame* FrameAllocator::AllocateFrame(unsigned fourcc, unsigned size,
                                                    const char* source) {
    if (exhausted_) {
        ++refused_;
        return nullptr;
    }
    Frame* frame = new (std::nothrow) Frame(fourcc, size, source ? source : "");
    if (!frame) {
        ++refused_;
        return nullptr;
    }
    ++allocated_;
    return frame;
}

void FrameAllocator::ReleaseFrame(norvane::IMediaFrame* frame) {
    if (!frame)
        return;
    ++released_;
    delete static_cast<Frame*>(frame);
}

}  // namespace host
