// Loading the driver library at run time, as a host does (dlopen or LoadLibrary).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace host {

// Null when the module cannot be loaded; `error` (if given) receives the reason.
void* LoadModule(const std::string& path, std::string* error = nullptr);
void* ModuleSymbol(void* module, const char* name);
void UnloadModule(void* module);

// Folder of the running program's executable; empty if unknown.
std::string ExecutableDirectory();

// `relative` taken from that folder: where an installed program finds its plug-in and media.
inline std::filesystem::path FromExecutableDirectory(const std::string& relative) {
    return (std::filesystem::path(ExecutableDirectory()) / relative).lexically_normal();
}

// Version A.B.C.D of a driver file: on Windows from its version resource, on Linux from its ELF
// note (norvane/version.h); false if it has none.
bool FileVersion(const std::string& path, std::array<uint16_t, 4>& version);

}  // namespace host
