#include "driver/capability_query.h"

#include <memory>
#include <new>

#include "camera/sanyo_camera_properties.h"
#include "foundation/no_throw.h"

namespace norvane {

namespace {

constexpr const char* INVALID_ADDRESS_CHARACTERS = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";
constexpr unsigned THREAD_FAILED = 0x123456;

constexpr const char* INVALID_ADDRESS =
    "Failed to start capability fetching thread. Device address is invalid!";
constexpr const char* INTERNAL_ERROR =
    "Failed to start capability fetching thread. Internal error occurs";
constexpr const char* READ_FAILED = "Failed to get camera properties";
constexpr const char* LOGIN_FAILED = ", login failed (invalid credentials)";
constexpr const char* OFFLINE = ", device is offline or is located in unaccessible subnet";
constexpr const char* SAVE_FAILED = "Failed to save capability query results";

}  // namespace

TSmartPtr<CCameraPropertiesEx> CCapabilityQueryModule::Query::Reader() {
    CLockGuard guard(lock);
    return reader;
}

void CCapabilityQueryModule::Query::Release(TSmartPtr<CCameraPropertiesEx>& holder) {
    CLockGuard guard(lock);
    holder.Assign(nullptr);
}

bool CCapabilityQueryModule::Query::Claim(Phase to) {
    int expected = RUNNING;
    return phase.compare_exchange_strong(expected, to);
}

CCapabilityQueryModule::CCapabilityQueryModule(ICapabilityQueryCallback* callback, bool readerFlag,
                                               Timing timing)
    : readerFlag(readerFlag), timing(timing), callback(callback) {
    deviceInfo.timeout = timing.requestTimeoutMs;
    deviceInfo.timeout2 = timing.requestTimeoutMs;
}

CCapabilityQueryModule::~CCapabilityQueryModule() {
    // The request in progress is cut before the wait: a silent camera must not hold the deletion.
    // The query then fails on its thread and reports that once.
    StopReader(true);
    if (thread.Exists() && !thread.IsCurrent() && !thread.WaitEnded(timing.stopLimitMs)) {
        // Threads are never killed: the query is abandoned and its end awaited.
        if (query->Claim(Query::ABANDONED) && callback)
            callback->OnQueryThreadTerminated();
    }
    thread.Close();  // from the query thread itself (a callback deleting us) it lets go
    if (query)
        query->Release(query->reader);
}

bool CCapabilityQueryModule::IsValidAddress(const std::string& address) {
    return address.find_first_of(INVALID_ADDRESS_CHARACTERS) == std::string::npos;
}

int CCapabilityQueryModule::Start(const char* address, int port, const char* user,
                                  const char* password, ICapabilityResults* results) {
    return NoThrow(0, [&] { return StartQuery(address, port, user, password, results); });
}

int CCapabilityQueryModule::StartQuery(const char* address, int port, const char* user,
                                       const char* password, ICapabilityResults* results) {
    CLockGuard guard(lock);
    if (thread.Exists())
        return 0;
    if (!address || !user || !password)
        return 0;
    deviceInfo.address = address;
    deviceInfo.port = static_cast<uint16_t>(port);
    deviceInfo.userName = user;
    deviceInfo.password = password;
    if (deviceInfo.timeout == 0)
        return 0;
    auto next = std::make_shared<Query>();
    next->callback = callback;
    next->results = results;
    next->address = deviceInfo.address;
    next->reader.Assign(CreateCameraProperties());
    if (!next->reader)
        return 0;
    auto share = std::make_unique<std::shared_ptr<Query>>(next);
    query = next;
    if (!thread.Start(&ThreadProcedure, share.get()))
        return 0;
    share.release();  // the thread's now
    return 1;
}

void CCapabilityQueryModule::StopReader(bool abortRequest) {
    CLockGuard guard(lock);
    if (!query)
        return;
    TSmartPtr<CCameraPropertiesEx> reader = query->Reader();
    if (reader) {
        reader->Cancel();
        if (abortRequest)
            reader->Abort();
    }
    query->Release(reader);
}

void CCapabilityQueryModule::Terminate() { StopReader(false); }

unsigned CCapabilityQueryModule::ThreadProcedure(void* argument) {
    std::unique_ptr<std::shared_ptr<Query>> share(static_cast<std::shared_ptr<Query>*>(argument));
    if (!share || !*share)
        return THREAD_FAILED;
    try {
        QueryCapabilities(**share);
    } catch (...) {
        return THREAD_FAILED;
    }
    return 0;
}

void CCapabilityQueryModule::QueryCapabilities(Query& query) {
    std::string message;
    bool success = false;
    int code = CODE_FAILED;
    if (!IsValidAddress(query.address)) {
        message = INVALID_ADDRESS;
        code = CODE_INVALID_ADDRESS;
    } else {
        TSmartPtr<CCameraPropertiesEx> reader = query.Reader();
        if (!reader || !query.results) {
            message = INTERNAL_ERROR;
        } else if (!reader->ReadProperties(code)) {
            message = READ_FAILED;
            if (code == CCameraPropertiesEx::CODE_LOGIN_FAILED)
                message += LOGIN_FAILED;
            else if (code == CCameraPropertiesEx::CODE_OFFLINE)
                message += OFFLINE;
        } else if (query.phase == Query::ABANDONED) {
            // nobody waits for the results any more
        } else if (reader->WriteResults(query.results)) {
            success = true;
        } else {
            message = SAVE_FAILED;
        }
        query.Release(reader);
    }
    if (!query.Claim(Query::REPORTED) || !query.callback)
        return;
    if (success)
        query.callback->OnQuerySucceeded();
    else
        query.callback->OnQueryFailed(code, message.c_str());
}

CCameraPropertiesEx* CSanyoCapabilityQueryModule::CreateCameraProperties() {
    return new (std::nothrow) CSanyoCameraProperties(DeviceInfo(), ReaderFlag());
}

IIPCapabilityQuery* CreateCapabilityQuery(ICapabilityQueryCallback* callback, bool readerFlag) {
    return new (std::nothrow) CSanyoCapabilityQueryModule(callback, readerFlag);
}

}  // namespace norvane
