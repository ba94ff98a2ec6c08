// Look-up threads on Windows. Each holds a reference to this module and ends through
// FreeLibraryAndExitThread, so a thread left behind outlives even the host's FreeLibrary.
#include "platform/resolver.h"

#include <windows.h>

#include <new>

#include "platform/thread.h"

namespace norvane::platform {

namespace {

struct LookUpStart {
    Lookup* lookup;
    HMODULE module;
};

DWORD WINAPI LookUp(void* argument) {
    const LookUpStart start = *static_cast<LookUpStart*>(argument);
    delete static_cast<LookUpStart*>(argument);
    RunLookUp(start.lookup);
    FreeLibraryAndExitThread(start.module, 0);
}

}  // namespace

bool LookUpThread::Start(Lookup* lookup) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&LookUp), &module))
        return false;
    auto* start = new (std::nothrow) LookUpStart{lookup, module};
    const HANDLE thread = start ? CreateThread(nullptr, kThreadStackReservation, &LookUp, start,
                                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                                : nullptr;
    if (!thread) {
        delete start;
        FreeLibrary(module);
        return false;
    }
    handle_ = reinterpret_cast<uintptr_t>(thread);
    return true;
}

void LookUpThread::Join() {
    const HANDLE thread = reinterpret_cast<HANDLE>(handle_);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

void LookUpThread::Leave() {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace norvane::platform
