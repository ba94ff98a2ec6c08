#include "platform/system.h"

#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

namespace norvane::platform {

namespace {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t UNIX_EPOCH_FILETIME = 116444736000000000ull;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

// Decodes one UTF-8 sequence at text[i]; advances i. Malformed input yields U+FFFD.
char32_t DecodeUtf8(const std::string& text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i++);
    if (lead < 0x80)
        return lead;
    int extra;
    char32_t cp;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return 0xFFFD;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size() || (byte(i) & 0xC0) != 0x80)
            return 0xFFFD;
        cp = (cp << 6) | (byte(i++) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0xFFFD;
    return cp;
}

// Parses "liborbhost.so.A.B.C.D" at the end of a path.
bool ParseHostModuleName(const char* path, std::array<uint16_t, 4>& version) {
    static const char kName[] = "liborbhost.so.";
    const char* base = std::strrchr(path, '/');
    base = base ? base + 1 : path;
    if (std::strncmp(base, kName, sizeof kName - 1) != 0)
        return false;
    unsigned parts[4];
    char tail;
    if (std::sscanf(base + sizeof kName - 1, "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2],
                    &parts[3], &tail) != 4)
        return false;
    for (int k = 0; k < 4; ++k) {
        if (parts[k] > 0xFFFF)
            return false;
        version[k] = static_cast<uint16_t>(parts[k]);
    }
    return true;
}

}  // namespace

namespace {

// A thread's id never changes, so it is asked of the kernel once per thread: every lock entry
// reads it. A forked child's thread has a new id, so the child forgets the cached one.
thread_local unsigned cachedThreadId = 0;

void ForgetThreadIdInChild() { cachedThreadId = 0; }

[[maybe_unused]] const bool forgetRegistered = pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild) == 0;

}  // namespace

unsigned CurrentThreadId() {
    if (cachedThreadId == 0)
        cachedThreadId = static_cast<unsigned>(syscall(SYS_gettid));
    return cachedThreadId;
}

unsigned ProcessorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

uint32_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t SteadyUs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t FileTimeNow() {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0 || ts.tv_sec < 0)
        return 0;
    return UNIX_EPOCH_FILETIME + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

bool FileTimeToSystemTime(uint64_t fileTime, SYSTEMTIME* out) {
    // Windows rejects values with the top bit set; so do we.
    if (!out || (fileTime >> 63) != 0)
        return false;
    const uint64_t seconds = fileTime / 10000000ull;
    const int64_t days = static_cast<int64_t>(seconds / 86400);
    const uint64_t secondOfDay = seconds % 86400;
    // Civil date from days since 1601-01-01 (a Monday), proleptic Gregorian.
    int64_t z = days - 134774 + 719468;  // to days since 0000-03-01
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    if (year > 30827)
        return false;
    out->wYear = static_cast<uint16_t>(year);
    out->wMonth = static_cast<uint16_t>(month);
    out->wDay = static_cast<uint16_t>(day);
    out->wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    out->wHour = static_cast<uint16_t>(secondOfDay / 3600);
    out->wMinute = static_cast<uint16_t>(secondOfDay / 60 % 60);
    out->wSecond = static_cast<uint16_t>(secondOfDay % 60);
    out->wMilliseconds = static_cast<uint16_t>(fileTime / 10000 % 1000);
    return true;
}

std::string ExecutableDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string full(path, static_cast<size_t>(n));
    const size_t slash = full.rfind('/');
    return slash == std::string::npos ? std::string() : full.substr(0, slash);
}

bool FileExists(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno != ENOENT && errno != ENOTDIR;
}

int64_t FileSize(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    const int rc = fstat(fd, &st);
    close(fd);
    return rc == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

namespace {

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Makes a finished rename durable.
void SyncDirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& data) {
    const std::string temporary = path + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, data) && fsync(fd) == 0;
    if (close(fd) != 0 || !written || !RenameFile(temporary, path)) {
        unlink(temporary.c_str());
        return false;
    }
    SyncDirectoryOf(path);
    return true;
}

bool CopyToNewFile(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    std::string data;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = read(in, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno != EINTR)
            break;
        if (n > 0)
            data.append(buffer, static_cast<size_t>(n));
    }
    close(in);
    if (n < 0)
        return false;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0)
        return false;
    const bool written = WriteAll(out, data) && fsync(out) == 0;
    if (close(out) != 0 || !written) {
        unlink(to.c_str());
        return false;
    }
    SyncDirectoryOf(to);
    return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

bool HostModuleVersion(std::array<uint16_t, 4>& version) {
    struct Search {
        std::array<uint16_t, 4>* version;
        bool found;
    } search{&version, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (info->dlpi_name && ParseHostModuleName(info->dlpi_name, *s->version)) {
                s->found = true;
                return 1;
            }
            return 0;
        },
        &search);
    return search.found;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        AppendUtf16(out, DecodeUtf8(text, i));
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

void RandomBytes(uint8_t* out, size_t size) {
    std::random_device device;
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<uint8_t>(device());
}

}  // namespace norvane::platform
