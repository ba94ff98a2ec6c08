// The camera side of presets, called synchronously from the preset list.
#pragma once

#include <string>

#include "norvane/debug.h"

namespace norvane {

// Camera side of presets; slots are the preset list's 0-based slot numbers.
class IPrepositionComm : public virtual IDebugMessage {
public:
    virtual bool SavePreposition(unsigned slot, const std::string& name) = 0;
    virtual bool GotoPreposition(unsigned slot, const std::string& name, int value) = 0;
    // Cameras that forget a stored position on their own need nothing: true without a request.
    virtual bool RemovePreposition(unsigned slot, const std::string& name);
};

}  // namespace norvane
