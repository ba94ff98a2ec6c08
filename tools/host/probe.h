// A capability query as a host runs it: through the library's exports, into the host's result
// object, waiting for the callback; and the results as a table and as JSON.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/capability_results.h"
#include "host/driver_library.h"

namespace host {

// The host's callback: records each call and lets a host thread wait for the outcome.
class QueryCallback : public norvane::TBoundaryObject<norvane::ICapabilityQueryCallback> {
public:
    enum class Outcome { None, Succeeded, Failed };

    void OnQuerySucceeded() override;
    void OnQueryFailed(int code, const char* message) override;
    void OnQueryThreadTerminated() override;

    // True when an outcome arrived within `limit`.
    bool Wait(std::chrono::milliseconds limit);
    Outcome Result() const;
    int Code() const;
    std::string Message() const;
    // Calls of every kind, the thread-terminated notice included.
    int Calls() const;
    int Terminations() const;

private:
    void Report(Outcome outcome, int code, const std::string& message);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Outcome outcome_ = Outcome::None;
    int code_ = -1;
    std::string message_;
    int calls_ = 0;
    int terminations_ = 0;
};

struct ProbeTarget {
    std::string address;
    uint16_t port = 80;
    std::string user;
    std::string password;
};

struct ProbeResult {
    bool started = false;   // the module took the query
    bool answered = false;  // a success or failure callback came within the limit
    bool succeeded = false;
    int code = -1;
    std::string message;
    ProbeTarget target;
    CapabilityRecord record;
};

// One query with a module of its own; waits at most `limit` for the callback.
ProbeResult Probe(const DriverLibrary& library, const ProbeTarget& target,
                  std::chrono::milliseconds limit);

struct ProbeRow {
    std::string name;
    std::string value;
};
struct ProbeSection {
    std::string title;  // empty for the first section: the outcome, or model and capabilities
    std::vector<ProbeRow> rows;
};

// The results as titled rows, as the table and the run report show them.
std::vector<ProbeSection> ProbeSections(const ProbeResult& probe);
std::string ProbeTable(const ProbeResult& probe);
std::string ProbeJson(const ProbeResult& probe);

}  // namespace host
