#include "ptz/sanyo_ptz_comm.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "foundation/idriver.h"
#include "http/camera_request.h"
#include "http/utils.h"

namespace norvane {

namespace {

const std::string kOperation = "/cgi-bin/opecmd.cgi?";
const std::string kMove = kOperation + "ope=51";

// Half of a picture side and a point clamped into it, in 64 bits.
struct Axis {
    int64_t half;
    int64_t point;
};

Axis MakeAxis(int size, int point) {
    const int64_t side = std::max(size, 0);
    return {side / 2, std::clamp<int64_t>(point, 0, side)};
}

int64_t Percent(const Axis& axis) {
    return std::llabs(axis.half - axis.point) * 100 / axis.half;
}

}  // namespace

int SanyoCameraSpeed(int speed, bool zoom) {
    // The camera's scale, s = 1 - trunc((speed - 1) * -k / 15), in double precision: no speed
    // overflows, and the result of any int speed fits an int.
    const double steps = static_cast<double>(speed) - 1.0;
    return static_cast<int>(1.0 - std::trunc(steps * (zoom ? -3.0 : -5.0) / 15.0));
}

std::string SanyoMovePath(int direction, int speed) {
    const bool zoom = direction == CBasePTZComm::ZOOM_IN || direction == CBasePTZComm::ZOOM_OUT;
    const std::string s = std::to_string(SanyoCameraSpeed(speed, zoom));
    const std::string pan = "&p_speed=" + s;
    const std::string tilt = "&t_speed=" + s;
    switch (direction) {
        case 0:
            return kMove + "&cmd=4" + pan;
        case 1:
            return kMove + "&cmd=5" + pan;
        case 2:
            return kMove + "&cmd=2" + tilt;
        case 3:
            return kMove + "&cmd=7" + tilt;
        case 4:
            return kMove + "&cmd=1" + pan + tilt;
        case 5:
            return kMove + "&cmd=3" + pan + tilt;
        case 6:
            return kMove + "&cmd=6" + pan + tilt;
        case 7:
            return kMove + "&cmd=8" + pan + tilt;
        case 8:
            return kMove + "&cmd=9&z_speed=" + s;
        case 9:
            return kMove + "&cmd=10&z_speed=" + s;
        default:
            return kMove;
    }
}

std::string SanyoCenterPath(int width, int height, int x, int y) {
    const Axis pan = MakeAxis(width, x);
    const Axis tilt = MakeAxis(height, y);
    if (pan.half == 0 || tilt.half == 0)
        return {};
    return kOperation + "ope=20&pan_dir=" + (pan.point > pan.half ? "1" : "2") +
           "&pan_percent=" + std::to_string(Percent(pan)) +
           "&tilt_dir=" + (tilt.point > tilt.half ? "2" : "1") +
           "&tilt_percent=" + std::to_string(Percent(tilt));
}

// Focus or iris: one operation with an action per subtype; other subtypes are logged under the
// method's name.
struct CSanyoPTZComm::LensCommand {
    const char* operation;
    int subtypes[2];
    const char* actions[2];
    const char* method;
};

CSanyoPTZComm::CSanyoPTZComm(IDriver* driver, const CPtzCapabilities& capabilities,
                             uint16_t channel)
    : CBasePTZComm(driver, capabilities, channel),
      client(*driver->GetDeviceInfo(), Web::HTTP_CLIENT_AGENT) {
    client.SetStopEvent(&StopEvent());
}

CSanyoPTZComm::~CSanyoPTZComm() {
    Close();
}

bool CSanyoPTZComm::SendCommand(const std::string& path) {
    if (path.empty() || IsStopSignalled())
        return false;
    CLockGuard guard(requestLock);
    const CResultDef result = Utils::SendRequestRD(client, path);
    cameraSilent = result.Code() == CResultDef::CODE_NOT_SENT;
    if (result.Succeeded())
        return true;
    if (ShouldLogFailure())
        Utils::LogResult(GetDriver(), result);
    return false;
}

bool CSanyoPTZComm::SavePreposition(unsigned slot, const std::string&) {
    return SendCommand(kOperation + "ope=8&registration=" + std::to_string(slot + 1ull));
}

bool CSanyoPTZComm::GotoPreposition(unsigned slot, const std::string&, int) {
    return SendCommand(kOperation + "ope=11&execution=" + std::to_string(slot + 1ull));
}

void CSanyoPTZComm::HandleWorkItem(CPTZItem* item) {
    if (!item || IsStopSignalled())
        return;
    switch (item->type) {
        case CPTZItem::MOVE:
            SendCommand(SanyoMovePath(item->first, item->speed));
            break;
        case CPTZItem::FOCUS:
            ProcessLensCommand(*item, {"ope=49",
                                       {CPTZItem::FOCUS_1, CPTZItem::FOCUS_2},
                                       {"1", "0"},
                                       "norvane::CSanyoPTZComm::ProcessFocusCommand"});
            break;
        case CPTZItem::IRIS:
            ProcessLensCommand(*item, {"ope=50",
                                       {CPTZItem::IRIS_3, CPTZItem::IRIS_4},
                                       {"0", "1"},
                                       "norvane::CSanyoPTZComm::ProcessIrisCommand"});
            break;
        case CPTZItem::STOP:
            ProcessStopCommand(*item);
            break;
        case CPTZItem::CENTER:
            ProcessCenterCommand(*item);
            break;
        case CPTZItem::UNZOOM:
            SendCommand(kOperation + "ope=52&num=1");
            break;
        default:
            GetDriver()->Log(LOG_ERROR, "%s: unexpected command ID=%u",
                             "norvane::CSanyoPTZComm::HandleWorkItem",
                             static_cast<unsigned>(item->type));
    }
}

void CSanyoPTZComm::ProcessLensCommand(const CPTZItem& item, const LensCommand& command) {
    for (int i = 0; i < 2; ++i) {
        if (item.subtype == command.subtypes[i]) {
            SendCommand(kOperation + command.operation + "&action=" + command.actions[i]);
            return;
        }
    }
    GetDriver()->Log(LOG_ERROR, "%s: Unexpected command subtype (Type=%d, Subtype=%d)",
                     command.method, item.type, item.subtype);
}

// Focus and iris stop by themselves on this camera: their stops send nothing.
void CSanyoPTZComm::ProcessStopCommand(const CPTZItem& item) {
    if (item.subtype == CPTZItem::STOP_MOVING)
        SendCommand(kMove + "&cmd=12");
    else if (item.subtype == CPTZItem::STOP_ZOOMING)
        SendCommand(kMove + "&cmd=11");
}

void CSanyoPTZComm::ProcessCenterCommand(const CPTZItem& item) {
    const auto [width, height] = GetDriver()->GetLastFrameSize();
    SendCommand(SanyoCenterPath(width, height, item.first, item.second));
}

}  // namespace norvane
