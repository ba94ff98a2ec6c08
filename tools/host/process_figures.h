// Figures a long run watches in its own process: resident memory, heap in use, threads and open
// descriptors; and the judgement of their growth against a baseline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct ProcessFigures {
    long rssKiB = -1;
    int64_t heapBytes = -1;  // allocator's bytes in use; -1 when unknown
    long threads = -1;
    long fds = -1;
};

// Value of a "Name:   value" line of /proc/self/status (kB for sizes); -1 when absent.
long StatusField(const std::string& name);
// Sets the peak resident size (VmHWM) back to the resident size now; false when the system
// does not allow it.
bool ResetPeakResident();
// The figures of this process now (-1 for one that cannot be read).
ProcessFigures SampleProcess();
// Bytes the allocator holds for the program: the sanitizer's count under a sanitizer, else
// glibc's in-use total.
int64_t HeapInUse();
// True when a sanitizer's allocator serves the program.
bool SanitizerHeap();
// Name of the allocator figure HeapInUse reports.
const char* HeapSource();

// How much each figure may exceed the baseline before it counts as growth.
struct GrowthSlack {
    long rssKiB = 0;
    int64_t heapBytes = 0;
    long threads = 0;
    long fds = 0;
};

// One line per figure that grew beyond its slack ("threads 40 -> 43, slack 2"); empty when none
// did. A figure unknown in either sample is not judged.
std::vector<std::string> GrowthBeyondSlack(const ProcessFigures& baseline,
                                           const ProcessFigures& now, const GrowthSlack& slack);

}  // namespace host
