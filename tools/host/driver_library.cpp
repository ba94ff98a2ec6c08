#include "host/driver_library.h"

#include "host/module_loader.h"

namespace host {

namespace {

template <typename Function>
bool Resolve(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(ModuleSymbol(handle, name));
    return function != nullptr;
}

}  // namespace

DriverLibrary::~DriverLibrary() {
    UnloadModule(handle_);
}

bool DriverLibrary::Load(const std::string& path) {
    handle_ = LoadModule(path, &error_);  // dlopen or LoadLibrary
    if (!handle_)
        return false;
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
