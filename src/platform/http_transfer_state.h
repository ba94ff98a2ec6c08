// Bookkeeping of an HttpTransport's transfers that both back ends keep alike: which transfer is
// current, whether a Close came since it started, and whether it failed or passed its deadline.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

namespace norvane::platform {

// Milliseconds from `now` to `deadline`, 0 when it has passed (32-bit clock arithmetic).
inline uint32_t RemainingMs(uint32_t deadline, uint32_t now) {
    const auto left = static_cast<int32_t>(deadline - now);
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

struct HttpTransferState {
    // A Close since the current transfer started.
    bool Cancelled() const { return closes.load() != transferCloses; }

    // Makes a new transfer current, started under `closeCount` Close calls; returns its id.
    uint64_t Begin(uint64_t closeCount, std::optional<uint32_t> until) {
        failed = expired = complete = false;
        current = ++lastId;
        transferCloses = closeCount;
        deadline = until;
        return current;
    }

    bool Expired(uint64_t transfer) { return Holds(transfer, expired); }
    bool Complete(uint64_t transfer) { return Holds(transfer, complete); }

    // True when `transfer` is the current one and `flag` of it is set.
    bool Holds(uint64_t transfer, const bool& flag) {
        std::lock_guard<std::mutex> guard(mutex);
        return transfer != 0 && transfer == current && flag;
    }

    std::mutex mutex;                 // serialises Send, Available and Read
    std::atomic<uint64_t> closes{0};  // Close calls so far
    uint64_t current = 0;             // id of the current transfer
    uint64_t lastId = 0;

    // State of the current transfer.
    uint64_t transferCloses = 0;  // close count the transfer was started under
    std::optional<uint32_t> deadline;
    bool expired = false;
    bool failed = false;
    bool complete = false;  // the body ended where the server framed its end
};

}  // namespace norvane::platform
