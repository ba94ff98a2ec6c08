#include "platform/resolver.h"

#include <chrono>
#include <new>

#include "platform/socket.h"
#include "platform/socket_native.h"

namespace norvane::platform {

namespace {

// Helper threads may run at once; past this no new look-up starts, so a resolver that never
// answers cannot grow the process.
constexpr int LOOKUP_LIMIT = 64;
std::atomic<int> runningLookups{0};

Lookup* NewLookup(const std::string& host) {
    try {
        auto* lookup = new Lookup;
        lookup->host = host;
        return lookup;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

void RunLookUp(Lookup* lookup) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    uint32_t address = 0;
    if (getaddrinfo(lookup->host.c_str(), nullptr, &hints, &list) == 0) {
        address = FirstIPv4(list);
        freeaddrinfo(list);
    }
    {
        std::lock_guard<std::mutex> guard(lookup->lock);
        lookup->address = address;
        lookup->done = true;
    }
    lookup->changed.notify_all();
    lookup->Release();
    --runningLookups;
}

uint32_t ResolveIPv4(const std::string& host, const std::function<bool()>& abandon) {
    if (host.empty())
        return 0;
    if (const uint32_t dotted = DottedIPv4(host))
        return dotted;
    if (++runningLookups > LOOKUP_LIMIT) {
        --runningLookups;
        return 0;
    }
    Lookup* lookup = NewLookup(host);
    LookUpThread thread;
    if (!lookup || !thread.Start(lookup)) {
        delete lookup;
        --runningLookups;
        return 0;
    }
    std::unique_lock<std::mutex> guard(lookup->lock);
    while (!lookup->changed.wait_for(guard, std::chrono::milliseconds(RESOLVE_CHECK_MS),
                                     [&] { return lookup->done; })) {
        if (abandon && abandon()) {
            guard.unlock();
            thread.Leave();
            lookup->Release();
            return 0;
        }
    }
    const uint32_t address = lookup->address;
    guard.unlock();
    thread.Join();
    lookup->Release();
    return address;
}

}  // namespace norvane::platform
