#include "http/camera_request.h"

namespace norvane::Utils {

namespace {

constexpr const char* METHOD = "norvane::Utils::SendRequestRD";

}  // namespace

CResultDef SendRequestRD(Web::ByteBuffer& reply, Web::CHttpClient& client, const std::string& path) {
    CResultDef result;
    const std::string peer = "host " + client.Host() + ":" + std::to_string(client.Port());
    reply.clear();
    if (!client.SendRequest("GET", path) || client.StatusCode() == 0) {
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
    const uint32_t length = client.ReadResponse(reply);
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

}  // namespace norvane::Utils
