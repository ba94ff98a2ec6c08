// Capability query modules: one query of a camera's properties on a thread of its own, reported
// to the host's callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "camera/camera_properties.h"
#include "foundation/lock.h"
#include "foundation/smart_ptr.h"
#include "norvane/ipcapture.h"
#include "platform/thread.h"

namespace norvane {

class CCapabilityQueryModule : public TBoundaryObject<IIPCapabilityQuery> {
public:
    // Codes given to OnQueryFailed.
    static constexpr int CODE_INVALID_ADDRESS = 0;
    static constexpr int CODE_FAILED = 3;

    struct Timing {
        uint32_t requestTimeoutMs = 10000;  // the camera requests' time-out
        uint32_t stopLimitMs = 20000;       // how long destruction waits before abandoning
    };

    CCapabilityQueryModule(ICapabilityQueryCallback* callback, bool readerFlag, Timing timing);
    // Stops the query and cuts its request in progress, then waits for its end: past the limit
    // the query is abandoned (no further callback but OnQueryThreadTerminated).
    ~CCapabilityQueryModule() override;
    CCapabilityQueryModule(const CCapabilityQueryModule&) = delete;
    CCapabilityQueryModule& operator=(const CCapabilityQueryModule&) = delete;

    // 1 when the query thread started; a module runs at most one query.
    int Start(const char* address, int port, const char* user, const char* password,
              ICapabilityResults* results) override;
    // The query stops before its next camera request; nothing is waited for.
    void Terminate() override;

    // False for an address holding one of the characters no host name or address has.
    static bool IsValidAddress(const std::string& address);

protected:
    virtual CCameraPropertiesEx* CreateCameraProperties() = 0;
    const DEVICE_INFO& DeviceInfo() const { return deviceInfo; }
    bool ReaderFlag() const { return readerFlag; }

private:
    int StartQuery(const char* address, int port, const char* user, const char* password,
                   ICapabilityResults* results);
    // What the query thread uses; it holds its own share, so a module deleted from inside its
    // callback frees nothing the thread still touches.
    struct Query {
        enum Phase : int { RUNNING, REPORTED, ABANDONED };

        ICapabilityQueryCallback* callback = nullptr;
        ICapabilityResults* results = nullptr;
        std::string address;
        CLock lock;  // guards the reader's holders
        TSmartPtr<CCameraPropertiesEx> reader;
        std::atomic<int> phase{RUNNING};

        TSmartPtr<CCameraPropertiesEx> Reader();
        void Release(TSmartPtr<CCameraPropertiesEx>& holder);
        // True for the one party that may report: the thread (REPORTED) or the stop (ABANDONED).
        bool Claim(Phase to);
    };

    static unsigned ThreadProcedure(void* argument);
    static void QueryCapabilities(Query& query);
    // Cancels the query before its next camera request; with abortRequest also cuts the one in
    // progress.
    void StopReader(bool abortRequest);

    bool readerFlag;
    Timing timing;
    DEVICE_INFO deviceInfo;
    ICapabilityQueryCallback* callback;
    std::shared_ptr<Query> query;
    CLock lock;  // guards Start
    platform::Thread thread;
};

class CSanyoCapabilityQueryModule : public CCapabilityQueryModule {
public:
    CSanyoCapabilityQueryModule(ICapabilityQueryCallback* callback, bool readerFlag,
                                Timing timing = {})
        : CCapabilityQueryModule(callback, readerFlag, timing) {}

protected:
    CCameraPropertiesEx* CreateCameraProperties() override;
};

// A new module for the host's callback, or null when none can be built.
IIPCapabilityQuery* CreateCapabilityQuery(ICapabilityQueryCallback* callback, bool readerFlag);

}  // namespace norvane
