// Per-channel PTZ control the host steers: continuous commands go to the command thread and
// return at once; presets go synchronously through the channel's preset list.
#pragma once

#include <atomic>
#include <memory>

#include "foundation/smart_ptr.h"
#include "norvane/ptz.h"
#include "ptz/base_ptz_comm.h"
#include "ptz/preposition_list.h"

namespace norvane {

class IDriver;

class CBasePTZControl : public TBoundaryObject<IIPPTZApiEx, IIPParams> {
public:
    CBasePTZControl(IDriver* driver, int channel);
    ~CBasePTZControl() override;

    // IIPPTZApi
    int IsPTZSupported() override;
    int StartMove(int direction, int speed) override;
    int Stop() override;
    int Center(int x, int y, int speed) override;
    int StartZoom8(int speed) override;
    int StartZoom9(int speed) override;
    int Unzoom(int value) override;
    int AreaZoom(int a, int b, int c, int d) override;
    int StartFocus2(int speed) override;
    int StartFocus1(int speed) override;
    int StartIris3(int speed) override;
    int StartIris4(int speed) override;
    int GetCapabilities(PTZ_CAPABILITIES* out) override;
    int GetPrepositionCount() override;
    int GetPrepositionName(int index, char* buffer, unsigned size) override;
    int GotoPreposition(int value, const char* name) override;
    int AddPreposition(const char* name) override;
    int RemovePreposition(const char* name) override;
    int GetCurrentPrepositionName(char* buffer, unsigned size) override;
    // IIPPTZApiEx
    bool IsFeatureSupported(int id) override { return id == 1; }

    // IIPParams
    int GetChannel() override { return channel; }
    bool GetFlag1() override { return flag1; }
    void SetFlag1(bool value) override { flag1 = value; }
    bool GetFlag2() override { return flag2; }
    void SetFlag2(bool value) override { flag2 = value; }

    // Stops and destroys the command thread; the preset list lets go of it first.
    virtual void CloseComm();
    virtual CBasePTZComm* CreateComm() = 0;
    virtual bool Initialize(TSmartPtr<CXMLPrepositionReader> store);

protected:
    IDriver* GetDriver() const { return driver; }

private:
    // Result of a continuous command; success leaves any stored position.
    int Moved(int result);
    // As Moved; success also raises the activity flag.
    int Started(int result, std::atomic<bool>& flag);
    int StartFocus(bool subtype2, int speed);
    int StartIris(bool subtype3, int speed);
    static int CopyName(bool found, const std::string& name, char* buffer, unsigned size);

    IDriver* driver;
    int channel;
    std::unique_ptr<CBasePTZComm> comm;
    CPrepositionList prepositions;
    std::atomic<bool> flag1{false};
    std::atomic<bool> flag2{false};
    std::atomic<bool> zooming{false};
    std::atomic<bool> focusing{false};
    std::atomic<bool> irisChanging{false};
    std::atomic<bool> moving{false};
};

}  // namespace norvane
