// Log records and the rule that turns a log call into a record for the host.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "norvane/debug.h"

namespace norvane {

class CDebugInfo : public TBoundaryObject<CDebugInfoIf> {
public:
    CDebugInfo(signed char level, const std::string& message);
    signed char GetLevel() const override { return level; }
    const char* GetText() const override { return text.get(); }

private:
    signed char level;
    std::unique_ptr<char[]> text;  // null for an empty message
};

struct HostVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    uint16_t revision = 0;
};

// Host version assumed when the host module's version cannot be read.
constexpr HostVersion DEFAULT_HOST_VERSION{5, 12, 0, 0};
// Version of the loaded host module, or the default when it cannot be read.
HostVersion ReadHostVersion();

// printf formatting into a string of exactly the formatted length.
std::string FormatText(const char* format, va_list args);

// Level the host receives for a log type, or -1 when the message is not delivered.
int DeliveredLevel(int type, const HostVersion& version);

// Formats and hands one message to the host's receiver, if any, by the level rule.
void DeliverLog(IDebugInfoSink* sink, const HostVersion& version, int type, const char* format,
                va_list args);

}  // namespace norvane
