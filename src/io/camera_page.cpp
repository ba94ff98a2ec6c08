#include "io/camera_page.h"

#include <algorithm>
#include <string_view>

#include "http/camera_request.h"

namespace norvane {

namespace {

constexpr std::string_view HTML_MARK = "<HTML>";
constexpr const char* LANGUAGE_PAGE = "/cgi-bin/lang.cgi";

// One request; true for code 0 with a body.
bool Fetch(Web::CHttpClient& client, const std::string& path, Web::ByteBuffer& reply,
           CResultDef* failure) {
    const CResultDef result = Utils::SendRequestRD(reply, client, path);
    if (!result.Succeeded()) {
        if (failure)
            *failure = result;
        return false;
    }
    return ReplyLength(reply) != 0;
}

}  // namespace

size_t ReplyLength(const Web::ByteBuffer& reply) {
    return reply.empty() ? 0 : reply.size() - 1;
}

std::string ReplyText(const Web::ByteBuffer& reply) {
    const auto end = std::find(reply.begin(), reply.end(), 0);
    return std::string(reply.begin(), end);
}

bool IsLanguagePage(const Web::ByteBuffer& reply) {
    const auto begin = reply.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(ReplyLength(reply));
    return std::search(begin, end, HTML_MARK.begin(), HTML_MARK.end()) != end;
}

bool RequestWithLanguageFallback(Web::CHttpClient& client, const std::string& path,
                                 Web::ByteBuffer& reply, CManualEvent& stop, CResultDef* failure) {
    const auto stopping = [&stop] { return stop.Wait(0); };
    if (stopping() || !Fetch(client, path, reply, failure))
        return false;
    if (!IsLanguagePage(reply))
        return true;
    // The language page is never taken for the page asked for, not even while stopping.
    if (stopping() || !client.SendRequest("GET", LANGUAGE_PAGE) || stopping())
        return false;
    return Fetch(client, path, reply, failure) && !IsLanguagePage(reply);
}

}  // namespace norvane
