// libFuzzer target: arbitrary RTP packet sequences into the JPEG depacketiser; every picture it
// hands on must be a well-formed JPEG of the size it reports.
#include "packet_sequence.h"
#include "picture_checks.h"
#include "rtsp/jpeg_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Host host;
    host.check = [](const fuzz::Frame& frame) {
        fuzz::CheckJpeg(frame.data.data(), frame.dataSize, frame.width, frame.height, true);
    };
    norvane::CJpegRTPMediaParser parser(&host, "fuzz");
    parser.SetClient(&host);
    fuzz::FeedPackets(parser, data, size);
    return 0;
}
