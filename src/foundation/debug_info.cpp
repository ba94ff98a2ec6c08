#include "foundation/debug_info.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/system.h"

namespace norvane {

CDebugInfo::CDebugInfo(signed char level, const std::string& message) : level(level) {
    if (message.empty())
        return;
    text.reset(new (std::nothrow) char[message.size() + 1]);
    if (text)
        std::memcpy(text.get(), message.c_str(), message.size() + 1);
}

std::string FormatText(const char* format, va_list args) {
    if (!format)
        return {};
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

int DeliveredLevel(int type, const HostVersion& version) {
    if (type == LOG_DEBUG)
        return -1;
    const bool olderThan512 = version.major < 5 || (version.major == 5 && version.minor < 12);
    if (type == LOG_INFO && olderThan512)
        return LOG_WARNING;
    return type & 0x0F;
}

void DeliverLog(IDebugInfoSink* sink, const HostVersion& version, int type, const char* format,
                va_list args) {
    const std::string message = FormatText(format, args);
    const int level = DeliveredLevel(type, version);
    if (level < 0 || !sink)
        return;
    CDebugInfo info(static_cast<signed char>(level), message);
    sink->OnDebugInfo(&info);
}

HostVersion ReadHostVersion() {
    std::array<uint16_t, 4> v{};
    if (!platform::HostModuleVersion(v))
        return DEFAULT_HOST_VERSION;
    return HostVersion{v[0], v[1], v[2], v[3]};
}

}  // namespace norvane
