// Reply parsing helpers over arbitrary camera and RTSP text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "http/utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // First bytes pick the name, separator and terminators; the rest is the reply text.
    const size_t nameLength = size > 0 ? data[0] % 8 : 0;
    const size_t separatorLength = size > 1 ? data[1] % 3 + 1 : 1;
    const std::string_view rest = input.substr(std::min<size_t>(size, 2));
    const std::string_view name = rest.substr(0, nameLength);
    const std::string_view separator = rest.substr(std::min(rest.size(), nameLength), separatorLength);
    const std::string_view text = rest.substr(std::min(rest.size(), nameLength + separatorLength));
    const std::string value = norvane::Utils::GetReplyValue(name, separator, text, "\r\n;)");
    if (value.size() > text.size())
        __builtin_trap();
    norvane::Utils::GetBracketedReplyValue(name, text);
    norvane::Utils::GetPlainReplyValue(name, text);
    uint32_t number = 0;
    norvane::Utils::ParseInteger(input, number);
    if (norvane::Utils::HexToBytes(input).size() != (size + 1) / 2)
        __builtin_trap();
    norvane::Utils::SplitString(text, size > 0 ? static_cast<char>(data[0]) : ',');
    return 0;
}
