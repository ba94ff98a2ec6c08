// Process, clock, file and text services.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "norvane/types.h"

namespace norvane::platform {

unsigned CurrentThreadId();
unsigned ProcessorCount();
// Monotonic milliseconds (wraps like a 32-bit tick count).
uint32_t SteadyMs();
// Monotonic microseconds from an arbitrary origin (for RTP arrival times).
uint64_t SteadyUs();

// Current UTC as 100 ns units since 1601-01-01; 0 when the clock cannot be read.
uint64_t FileTimeNow();
bool FileTimeToSystemTime(uint64_t fileTime, SYSTEMTIME* out);

// Directory of the running executable, without a trailing separator; empty if unknown.
std::string ExecutableDirectory();
// Absent only when opening fails because the file does not exist.
bool FileExists(const std::string& path);
// Size in bytes, or -1 when the file cannot be opened.
int64_t FileSize(const std::string& path);
// Replaces `path` whole or not at all: the data goes to a temporary file beside it, which is
// synced and renamed over it. A crash leaves the old file or the new one.
bool WriteFileAtomically(const std::string& path, const std::string& data);
// Copies `from` to `to`, which must not exist yet; false when it does or the copy failed.
bool CopyToNewFile(const std::string& from, const std::string& to);
// Renames, replacing an existing `to`.
bool RenameFile(const std::string& from, const std::string& to);

// Version A.B.C.D of the host module: on Linux from the name of the loaded
// "liborbhost.so.A.B.C.D", on Windows from the version resource of "orbhost.dll" beside the
// executable; false if there is none.
bool HostModuleVersion(std::array<uint16_t, 4>& version);

// Invalid input becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

// Random bytes from the system's entropy source.
void RandomBytes(uint8_t* out, size_t size);

}  // namespace norvane::platform
