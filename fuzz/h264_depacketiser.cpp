// libFuzzer target: arbitrary RTP packet sequences into the H.264 depacketiser; every frame it
// hands on must be a well-formed Annex B access unit.
#include "packet_sequence.h"
#include "picture_checks.h"
#include "rtsp/h264_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Host host;
    host.check = [](const fuzz::Frame& frame) {
        fuzz::CheckAnnexB(frame.data.data(), frame.dataSize);
    };
    norvane::CH264RTPMediaParser parser(&host, "fuzz");
    parser.SetClient(&host);
    // A leading length-prefixed SPS is offered as the out-of-band parameter sets.
    if (size > 0 && data[0] < size) {
        const size_t spsSize = data[0];
        parser.SetParameterSets(std::vector<uint8_t>(data + 1, data + 1 + spsSize),
                                {0x68, 0xCE, 0x38, 0x80}, {});
        data += 1 + spsSize;
        size -= 1 + spsSize;
    }
    fuzz::FeedPackets(parser, data, size);
    return 0;
}
