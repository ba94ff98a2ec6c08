// IDriver for unit tests: settable device record and custom parameters, recorded log lines.
#pragma once

#include <atomic>
#include <cstdarg>
#include <map>
#include <string>
#include <vector>

#include "foundation/idriver.h"
#include "driver/ip_capture_driver.h"
#include "foundation/debug_info.h"
#include "host/frames.h"
#include "host/log_receiver.h"

namespace test {

class FakeDriver : public norvane::TBoundaryObject<norvane::IDriver> {
public:
    FakeDriver() {
        info.timeout = 200;
        info.timeout2 = 200;
        info.address = "127.0.0.1";
    }

    // Every type is recorded, debug (4) included, so tests can see all lines.
    void Log(int type, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        const std::string text = norvane::FormatText(format, args);
        va_end(args);
        CDebugInfoRecord record(type, text);
        log.OnDebugInfo(&record);
    }

    std::string GetDriverName() override { return name; }
    const norvane::DEVICE_INFO* GetDeviceInfo() override { return &info; }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {inputs, outputs}; }
    norvane::IFrameAllocator* GetFrameAllocator() override { return allocator; }
    bool GetCustomFlag() override { return customFlag; }
    int GetCodecType() override { return codecType; }
    bool GetOptionFlag() override { return false; }
    int GetChannelCount() override { return channels; }
    std::string GetAddressAndPort() override {
        return info.address + ":" + std::to_string(info.port);
    }
    std::string GetCustomParameterString(int n) override {
        auto it = custom.find(n);
        return it == custom.end() || it->second == "(none)" ? std::string() : it->second;
    }
    int GetCustomParameterInt(int n) override {
        auto it = custom.find(n);
        return it == custom.end() ? norvane::CUSTOM_PARAMETER_NOT_SET
                                  : norvane::ParseCustomParameterInt(it->second);
    }
    std::pair<int, int> GetLastFrameSize() override { return lastSize; }
    void SetLastFrameSize(int w, int h) override { lastSize = {w, h}; }
    bool GetRtpOverTcp() override { return rtpOverTcp; }
    void SetRtpOverTcp(bool overTcp) override { rtpOverTcp = overTcp; }

    // Log records carry the log type as their level.
    host::LogReceiver log;
    host::FrameAllocator frames;
    norvane::IFrameAllocator* allocator = &frames;
    norvane::DEVICE_INFO info;
    std::map<int, std::string> custom;
    std::string name = "Tavrin";
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    bool customFlag = false;
    int codecType = 3;
    int channels = 1;
    std::pair<int, int> lastSize{0, 0};
    std::atomic<bool> rtpOverTcp{false};

private:
    class CDebugInfoRecord : public TBoundaryObject<CDebugInfoIf> {
    public:
        CDebugInfoRecord(int type, const std::string& text) : type_(type), text_(text) {}
        signed char GetLevel() const override { return static_cast<signed char>(type_); }
        const char* GetText() const override { return text_.empty() ? nullptr : text_.c_str(); }

    private:
        int type_;
        std::string text_;
    };
};

}  // namespace test
