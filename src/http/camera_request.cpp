#include "http/camera_request.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace norvane::Utils {

namespace {

constexpr const char* METHOD = "norvane::Utils::SendRequestRD";

// A camera page, head and body, must arrive within this many receive time-outs: a camera that
// trickles its reply cannot hold the caller for longer.
constexpr uint64_t EXCHANGE_TIMEOUTS = 2;

uint32_t ExchangeLimit(const Web::CHttpClient& client) {
    return static_cast<uint32_t>(
        std::min<uint64_t>(EXCHANGE_TIMEOUTS * client.Timeout(), INT32_MAX));
}

}  // namespace

CResultDef SendRequestRD(Web::ByteBuffer& reply, Web::CHttpClient& client,
                         const std::string& path) {
    CResultDef result;
    const std::string peer = "host " + client.Host() + ":" + std::to_string(client.Port());
    reply.clear();
    if (!client.SendRequest("GET", path, ExchangeLimit(client)) || client.StatusCode() == 0) {
        result.SetFormatted(CResultDef::LEVEL_NOT_LOGGED, CResultDef::CODE_NOT_SENT,
                            "%s: can not send request \"%s\" to %s", METHOD, path.c_str(),
                            peer.c_str());
        return result;
    }
    if (client.StatusCode() / 100 != 2) {
        result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_BAD_STATUS,
                            "%s: %s sent does not process request \"%s\", status code = %d", METHOD,
                            peer.c_str(), path.c_str(), static_cast<int>(client.StatusCode()));
        return result;
    }
    const uint32_t length = client.ReadResponse(reply);
    if (client.LastBodyEnd() == Web::CHttpClient::BodyEnd::TooLong)
        result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_REPLY_TOO_LONG,
                            "%s: reply to request \"%s\" from %s exceeds %u bytes", METHOD,
                            path.c_str(), peer.c_str(), Web::CHttpClient::MAX_RESPONSE);
    else if (length == 0)
        result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_EMPTY_REPLY,
                            "%s: incorrect response for request \"%s\" from %s", METHOD,
                            path.c_str(), peer.c_str());
    reply.push_back(0);
    return result;
}

CResultDef SendRequestRD(Web::CHttpClient& client, const std::string& path) {
    Web::ByteBuffer reply;
    return SendRequestRD(reply, client, path);
}

bool SendRequestRD(Web::CHttpClient& client, Web::ByteBuffer& reply, const std::string& path) {
    return SendRequestRD(reply, client, path).Succeeded();
}

size_t ReplyLength(const Web::ByteBuffer& reply) {
    return reply.empty() ? 0 : reply.size() - 1;
}

std::string_view ReplyText(const Web::ByteBuffer& reply) {
    const auto end = std::find(reply.begin(), reply.end(), 0);
    return std::string_view(reinterpret_cast<const char*>(reply.data()),
                            static_cast<size_t>(end - reply.begin()));
}

bool IsLanguagePage(const Web::ByteBuffer& reply) {
    static constexpr std::string_view HTML_MARK = "<HTML>";
    const auto begin = reply.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(ReplyLength(reply));
    return std::search(begin, end, HTML_MARK.begin(), HTML_MARK.end()) != end;
}

namespace {

// One request; true for code 0 (which carries a body).
bool Fetch(Web::CHttpClient& client, const std::string& path, Web::ByteBuffer& reply,
           CResultDef* failure) {
    const CResultDef result = SendRequestRD(reply, client, path);
    if (!result.Succeeded() && failure)
        *failure = result;
    return result.Succeeded() && ReplyLength(reply) != 0;
}

}  // namespace

bool SendRequestWithLanguageFallback(Web::CHttpClient& client, Web::ByteBuffer& reply,
                                     const std::string& path, CManualEvent* stop,
                                     CResultDef* failure) {
    const auto stopping = [stop] { return stop && stop->Wait(0); };
    if (stopping() || !Fetch(client, path, reply, failure))
        return false;
    if (!IsLanguagePage(reply))
        return true;
    // The language page is never taken for the page asked for, not even while stopping.
    if (stopping() || !client.SendRequest("GET", LANGUAGE_PAGE) || stopping())
        return false;
    return Fetch(client, path, reply, failure) && !IsLanguagePage(reply);
}

}  // namespace norvane::Utils
