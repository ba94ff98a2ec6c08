// PTZ driver object the host obtains from the capture driver: one control per PTZ channel,
// created on first request, and the camera's preset store shared by all of them.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "foundation/lock.h"
#include "foundation/smart_ptr.h"
#include "norvane/ptz.h"
#include "ptz/preposition_reader.h"

namespace norvane {

class IDriver;
class CBasePTZControl;

class CIPPTZDriverIf : public TBoundaryObject<IIPPTZDriverEx> {};

class CBasePTZHandler : public CIPPTZDriverIf {
public:
    CBasePTZHandler(IDriver* driver, int channelCount, const std::string& deviceType);
    ~CBasePTZHandler() override;

    IIPPTZApiEx* GetPTZApi(int channel) override { return GetPTZApiEx(channel); }
    // Null for a channel outside 0 to count - 1 or when the control cannot be set up.
    IIPPTZApiEx* GetPTZApiEx(int channel) override;

    virtual std::string GetXMLStorageFileName() = 0;
    virtual CBasePTZControl* CreateControl(int channel) = 0;
    virtual void ReleaseControls();
    virtual bool InitializeXMLStorage();

    // Tests keep the preset file in a directory of their own.
    void SetStoreDirectory(const std::string& directory) { storeDirectory = directory; }

protected:
    IDriver* GetDriver() const { return driver; }

private:
    IDriver* driver;
    CLock lock;  // guards controls and store
    std::map<int, std::unique_ptr<CBasePTZControl>> controls;
    int channelCount;
    TSmartPtr<CXMLPrepositionReader> store;
    std::string deviceType;
    std::string storeDirectory;
};

}  // namespace norvane
