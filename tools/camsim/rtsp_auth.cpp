#include "camsim/rtsp_auth.h"

#include <utility>
#include <vector>

#include "http/base64.h"
#include "http/utils.h"

namespace camsim {

namespace {

// Scheme word and the rest of an Authorization header value.
std::pair<std::string, std::string> SplitScheme(const std::string& value) {
    const size_t space = value.find(' ');
    if (space == std::string::npos)
        return {value, {}};
    return {value.substr(0, space), norvane::Utils::TrimBlanks(value.substr(space + 1))};
}

}  // namespace

RtspAuth::RtspAuth(AuthMode mode, std::string user, std::string password, std::string realm,
                   std::string nonce)
    : mode_(mode),
      user_(std::move(user)),
      password_(std::move(password)),
      realm_(std::move(realm)),
      nonce_(std::move(nonce)) {}

bool RtspAuth::Accepts(const RtspRequest& request) const {
    if (mode_ == AuthMode::None)
        return true;
    const auto [scheme, rest] = SplitScheme(request.Header("Authorization"));
    if (mode_ == AuthMode::Basic)
        return scheme == "Basic" && AcceptsBasic(rest);
    return scheme == "Digest" && AcceptsDigest(rest, request.method);
}

std::string RtspAuth::Challenge() const {
    switch (mode_) {
    case AuthMode::Basic:
        return "Basic realm=\"" + realm_ + "\"";
    case AuthMode::Digest:
        return "Digest realm=\"" + realm_ + "\", nonce=\"" + nonce_ + "\"";
    case AuthMode::None:
        break;
    }
    return {};
}

bool RtspAuth::AcceptsBasic(const std::string& credentials) const {
    std::vector<uint8_t> decoded;
    if (!norvane::Utils::Base64Decode(credentials, decoded, 512))
        return false;
    return std::string(decoded.begin(), decoded.end()) == user_ + ":" + password_;
}

bool RtspAuth::AcceptsDigest(const std::string& parameters, const std::string& method) const {
    using norvane::Utils::Md5Hex;
    const std::string uri = DigestParameter(parameters, "uri");
    if (DigestParameter(parameters, "username") != user_ ||
        DigestParameter(parameters, "realm") != realm_ ||
        DigestParameter(parameters, "nonce") != nonce_ || uri.empty())
        return false;
    // The uri is taken as the client sent it: some clients use the presentation URL for every
    // request, SETUP included.
    const std::string ha1 = Md5Hex(user_ + ":" + realm_ + ":" + password_);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    const std::string qop = DigestParameter(parameters, "qop");
    const std::string expected =
        qop.empty() ? Md5Hex(ha1 + ":" + nonce_ + ":" + ha2)
                    : Md5Hex(ha1 + ":" + nonce_ + ":" + DigestParameter(parameters, "nc") + ":" +
                             DigestParameter(parameters, "cnonce") + ":" + qop + ":" + ha2);
    return DigestParameter(parameters, "response") == expected;
}

std::string DigestParameter(const std::string& parameters, const std::string& name) {
    size_t position = 0;
    while (position < parameters.size()) {
        const size_t equals = parameters.find('=', position);
        if (equals == std::string::npos)
            return {};
        const std::string key = norvane::Utils::TrimBlanks(parameters.substr(position, equals - position));
        size_t start = equals + 1, end;
        std::string value;
        if (start < parameters.size() && parameters[start] == '"') {
            end = parameters.find('"', start + 1);
            if (end == std::string::npos)
                return {};
            value = parameters.substr(start + 1, end - start - 1);
            end = parameters.find(',', end);
        } else {
            end = parameters.find(',', start);
            value = norvane::Utils::TrimBlanks(parameters.substr(start, end - start));
        }
        if (key == name)
            return value;
        if (end == std::string::npos)
            return {};
        position = end + 1;
    }
    return {};
}

}  // namespace camsim
