// The program around the Microsoft-ABI host (built by MinGW): loads Tavrin.dll as a Windows
// recording server does, gives the scenario its files and clock, and exits with its verdict.
// Usage: tavrin-msabi-host --library Tavrin.dll --address A --port P --out DIR
//        [--user U --password P --h264-frames N --mjpeg-frames N]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msabi_host.h"

namespace {

HMODULE library = nullptr;
std::FILE* streams[3] = {};
CRITICAL_SECTION writeLock;

void* Export(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}

void Print(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void Write(int stream, const void* data, unsigned size) {
    if (stream < 0 || stream > 2 || !streams[stream])
        return;
    EnterCriticalSection(&writeLock);
    std::fwrite(data, 1, size, streams[stream]);
    LeaveCriticalSection(&writeLock);
}

void Pause(unsigned milliseconds) {
    Sleep(milliseconds);
}

unsigned Milliseconds() {
    return static_cast<unsigned>(GetTickCount64());
}

const char* Option(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = Option(argc, argv, "--library", "Tavrin.dll");
    const std::string out = Option(argc, argv, "--out", ".");
    library = LoadLibraryA(path);
    if (!library) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", path, GetLastError());
        return 2;
    }
    const char* names[] = {"/channel-h264.h264", "/channel-mjpeg.mjpeg", "/driver.log"};
    for (int i = 0; i < 3; ++i)
        streams[i] = std::fopen((out + names[i]).c_str(), "wb");
    InitializeCriticalSection(&writeLock);

    const MsAbiServices services{Export, Print, Write, Pause, Milliseconds};
    const MsAbiOptions options{
        Option(argc, argv, "--address", "127.0.0.1"),
        std::atoi(Option(argc, argv, "--port", "80")),
        Option(argc, argv, "--user", ""),
        Option(argc, argv, "--password", ""),
        static_cast<unsigned>(std::atoi(Option(argc, argv, "--h264-frames", "100"))),
        static_cast<unsigned>(std::atoi(Option(argc, argv, "--mjpeg-frames", "50")))};
    const int failures = TavrinMsAbiHostRun(&services, &options);

    for (std::FILE* stream : streams)
        if (stream)
            std::fclose(stream);
    DeleteCriticalSection(&writeLock);
    FreeLibrary(library);
    return failures ? 1 : 0;
}
