// Look-up threads on Linux. A thread left behind keeps this module loaded for the rest of the
// process, so that it can still return into it after the host has unloaded the library.
#include "platform/resolver.h"

#include <dlfcn.h>
#include <pthread.h>

#include "platform/thread.h"

namespace norvane::platform {

namespace {

void* LookUp(void* lookup) {
    RunLookUp(static_cast<Lookup*>(lookup));
    return nullptr;
}

void KeepModuleLoaded() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LookUp), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace

bool LookUpThread::Start(Lookup* lookup) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setstacksize(&attributes, kThreadStackReservation);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, &LookUp, lookup) == 0;
    pthread_attr_destroy(&attributes);
    if (started)
        handle_ = static_cast<uintptr_t>(thread);
    return started;
}

void LookUpThread::Join() {
    pthread_join(static_cast<pthread_t>(handle_), nullptr);
}

void LookUpThread::Leave() {
    KeepModuleLoaded();
    pthread_detach(static_cast<pthread_t>(handle_));
}

}  // namespace norvane::platform
