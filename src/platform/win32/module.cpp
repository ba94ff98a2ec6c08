#include "platform/module.h"

#include <windows.h>

namespace norvane::platform {

void* LoadModule(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module && error)
        *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(module);
}

void* ModuleSymbol(void* module, const char* name) {
    return module ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name))
                  : nullptr;
}

void UnloadModule(void* module) {
    if (module)
        FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace norvane::platform
