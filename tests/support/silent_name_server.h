// A name server on 127.0.0.1:53 that takes queries and never answers, so that every look-up of a
// name lasts the resolver's time-out. Only in runs under scripts/with-silent-resolver.sh, whose
// namespaces send look-ups there; elsewhere its tests skip.
#pragma once

#include <cstdlib>

#include "platform/socket.h"

namespace test {

class SilentNameServer {
public:
    static bool Available() { return std::getenv("TAVRIN_SILENT_RESOLVER") != nullptr; }

    bool Open() { return socket_.Open(53, norvane::platform::LoopbackIPv4()); }
    // Takes the next query; false when none arrives within the limit.
    bool WaitForQuery(unsigned milliseconds) {
        if (socket_.WaitReadable(milliseconds) != norvane::platform::WaitResult::Ready)
            return false;
        char query[512];
        norvane::platform::InetAddress source;
        bool truncated = false;
        return socket_.ReceiveFrom(query, sizeof(query), source, truncated) > 0;
    }

private:
    norvane::platform::UdpSocket socket_;
};

}  // namespace test
