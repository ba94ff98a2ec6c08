#include "host/stream_session.h"

#include <algorithm>
#include <filesystem>

namespace host {

using Clock = std::chrono::steady_clock;

namespace {

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

StreamSession::StreamSession(norvane::ipcapture::IIPVideoCapture& video,
                             norvane::IChannelConfig& config, SessionOptions options)
    : video_(video),
      config_(config),
      options_(std::move(options)),
      origin_(Clock::now()),
      started_(origin_),
      shownAt_(started_) {}

StreamSession::~StreamSession() {
    if (!stopped_)
        Stop();
}

bool StreamSession::Open(std::string& error) {
    std::error_code failure;
    std::filesystem::create_directories(options_.outDir, failure);
    if (failure) {
        error = "cannot create " + options_.outDir + ": " + failure.message();
        return false;
    }
    const unsigned count = video_.GetChannelCount();
    channels_.clear();
    for (unsigned i = 0; i < count; ++i) {
        const std::string path = options_.outDir + "/" + StreamFileName(i, options_.codecType);
        StreamWriter::Output output =
            CodecName(options_.codecType) == "h264" ? H264FileOutput(path) : FileOutput(path);
        if (!output) {
            error = "cannot write " + path;
            return false;
        }
        Channel channel;
        channel.recorder = std::make_unique<ChannelRecorder>(output, options_.queueFrames, origin_);
        if (onMotion_)
            channel.recorder->SetMotionCallback(
                [this, i](const DeliveredFrame& frame) { onMotion_(i, frame); });
        channels_.push_back(std::move(channel));
    }
    return true;
}

bool StreamSession::Start() {
    started_ = shownAt_ = Clock::now();
    bool all = true;
    for (unsigned i = 0; i < channels_.size(); ++i) {
        channels_[i].started = video_.StartChannel(i, &channels_[i].recorder->Sink(), &config_);
        all = all && channels_[i].started;
    }
    Observe();
    return all;
}

bool StreamSession::Run(std::chrono::seconds duration, StopSignal& stop, StatusLine& status) {
    const Clock::time_point end = started_ + duration;
    for (;;) {
        const Clock::time_point next = std::min(Clock::now() + status.Interval(), end);
        const bool interrupted = stop.WaitUntil(next);
        Observe();
        status.Show(StatusLines());
        if (interrupted)
            return true;
        if (Clock::now() >= end)
            return false;
    }
}

std::string StreamSession::StateName(unsigned index) {
    int state = -1;
    int detail = 0;
    char text[64] = "";
    const bool known = video_.GetChannelState(index, &state, &detail, text, sizeof text);
    return ChannelStateName(known, state);
}

std::vector<std::string> StreamSession::StatusLines() {
    const Clock::time_point now = Clock::now();
    const double seconds = SecondsBetween(shownAt_, now);
    shownAt_ = now;
    std::vector<std::string> lines;
    for (unsigned i = 0; i < channels_.size(); ++i) {
        Channel& c = channels_[i];
        const ChannelCounts counts = c.recorder->Counts();
        StatusFigures figures = MakeFigures(i, StateName(i), counts, c.shown, seconds);
        figures.signalLost = c.recorder->SignalLost();
        figures.dropped = c.recorder->Writer().dropped;
        lines.push_back(FormatStatus(figures));
        c.shown = counts;
    }
    return lines;
}

void StreamSession::Observe() {
    const Clock::time_point now = Clock::now();
    for (unsigned i = 0; i < channels_.size(); ++i) {
        ChannelRecorder& recorder = *channels_[i].recorder;
        recorder.Timeline().Observe(now, StateName(i), recorder.SignalLost());
    }
}

std::vector<TimelineSnapshot> StreamSession::Timelines() {
    std::vector<TimelineSnapshot> out;
    for (const Channel& c : channels_)
        out.push_back(c.recorder->Timeline().Snapshot());
    return out;
}

std::vector<ChannelSummary> StreamSession::Stop() {
    stopped_ = true;
    Observe();
    std::vector<ChannelSummary> out;
    for (unsigned i = 0; i < channels_.size(); ++i) {
        Channel& c = channels_[i];
        ChannelSummary s;
        s.index = i;
        s.codec = CodecName(options_.codecType);
        s.file = StreamFileName(i, options_.codecType);
        s.started = c.started;
        s.endState = StateName(i);
        s.seconds = SecondsBetween(started_, Clock::now());
        video_.StopChannel(i);
        c.recorder->Close();
        s.counts = c.recorder->Counts();
        s.writer = c.recorder->Writer();
        s.signalLost = c.recorder->SignalLost();
        s.motionRecords = c.recorder->MotionRecords();
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace host
