// What a camera offers, as a capability query finds it, and the generic part of handing the
// findings to the host's result object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/device_info.h"
#include "norvane/host.h"

namespace norvane {

// Codec identifiers of the findings.
constexpr uint32_t CODEC_MJPEG = 1;
constexpr uint32_t CODEC_H264 = 16;

struct CResolutionEntry {
    std::vector<uint32_t> framePeriods;  // ms
    uint16_t width = 0;
    uint16_t height = 0;
};

// The findings record.
class CCameraProperties {
public:
    std::vector<uint32_t> codecs;
    std::vector<CResolutionEntry> resolutions;
    std::string model;
    uint32_t complete = 0;  // 1 once a read has ended
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    bool audio = false;
    bool modelFlag = false;
    bool capability5 = false;
    bool capability11 = false;
    bool capability12 = false;
};

// A camera properties reader: reads once on the query thread, writes once; Cancel and Abort come
// from other threads.
class CCameraPropertiesEx : public CCameraProperties {
public:
    // Failure codes of ReadProperties.
    static constexpr int CODE_LOGIN_FAILED = 1;
    static constexpr int CODE_OFFLINE = 2;
    static constexpr int CODE_FAILED = 3;

    CCameraPropertiesEx(const DEVICE_INFO& device, bool readerFlag);
    virtual ~CCameraPropertiesEx() = default;
    CCameraPropertiesEx(const CCameraPropertiesEx&) = delete;
    CCameraPropertiesEx& operator=(const CCameraPropertiesEx&) = delete;

    // False with `code` set when the read failed or was cut short by Cancel.
    virtual bool ReadProperties(int& code) = 0;
    // The findings into `results`; false only when it is null.
    virtual bool WriteResults(ICapabilityResults* results);
    // The read stops before its next step (the first step always runs).
    virtual void Cancel() { cancelled = true; }
    // Cancel, and end the camera request in progress at once.
    virtual void Abort() { Cancel(); }

    bool Cancelled() const { return cancelled; }
    const DEVICE_INFO& Device() const { return device; }
    bool ReaderFlag() const { return readerFlag; }

protected:
    // Runs `steps` in order, each after the first only while the previous one succeeded and no
    // cancel came, then marks the read complete. A read cut short by a cancel fails like a failed
    // step: what it found is partial.
    bool RunSteps(std::initializer_list<std::function<bool()>> steps, int& code);

private:
    std::atomic<bool> cancelled{false};
    DEVICE_INFO device;
    bool readerFlag;
};

}  // namespace norvane
