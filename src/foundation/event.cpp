#include "foundation/event.h"

#include <new>

namespace norvane {

CEvent::CEvent(bool manualReset) : handle(new (std::nothrow) platform::Event(manualReset)) {}

CEvent::~CEvent() = default;

bool CEvent::Set() {
    if (!handle)
        return false;
    handle->Set();
    return true;
}

bool CEvent::Reset() {
    if (!handle)
        return false;
    handle->Reset();
    return true;
}

bool CEvent::Wait(unsigned milliseconds) { return handle && handle->Wait(milliseconds); }

int WaitForStopOrItem(const EventPair* pair, unsigned milliseconds) {
    if (!pair || !pair->first || !pair->second || !pair->first->Handle() ||
        !pair->second->Handle())
        return -1;
    return platform::Event::WaitAny(*pair->first->Handle(), *pair->second->Handle(), milliseconds);
}

}  // namespace norvane
