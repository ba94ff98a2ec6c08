#include "http/result_def.h"

#include <cstdarg>
#include <utility>

#include "foundation/debug_info.h"

namespace norvane {

void CResultDef::Set(int level, uint32_t code, std::string message) {
    level_ = level;
    code_ = code;
    message_ = std::move(message);
}

void CResultDef::SetFormatted(int level, uint32_t code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Set(level, code, FormatText(format, args));
    va_end(args);
}

}  // namespace norvane
