#include "host/device_config.h"

namespace host {

const char* DeviceConfig::GetCustomParameter(int number) {
    requested.push_back(number);
    const auto it = custom.find(number);
    return it == custom.end() ? nullptr : it->second.c_str();
}

void FillCustomParameterGaps(std::map<int, std::string>& custom) {
    for (int n = 1; n <= 9; ++n)
        custom.emplace(n, "(none)");
}

}  // namespace host
