#include "http/utils.h"

#include <cctype>
#include <cstdio>
#include <sstream>

#include "http/base64.h"
#include "http/md5.h"
#include "norvane/debug.h"
#include "platform/socket.h"

namespace norvane::Utils {

namespace {

constexpr std::string_view BLANKS = " \t";
constexpr size_t CREDENTIAL_BUFFER = 100;
constexpr size_t MAX_CREDENTIAL_TEXT = 72;  // Base64 of 72 bytes is 96 characters

std::string_view TrimView(std::string_view text) {
    const size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(BLANKS);
    return text.substr(first, last - first + 1);
}

// Value of a hexadecimal digit, 0 for any other character.
uint8_t HexValue(char c) {
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= '0' && lower <= '9')
        return static_cast<uint8_t>(lower - '0');
    if (lower >= 'a' && lower <= 'f')
        return static_cast<uint8_t>(lower - 'a' + 10);
    return 0;
}

}  // namespace

std::string GetReplyValue(std::string_view name, std::string_view separator,
                          std::string_view text, std::string_view terminators) {
    constexpr size_t NONE = std::string_view::npos;
    if (name.empty() || separator.empty() || terminators.empty())
        return {};
    size_t pos = text.find(name);
    while (pos != NONE) {
        const size_t before = pos == 0 ? NONE : text.find_last_of(terminators, pos);
        const size_t lineStart = before == NONE ? 0 : before + 1;
        const size_t lineEnd = text.find_first_of(terminators, pos);
        const size_t sep = text.find(separator, pos);
        size_t resume;
        if (sep == NONE || (lineEnd != NONE && sep >= lineEnd)) {
            resume = sep;
        } else {
            const size_t valueStart = sep + separator.size();
            if (TrimView(text.substr(lineStart, sep - lineStart)) == name &&
                valueStart < text.size() && (lineEnd == NONE || valueStart < lineEnd))
                return std::string(text.substr(valueStart, lineEnd == NONE ? NONE : lineEnd - valueStart));
            resume = lineEnd;
        }
        if (resume == NONE)
            break;
        // A name that begins with a terminator or the separator would be found again at pos.
        pos = text.find(name, resume > pos ? resume : pos + 1);
    }
    return {};
}

std::string GetBracketedReplyValue(std::string_view name, std::string_view text) {
    return GetReplyValue(name, ":(", text, ")\r\n");
}

std::string GetPlainReplyValue(std::string_view name, std::string_view text) {
    return RemoveChars("()", GetReplyValue(name, ":", text, "\r\n"));
}

bool ParseInteger(std::string_view text, uint32_t& value) {
    value = 0;
    if (text.empty())
        return false;
    const bool negative = text[0] == '-';
    const size_t digits = text[0] == '+' || negative ? 1 : 0;
    if (digits == text.size())
        return false;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t magnitude = 0;
    for (size_t i = digits; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit)
            return false;
    }
    value = static_cast<uint32_t>(negative ? -magnitude : magnitude);
    return true;
}

std::string TrimBlanks(std::string_view text) { return std::string(TrimView(text)); }

std::string RemoveChars(std::string_view characters, std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text)
        if (characters.find(c) == std::string_view::npos)
            out += c;
    return out;
}

std::string ToLowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool ShouldLog(uint32_t& counter) {
    const uint32_t n = ++counter;
    if (n == 65535) {
        counter = 4095;
        return false;
    }
    if (n < 15)
        return true;
    if (n < 255)
        return n % 16 == 0;
    if (n < 4095)
        return n % 256 == 0;
    return n % 4096 == 0;
}

void LogResult(IDebugMessage* sink, const CResultDef& result) {
    if (sink && !result.Message().empty() && result.Level() != CResultDef::LEVEL_NOT_LOGGED)
        sink->Log(result.Level(), "%s", result.Message().c_str());
}

bool MakeBasicCredentials(const std::string& user, const std::string& password, std::string& out) {
    out.clear();
    char text[CREDENTIAL_BUFFER];
    const int length = std::snprintf(text, sizeof text, "%s:%s", user.c_str(), password.c_str());
    if (length < 0 || static_cast<size_t>(length) > MAX_CREDENTIAL_TEXT)
        return false;
    out = Base64Encode(std::string_view(text, static_cast<size_t>(length)));
    return true;
}

std::string Md5Hex(std::string_view text) {
    CMd5 md5;
    md5.Update(text.data(), text.size());
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t byte : md5.Final()) {
        out += DIGITS[byte >> 4];
        out += DIGITS[byte & 0x0F];
    }
    return out;
}

std::vector<uint8_t> HexToBytes(std::string_view text) {
    std::vector<uint8_t> out;
    out.reserve((text.size() + 1) / 2);
    size_t i = 0;
    for (; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<uint8_t>((HexValue(text[i]) << 4) | HexValue(text[i + 1])));
    if (i < text.size())
        out.push_back(HexValue(text[i]));
    return out;
}

std::vector<std::string> SplitString(std::string_view text, char delimiter) {
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    std::istringstream stream{std::string(text)};
    std::string piece;
    while (std::getline(stream, piece, delimiter))
        pieces.push_back(piece);
    return pieces;
}

uint32_t ResolveHostAddress(const std::string& host, const std::function<bool()>& abandon) {
    return platform::ResolveIPv4(host, abandon);
}

}  // namespace norvane::Utils
