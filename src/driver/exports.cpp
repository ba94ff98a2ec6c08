// The library's exported functions. No exception leaves them.
#include "norvane/exports.h"

#include <mutex>
#include <new>
#include <utility>

#include "driver/capability_query.h"
#include "driver/tavrin_driver.h"

using namespace norvane;
using namespace norvane::ipcapture;

namespace {

CTavrinDriver* NewDriver() { return new (std::nothrow) CTavrinDriver(); }

// Through the object's destructor position, as a host's own `delete` would (same destruction).
template <typename Object>
void DeleteBoundaryObject(Object* object) {
    try {
        DeleteObject(object);
    } catch (...) {
    }
}

// The process-wide capability query module, created on demand (nothing runs at load). The mutex
// guards the pointer only: Start and Terminate never wait, and a module is destroyed (which may
// wait for its query thread, whose callback may call these exports) after it was taken out.
struct ProcessModule {
    std::mutex mutex;
    IIPCapabilityQuery* module = nullptr;
};

ProcessModule& Module() {
    static ProcessModule instance;
    return instance;
}

}  // namespace

IIPCaptureDriver* CreateIPCapture() { return NewDriver(); }
IIPCaptureDriverEx* CreateIPCaptureEx() { return NewDriver(); }
IIPCaptureDriverEx2* CreateIPCaptureEx2() { return NewDriver(); }
IIPCaptureDriverEx3* CreateIPCaptureEx3() { return NewDriver(); }

void DeleteIPCapture(IIPCaptureDriver* driver) { DeleteBoundaryObject(driver); }
void DeleteIPCaptureEx(IIPCaptureDriverEx* driver) { DeleteBoundaryObject(driver); }
void DeleteIPCaptureEx2(IIPCaptureDriverEx2* driver) { DeleteBoundaryObject(driver); }
void DeleteIPCaptureEx3(IIPCaptureDriverEx3* driver) { DeleteBoundaryObject(driver); }

IIPCapabilityQuery* CreateCapabilityQueryModule(ICapabilityQueryCallback* callback, int flag) {
    try {
        return CreateCapabilityQuery(callback, flag != 0);
    } catch (...) {
        return nullptr;
    }
}

void DeleteCapabilityQueryModule(IIPCapabilityQuery* module) {
    DeleteBoundaryObject(module);
}

int InitCapabilityQuery(ICapabilityQueryCallback* callback, int flag) {
    ProcessModule& pm = Module();
    std::lock_guard<std::mutex> guard(pm.mutex);
    if (pm.module)
        return 0;
    pm.module = CreateCapabilityQueryModule(callback, flag);
    return 1;
}

int StartCapabilityQuery(const char* address, int port, const char* user, const char* password,
                         ICapabilityResults* results) {
    if (!address || !user || !password)
        return 0;
    ProcessModule& pm = Module();
    std::lock_guard<std::mutex> guard(pm.mutex);
    if (!pm.module)
        return 0;
    try {
        return pm.module->Start(address, port, user, password, results);
    } catch (...) {
        return 0;
    }
}

int TerminateCapabilityQuery() {
    ProcessModule& pm = Module();
    std::lock_guard<std::mutex> guard(pm.mutex);
    if (pm.module) {
        try {
            pm.module->Terminate();
        } catch (...) {
        }
    }
    return 1;
}

int UninitCapabilityQuery() {
    ProcessModule& pm = Module();
    IIPCapabilityQuery* module = nullptr;
    {
        std::lock_guard<std::mutex> guard(pm.mutex);
        std::swap(module, pm.module);
    }
    DeleteCapabilityQueryModule(module);
    return 1;
}
