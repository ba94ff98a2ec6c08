// PTZ command thread: takes one work item per continuous command from the control, keeps at most
// 16 of them (superseded ones give way first, a stop never), and lets the camera-specific subclass
// send each one on its own thread. Also the camera side of presets (IPrepositionComm), called
// synchronously from the preset list.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/queue_thread.h"
#include "norvane/ptz.h"
#include "ptz/preposition_comm.h"
#include "ptz/ptz_capabilities.h"

namespace norvane {

class CPTZItem {
public:
    enum Type : int {
        MOVE = 1,
        FOCUS = 2,
        IRIS = 3,
        STOP = 4,
        AREA_ZOOM = 5,
        CENTER = 6,
        UNZOOM = 7
    };
    enum Subtype : int {
        FOCUS_1 = 1,
        FOCUS_2 = 2,
        IRIS_3 = 3,
        IRIS_4 = 4,
        STOP_MOVING = 5,
        STOP_ZOOMING = 6,
        STOP_FOCUSING = 7,
        STOP_IRIS = 8,
    };

    CPTZItem(int type, int subtype, IIPParams* params, int speed, int first = 0, int second = 0,
             int third = 0)
        : type(type),
          subtype(subtype),
          params(params),
          speed(speed),
          first(first),
          second(second),
          third(third) {}
    CPTZItem(const CPTZItem&) = default;
    virtual ~CPTZItem() = default;

    int type;
    int subtype;
    IIPParams* params;  // the issuing control, not owned
    int speed;
    int first;   // direction (move), x (center), first area-zoom value
    int second;  // y (center), second area-zoom value
    int third;   // third area-zoom value
};

class CBasePTZComm : public CQueueThread<CPTZItem>, public TBoundaryObject<IPrepositionComm> {
public:
    static constexpr unsigned STOP_LIMIT_MS = 5000;
    static constexpr int ZOOM_IN = 8;
    static constexpr int ZOOM_OUT = 9;

    CBasePTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel);
    ~CBasePTZComm() override;

    virtual bool Open();
    // Stops the thread: refuses new items, lets the queued ones reach the camera for up to
    // DrainLimitMs, then aborts the request in flight, drops what is left and joins. False when
    // the thread was not started.
    virtual bool Close();
    virtual bool HasContinuousControl();
    // Fills the host's record and restarts the failure log throttle.
    virtual int GetCapabilities(PTZ_CAPABILITIES* out);

    // PTZ_OK when queued, PTZ_NOT_SUPPORTED without the capability, PTZ_FAILED when stopping.
    int StartMove(IIPParams* params, int direction, int speed);
    int StartFocus(IIPParams* params, bool subtype2, int speed);
    int StartIris(IIPParams* params, bool subtype3, int speed);
    int AreaZoom(IIPParams* params, int a, int b, int c, int d);
    int Center(IIPParams* params, int x, int y, int speed);
    int Unzoom(IIPParams* params, int value);
    // True when queued.
    bool StopMoving(IIPParams* params);
    bool StopZooming(IIPParams* params);
    bool StopFocusing(IIPParams* params);
    bool StopIrisChanging(IIPParams* params);

    // IDebugMessage: to the driver's log.
    void Log(int type, const char* format, ...) override __attribute__((format(printf, 3, 4)));

    const CPtzCapabilities& Capabilities() const { return capabilities; }
    uint16_t Channel() const { return channel; }

protected:
    // Ends the request in flight at once; called from the stop path after the stop event is set.
    virtual void AbortRequests() {}
    // How long Close lets queued items go to the camera; 0 drops them at once.
    virtual unsigned DrainLimitMs() { return 0; }
    // The error-log throttle of the camera requests.
    bool ShouldLogFailure();
    // A full queue lets a continuous command (move, focus, iris or a stop) go once a newer one
    // for the same axis follows it: the newer one decides where that axis ends up. A stop is
    // never dropped for a one-shot command, so the head cannot be left moving.
    bool Supersedes(const CPTZItem& newer, const CPTZItem& older) const override;
    bool MayDrop(const CPTZItem& item) const override { return item.type != CPTZItem::STOP; }

private:
    // Posts a copy of `fields` when capable, logging a refusal under the method's name.
    int Queue(bool capable, const char* method, const CPTZItem& fields);

    uint16_t channel;
    CPtzCapabilities capabilities;
    std::atomic<bool> started{false};
    std::atomic<uint32_t> failureCounter{0};
};

}  // namespace norvane
