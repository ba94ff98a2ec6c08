// The driver library's exported functions (C linkage).
#pragma once

#include "norvane/ipcapture.h"

#if defined(_WIN32)
#define TAVRIN_EXPORT extern "C"  // exported by name through exports.def
#elif defined(TAVRIN_BUILDING_LIBRARY)
#define TAVRIN_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define TAVRIN_EXPORT extern "C"
#endif

TAVRIN_EXPORT norvane::ipcapture::IIPCaptureDriver* CreateIPCapture();
TAVRIN_EXPORT norvane::ipcapture::IIPCaptureDriverEx* CreateIPCaptureEx();
TAVRIN_EXPORT norvane::ipcapture::IIPCaptureDriverEx2* CreateIPCaptureEx2();
TAVRIN_EXPORT norvane::ipcapture::IIPCaptureDriverEx3* CreateIPCaptureEx3();
TAVRIN_EXPORT void DeleteIPCapture(norvane::ipcapture::IIPCaptureDriver* driver);
TAVRIN_EXPORT void DeleteIPCaptureEx(norvane::ipcapture::IIPCaptureDriverEx* driver);
TAVRIN_EXPORT void DeleteIPCaptureEx2(norvane::ipcapture::IIPCaptureDriverEx2* driver);
TAVRIN_EXPORT void DeleteIPCaptureEx3(norvane::ipcapture::IIPCaptureDriverEx3* driver);

TAVRIN_EXPORT norvane::IIPCapabilityQuery* CreateCapabilityQueryModule(
    norvane::ICapabilityQueryCallback* callback, int flag);
TAVRIN_EXPORT void DeleteCapabilityQueryModule(norvane::IIPCapabilityQuery* module);
TAVRIN_EXPORT int InitCapabilityQuery(norvane::ICapabilityQueryCallback* callback, int flag);
TAVRIN_EXPORT int StartCapabilityQuery(const char* address, int port, const char* user,
                                       const char* password,
                                       norvane::ICapabilityResults* results);
TAVRIN_EXPORT int TerminateCapabilityQuery();
TAVRIN_EXPORT int UninitCapabilityQuery();

// Function-pointer types for hosts that resolve the exports by name (dlsym, GetProcAddress).
using CreateIPCaptureEx3Fn = norvane::ipcapture::IIPCaptureDriverEx3* (*)();
using DeleteIPCaptureEx3Fn = void (*)(norvane::ipcapture::IIPCaptureDriverEx3*);
using CreateCapabilityQueryModuleFn = norvane::IIPCapabilityQuery* (*)(norvane::ICapabilityQueryCallback*,
                                                                      int);
using DeleteCapabilityQueryModuleFn = void (*)(norvane::IIPCapabilityQuery*);
using InitCapabilityQueryFn = int (*)(norvane::ICapabilityQueryCallback*, int);
using StartCapabilityQueryFn = int (*)(const char*, int, const char*, const char*,
                                       norvane::ICapabilityResults*);
using TerminateCapabilityQueryFn = int (*)();
using UninitCapabilityQueryFn = int (*)();
