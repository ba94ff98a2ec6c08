// The thread that polls the inputs, one step per interval.
#pragma once

#include "foundation/tick_thread.h"

namespace norvane {

// Input polling ticker bound to its owner.
template <typename T>
class TInputTicker : public TTickThread<T> {
public:
    using TTickThread<T>::TTickThread;
    CManualEvent& GetStopEvent() { return this->StopEvent(); }
};

}  // namespace norvane
