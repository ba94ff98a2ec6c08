#include "camsim/interleaved_link.h"

namespace camsim {

bool InterleavedLink::SendFrame(uint8_t channel, const uint8_t* data, size_t size) {
    if (size > 0xFFFF)
        return false;
    std::string frame(4 + size, '\0');
    frame[0] = '$';
    frame[1] = static_cast<char>(channel);
    frame[2] = static_cast<char>(size >> 8);
    frame[3] = static_cast<char>(size);
    std::copy(data, data + size, frame.begin() + 4);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!socket_)
        return false;
    if (socket_->SendAllWithin(frame.data(), frame.size(), kFrameSendMs))
        return true;
    socket_->Shutdown();
    socket_ = nullptr;
    return false;
}

void InterleavedLink::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = nullptr;
}

}  // namespace camsim
