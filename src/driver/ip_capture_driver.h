// Camera-independent driver object: host configuration, IDriver view, logging, sub-objects.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "driver/custom_creator.h"
#include "foundation/boundary_ptr.h"
#include "foundation/debug_info.h"
#include "foundation/idriver.h"
#include "foundation/lock.h"
#include "norvane/ipcapture.h"

namespace norvane {

class CIPVideoCapture;

// Custom parameter text as integer: optional sign, then only digits; else not set.
int ParseCustomParameterInt(const std::string& text);

class CIPCaptureDriver
    : public TBoundaryObject<ipcapture::IIPCaptureDriverEx3, IDriver, ICustomCreator> {
public:
    CIPCaptureDriver();
    ~CIPCaptureDriver() override;

    // IIPCaptureDriver chain
    bool Open(IDebugInfoSink* log, IFrameAllocator* frames, IDeviceConfig* config) override;
    void Close() override;
    ipcapture::IIPVideoCapture* GetVideoCapture() override;
    ICaptureIOApi* GetCaptureIOApi() override { return io.get(); }
    void* GetOptionalApi1() override { return nullptr; }
    IIPPTZDriver* GetPTZDriver() override { return ptz.get(); }
    void* GetOptionalApi2() override { return nullptr; }
    ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override;
    IIPPTZDriverEx* GetPTZDriverEx() override;

    virtual bool CreateIO() = 0;
    virtual bool CreatePTZ() = 0;
    virtual bool ReadMotionDetectionSetting(unsigned channelIndex);
    virtual void LogDriverOpened(const std::string& firmware);

    // IDebugMessage
    void Log(int type, const char* format, ...) override NORVANE_PRINTF_FORMAT(3, 4);

    // IDriver
    const DEVICE_INFO* GetDeviceInfo() override { return &deviceInfo; }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {inputCount, outputCount}; }
    IFrameAllocator* GetFrameAllocator() override { return frames; }
    bool GetCustomFlag() override { return customFlag; }
    int GetCodecType() override { return codecType; }
    bool GetOptionFlag() override { return optionFlag; }
    int GetChannelCount() override { return static_cast<int>(channelCount); }
    std::string GetAddressAndPort() override;
    std::string GetCustomParameterString(int number) override;
    int GetCustomParameterInt(int number) override;
    std::pair<int, int> GetLastFrameSize() override;
    void SetLastFrameSize(int width, int height) override;
    bool GetRtpOverTcp() override;
    void SetRtpOverTcp(bool overTcp) override;

    const HostVersion& GetHostVersion() const { return hostVersion; }
    // Tests read the settings file from another directory than the executable's.
    void SetSettingsDirectory(const std::string& directory) { settingsDirectory = directory; }

protected:
    IDebugInfoSink* log = nullptr;
    IFrameAllocator* frames = nullptr;
    DEVICE_INFO deviceInfo;
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    uint32_t channelCount = 0;
    int codecType = 0;
    bool optionFlag = false;
    bool customFlag = false;
    std::map<unsigned, std::string> customParameters;
    HostVersion hostVersion;
    BoundaryPtr<ICaptureIOApi> io;
    std::unique_ptr<CIPVideoCapture> videoCapture;
    BoundaryPtr<IIPPTZDriver> ptz;

private:
    void CopyConfiguration(IDeviceConfig* config);
    void DeleteSubObjects();

    CLock lock;  // guards lastFrameSize
    std::pair<int, int> lastFrameSize{0, 0};
    std::atomic<bool> rtpOverTcp{false};
    std::string settingsDirectory;
};

}  // namespace norvane
