#include "http/camera_request.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace norvane::Utils {

namespace {

constexpr const char* METHOD = "norvane::Utils::SendRequestRD";
constexpr const char* LANGUAGE_PAGE = "/cgi-bin/lang.cgi";

// A camera page, head and body, must arrive within this many receive time-outs: a camera that
// trickles its reply cannot hold the caller for longer.
constexpr uint64_t EXCHANGE_TIMEOUTS = 2;

uint32_t ExchangeLimit(const Web::CHttpClient& client) {
    return static_cast<uint32_t>(std::min<uint64_t>(EXCHANGE_TIMEOUTS * client.Timeout(), INT32_MAX));
}

}  // namespace

CResultDef SendRequestRD(Web::ByteBuffer& reply, Web::CHttpClient& client, const std::string& path) {
    CResultDef result;
    const std::string peer = "host " + client.Host() + ":" + std::to_string(client.Port());
    reply.clear();
    if (!client.SendRequest("GET", path, ExchangeLimit(client)) || client.StatusCode() == 0) {
        result.SetFormatted(CResultDef::LEVEL_NOT_LOGGED, CResultDef::CODE_NOT_SENT,
                            "%s: can not send request \"%s\" to %s", METHOD, path.c_str(), peer.c_str());
        return result;
    }
    if (client.StatusCode() / 100 != 2) {
        result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_BAD_STATUS,
                            "%s: %s sent does not process request \"%s\", status code = %d", METHOD,
                            peer.c_str(), path.c_str(), static_cast<int>(client.StatusCode()));
        return result;
    }
    uint32_t length = client.ReadResponse(reply);
    if (client.ExchangeExpired())
        length = 0;  // cut short: what arrived is not the page
    reply.resize(length);
    if (length == 0)
        result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_EMPTY_REPLY,
                            "%s: incorrect response for request \"%s\" from %s", METHOD, path.c_str(),
                            peer.c_str());
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

bool SendRequestWithLanguageFallback(Web::CHttpClient& client, Web::ByteBuffer& reply,
                                     const std::string& path, CManualEvent* stop) {
    if (!SendRequestRD(client, reply, path))
        return false;
    const std::string_view text(reinterpret_cast<const char*>(reply.data()), reply.size());
    if (text.find("<HTML>") == std::string_view::npos)
        return true;
    if (!client.SendRequest("GET", LANGUAGE_PAGE) || (stop && stop->Wait(0)))
        return false;
    return SendRequestRD(client, reply, path);
}

}  // namespace norvane::Utils
