#include "camsim/auth_crypto.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
// clang-format on

#include <cstdio>
#include <vector>

namespace camsim {

std::string Md5Hex(std::string_view text) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[16];
    bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0) == 0 &&
                BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
                BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())),
                               static_cast<ULONG>(text.size()), 0) == 0 &&
                BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    if (hash)
        BCryptDestroyHash(hash);
    if (algorithm)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!done)
        return {};
    std::string hex(sizeof digest * 2, '0');
    for (size_t i = 0; i < sizeof digest; ++i)
        std::snprintf(&hex[i * 2], 3, "%02x", digest[i]);
    return hex;
}

std::string Base64Encode(const uint8_t* data, size_t size) {
    constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD length = 0;
    if (size == 0 || !CryptBinaryToStringA(data, static_cast<DWORD>(size), kFlags, nullptr, &length))
        return {};
    std::string out(length, '\0');
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(size), kFlags, out.data(), &length))
        return {};
    out.resize(length);
    return out;
}

bool Base64Decode(std::string_view text, std::string& out, size_t maxBytes) {
    out.clear();
    if (text.size() % 4 != 0 || text.find_first_of(" \t\r\n") != std::string_view::npos)
        return false;
    DWORD length = 0;
    if (text.empty())
        return true;
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr,
                              &length, nullptr, nullptr) ||
        length > maxBytes)
        return false;
    std::vector<BYTE> decoded(length);
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                              decoded.data(), &length, nullptr, nullptr))
        return false;
    out.assign(decoded.begin(), decoded.begin() + length);
    return true;
}

}  // namespace camsim
