// Outcome of one fallible operation with a ready-made log line.
#pragma once

#include <cstdint>
#include <string>

namespace norvane {

class CResultDef {
public:
    // Levels in the numbering of the logging sink.
    static constexpr int LEVEL_ERROR = 1;
    static constexpr int LEVEL_DEFAULT = 3;
    static constexpr int LEVEL_NOT_LOGGED = 4;

    // Failure codes; 0 is success.
    static constexpr uint32_t CODE_SUCCESS = 0;
    static constexpr uint32_t CODE_INIT_FAILED = 1;      // object not initialised with its parameter
    static constexpr uint32_t CODE_NOT_DEFINED = 3;      // a required setting is not defined
    static constexpr uint32_t CODE_NO_MEMORY = 5;        // not enough memory for an object
    static constexpr uint32_t CODE_BAD_STATUS = 6;       // status outside 200-299
    static constexpr uint32_t CODE_NOT_SENT = 9;         // not sent, or no status received
    static constexpr uint32_t CODE_EMPTY_REPLY = 10;     // the reply body was empty
    static constexpr uint32_t CODE_REPLY_TOO_LONG = 11;  // the reply body passed the reply bound
    static constexpr uint32_t CODE_BEYOND_CAMERA = 12;   // the reply lists more than a camera has

    CResultDef() = default;
    CResultDef(const CResultDef&) = default;
    CResultDef& operator=(const CResultDef&) = default;
    virtual ~CResultDef() = default;

    int Level() const { return level_; }
    uint32_t Code() const { return code_; }
    const std::string& Message() const { return message_; }
    bool Succeeded() const { return code_ == CODE_SUCCESS; }

    void Set(int level, uint32_t code, std::string message);
    // Set with a printf-formatted message.
    void SetFormatted(int level, uint32_t code, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

private:
    int level_ = LEVEL_DEFAULT;
    uint32_t code_ = CODE_SUCCESS;
    std::string message_;
};

}  // namespace norvane
