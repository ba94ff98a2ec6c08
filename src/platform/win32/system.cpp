#include "platform/system.h"

#include <windows.h>
// After windows.h, which it needs.
#include <ntsecapi.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace norvane::platform {

namespace {

// Folder of a path without the last separator; empty when there is none.
std::string FolderOf(const std::string& path) {
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

// Version A.B.C.D from a file's version resource; false if it has none.
bool FileVersion(const std::string& path, std::array<uint16_t, 4>& version) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<uint8_t> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    version = {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
               HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
    return true;
}

}  // namespace

unsigned CurrentThreadId() { return GetCurrentThreadId(); }

unsigned ProcessorCount() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors == 0 ? 1 : info.dwNumberOfProcessors;
}


uint32_t SteadyMs() { return GetTickCount(); }

uint64_t SteadyUs() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER count{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    const auto ticksPerSecond = static_cast<uint64_t>(frequency.QuadPart);
    const auto ticks = static_cast<uint64_t>(count.QuadPart);
    if (ticksPerSecond == 0)
        return uint64_t{GetTickCount()} * 1000;
    return ticks / ticksPerSecond * 1000000 + ticks % ticksPerSecond * 1000000 / ticksPerSecond;
}

uint64_t FileTimeNow() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    FILETIME fileTime{};
    if (!SystemTimeToFileTime(&now, &fileTime))
        return 0;
    return (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

bool FileTimeToSystemTime(uint64_t fileTime, SYSTEMTIME* out) {
    const FILETIME in{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    return out && ::FileTimeToSystemTime(&in, out);
}

std::string ExecutableDirectory() {
    std::vector<char> path(MAX_PATH);
    for (int attempt = 0; attempt < 6; ++attempt) {  // up to 32 k characters
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size())
            return FolderOf(std::string(path.data(), n));
        path.resize(path.size() * 2);
    }
    return {};
}

bool FileExists(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

int64_t FileSize(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    const bool ok = low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
    CloseHandle(file);
    return ok ? static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low) : -1;
}

bool WriteFileAtomically(const std::string& path, const std::string& data) {
    const std::string temporary = path + ".tmp";
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool written = true;
    for (size_t done = 0; written && done < data.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD n = 0;
        written = WriteFile(file, data.data() + done, chunk, &n, nullptr) && n > 0;
        done += n;
    }
    written = written && FlushFileBuffers(file);
    if (!CloseHandle(file) || !written || !RenameFile(temporary, path)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

bool CopyToNewFile(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), TRUE);
}

bool RenameFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool HostModuleVersion(std::array<uint16_t, 4>& version) {
    const std::string folder = ExecutableDirectory();
    return !folder.empty() && FileVersion(folder + "\\orbhost.dll", version);
}

std::u16string Utf8ToUtf16(const std::string& text) {
    if (text.empty())
        return {};
    // Without MB_ERR_INVALID_CHARS invalid sequences become U+FFFD.
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::u16string out(static_cast<size_t>(std::max(length, 0)), u'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), size, reinterpret_cast<wchar_t*>(out.data()),
                            length);
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    if (text.empty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide, size, out.data(), length, nullptr, nullptr);
    return out;
}

void RandomBytes(uint8_t* out, size_t size) {
    if (size > 0 && !RtlGenRandom(out, static_cast<ULONG>(size))) {
        for (size_t i = 0; i < size; ++i)  // no entropy source: never leave the bytes unset
            out[i] = static_cast<uint8_t>(std::rand());
    }
}

}  // namespace norvane::platform
