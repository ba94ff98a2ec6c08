#include "camsim/rtsp_request.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "camsim/text.h"

namespace camsim {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// End of the head (index after the blank line), or npos; accepts CR LF or bare LF lines.
size_t HeadEnd(const std::string& text, size_t& blankSize) {
    const size_t crlf = text.find("\r\n\r\n");
    const size_t lf = text.find("\n\n");
    if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
        blankSize = 4;
        return crlf;
    }
    blankSize = 2;
    return lf;
}

std::vector<std::string> Lines(std::string_view head) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= head.size()) {
        size_t end = head.find('\n', start);
        if (end == std::string_view::npos)
            end = head.size();
        std::string line(head.substr(start, end - start));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool ParseRequestLine(const std::string& line, RtspRequest& out) {
    const size_t first = line.find(' ');
    const size_t second = line.find(' ', first == std::string::npos ? first : first + 1);
    if (first == std::string::npos || second == std::string::npos)
        return false;
    out.method = line.substr(0, first);
    out.url = line.substr(first + 1, second - first - 1);
    out.version = Trim(line.substr(second + 1));
    return !out.method.empty() && !out.url.empty() && out.version.rfind("RTSP/", 0) == 0;
}

bool ParseHead(std::string_view head, RtspRequest& out) {
    const std::vector<std::string> lines = Lines(head);
    if (lines.empty() || !ParseRequestLine(lines[0], out))
        return false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t colon = lines[i].find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        out.headers.emplace_back(Trim(lines[i].substr(0, colon)),
                                 Trim(lines[i].substr(colon + 1)));
    }
    return true;
}

}  // namespace

std::string RtspRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (SameName(key, name))
            return value;
    return {};
}

bool RtspRequest::HasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return SameName(header.first, name); });
}

RtspRequestReader::Result RtspRequestReader::Next(RtspRequest& out) {
    // Blank lines between requests are tolerated (RFC 2326 keep-alive practice).
    const size_t text = buffer_.find_first_not_of("\r\n");
    buffer_.erase(0, std::min(text, buffer_.size()));
    size_t blankSize = 0;
    const size_t end = HeadEnd(buffer_, blankSize);
    if (end == std::string::npos)
        return buffer_.size() > kMaxHead ? Result::Malformed : Result::NeedMore;
    if (end > kMaxHead)
        return Result::Malformed;
    RtspRequest request;
    if (!ParseHead(std::string_view(buffer_).substr(0, end), request))
        return Result::Malformed;
    uint32_t length = 0;
    const std::string lengthText = request.Header("Content-Length");
    if (!lengthText.empty() && (!ParseCount(lengthText, length) ||
                                length > kMaxBody))
        return Result::Malformed;
    const size_t bodyStart = end + blankSize;
    if (buffer_.size() - bodyStart < length)
        return Result::NeedMore;
    request.body = buffer_.substr(bodyStart, length);
    buffer_.erase(0, bodyStart + length);
    out = std::move(request);
    return Result::Complete;
}

RtspRequestReader::Frame RtspRequestReader::NextFrame(uint8_t& channel, std::string& data) {
    constexpr size_t kHeader = 4;
    if (buffer_.empty() || buffer_[0] != '$')
        return Frame::None;
    if (buffer_.size() < kHeader)
        return Frame::NeedMore;
    const size_t length = static_cast<uint8_t>(buffer_[2]) << 8 | static_cast<uint8_t>(buffer_[3]);
    if (buffer_.size() < kHeader + length)
        return Frame::NeedMore;
    channel = static_cast<uint8_t>(buffer_[1]);
    data = buffer_.substr(kHeader, length);
    buffer_.erase(0, kHeader + length);
    return Frame::Complete;
}

std::string UrlPath(std::string_view url) {
    if (url.rfind("rtsp://", 0) == 0) {
        const size_t slash = url.find('/', 7);
        url = slash == std::string_view::npos ? std::string_view() : url.substr(slash);
    }
    const size_t first = url.find_first_not_of('/');
    if (first == std::string_view::npos)
        return {};
    const size_t last = url.find_last_not_of('/');
    return std::string(url.substr(first, last - first + 1));
}

}  // namespace camsim
