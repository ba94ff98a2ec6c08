#include "http/base64.h"

namespace norvane::Utils {

namespace {

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DecodeChar(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

std::string Base64Encode(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        const size_t left = size - i;
        uint32_t group = static_cast<uint32_t>(data[i]) << 16;
        if (left > 1)
            group |= static_cast<uint32_t>(data[i + 1]) << 8;
        if (left > 2)
            group |= data[i + 2];
        out += ALPHABET[(group >> 18) & 0x3F];
        out += ALPHABET[(group >> 12) & 0x3F];
        out += left > 1 ? ALPHABET[(group >> 6) & 0x3F] : '=';
        out += left > 2 ? ALPHABET[group & 0x3F] : '=';
    }
    return out;
}

std::string Base64Encode(std::string_view text) {
    return Base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool Base64Decode(std::string_view text, std::vector<uint8_t>& out, size_t maxBytes) {
    out.clear();
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const int value = DecodeChar(c);
        if (value < 0)
            continue;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        count += 6;
        if (count < 8)
            continue;
        count -= 8;
        if (out.size() >= maxBytes) {
            out.clear();
            return false;
        }
        out.push_back(static_cast<uint8_t>(bits >> count));
        bits &= (1u << count) - 1;
    }
    return true;
}

}  // namespace norvane::Utils
