// Whether the Windows build runs under Wine, whose Windows services lack a few features: only
// Wine's ntdll exports wine_get_version.
#pragma once

#include "platform/module.h"

namespace test {

inline bool RunningUnderWine() {
#if defined(_WIN32)
    static const bool wine = [] {
        void* ntdll = norvane::platform::LoadModule("ntdll.dll");
        const bool found = norvane::platform::ModuleSymbol(ntdll, "wine_get_version") != nullptr;
        norvane::platform::UnloadModule(ntdll);
        return found;
    }();
    return wine;
#else
    return false;
#endif
}

}  // namespace test
