// The seam between the two halves of the Microsoft-ABI test host: the host objects and the
// scenario that drives Tavrin.dll, compiled for the Microsoft C++ ABI without a runtime, and the
// program around them (loading the library, files, clock), built by the MinGW compiler. Only
// C-linkage functions and plain records cross it; both compilers lay these out alike.
#pragma once

extern "C" {

// Output streams the scenario writes.
enum MsAbiStream { MSABI_H264 = 0, MSABI_MJPEG = 1, MSABI_LOG = 2 };

struct MsAbiServices {
    void* (*Export)(const char* name);  // an export of the loaded driver library, or null
    void (*Print)(const char* line);    // one line on standard output
    void (*Write)(int stream, const void* data, unsigned size);  // appends to a stream's file
    void (*Sleep)(unsigned milliseconds);
    unsigned (*Milliseconds)();  // a steady clock
};

struct MsAbiOptions {
    const char* address;
    int port;
    const char* user;
    const char* password;
    unsigned h264Frames;   // pictures to receive from the H.264 channel
    unsigned mjpegFrames;  // pictures to receive from the Motion-JPEG channel
};

// Runs the whole scenario; 0 when every step did what the contract says, else the number of
// failed steps (each printed).
int TavrinMsAbiHostRun(const MsAbiServices* services, const MsAbiOptions* options);
}
