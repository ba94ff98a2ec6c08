#include "foundation/event.h"

namespace norvane {

CEvent::CEvent(bool manualReset) : handle(manualReset) {}

CEvent::~CEvent() = default;

bool CEvent::Set() {
    handle.Set();
    return true;
}

bool CEvent::Reset() {
    handle.Reset();
    return true;
}

bool CEvent::Wait(unsigned milliseconds) { return handle.Wait(milliseconds); }

int WaitForStopOrItem(const EventPair* pair, unsigned milliseconds) {
    if (!pair || !pair->first || !pair->second)
        return -1;
    return platform::Event::WaitAny(*pair->first->Handle(), *pair->second->Handle(), milliseconds);
}

}  // namespace norvane
