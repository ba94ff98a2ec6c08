// The driver library loaded by path and reached only through its exports, as a host does.
#pragma once

#include <string>

#include "norvane/exports.h"

namespace host {

// The capability query exports.
struct CapabilityApi {
    CreateCapabilityQueryModuleFn createModule = nullptr;
    DeleteCapabilityQueryModuleFn deleteModule = nullptr;
    InitCapabilityQueryFn init = nullptr;
    StartCapabilityQueryFn start = nullptr;
    TerminateCapabilityQueryFn terminate = nullptr;
    UninitCapabilityQueryFn uninit = nullptr;
};

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // False (with the reason in Error()) when the file or one of its exports is missing.
    bool Load(const std::string& path);
    const std::string& Error() const { return error_; }

    norvane::ipcapture::IIPCaptureDriverEx3* CreateDriver() const { return create_(); }
    void DeleteDriver(norvane::ipcapture::IIPCaptureDriverEx3* driver) const { destroy_(driver); }
    const CapabilityApi& Capability() const { return capability_; }

private:
    void* handle_ = nullptr;
    std::string error_;
    CreateIPCaptureEx3Fn create_ = nullptr;
    DeleteIPCaptureEx3Fn destroy_ = nullptr;
    CapabilityApi capability_;
};

}  // namespace host
