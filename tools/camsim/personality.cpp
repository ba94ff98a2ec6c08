#include "camsim/personality.h"

namespace camsim {

Personality Personality::ForModel(const std::string& modelName) {
    Personality p;
    p.modelName = modelName;
    if (modelName == "VCC-HD4000") {
        p.group = 2;
    } else if (modelName == "VCC-HD2300" || modelName == "VCC-HD2100" ||
               modelName == "VCC-HD3300" || modelName == "VCC-HD3100") {
        p.group = 3;
    } else if (modelName == "VCC-HD4600") {
        p.group = 4;
    } else if (modelName == "VCC-HD5600" || modelName == "VCC-HD5400") {
        p.group = 5;
        p.inputs = 2;
        p.outputs = 2;
    } else {
        p.group = 1;
        p.inputs = 2;
        p.outputs = 2;
    }
    return p;
}

}  // namespace camsim
