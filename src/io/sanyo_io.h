// Digital I/O of a Sanyo camera: inputs from the live status page, outputs through the alarm
// CGI of the camera's group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "http/http_client.h"
#include "io/io_base.h"

namespace norvane {

class CSanyoIO : public CIOBase {
public:
    static constexpr const char* POLL_REQUEST = "/liveimg.cgi?pol=1";
    // The status byte holds one bit per input; inputs past it read inactive.
    static constexpr unsigned STATUS_BITS = 8;

    explicit CSanyoIO(IDriver* driver);
    ~CSanyoIO() override;

    // Offset of the input status byte in the live status page: group 2's page has a shorter
    // header before it.
    static constexpr size_t INPUT_STATUS_OFFSET = 33;
    static constexpr size_t INPUT_STATUS_OFFSET_GROUP2 = 27;
    static size_t StatusOffset(int cameraGroup) {
        return cameraGroup == 2 ? INPUT_STATUS_OFFSET_GROUP2 : INPUT_STATUS_OFFSET;
    }
    // State of input `index` given the status byte.
    static int InputState(uint8_t status, unsigned index);
    // The camera request that sets output `index` to `state`.
    static std::string OutputRequest(int cameraGroup, int index, int state);

protected:
    bool WriteOutput(int index, int state) override;
    bool PollInputs() override;
    void CloseConnections() override;

private:
    Web::CHttpClient outputClient;
    Web::CHttpClient inputClient;
    int cameraGroup;
};

}  // namespace norvane
