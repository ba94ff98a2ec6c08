#include "camsim/auth_crypto.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace camsim {

std::string Md5Hex(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr))
        return {};
    std::string hex(size * 2, '0');
    for (unsigned int i = 0; i < size; ++i)
        std::snprintf(&hex[i * 2], 3, "%02x", digest[i]);
    return hex;
}

std::string Base64Encode(const uint8_t* data, size_t size) {
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data,
                                        static_cast<int>(size));
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

bool Base64Decode(std::string_view text, std::string& out, size_t maxBytes) {
    out.clear();
    if (text.size() % 4 != 0 || text.size() / 4 * 3 > maxBytes + 2)
        return false;
    std::vector<unsigned char> decoded(text.size() / 4 * 3 + 1);
    const int written = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    if (written < 0)
        return false;
    // EVP_DecodeBlock counts the padding as zero bytes.
    const size_t padding = text.size() - std::min(text.size(), text.find_last_not_of('=') + 1);
    const size_t size = static_cast<size_t>(written) - padding;
    if (size > maxBytes)
        return false;
    out.assign(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(size));
    return true;
}

}  // namespace camsim
