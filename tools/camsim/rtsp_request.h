// RTSP/1.0 requests as a server reads them: bounded, possibly split across TCP segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace camsim {

struct RtspRequest {
    std::string method;
    std::string url;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;

    // Value of the first header of that name (case-insensitive); empty when absent.
    std::string Header(std::string_view name) const;
    // True when a header of that name is present.
    bool HasHeader(std::string_view name) const;
};

// Collects bytes of one connection and cuts them into requests.
class RtspRequestReader {
public:
    enum class Result { Complete, NeedMore, Malformed };
    // Of NextFrame: no frame starts the buffer (a request may), one was taken, one is partial.
    enum class Frame { None, Complete, NeedMore };

    static constexpr size_t kMaxHead = 8192;   // request line and headers
    static constexpr size_t kMaxBody = 65536;

    // Appends received bytes.
    void Append(const char* data, size_t size) { buffer_.append(data, size); }
    // Takes the next whole request out of the buffer; Malformed when it breaks the bounds or
    // the syntax (the connection should then be closed).
    Result Next(RtspRequest& out);
    // Takes the interleaved frame ('$', channel, 16-bit length, data; RFC 2326 10.12) that
    // starts the buffer.
    Frame NextFrame(uint8_t& channel, std::string& data);

private:
    std::string buffer_;
};

// Path of an RTSP URL without scheme, host and leading or trailing '/' ("*" stays "*").
std::string UrlPath(std::string_view url);

}  // namespace camsim
