#include "driver/capability_query.h"

namespace norvane {

// The camera properties reader that a query runs is not built yet, so no module exists.
IIPCapabilityQuery* CreateCapabilityQuery(ICapabilityQueryCallback*, bool) { return nullptr; }

}  // namespace norvane
