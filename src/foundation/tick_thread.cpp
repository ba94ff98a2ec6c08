#include "foundation/tick_thread.h"

namespace norvane {

bool CTickThread::StartImmediate(const std::string& name) {
    tickFirst = true;
    return Start(name);
}

void CTickThread::Run() {
    for (;;) {
        if (tickFirst)
            Tick();
        if (StopEvent().Wait(interval))
            return;
        if (!tickFirst)
            Tick();
    }
}

}  // namespace norvane
