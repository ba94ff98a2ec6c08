// Owning pointer to a boundary object, freed through its destructor position as the host would.
#pragma once

#include <memory>

#include "norvane/abi.h"

namespace norvane {

struct BoundaryDeleter {
    template <class Interface>
    void operator()(Interface* object) const {
        DeleteObject(object);
    }
};

template <class Interface>
using BoundaryPtr = std::unique_ptr<Interface, BoundaryDeleter>;

}  // namespace norvane
