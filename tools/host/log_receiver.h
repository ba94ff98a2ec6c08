// Host log receiver that records the messages it is given (the latest MAX_RECORDS of them).
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "host/monitor.h"
#include "host/recent_list.h"
#include "norvane/debug.h"

namespace host {

struct LogRecord {
    int level;
    bool hasText;  // false when the driver passed a null text
    std::string text;
    std::chrono::steady_clock::time_point arrived;
};

class LogReceiver : public norvane::TBoundaryObject<norvane::IDebugInfoSink> {
public:
    // With `echo`, each message is also printed to the stream.
    static constexpr size_t MAX_RECORDS = 20000;

    explicit LogReceiver(std::FILE* echo = nullptr) : echo_(echo) {}

    void OnDebugInfo(CDebugInfoIf* info) override;

    std::vector<LogRecord> Records();
    // Records held (at most MAX_RECORDS), and the earlier ones given up for them.
    size_t Count();
    size_t Dropped();
    // Messages heard per level, those given up included.
    std::map<int, size_t> LevelCounts();
    // Number of records whose text contains `fragment`.
    size_t CountContaining(const std::string& fragment);
    bool WaitForText(const std::string& fragment, std::chrono::milliseconds timeout);
    void Clear();

private:
    Monitor monitor_;
    RecentList<LogRecord> records_{MAX_RECORDS};
    std::map<int, size_t> levels_;
    std::FILE* echo_;
};

}  // namespace host
