// Windows: LoadLibrary, and the version resource of a file mapped as data.
#include "host/module_loader.h"

#include <windows.h>

#include <cstring>

namespace host {

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

// The fixed part of the file's version resource, found by its signature: it follows the
// resource's header on a 32-bit boundary.
bool FileVersion(const std::string& path, std::array<uint16_t, 4>& version) {
    HMODULE file = LoadLibraryExA(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC resource =
        file ? FindResourceA(file, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION) : nullptr;
    HGLOBAL loaded = resource ? LoadResource(file, resource) : nullptr;
    const auto* bytes = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = bytes ? SizeofResource(file, resource) : 0;
    bool found = false;
    for (DWORD at = 0; !found && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, bytes + at, sizeof info);
        found = info.dwSignature == VS_FFI_SIGNATURE;
        if (found)
            version = {HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                       HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS)};
    }
    if (file)
        FreeLibrary(file);
    return found;
}

std::string ExecutableDirectory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n == sizeof path)
        return {};
    const std::string file(path, n);
    const size_t slash = file.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

}  // namespace host
