#include "ptz/base_ptz_comm.h"

#include <cstdarg>
#include <cstring>
#include <new>

#include "foundation/debug_info.h"
#include "foundation/idriver.h"
#include "http/utils.h"

namespace norvane {

CBasePTZComm::CBasePTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel)
    : CQueueThread<CPTZItem>(driver), channel(channel), capabilities(capabilities) {}

CBasePTZComm::~CBasePTZComm() {
    Close();
}

bool CBasePTZComm::Open() {
    if (!started) {
        const std::string name = "BaseIPPTZThread_Ch" + std::to_string(channel + 1u);
        started = OpenQueue(name);
    }
    if (!started)
        GetDriver()->Log(LOG_ERROR, "%s: unable to start thread for PTZ channel %u",
                         "norvane::CBasePTZComm::Open", channel + 1u);
    return started;
}

bool CBasePTZComm::Close() {
    if (!started.exchange(false))
        return false;
    // A command accepted before (a stop above all) must not be lost while the camera answers.
    DrainQueue(DrainLimitMs());
    StopEvent().Set();
    AbortRequests();
    return CloseQueue();
}

bool CBasePTZComm::HasContinuousControl() {
    const CPtzCapabilities& c = capabilities;
    return c.pan || c.tilt || c.zoom || c.focus || c.iris;
}

int CBasePTZComm::GetCapabilities(PTZ_CAPABILITIES* out) {
    const CPtzCapabilities& c = capabilities;
    out->reserved24 = 0;
    out->prepositionCount = 0;
    out->reserved36 = 0;
    out->reserved40 = 0;
    out->pan = c.pan;
    out->tilt = c.tilt;
    out->zoom = c.zoom;
    out->focus = c.focus;
    out->iris = c.iris;
    out->areaZoom = c.areaZoom;
    out->center = c.center;
    out->unzoom = c.unzoom;
    out->maxPrepositions = static_cast<int32_t>(c.maxPrepositions);
    failureCounter = 0;
    return PTZ_OK;
}

bool CBasePTZComm::ShouldLogFailure() {
    uint32_t count = failureCounter.load();
    const bool log = Utils::ShouldLog(count);
    failureCounter = count;
    return log;
}

namespace {

enum class Axis { NONE, PAN_TILT, ZOOM, FOCUS, IRIS };

// The axis a continuous command drives; NONE for one-shot commands.
Axis AxisOf(const CPTZItem& item) {
    switch (item.type) {
        case CPTZItem::MOVE:
            return item.first == CBasePTZComm::ZOOM_IN || item.first == CBasePTZComm::ZOOM_OUT
                       ? Axis::ZOOM
                       : Axis::PAN_TILT;
        case CPTZItem::FOCUS:
            return Axis::FOCUS;
        case CPTZItem::IRIS:
            return Axis::IRIS;
        case CPTZItem::STOP:
            switch (item.subtype) {
                case CPTZItem::STOP_MOVING:
                    return Axis::PAN_TILT;
                case CPTZItem::STOP_ZOOMING:
                    return Axis::ZOOM;
                case CPTZItem::STOP_FOCUSING:
                    return Axis::FOCUS;
                case CPTZItem::STOP_IRIS:
                    return Axis::IRIS;
                default:
                    return Axis::NONE;
            }
        default:
            return Axis::NONE;
    }
}

}  // namespace

bool CBasePTZComm::Supersedes(const CPTZItem& newer, const CPTZItem& older) const {
    const Axis axis = AxisOf(older);
    return axis != Axis::NONE && AxisOf(newer) == axis;
}

int CBasePTZComm::Queue(bool capable, const char* method, const CPTZItem& fields) {
    if (!capable)
        return PTZ_NOT_SUPPORTED;
    CPTZItem* item = new (std::nothrow) CPTZItem(fields);
    if (!item)
        return PTZ_FAILED;
    if (PostWorkItemBounded(item))
        return PTZ_OK;
    GetDriver()->Log(LOG_ERROR, "%s: cannot send message (%d) to thread", method, fields.type);
    return PTZ_FAILED;
}

int CBasePTZComm::StartMove(IIPParams* params, int direction, int speed) {
    const bool zoomDirection = direction == ZOOM_IN || direction == ZOOM_OUT;
    return Queue(zoomDirection ? capabilities.zoom : capabilities.pan || capabilities.tilt,
                 "norvane::CBasePTZComm::StartMove", {CPTZItem::MOVE, 0, params, speed, direction});
}

int CBasePTZComm::StartFocus(IIPParams* params, bool subtype2, int speed) {
    return Queue(
        capabilities.focus, "norvane::CBasePTZComm::StartFocus",
        {CPTZItem::FOCUS, subtype2 ? CPTZItem::FOCUS_2 : CPTZItem::FOCUS_1, params, speed});
}

int CBasePTZComm::StartIris(IIPParams* params, bool subtype3, int speed) {
    return Queue(capabilities.iris, "norvane::CBasePTZComm::StartIris",
                 {CPTZItem::IRIS, subtype3 ? CPTZItem::IRIS_3 : CPTZItem::IRIS_4, params, speed});
}

int CBasePTZComm::AreaZoom(IIPParams* params, int a, int b, int c, int d) {
    return Queue(capabilities.areaZoom, "norvane::CBasePTZComm::AreaZoom",
                 {CPTZItem::AREA_ZOOM, 0, params, d, a, b, c});
}

int CBasePTZComm::Center(IIPParams* params, int x, int y, int speed) {
    return Queue(capabilities.center, "norvane::CBasePTZComm::Center",
                 {CPTZItem::CENTER, 0, params, speed, x, y});
}

int CBasePTZComm::Unzoom(IIPParams* params, int value) {
    return Queue(capabilities.unzoom, "norvane::CBasePTZComm::Unzoom",
                 {CPTZItem::UNZOOM, 0, params, value});
}

bool CBasePTZComm::StopMoving(IIPParams* params) {
    return Queue(true, "norvane::CBasePTZComm::StopMoving",
                 {CPTZItem::STOP, CPTZItem::STOP_MOVING, params, 0}) == PTZ_OK;
}

bool CBasePTZComm::StopZooming(IIPParams* params) {
    return Queue(true, "norvane::CBasePTZComm::StopZooming",
                 {CPTZItem::STOP, CPTZItem::STOP_ZOOMING, params, 0}) == PTZ_OK;
}

bool CBasePTZComm::StopFocusing(IIPParams* params) {
    return Queue(true, "norvane::CBasePTZComm::StopFocusing",
                 {CPTZItem::STOP, CPTZItem::STOP_FOCUSING, params, 0}) == PTZ_OK;
}

bool CBasePTZComm::StopIrisChanging(IIPParams* params) {
    return Queue(true, "norvane::CBasePTZComm::StopIrisChanging",
                 {CPTZItem::STOP, CPTZItem::STOP_IRIS, params, 0}) == PTZ_OK;
}

void CBasePTZComm::Log(int type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatText(format, args);
    va_end(args);
    GetDriver()->Log(type, "%s", text.c_str());
}

}  // namespace norvane
