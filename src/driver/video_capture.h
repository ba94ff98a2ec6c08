// The host's view of the camera's video channels: one slot per channel index.
#pragma once

#include <vector>

#include "driver/custom_creator.h"
#include "foundation/lock.h"
#include "norvane/ipcapture.h"

namespace norvane {

class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx {
public:
    CIPVideoCapture(unsigned channelCount, ICustomCreator* creator);
    ~CIPVideoCapture() override;

    unsigned GetChannelCount() override;
    bool StartChannel(unsigned index, ICaptureSink* sink, IChannelConfig* config) override;
    bool StopChannel(unsigned index) override;
    bool ChangeChannelFormat(unsigned index, IResolution* format, unsigned frameRate) override;
    int Reserved5() override { return 0; }
    bool GetChannelState(unsigned index, int* state, int* detail, char* text,
                         unsigned textSize) override;
    bool Reserved7(unsigned, unsigned, void*) override { return false; }
    bool Reserved8(unsigned, unsigned, void*) override { return false; }
    bool ResumeChannel(unsigned index) override;
    bool PauseChannel(unsigned index) override;

    // Requested widths above this get Motion-JPEG over HTTP.
    static constexpr unsigned LARGE_FRAME_WIDTH = 1600;

private:
    struct Entry {
        ICameraChannel* channel = nullptr;
        IMotionChannel* motion = nullptr;
    };

    ICameraChannel* FindChannel(unsigned index);

    ICustomCreator* creator;
    CLock lock;  // guards the table, never held while a channel is used
    std::vector<Entry> channels;
};

}  // namespace norvane
