// The host's view of the camera's video channels: one slot per channel index.
#pragma once

#include <memory>
#include <vector>

#include "driver/custom_creator.h"
#include "foundation/lock.h"
#include "norvane/ipcapture.h"

namespace norvane {

class CIPVideoCapture : public TBoundaryObject<ipcapture::IIPVideoCaptureEx> {
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
    // The operations' bodies; StartChannel and StopChannel turn their exceptions into false.
    bool StartChannelOrThrow(unsigned index, ICaptureSink* sink, IChannelConfig* config);
    bool StopChannelOrThrow(unsigned index);
    // Entries are shared with the host threads using them: the last user deletes a channel, so
    // a query racing a stop never touches a deleted channel. A stopped channel is retired first,
    // so a racing change of format cannot start it again.
    using ChannelPtr = std::shared_ptr<ICameraChannel>;
    using MotionPtr = std::shared_ptr<IMotionChannel>;
    struct Entry {
        ChannelPtr channel;
        MotionPtr motion;
    };

    static ChannelPtr Own(ICameraChannel* channel);
    static MotionPtr Own(IMotionChannel* motion);
    ChannelPtr FindChannel(unsigned index);
    // Stops what the entry holds. On one of the channel's own threads (a host stopping the
    // channel from its frame callback) the channel is only told to end, and kept until a later
    // call from another thread can wait for it.
    void Release(Entry entry);
    void ReleaseRetired();

    ICustomCreator* creator;
    CLock lock;  // guards the table and the retired list, never held while a channel is used
    std::vector<Entry> channels;
    std::vector<ChannelPtr> retired;
};

}  // namespace norvane
