// Host log receiver that records every message it is given.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "host/monitor.h"
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
    explicit LogReceiver(std::FILE* echo = nullptr) : echo_(echo) {}

    void OnDebugInfo(CDebugInfoIf* info) override;

    std::vector<LogRecord> Records();
    size_t Count();
    // Number of records whose text contains `fragment`.
    size_t CountContaining(const std::string& fragment);
    bool WaitForText(const std::string& fragment, std::chrono::milliseconds timeout);
    void Clear();

private:
    Monitor monitor_;
    std::vector<LogRecord> records_;
    std::FILE* echo_;
};

}  // namespace host
