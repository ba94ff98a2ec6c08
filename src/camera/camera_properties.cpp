#include "camera/camera_properties.h"

#include <string>

#include "foundation/debug_info.h"

namespace norvane {

namespace {

// Capability identifiers of the host's result object.
enum Capability : uint32_t {
    CAPABILITY_COMPLETE = 0,
    CAPABILITY_MODEL = 1,
    CAPABILITY_INPUTS = 2,
    CAPABILITY_OUTPUTS = 3,
    CAPABILITY_AUDIO = 4,
    CAPABILITY_5 = 5,
    CAPABILITY_CODEC_4 = 6,
    CAPABILITY_MJPEG = 7,
    CAPABILITY_H264 = 8,
    CAPABILITY_11 = 11,
    CAPABILITY_12 = 12,
};

// Hosts from 5.9 on know capability 5.
bool HostKnowsCapability5() {
    const HostVersion v = ReadHostVersion();
    return v.major > 5 || (v.major == 5 && v.minor > 8);
}

void SetConnectionField(ICapabilityResults* results, int number, const std::string& text) {
    if (ICapabilityText* field = results->GetConnectionField(number))
        field->SetText(text.c_str());
}

}  // namespace

CCameraPropertiesEx::CCameraPropertiesEx(const DEVICE_INFO& device, bool readerFlag)
    : device(device), readerFlag(readerFlag) {}

bool CCameraPropertiesEx::RunSteps(std::initializer_list<std::function<bool()>> steps, int& code) {
    bool succeeded = true;
    bool first = true;
    for (const auto& step : steps) {
        if (!first && cancelled) {
            succeeded = false;
            break;
        }
        first = false;
        if (!(succeeded = step()))
            break;
    }
    complete = 1;
    if (!succeeded)
        code = CODE_FAILED;
    return succeeded;
}

bool CCameraPropertiesEx::WriteResults(ICapabilityResults* results) {
    if (!results)
        return false;
    results->SetModel(model.c_str());
    results->SetCapability(CAPABILITY_COMPLETE, complete);
    if (inputCount != 0)
        results->SetCapability(CAPABILITY_INPUTS, inputCount);
    if (outputCount != 0)
        results->SetCapability(CAPABILITY_OUTPUTS, outputCount);
    if (audio)
        results->SetCapability(CAPABILITY_AUDIO, 1);
    if (modelFlag)
        results->SetCapability(CAPABILITY_MODEL, 1);
    if (capability5 && HostKnowsCapability5())
        results->SetCapability(CAPABILITY_5, 1);
    results->SetCapability(CAPABILITY_11, capability11 ? 1 : 0);
    results->SetCapability(CAPABILITY_12, capability12 ? 1 : 0);
    for (uint32_t codec : codecs) {
        if (codec == 1 || codec == 2)
            results->SetCapability(CAPABILITY_MJPEG, 1);
        else if (codec == 4)
            results->SetCapability(CAPABILITY_CODEC_4, 1);
        else if (codec == 16)
            results->SetCapability(CAPABILITY_H264, 1);
    }
    for (const CResolutionEntry& entry : resolutions) {
        IResolutionList* list = results->GetResolutionList();
        if (!list)
            continue;
        const std::string text = std::to_string(entry.width) + "x" + std::to_string(entry.height);
        list->Add(text.c_str(), entry.width, entry.height,
                  entry.framePeriods.empty() ? 0 : entry.framePeriods.front());
    }
    SetConnectionField(results, 1, device.address);
    SetConnectionField(results, 2, std::to_string(device.port));
    SetConnectionField(results, 3, device.userName);
    SetConnectionField(results, 4, device.password);
    return true;
}

}  // namespace norvane
