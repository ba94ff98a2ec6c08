// Loading shared objects at run time.
#pragma once

#include <string>

namespace norvane::platform {

// Null when the module cannot be loaded; `error` (if given) receives the reason.
void* LoadModule(const std::string& path, std::string* error = nullptr);
void* ModuleSymbol(void* module, const char* name);
void UnloadModule(void* module);

}  // namespace norvane::platform
