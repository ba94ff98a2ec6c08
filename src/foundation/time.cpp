#include "foundation/time.h"

#include "platform/system.h"

namespace norvane {

uint64_t GetCurrentFileTime() { return platform::FileTimeNow(); }

bool FileTimeToSystemTime(uint64_t fileTime, SYSTEMTIME* out) {
    return platform::FileTimeToSystemTime(fileTime, out);
}

CTime::CTime() : value(GetCurrentFileTime()) {}

void CTime::Now() {
    const uint64_t now = GetCurrentFileTime();
    CLockGuard guard(lock);
    value = now;
}

uint64_t CTime::GetValue() {
    CLockGuard guard(lock);
    return value;
}

uint32_t CTime::ElapsedMs() {
    const uint64_t now = GetCurrentFileTime();
    const uint64_t then = GetValue();
    return now > then ? static_cast<uint32_t>((now - then) / 10000) : 0;
}

}  // namespace norvane
