#include "platform/event.h"

#include <windows.h>

namespace norvane::platform {

static_assert(WAIT_INFINITE == INFINITE, "infinite wait values differ");

Event::Event(bool manualReset)
    : manual_(manualReset), handle_(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}

Event::~Event() {
    if (handle_)
        CloseHandle(handle_);
}

void Event::Set() { SetEvent(handle_); }

void Event::Reset() { ResetEvent(handle_); }

bool Event::IsSet() {
    // Testing an auto-reset event by waiting would consume it; signal it back afterwards.
    if (WaitForSingleObject(handle_, 0) != WAIT_OBJECT_0)
        return false;
    if (!manual_)
        SetEvent(handle_);
    return true;
}

bool Event::Wait(unsigned milliseconds) {
    return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0;
}

int Event::WaitAny(Event& first, Event& second, unsigned milliseconds) {
    // With both signalled the first ends the wait and only it is consumed, as on Linux.
    const HANDLE handles[2] = {first.handle_, second.handle_};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, milliseconds);
    if (result == WAIT_OBJECT_0)
        return 0;
    if (result == WAIT_OBJECT_0 + 1)
        return 1;
    return -1;
}

}  // namespace norvane::platform
