#include "ptz/base_ptz_control.h"

#include <cstring>

#include "foundation/idriver.h"
#include "foundation/no_throw.h"

namespace norvane {

CBasePTZControl::CBasePTZControl(IDriver* driver, int channel)
    : driver(driver), channel(channel), prepositions(channel) {}

CBasePTZControl::~CBasePTZControl() {
    CloseComm();
}

void CBasePTZControl::CloseComm() {
    if (!comm)
        return;
    // Aborts a preset request in flight, so that detaching the list below waits only briefly.
    comm->Close();
    prepositions.SetComm(nullptr, 0);
    comm.reset();
}

bool CBasePTZControl::Initialize(TSmartPtr<CXMLPrepositionReader> store) {
    comm.reset(CreateComm());
    if (comm && comm->Open() && store) {
        prepositions.SetComm(comm.get(), comm->Capabilities().maxPrepositions);
        prepositions.SetStorage(store);
        return true;
    }
    CloseComm();
    return false;
}

int CBasePTZControl::Moved(int result) {
    if (result == PTZ_OK)
        prepositions.ResetCurrentPreposition();
    return result;
}

int CBasePTZControl::Started(int result, std::atomic<bool>& flag) {
    if (Moved(result) == PTZ_OK)
        flag = true;
    return result;
}

int CBasePTZControl::IsPTZSupported() {
    if (!comm)
        return PTZ_FAILED;
    return comm->HasContinuousControl() ? 1 : 0;
}

int CBasePTZControl::StartMove(int direction, int speed) {
    if (!comm)
        return PTZ_FAILED;
    if (direction == 10)
        return PTZ_INVALID_ARGUMENT;
    const bool zoom = direction == CBasePTZComm::ZOOM_IN || direction == CBasePTZComm::ZOOM_OUT;
    return Started(comm->StartMove(this, direction, speed), zoom ? zooming : moving);
}

int CBasePTZControl::Stop() {
    if (!comm)
        return PTZ_FAILED;
    bool queued = true;
    const auto stop = [&](std::atomic<bool>& flag, bool (CBasePTZComm::*method)(IIPParams*)) {
        if (!flag)
            return;
        if ((comm.get()->*method)(this))
            flag = false;
        else
            queued = false;
    };
    stop(moving, &CBasePTZComm::StopMoving);
    stop(zooming, &CBasePTZComm::StopZooming);
    stop(irisChanging, &CBasePTZComm::StopIrisChanging);
    stop(focusing, &CBasePTZComm::StopFocusing);
    return queued ? PTZ_OK : PTZ_FAILED;
}

int CBasePTZControl::Center(int x, int y, int speed) {
    return comm ? Moved(comm->Center(this, x, y, speed)) : PTZ_FAILED;
}

int CBasePTZControl::StartZoom8(int speed) {
    return StartMove(CBasePTZComm::ZOOM_IN, speed);
}

int CBasePTZControl::StartZoom9(int speed) {
    return StartMove(CBasePTZComm::ZOOM_OUT, speed);
}

int CBasePTZControl::Unzoom(int value) {
    return comm ? Moved(comm->Unzoom(this, value)) : PTZ_FAILED;
}

int CBasePTZControl::AreaZoom(int a, int b, int c, int d) {
    return comm ? Moved(comm->AreaZoom(this, a, b, c, d)) : PTZ_FAILED;
}

int CBasePTZControl::StartFocus(bool subtype2, int speed) {
    return comm ? Started(comm->StartFocus(this, subtype2, speed), focusing) : PTZ_FAILED;
}

int CBasePTZControl::StartFocus2(int speed) {
    return StartFocus(true, speed);
}

int CBasePTZControl::StartFocus1(int speed) {
    return StartFocus(false, speed);
}

int CBasePTZControl::StartIris(bool subtype3, int speed) {
    return comm ? Started(comm->StartIris(this, subtype3, speed), irisChanging) : PTZ_FAILED;
}

int CBasePTZControl::StartIris3(int speed) {
    return StartIris(true, speed);
}

int CBasePTZControl::StartIris4(int speed) {
    return StartIris(false, speed);
}

int CBasePTZControl::GetCapabilities(PTZ_CAPABILITIES* out) {
    if (!comm)
        return PTZ_FAILED;
    if (!out)
        return PTZ_INVALID_ARGUMENT;
    comm->GetCapabilities(out);
    out->maxPrepositions = static_cast<int32_t>(comm->Capabilities().maxPrepositions);
    out->prepositionCount = prepositions.GetPrepositionCount();
    return PTZ_OK;
}

int CBasePTZControl::GetPrepositionCount() {
    return prepositions.GetPrepositionCount();
}

int CBasePTZControl::CopyName(bool found, const std::string& name, char* buffer, unsigned size) {
    if (!found)
        return PTZ_PRESET_FAILED;
    if (!buffer || name.size() >= size)
        return PTZ_INVALID_ARGUMENT;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return PTZ_OK;
}

int CBasePTZControl::GetPrepositionName(int index, char* buffer, unsigned size) {
    return NoThrow<int>(PTZ_PRESET_FAILED, [&] {
        std::string name;
        const bool found =
            index >= 0 && prepositions.GetPrepositionName(static_cast<unsigned>(index), name);
        return CopyName(found, name, buffer, size);
    });
}

int CBasePTZControl::GetCurrentPrepositionName(char* buffer, unsigned size) {
    return NoThrow<int>(PTZ_PRESET_FAILED, [&] {
        std::string name;
        const bool found = prepositions.GetCurrentPrepositionName(name);
        return CopyName(found, name, buffer, size);
    });
}

int CBasePTZControl::GotoPreposition(int value, const char* name) {
    if (!name)
        return PTZ_INVALID_ARGUMENT;
    return NoThrow<int>(PTZ_PRESET_FAILED, [&] {
        return prepositions.GotoPreposition(name, value) ? PTZ_OK : PTZ_PRESET_FAILED;
    });
}

int CBasePTZControl::AddPreposition(const char* name) {
    if (!name)
        return PTZ_INVALID_ARGUMENT;
    return NoThrow<int>(PTZ_FAILED, [&] { return prepositions.AddPreposition(name); });
}

int CBasePTZControl::RemovePreposition(const char* name) {
    if (!name)
        return PTZ_INVALID_ARGUMENT;
    return NoThrow<int>(PTZ_PRESET_FAILED, [&] {
        return prepositions.RemovePreposition(name) ? PTZ_OK : PTZ_PRESET_FAILED;
    });
}

}  // namespace norvane
