#include "host/driver_library.h"

#include <dlfcn.h>

namespace host {

namespace {

template <typename Function>
bool Resolve(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    return function != nullptr;
}

}  // namespace

DriverLibrary::~DriverLibrary() {
    if (handle_)
        dlclose(handle_);
}

bool DriverLibrary::Load(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        error_ = reason ? reason : "cannot load " + path;
        return false;
    }
    CapabilityApi& c = capability_;
    const bool found = Resolve(handle_, "CreateIPCaptureEx3", create_) &&
                       Resolve(handle_, "DeleteIPCaptureEx3", destroy_) &&
                       Resolve(handle_, "CreateCapabilityQueryModule", c.createModule) &&
                       Resolve(handle_, "DeleteCapabilityQueryModule", c.deleteModule) &&
                       Resolve(handle_, "InitCapabilityQuery", c.init) &&
                       Resolve(handle_, "StartCapabilityQuery", c.start) &&
                       Resolve(handle_, "TerminateCapabilityQuery", c.terminate) &&
                       Resolve(handle_, "UninitCapabilityQuery", c.uninit);
    if (!found) {
        error_ = path + " lacks the driver exports";
        return false;
    }
    return true;
}

}  // namespace host
