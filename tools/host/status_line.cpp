#include "host/status_line.h"

namespace host {

std::string ChannelStateName(bool known, int state) {
    if (!known)
        return "None";
    switch (state) {
        case 0: return "Running";
        case 1: return "Starting";
        case 2: return "SignalLost";
        case 3: return "Stopped";
        default: return "State" + std::to_string(state);
    }
}

StatusFigures MakeFigures(unsigned channel, const std::string& state, const ChannelCounts& now,
                          const ChannelCounts& before, double seconds) {
    StatusFigures f;
    f.channel = channel;
    f.state = state;
    f.frames = now.frames;
    f.keyFrames = now.keyFrames;
    if (seconds > 0 && now.frames >= before.frames && now.bytes >= before.bytes) {
        f.fps = static_cast<double>(now.frames - before.frames) / seconds;
        f.kbps = static_cast<double>(now.bytes - before.bytes) * 8 / 1000 / seconds;
    }
    return f;
}

std::string FormatStatus(const StatusFigures& f) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "ch%u %-10s %5.1f fps %8.0f kbit/s  frames %llu (key %llu)  lost: signal %llu, "
                  "dropped %llu",
                  f.channel, f.state.c_str(), f.fps, f.kbps,
                  static_cast<unsigned long long>(f.frames),
                  static_cast<unsigned long long>(f.keyFrames),
                  static_cast<unsigned long long>(f.signalLost),
                  static_cast<unsigned long long>(f.dropped));
    return text;
}

std::chrono::milliseconds StatusLine::Interval() const {
    return std::chrono::milliseconds(terminal_ ? 1000 : 2000);
}

void StatusLine::Show(const std::vector<std::string>& lines) {
    if (terminal_ && drawn_)
        std::fprintf(out_, "\x1b[%zuA", drawn_);  // back to the first line of the last redraw
    for (const std::string& line : lines)
        std::fprintf(out_, terminal_ ? "\r%s\x1b[K\n" : "%s\n", line.c_str());
    drawn_ = lines.size();
    std::fflush(out_);
}

}  // namespace host
