// Feeds arbitrary datagrams to the RTCP BYE walk; every source it names takes four bytes of the
// datagram beyond a packet header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "rtsp/rtcp_bye.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t sources = norvane::RtcpByeSources(data, size).size();
    if (sources > 0 && 4 + sources * 4 > size)
        std::abort();
    return 0;
}
