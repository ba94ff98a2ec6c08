#include "host/driver_library.h"

#include <dlfcn.h>

namespace host {

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
    create_ = reinterpret_cast<CreateIPCaptureEx3Fn>(dlsym(handle_, "CreateIPCaptureEx3"));
    destroy_ = reinterpret_cast<DeleteIPCaptureEx3Fn>(dlsym(handle_, "DeleteIPCaptureEx3"));
    if (!create_ || !destroy_) {
        error_ = path + " lacks the driver exports";
        return false;
    }
    return true;
}

}  // namespace host
