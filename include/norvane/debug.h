// Logging path from the driver to the host's log receiver.
#pragma once

#include "norvane/abi.h"

// One log record; owned by the driver and valid only during IDebugInfoSink::OnDebugInfo.
class CDebugInfoIf {
    NORVANE_DESTRUCTOR_POSITION(CDebugInfoIf)
    virtual signed char GetLevel() const = 0;
    virtual const char* GetText() const = 0;  // null for an empty message
};

// printf-style logging; implemented by the driver object.
class IDebugMessage {
    NORVANE_DESTRUCTOR_POSITION(IDebugMessage)
    virtual void Log(int type, const char* format, ...) NORVANE_PRINTF_FORMAT(3, 4) = 0;
};

namespace norvane {

// Log types used by the system.
enum LogType : int {
    LOG_ERROR = 1,
    LOG_WARNING = 2,
    LOG_INFO = 3,
    LOG_DEBUG = 4,  // never delivered
    LOG_OPENED = 100,
};

// Host's log receiver. Position 0 is the destructor (never called by the driver).
class IDebugInfoSink {
    NORVANE_DESTRUCTOR_POSITION(IDebugInfoSink)
    virtual void OnDebugInfo(CDebugInfoIf* info) = 0;  // 1
};

}  // namespace norvane
