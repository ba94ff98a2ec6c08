// Windows: Ctrl+C, Ctrl+Break and console close arrive through the console control handler.
#include "host/stop_signal.h"

#include <windows.h>

#include <atomic>

namespace host {

namespace {

std::atomic<StopSignal*> current{nullptr};

BOOL WINAPI OnControl(DWORD) {
    if (StopSignal* signal = current.load())
        signal->Notify();
    return TRUE;  // handled: the run stops by itself
}

}  // namespace

StopSignal::StopSignal() {
    current = this;
    SetConsoleCtrlHandler(&OnControl, TRUE);
}

StopSignal::~StopSignal() {
    SetConsoleCtrlHandler(&OnControl, FALSE);
    current = nullptr;
}

void StopSignal::Notify() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
    }
    changed_.notify_all();
}

}  // namespace host
