// libFuzzer target: arbitrary RTP packet sequences into the JPEG depacketiser.
#include "packet_sequence.h"
#include "rtsp/jpeg_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Host host;
    norvane::CJpegRTPMediaParser parser(&host, "fuzz");
    parser.SetClient(&host);
    fuzz::FeedPackets(parser, data, size);
    return 0;
}
