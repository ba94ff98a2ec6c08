#include "camsim/scripted_peer.h"

#include <utility>

namespace camsim {

using norvane::platform::TcpSocket;
using norvane::platform::WaitResult;

Exchange Reply(std::string request, std::string reply, bool closeAfter) {
    Exchange exchange;
    exchange.request = std::move(request);
    exchange.reply.push_back({std::move(reply), 0});
    exchange.closeAfter = closeAfter;
    return exchange;
}

Exchange SplitReply(std::string request, const std::string& reply, size_t piece, unsigned delayMs) {
    Exchange exchange;
    exchange.request = std::move(request);
    for (size_t at = 0; at < reply.size(); at += piece)
        exchange.reply.push_back({reply.substr(at, piece), at == 0 ? 0u : delayMs});
    return exchange;
}

namespace {

constexpr unsigned ACCEPT_TIMEOUT_MS = 5000;

// Reads exactly `size` bytes unless the peer closes, an error or the time-out comes first.
std::string ReadBytes(TcpSocket& socket, size_t size, unsigned timeoutMs) {
    std::string data;
    char buffer[4096];
    while (data.size() < size) {
        const size_t want = std::min(sizeof(buffer), size - data.size());
        const int got = socket.ReceiveWithin(buffer, want, timeoutMs);
        if (got <= 0)
            break;
        data.append(buffer, static_cast<size_t>(got));
    }
    return data;
}

}  // namespace

bool RunScript(TcpSocket& socket, const std::vector<Exchange>& script, unsigned readTimeoutMs,
               norvane::CEvent& stop, std::vector<std::string>& requests, std::string& error) {
    for (size_t i = 0; i < script.size(); ++i) {
        const Exchange& exchange = script[i];
        if (!exchange.request.empty()) {
            const std::string got = ReadBytes(socket, exchange.request.size(), readTimeoutMs);
            requests.push_back(got);
            if (got != exchange.request) {
                error = "request " + std::to_string(i + 1) + " differs:\n--- expected\n" +
                        exchange.request + "\n--- received\n" + got;
                return false;
            }
        }
        for (const ReplyChunk& chunk : exchange.reply) {
            if (chunk.delayMs > 0 && stop.Wait(chunk.delayMs)) {
                error = "stopped";
                return false;
            }
            if (!socket.SendAll(chunk.bytes.data(), chunk.bytes.size())) {
                error = "reply " + std::to_string(i + 1) + " could not be written";
                return false;
            }
        }
        if (exchange.closeAfter)
            return true;
    }
    return true;
}

ScriptedPeer::~ScriptedPeer() { Stop(); }

bool ScriptedPeer::Start(std::vector<Exchange> script, unsigned readTimeoutMs) {
    script_ = std::move(script);
    readTimeoutMs_ = readTimeoutMs;
    if (!listener_.Listen(norvane::platform::LoopbackIPv4(), 0))
        return false;
    port_ = listener_.LocalPort();
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void ScriptedPeer::Serve() {
    std::vector<std::string> requests;
    std::string error;
    TcpSocket connection;
    if (listener_.Accept(connection, ACCEPT_TIMEOUT_MS) != WaitResult::Ready) {
        error = "no connection";
    } else {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connection_ = std::move(connection);
        }
        connection_.SetNoDelay();
        if (RunScript(connection_, script_, readTimeoutMs_, stop_, requests, error) &&
            !(script_.empty() || script_.back().closeAfter)) {
            // The script is over: anything more the client sends is unexpected.
            const std::string extra = ReadBytes(connection_, 1, readTimeoutMs_);
            if (!extra.empty())
                error = "unexpected bytes after the script";
        }
        connection_.Shutdown();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_ = std::move(requests);
        error_ = std::move(error);
    }
    done_.Set();
}

bool ScriptedPeer::WaitDone(unsigned milliseconds) { return done_.Wait(milliseconds); }

void ScriptedPeer::Stop() {
    stop_.Set();
    listener_.Wake();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connection_.Wake();
    }
    if (thread_.joinable())
        thread_.join();
    connection_.Close();
    listener_.Close();
}

std::vector<std::string> ScriptedPeer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string ScriptedPeer::Error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

}  // namespace camsim
