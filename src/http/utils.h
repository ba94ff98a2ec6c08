// Reply parsing, log throttle and the small text and digest helpers shared by the HTTP and RTSP
// code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "http/result_def.h"

class IDebugMessage;

namespace norvane::Utils {

// Value of the line whose text before `separator` (blanks and tabs trimmed) equals `name`; the
// value runs to the next terminator character. Empty when not found or an argument is empty.
std::string GetReplyValue(std::string_view name, std::string_view separator,
                          std::string_view text, std::string_view terminators);
// Camera reply styles: "name:(value)" gives the text between the parentheses; "name:value"
// gives the value with every parenthesis removed.
std::string GetBracketedReplyValue(std::string_view name, std::string_view text);
std::string GetPlainReplyValue(std::string_view name, std::string_view text);

// Optional sign and decimal digits only, within the signed 32-bit range; `value` gets the bits
// (0 on failure).
bool ParseInteger(std::string_view text, uint32_t& value);

std::string TrimBlanks(std::string_view text);
std::string RemoveChars(std::string_view characters, std::string_view text);
std::string ToLowerCopy(std::string_view text);

// Throttle for repeated failures of one object: true for the calls that should be logged.
bool ShouldLog(uint32_t& counter);
// Logs the result's message unless it is empty or its level marks it as not logged.
void LogResult(IDebugMessage* sink, const CResultDef& result);

// Base64 of "user:password"; false with `out` cleared when the encoding would not fit the
// 100-byte credential buffer (more than 72 input characters).
bool MakeBasicCredentials(const std::string& user, const std::string& password, std::string& out);
// MD5 of the text as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view text);
// Pairs of hexadecimal digits to bytes; other characters count as 0; a lone last character
// gives its own value.
std::vector<uint8_t> HexToBytes(std::string_view text);
// Pieces between delimiters, empty ones included, nothing after a final delimiter.
std::vector<std::string> SplitString(std::string_view text, char delimiter);
// First IPv4 address of a host name (or dotted text) in network order; 0 when empty or unknown,
// and at once when `abandon` returns true while the look-up is under way.
uint32_t ResolveHostAddress(const std::string& host, const std::function<bool()>& abandon = {});

}  // namespace norvane::Utils
