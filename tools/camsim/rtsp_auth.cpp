#include "camsim/rtsp_auth.h"

#include <utility>

#include "camsim/credentials.h"
#include "camsim/text.h"

namespace camsim {

namespace {

// Scheme word and the rest of an Authorization header value.
std::pair<std::string, std::string> SplitScheme(const std::string& value) {
    const size_t space = value.find(' ');
    if (space == std::string::npos)
        return {value, {}};
    return {value.substr(0, space), Trim(value.substr(space + 1))};
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
        return scheme == "Basic" && BasicMatches(rest, user_, password_);
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

bool RtspAuth::AcceptsDigest(const std::string& parameters, const std::string& method) const {
    const AuthParameters p = ParseAuthParameters(parameters);
    // The uri is taken as the client sent it: some clients use the presentation URL for every
    // request, SETUP included.
    return AuthParameter(p, "nonce") == nonce_ && !AuthParameter(p, "uri").empty() &&
           DigestMatches(p, user_, realm_, password_, method);
}

}  // namespace camsim
