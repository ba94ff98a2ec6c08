// Wall-clock time value in file-time units (100 ns since 1601-01-01 UTC).
#pragma once

#include <cstdint>

#include "foundation/lock.h"
#include "norvane/types.h"

namespace norvane {

// Current time as file time; 0 on failure.
uint64_t GetCurrentFileTime();
// False on failure.
bool FileTimeToSystemTime(uint64_t fileTime, SYSTEMTIME* out);

class CTime {
public:
    CTime();
    virtual ~CTime() = default;

    void Now();
    uint64_t GetValue();
    // Milliseconds from the value to now; 0 if now is not later.
    uint32_t ElapsedMs();

private:
    CLock lock;
    uint64_t value;
};

}  // namespace norvane
