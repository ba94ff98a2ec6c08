// Scripted TCP peer on loopback: accepts one connection, checks each request byte for byte and
// answers with exact reply bytes, optionally split into several writes with pauses between them.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/event.h"
#include "platform/socket.h"

namespace camsim {

struct ReplyChunk {
    std::string bytes;
    unsigned delayMs = 0;  // pause before this chunk is written
};

struct Exchange {
    std::string request;            // expected bytes; empty: nothing is read before the reply
    std::vector<ReplyChunk> reply;  // written in order, each with its own send
    bool closeAfter = false;        // close the connection after the reply
};

// A reply written in one piece.
Exchange Reply(std::string request, std::string reply, bool closeAfter = false);
// A reply cut into pieces of `piece` bytes, each after `delayMs`.
Exchange SplitReply(std::string request, const std::string& reply, size_t piece, unsigned delayMs);

// Runs a script on one connected socket; false (with `error` set) at the first mismatch or
// failed read/write. Reads are bounded by `readTimeoutMs`; `stop` ends pauses and reads at once.
bool RunScript(norvane::platform::TcpSocket& socket, const std::vector<Exchange>& script,
               unsigned readTimeoutMs, norvane::CEvent& stop, std::vector<std::string>& requests,
               std::string& error);

class ScriptedPeer {
public:
    ScriptedPeer() = default;
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // Listens on an ephemeral loopback port and serves the script to the first connection.
    bool Start(std::vector<Exchange> script, unsigned readTimeoutMs = 2000);
    uint16_t Port() const { return port_; }
    // True once the script ran to its end (or failed) and the connection was shut down. After
    // a script whose last reply does not close, the peer waits for the client to close first.
    bool WaitDone(unsigned milliseconds);
    void Stop();

    // Requests received (each as many bytes as the script expected); complete once done.
    std::vector<std::string> Requests();
    // First mismatch or failure; empty while everything matched.
    std::string Error();

private:
    void Serve();

    std::vector<Exchange> script_;
    unsigned readTimeoutMs_ = 2000;
    norvane::platform::TcpListener listener_;
    norvane::platform::TcpSocket connection_;
    uint16_t port_ = 0;
    norvane::CManualEvent stop_;
    norvane::CManualEvent done_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::string error_;
};

}  // namespace camsim
