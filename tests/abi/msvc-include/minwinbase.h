// Stand-in for the Windows SDK header in the freestanding Microsoft-ABI compile of the checks:
// SYSTEMTIME exactly as the Windows SDK declares it.
#pragma once

#include <windef.h>

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;
