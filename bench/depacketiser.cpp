// Depacketising throughput for a 1080p H.264 stream and a 1080p JPEG stream from the reference
// media (made on first use). Each frame is copied once into the host's frame; the parser's
// frame buffer is reused.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "camsim/annexb.h"
#include "camsim/h264_packetizer.h"
#include "camsim/jpeg_packetizer.h"
#include "camsim/media_files.h"
#include "../fuzz/packet_sequence.h"
#include "rtsp/h264_media_parser.h"
#include "rtsp/jpeg_media_parser.h"

namespace {

std::string MediaDir() {
    static const std::string dir = [] {
        const std::string target = std::string(TAVRIN_BINARY_DIR) + "/media";
        const std::string command = std::string(TAVRIN_SOURCE_DIR) + "/scripts/make-media.sh '" +
                                    target + "' >/dev/null";
        return std::system(command.c_str()) == 0 ? target : std::string();
    }();
    return dir;
}

std::vector<norvane::CRTPPacket> Parse(const std::vector<camsim::Packet>& datagrams) {
    std::vector<norvane::CRTPPacket> packets(datagrams.size());
    for (size_t i = 0; i < datagrams.size(); ++i)
        packets[i].Parse(datagrams[i].data(), datagrams[i].size());
    return packets;
}

std::vector<norvane::CRTPPacket> H264Packets() {
    const auto units = camsim::SplitAccessUnits(
        camsim::SplitNalUnits(camsim::ReadFileBytes(MediaDir() + "/h264_1080p.264")));
    camsim::H264Packetizer packetizer(1, 0);
    std::vector<camsim::Packet> datagrams;
    for (size_t i = 0; i < units.size(); ++i)
        for (auto& p : packetizer.Packetize(units[i], camsim::VideoTimestamp(0, i, 25)))
            datagrams.push_back(std::move(p));
    return Parse(datagrams);
}

std::vector<norvane::CRTPPacket> JpegPackets() {
    camsim::JpegPacketizer packetizer(1, 0);
    std::vector<camsim::Packet> datagrams;
    size_t i = 0;
    for (const auto& file : camsim::ReadJpegFolder(MediaDir() + "/jpeg1080p")) {
        camsim::JpegPicture picture;
        if (camsim::ParseJpeg(file, picture))
            for (auto& p : packetizer.Packetize(picture, 255, camsim::VideoTimestamp(0, i++, 25)))
                datagrams.push_back(std::move(p));
    }
    return Parse(datagrams);
}

// Each pass starts again at the first sequence number; that gap finds an empty buffer and the
// stream starts with a key frame, so every frame is delivered.
void Run(benchmark::State& state, norvane::CRTPMediaParser& parser, fuzz::Host& host,
         const std::vector<norvane::CRTPPacket>& packets) {
    if (packets.empty()) {
        state.SkipWithError("no reference media");
        return;
    }
    host.alternate = false;
    parser.SetClient(&host);
    size_t bytes = 0;
    for (const auto& p : packets)
        bytes += p.GetPayloadLength();
    for (auto _ : state) {
        for (const auto& p : packets)
            parser.ProcessPacket(p);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["ns_per_packet"] = benchmark::Counter(
        static_cast<double>(state.iterations() * packets.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["frames"] = static_cast<double>(host.frames);
}

void H264_1080p(benchmark::State& state) {
    fuzz::Host host;
    norvane::CH264RTPMediaParser parser(&host, "Tavrin");
    Run(state, parser, host, H264Packets());
}

void Jpeg_1080p(benchmark::State& state) {
    fuzz::Host host;
    norvane::CJpegRTPMediaParser parser(&host, "Tavrin");
    Run(state, parser, host, JpegPackets());
}

}  // namespace

BENCHMARK(H264_1080p);
BENCHMARK(Jpeg_1080p);
BENCHMARK_MAIN();
