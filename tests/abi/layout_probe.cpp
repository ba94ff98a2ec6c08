// Reads the position through which this compiler calls each operation of the boundary interfaces
// and compares it with the contract's number. Built by every compiler a host or the driver may
// use: g++ and clang (Itanium ABI), MinGW (Itanium ABI on 32-bit Windows) and clang for the
// Microsoft ABI, which runs freestanding (no runtime headers), so this file uses none.
#include "contract_positions.h"
#include "norvane/exports.h"

#ifndef TAVRIN_LAYOUT_ENTRY
#define TAVRIN_LAYOUT_ENTRY TavrinCheckLayout
#endif

using namespace norvane;

namespace {

using Byte = unsigned char;

// Records and results as Windows lays them out, under every compiler.
static_assert(sizeof(bool) == 1, "bool results are one byte");
static_assert(sizeof(SYSTEMTIME) == 16 && __builtin_offsetof(SYSTEMTIME, wDay) == 6 &&
                  __builtin_offsetof(SYSTEMTIME, wMilliseconds) == 14,
              "SYSTEMTIME");
static_assert(sizeof(PTZ_CAPABILITIES) == 56 && __builtin_offsetof(PTZ_CAPABILITIES, pan) == 4 &&
                  __builtin_offsetof(PTZ_CAPABILITIES, maxPrepositions) == 28 &&
                  __builtin_offsetof(PTZ_CAPABILITIES, prepositionCount) == 32 &&
                  __builtin_offsetof(PTZ_CAPABILITIES, areaZoom) == 44 &&
                  __builtin_offsetof(PTZ_CAPABILITIES, unzoom) == 52,
              "PTZ_CAPABILITIES");

#if defined(_MSC_VER) && defined(_M_IX86)
// 32-bit calling conventions as Microsoft's compiler sees the declarations: exports and the
// variadic Log cdecl, member operations thiscall. (GCC keeps conventions out of types.)
template <class A, class B>
constexpr bool SAME = false;
template <class A>
constexpr bool SAME<A, A> = true;
static_assert(SAME<decltype(&CreateIPCaptureEx3), ipcapture::IIPCaptureDriverEx3*(__cdecl*)()>);
static_assert(SAME<decltype(&StartCapabilityQuery),
                   int(__cdecl*)(const char*, int, const char*, const char*, ICapabilityResults*)>);
static_assert(SAME<decltype(&DeleteIPCapture), void(__cdecl*)(ipcapture::IIPCaptureDriver*)>);
static_assert(
    SAME<decltype(&IMediaFrame::SetDataSize), void (__thiscall IMediaFrame::*)(unsigned)>);
static_assert(SAME<decltype(&ipcapture::IIPCaptureDriver::Open),
                   bool (__thiscall ipcapture::IIPCaptureDriver::*)(
                       IDebugInfoSink*, IFrameAllocator*, IDeviceConfig*)>);
static_assert(
    SAME<decltype(&IDebugMessage::Log), void (__cdecl IDebugMessage::*)(int, const char*, ...)>);
#endif

// Position of a virtual operation, from a pointer to it; -1 when it cannot be read.
template <typename Member>
int PositionOf(Member member) {
    static_assert(sizeof(Member) >= sizeof(void*), "single-inheritance member pointer");
    const Byte* raw = reinterpret_cast<const Byte*>(&member);
#if defined(_MSC_VER)
    // Microsoft ABI: the pointer is the address of a virtual-call thunk that loads the table from
    // the object and goes through one entry (this file is compiled optimised, so the thunk is
    // bare): 32-bit "mov eax,[ecx]; jmp [eax+disp]", 64-bit "mov rax,[rcx]; mov rax,[rax+disp];
    // jmp rax".
    const Byte* code = nullptr;
    __builtin_memcpy(&code, raw, sizeof code);
#if defined(_M_X64)
    static const Byte prefix[] = {0x48, 0x8B, 0x01, 0x48, 0x8B};
#else
    static const Byte prefix[] = {0x8B, 0x01, 0xFF};
#endif
    for (unsigned i = 0; i < sizeof prefix; ++i)
        if (code[i] != prefix[i])
            return -1;
    const Byte modrm = code[sizeof prefix];
    const Byte* displacement = code + sizeof prefix + 1;
    int offset = 0;
    if (modrm >> 6 == 1)
        offset = static_cast<signed char>(displacement[0]);
    else if (modrm >> 6 == 2)
        __builtin_memcpy(&offset, displacement, 4);
    else if (modrm >> 6 != 0)
        return -1;
    return offset / static_cast<int>(sizeof(void*));
#else
    // Itanium ABI: for a virtual operation the first word is 1 plus the entry's byte offset.
    __SIZE_TYPE__ word = 0;
    __builtin_memcpy(&word, raw, sizeof word);
    if ((word & 1) == 0)
        return -1;
    return static_cast<int>((word - 1) / sizeof(void*));
#endif
}

struct Counts {
    int checked;
    int wrong;
};

// Appends text to a line buffer of fixed size (no runtime available).
struct Line {
    char text[160];
    int length;
    void Add(const char* s) {
        while (*s && length < static_cast<int>(sizeof text) - 1)
            text[length++] = *s++;
        text[length] = 0;
    }
    void Add(int value) {
        char digits[12];
        int n = 0;
        unsigned v = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        char number[14];
        int k = 0;
        if (value < 0)
            number[k++] = '-';
        while (n)
            number[k++] = digits[--n];
        number[k] = 0;
        Add(number);
    }
};

void Check(void (*report)(const char*), Counts& counts, const char* name, int expected,
           int actual) {
    ++counts.checked;
    Line line{{0}, 0};
    line.Add(name);
    line.Add(" ");
    line.Add(expected);
    line.Add(" ");
    line.Add(actual);
    if (actual != expected) {
        ++counts.wrong;
        line.Add(" WRONG");
    }
    report(line.text);
}

}  // namespace

// Reports "interface::operation contract actual [WRONG]" per operation; returns the number of
// operations found away from the contract's position (and adds the checked count to *checked).
extern "C" int TAVRIN_LAYOUT_ENTRY(void (*report)(const char* line), int* checked) {
    Counts counts{0, 0};
#define TAVRIN_CHECK_POSITION(Interface, Operation, Position) \
    Check(report, counts, #Interface "::" #Operation, Position, PositionOf(&Interface::Operation));
    TAVRIN_HOST_CONTRACT(TAVRIN_CHECK_POSITION)
    TAVRIN_DRIVER_CONTRACT(TAVRIN_CHECK_POSITION)
#undef TAVRIN_CHECK_POSITION
    *checked += counts.checked;
    return counts.wrong;
}
