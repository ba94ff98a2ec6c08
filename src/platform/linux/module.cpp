#include "platform/module.h"

#include <dlfcn.h>

namespace norvane::platform {

void* LoadModule(const std::string& path, std::string* error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module && error) {
        const char* reason = dlerror();
        *error = reason ? reason : "unknown error";
    }
    return module;
}

void* ModuleSymbol(void* module, const char* name) {
    return module ? dlsym(module, name) : nullptr;
}

void UnloadModule(void* module) {
    if (module)
        dlclose(module);
}

}  // namespace norvane::platform
