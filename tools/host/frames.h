// Host frame allocator and frames that record every setter the driver calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "norvane/host.h"

namespace host {

class Frame : public norvane::TBoundaryObject<norvane::IMediaFrame> {
public:
    Frame(unsigned fourcc, unsigned size, std::string source);

    uint8_t* GetData() override { return buffer.data(); }
    void SetDataSize(unsigned size) override { dataSize = size, calls.push_back("SetDataSize"); }
    void StampTime() override { stamped = true, calls.push_back("StampTime"); }
    void SetTime(const SYSTEMTIME* t) override;
    void SetFourCC(unsigned value) override { fourcc = value, calls.push_back("SetFourCC"); }
    void SetHeight(unsigned value) override { height = value, calls.push_back("SetHeight"); }
    void SetWidth(unsigned value) override { width = value, calls.push_back("SetWidth"); }
    void SetSizeClass(unsigned value) override { sizeClass = value, calls.push_back("SetSizeClass"); }

    // The payload as the driver filled it.
    std::vector<uint8_t> Payload() const;

    const unsigned allocatedFourcc;
    const std::string source;
    std::vector<uint8_t> buffer;
    unsigned dataSize = 0;
    unsigned fourcc;  // the allocation's code until SetFourCC changes it
    unsigned width = 0;
    unsigned height = 0;
    unsigned sizeClass = 0;
    bool stamped = false;
    bool timeSet = false;
    SYSTEMTIME time{};
    std::vector<std::string> calls;  // setter names in call order
};

class FrameAllocator : public norvane::TBoundaryObject<norvane::IFrameAllocator> {
public:
    norvane::IMediaFrame* AllocateFrame(unsigned fourcc, unsigned size,
                                        const char* source) override;
    void ReleaseFrame(norvane::IMediaFrame* frame) override;

    // While set, AllocateFrame returns null (the host has no free frame).
    void SetExhausted(bool exhausted) { exhausted_ = exhausted; }
    unsigned Allocated() const { return allocated_; }
    unsigned Released() const { return released_; }
    unsigned Refused() const { return refused_; }

private:
    std::atomic<bool> exhausted_{false};
    std::atomic<unsigned> allocated_{0};
    std::atomic<unsigned> released_{0};
    std::atomic<unsigned> refused_{0};
};

}  // namespace host
