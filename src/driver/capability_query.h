// Capability query modules created by the exports.
#pragma once

#include "norvane/ipcapture.h"

namespace norvane {

// A new module for the host's callback, or null when none can be built.
IIPCapabilityQuery* CreateCapabilityQuery(ICapabilityQueryCallback* callback, bool readerFlag);

}  // namespace norvane
