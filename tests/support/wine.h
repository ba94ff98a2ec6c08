// Whether the Windows build runs under Wine, whose Windows services lack a few features: only
// Wine's ntdll exports wine_get_version.
#pragma once

#include "host/module_loader.h"

namespace test {

inline bool RunningUnderWine() {
#if defined(_WIN32)
    static const bool wine = [] {
        void* ntdll = host::LoadModule("ntdll.dll");
        const bool found = host::ModuleSymbol(ntdll, "wine_get_version") != nullptr;
        host::UnloadModule(ntdll);
        return found;
    }();
    return wine;
#else
    return false;
#endif
}

}  // namespace test
