// Server side of RTSP authentication: Basic and Digest (RFC 2617, with or without qop=auth).
#pragma once

#include <string>

#include "camsim/auth_mode.h"
#include "camsim/rtsp_request.h"

namespace camsim {

class RtspAuth {
public:
    // `nonce` is the server's Digest nonce; the realm is announced in every challenge.
    RtspAuth(AuthMode mode, std::string user, std::string password, std::string realm,
             std::string nonce);

    // True when the request may pass (always with AuthMode::None).
    bool Accepts(const RtspRequest& request) const;
    // The WWW-Authenticate header value of a 401 reply; empty with AuthMode::None.
    std::string Challenge() const;
    AuthMode Mode() const { return mode_; }

private:
    bool AcceptsDigest(const std::string& parameters, const std::string& method) const;

    AuthMode mode_;
    std::string user_;
    std::string password_;
    std::string realm_;
    std::string nonce_;
};

}  // namespace camsim
