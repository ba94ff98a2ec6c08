// Fuzz input read as a sequence of RTP packets fed to a depacketiser, and a minimal host
// (driver view, frame allocator, parser client) the fuzz targets and benchmarks share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/idriver.h"
#include "rtsp/media_parser.h"
#include "rtsp/rtp_packet.h"

namespace fuzz {

class Frame : public norvane::TBoundaryObject<norvane::IMediaFrame> {
public:
    explicit Frame(unsigned size) : data(size) {}
    uint8_t* GetData() override { return data.data(); }
    void SetDataSize(unsigned size) override { dataSize = size; }
    void StampTime() override {}
    void SetTime(const SYSTEMTIME*) override {}
    void SetFourCC(unsigned code) override { fourcc = code; }
    void SetHeight(unsigned value) override { height = value; }
    void SetWidth(unsigned value) override { width = value; }
    void SetSizeClass(unsigned) override {}

    std::vector<uint8_t> data;
    unsigned dataSize = 0;
    unsigned fourcc = 0, width = 0, height = 0;
};

class Host : public norvane::TBoundaryObject<norvane::IDriver, norvane::IFrameAllocator,
                                             norvane::IMediaParserClient> {
public:
    void Log(int, const char*, ...) override {}
    std::string GetDriverName() override { return "Tavrin"; }
    const norvane::DEVICE_INFO* GetDeviceInfo() override { return &info; }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {0, 0}; }
    norvane::IFrameAllocator* GetFrameAllocator() override { return this; }
    bool GetCustomFlag() override { return false; }
    int GetCodecType() override { return 3; }
    bool GetOptionFlag() override { return false; }
    int GetChannelCount() override { return 1; }
    std::string GetAddressAndPort() override { return "127.0.0.1:80"; }
    std::string GetCustomParameterString(int) override { return {}; }
    int GetCustomParameterInt(int) override { return norvane::CUSTOM_PARAMETER_NOT_SET; }
    std::pair<int, int> GetLastFrameSize() override { return {0, 0}; }
    void SetLastFrameSize(int, int) override {}
    bool GetRtpOverTcp() override { return false; }
    void SetRtpOverTcp(bool) override {}

    norvane::IMediaFrame* AllocateFrame(unsigned, unsigned size, const char*) override {
        return new Frame(size);
    }
    void ReleaseFrame(norvane::IMediaFrame* frame) override { delete static_cast<Frame*>(frame); }

    // Every delivered frame must fit the frame it was allocated as, and pass `check`.
    bool OnFrame(norvane::IMediaFrame* frame) override {
        auto* f = static_cast<Frame*>(frame);
        if (f->dataSize > f->data.size())
            __builtin_trap();
        if (check)
            check(*f);
        ++frames;
        if (alternate)
            accept = !accept;  // so refusals are covered too
        return accept;
    }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }

    norvane::DEVICE_INFO info;
    void (*check)(const Frame&) = nullptr;
    bool alternate = true;
    bool accept = true;
    size_t frames = 0;
};

// Each record: a flags byte (bit 0 marker, bit 1 skip a sequence number, bit 2 new
// timestamp), a length byte, then that many payload bytes.
inline void FeedPackets(norvane::CRTPMediaParser& parser, const uint8_t* data, size_t size) {
    uint16_t sequence = 1;
    uint32_t timestamp = 90000;
    std::vector<uint8_t> datagram;
    for (size_t pos = 0; pos + 2 <= size;) {
        const uint8_t flags = data[pos];
        const size_t length = std::min<size_t>(data[pos + 1], size - pos - 2);
        pos += 2;
        sequence = static_cast<uint16_t>(sequence + ((flags & 2) ? 2 : 1));
        if (flags & 4)
            timestamp += 3600;
        datagram.assign(norvane::CRTPPacket::FIXED_HEADER_SIZE, 0);
        datagram[0] = 0x80;
        datagram[1] = static_cast<uint8_t>((flags & 1) ? 0xE0 : 0x60);
        datagram[2] = static_cast<uint8_t>(sequence >> 8);
        datagram[3] = static_cast<uint8_t>(sequence);
        for (int i = 0; i < 4; ++i)
            datagram[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
        datagram.insert(datagram.end(), data + pos, data + pos + length);
        pos += length;
        norvane::CRTPPacket packet;
        if (packet.Parse(datagram.data(), datagram.size()))
            parser.ProcessPacket(packet);
    }
}

}  // namespace fuzz
