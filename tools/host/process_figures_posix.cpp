#include "host/process_figures.h"

#include <malloc.h>

#include <filesystem>
#include <fstream>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HOST_SANITIZER_HEAP 1
// Part of every sanitizer runtime; GCC ships no header that declares it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace host {

namespace {

long OpenDescriptors() {
    std::error_code error;
    long count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++count;
    // The directory listing holds one descriptor of its own while it runs.
    return error ? -1 : count - 1;
}

template <typename T>
void Judge(std::vector<std::string>& out, const char* name, T base, T now, T slack) {
    if (base >= 0 && now >= 0 && now - base > slack)
        out.push_back(std::string(name) + " " + std::to_string(base) + " -> " +
                      std::to_string(now) + ", slack " + std::to_string(slack));
}

}  // namespace

long StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, name.size() + 1, name + ":") == 0)
            return std::stol(line.substr(name.size() + 1));
    return -1;
}

bool ResetPeakResident() {
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";  // the kernel's code for resetting the peak
    refs.flush();
    return static_cast<bool>(refs);
}

int64_t HeapInUse() {
#ifdef HOST_SANITIZER_HEAP
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);  // chunks in use and mmapped blocks
#endif
}

bool SanitizerHeap() {
#ifdef HOST_SANITIZER_HEAP
    return true;
#else
    return false;
#endif
}

const char* HeapSource() {
#ifdef HOST_SANITIZER_HEAP
    return "sanitizer allocated bytes";
#else
    return "mallinfo2 uordblks+hblkhd";
#endif
}

ProcessFigures SampleProcess() {
    return {StatusField("VmRSS"), HeapInUse(), StatusField("Threads"), OpenDescriptors()};
}

std::vector<std::string> GrowthBeyondSlack(const ProcessFigures& base, const ProcessFigures& now,
                                           const GrowthSlack& slack) {
    std::vector<std::string> out;
    Judge(out, "rss_kib", base.rssKiB, now.rssKiB, slack.rssKiB);
    Judge(out, "heap_bytes", base.heapBytes, now.heapBytes, slack.heapBytes);
    Judge(out, "threads", base.threads, now.threads, slack.threads);
    Judge(out, "fds", base.fds, now.fds, slack.fds);
    return out;
}

}  // namespace host
