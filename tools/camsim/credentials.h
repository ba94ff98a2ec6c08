// Server-side login checks shared by the simulated camera's HTTP and RTSP sides: Basic
// credentials and Digest responses (RFC 2617, with or without qop=auth).
#pragma once

#include <map>
#include <string>

namespace camsim {

using AuthParameters = std::map<std::string, std::string>;

// name=value and name="value" pairs of a Digest authorisation.
AuthParameters ParseAuthParameters(const std::string& text);
// One of them; empty when absent.
std::string AuthParameter(const AuthParameters& parameters, const std::string& name);

// True when the Base64 `credentials` of a Basic authorisation are user:password.
bool BasicMatches(const std::string& credentials, const std::string& user, const std::string& password);

// True when `parameters` name this user and realm and carry the response this login gives for
// `method` with the parameters' own uri and nonce; the caller judges the nonce and the uri.
bool DigestMatches(const AuthParameters& parameters, const std::string& user, const std::string& realm,
                   const std::string& password, const std::string& method);

}  // namespace camsim
