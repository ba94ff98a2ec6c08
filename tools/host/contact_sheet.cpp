#include "host/contact_sheet.h"

#include <cstdlib>
#include <filesystem>

namespace host {

namespace {

// Single-quoted for the shell, with embedded quotes closed and escaped.
std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string ContactSheetCommand(const std::string& input, const std::string& output) {
    return "ffmpeg -hide_banner -loglevel fatal -nostdin -y -i " + ShellQuote(input) +
           " -vf 'select=not(mod(n\\,25)),scale=320:-1,tile=4x3' -frames:v 1 " +
           ShellQuote(output);
}

bool FfmpegInstalled() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

bool MakeContactSheet(const std::string& input, const std::string& output) {
    std::error_code error;
    std::filesystem::remove(output, error);
    return std::system(ContactSheetCommand(input, output).c_str()) == 0 &&
           std::filesystem::exists(output, error);
}

}  // namespace host
