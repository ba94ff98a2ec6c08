#include "host/capture_time.h"

#include <cstdio>

namespace host {

using namespace std::chrono;

SYSTEMTIME UtcNow() { return ToSystemTime(system_clock::now()); }

SYSTEMTIME ToSystemTime(system_clock::time_point time) {
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date(day);
    const hh_mm_ss<milliseconds> clock(ms - day);
    SYSTEMTIME t{};
    t.wYear = static_cast<uint16_t>(static_cast<int>(date.year()));
    t.wMonth = static_cast<uint16_t>(static_cast<unsigned>(date.month()));
    t.wDayOfWeek = static_cast<uint16_t>(weekday(day).c_encoding());
    t.wDay = static_cast<uint16_t>(static_cast<unsigned>(date.day()));
    t.wHour = static_cast<uint16_t>(clock.hours().count());
    t.wMinute = static_cast<uint16_t>(clock.minutes().count());
    t.wSecond = static_cast<uint16_t>(clock.seconds().count());
    t.wMilliseconds = static_cast<uint16_t>(clock.subseconds().count());
    return t;
}

std::string FormatUtc(const SYSTEMTIME& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

}  // namespace host
