// Reference media made by scripts/make-media.sh, RTP packet helpers, and ffmpeg as an
// independent decoder for the depacketiser checks.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camsim/rtp_stream.h"
#include "http/utils.h"
#include "host/capture_sink.h"
#include "host/frames.h"
#include "rtsp/media_parser.h"
#include "rtsp/rtp_packet.h"

namespace test {

using Bytes = std::vector<uint8_t>;

inline bool RunCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

// Directory with the reference media, made on first use (idempotent, safe across processes).
inline const std::string& MediaDir() {
    static std::once_flag once;
    static std::string dir;
    std::call_once(once, [] {
        const std::string target = std::string(TAVRIN_BINARY_DIR) + "/media";
#if defined(_WIN32)
        // Under Wine the script cannot run: scripts/windows-check.sh makes the folder first.
        if (std::filesystem::is_directory(target))
            dir = target;
        return;
#endif
        if (RunCommand(std::string(TAVRIN_SOURCE_DIR) + "/scripts/make-media.sh '" + target +
                       "' >/dev/null"))
            dir = target;
    });
    return dir;
}

inline std::string MediaPath(const std::string& name) { return MediaDir() + "/" + name; }

// A fresh scratch folder for the running test.
inline std::string OutputDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string dir = std::string(TAVRIN_BINARY_DIR) + "/test-output/" +
                            info->test_suite_name() + "." + info->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline bool WriteBytes(const std::string& path, const Bytes& data) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(file);
}

inline std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The hashes of an ffmpeg framemd5 file, one per frame (the sixth field; side data may follow).
inline std::vector<std::string> ReadFrameMd5(const std::string& path) {
    std::vector<std::string> hashes;
    std::istringstream lines(ReadText(path));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> fields = norvane::Utils::SplitString(line, ',');
        if (fields.size() >= 6)
            hashes.push_back(norvane::Utils::TrimBlanks(fields[5]));
    }
    return hashes;
}

// One MD5 per decoded frame of `input` read as `format` (h264, mjpeg), or empty when ffmpeg
// fails or reports a decoding error (its error output is added to `errors`). ffmpeg's output
// goes to `scratch` (a folder of the running test).
inline std::vector<std::string> FrameMd5(const std::string& format, const std::string& input,
                                         const std::string& scratch, std::string* errors = nullptr) {
    const std::string base = scratch + "/" + std::filesystem::path(input).filename().string();
    const std::string out = base + ".framemd5", log = base + ".log";
    const bool ok = RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y -f " + format +
                               " -i '" + input + "' -f framemd5 '" + out + "' 2>'" + log + "'");
    const std::string messages = ReadText(log);
    if (errors)
        *errors += messages;
    if (!ok || !messages.empty())
        return {};
    return ReadFrameMd5(out);
}

inline norvane::CRTPPacket ToPacket(const camsim::Packet& datagram) {
    norvane::CRTPPacket packet;
    EXPECT_TRUE(packet.Parse(datagram.data(), datagram.size()));
    return packet;
}

// RTP datagram with the given payload.
inline camsim::Packet MakeDatagram(uint16_t sequence, uint32_t timestamp, bool marker,
                                   const Bytes& payload, uint8_t payloadType = 96) {
    std::vector<camsim::Packet> out;
    camsim::RtpStream(payloadType, 0x11223344, sequence)
        .Add(out, marker, timestamp, nullptr, 0, payload.data(), payload.size());
    return out.front();
}

// A thread that clears and sets the depacketiser's client `times` times, as an owner may while
// the queue thread emits, and leaves it set.
inline std::thread FlipClient(norvane::CRTPMediaParser& parser, norvane::IMediaParserClient* client,
                              int times = 1000) {
    return std::thread([&parser, client, times] {
        for (int i = 0; i < times; ++i)
            parser.SetClient(i % 2 ? client : nullptr);
        parser.SetClient(client);
    });
}

// Depacketiser owner that hands frames to a recording host sink and notes what the host sees.
class RecordingClient : public norvane::IMediaParserClient {
public:
    bool OnFrame(norvane::IMediaFrame* frame) override {
        auto* hostFrame = dynamic_cast<host::Frame*>(frame);
        if (hostFrame) {
            capacities.push_back(hostFrame->buffer.size());
            fourccs.push_back(hostFrame->allocatedFourcc);
            calls.push_back(hostFrame->calls);
        }
        return sink.DeliverFrame(frame);
    }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }

    host::CaptureSink sink;
    std::vector<size_t> capacities;               // allocated size of each frame
    std::vector<unsigned> fourccs;                // FourCC given at allocation
    std::vector<std::vector<std::string>> calls;  // setters called before delivery
};

}  // namespace test
