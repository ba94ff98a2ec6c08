#include "camsim/credentials.h"

#include <algorithm>

#include "camsim/auth_crypto.h"
#include "camsim/text.h"

namespace camsim {

namespace {

constexpr size_t kMaxBasicBytes = 512;

}  // namespace

AuthParameters ParseAuthParameters(const std::string& text) {
    AuthParameters parameters;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == ','))
            ++pos;
        const size_t equals = text.find('=', pos);
        if (equals == std::string::npos)
            break;
        const std::string name = Trim(text.substr(pos, equals - pos));
        std::string value;
        pos = equals + 1;
        if (pos < text.size() && text[pos] == '"') {
            const size_t close = text.find('"', pos + 1);
            if (close == std::string::npos)
                break;
            value = text.substr(pos + 1, close - pos - 1);
            pos = close + 1;
        } else {
            const size_t comma = std::min(text.find(',', pos), text.size());
            value = Trim(text.substr(pos, comma - pos));
            pos = comma;
        }
        parameters[name] = value;
    }
    return parameters;
}

std::string AuthParameter(const AuthParameters& parameters, const std::string& name) {
    const auto it = parameters.find(name);
    return it == parameters.end() ? std::string() : it->second;
}

bool BasicMatches(const std::string& credentials, const std::string& user, const std::string& password) {
    std::string decoded;
    return Base64Decode(credentials, decoded, kMaxBasicBytes) && decoded == user + ":" + password;
}

bool DigestMatches(const AuthParameters& parameters, const std::string& user, const std::string& realm,
                   const std::string& password, const std::string& method) {
    if (AuthParameter(parameters, "username") != user || AuthParameter(parameters, "realm") != realm)
        return false;
    const std::string nonce = AuthParameter(parameters, "nonce");
    const std::string qop = AuthParameter(parameters, "qop");
    const std::string ha1 = Md5Hex(user + ":" + realm + ":" + password);
    const std::string ha2 = Md5Hex(method + ":" + AuthParameter(parameters, "uri"));
    const std::string expected =
        qop.empty() ? Md5Hex(ha1 + ":" + nonce + ":" + ha2)
                    : Md5Hex(ha1 + ":" + nonce + ":" + AuthParameter(parameters, "nc") + ":" +
                             AuthParameter(parameters, "cnonce") + ":" + qop + ":" + ha2);
    return Lower(AuthParameter(parameters, "response")) == expected;
}

}  // namespace camsim
