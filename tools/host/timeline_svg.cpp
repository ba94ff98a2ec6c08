#include "host/timeline_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "host/html_text.h"

namespace host {

namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 84;  // room for the lane labels
constexpr double kRight = 16;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPanel = 70;  // height of a rate panel
constexpr double kLane = 14;   // height of a lane

using Interval = std::pair<double, double>;

std::string Num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// The x of a time, clamped to the plot.
double X(double seconds, double length) {
    return kLeft + kPlotWidth * std::clamp(seconds / length, 0.0, 1.0);
}

std::string Open(double height) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth) + "\" height=\"" +
           Num(height) + "\" viewBox=\"0 0 " + Num(kWidth) + " " + Num(height) + "\">\n";
}

std::string Label(double x, double y, const std::string& text, const char* anchor = "end") {
    return "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" + anchor + "\">" +
           HtmlEscape(text) + "</text>\n";
}

std::string Rect(double x, double y, double w, double h, const char* fill,
                 const std::string& title = "") {
    std::string out = "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" +
                      Num(std::max(w, 1.0)) + "\" height=\"" + Num(h) + "\" fill=\"" + fill + "\"";
    if (title.empty())
        return out + "/>\n";
    return out + "><title>" + HtmlEscape(title) + "</title></rect>\n";
}

std::string VerticalLine(double x, double top, double bottom, const char* colour,
                         const std::string& title) {
    return "<line x1=\"" + Num(x) + "\" y1=\"" + Num(top) + "\" x2=\"" + Num(x) + "\" y2=\"" +
           Num(bottom) + "\" stroke=\"" + colour + "\" stroke-width=\"1.5\"><title>" +
           HtmlEscape(title) + "</title></line>\n";
}

// The smallest of 1, 2, 5 times a power of ten that is at least `value`.
double NiceCeiling(double value) {
    if (value <= 1)
        return 1;
    const double power = std::pow(10, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0})
        if (step * power >= value)
            return step * power;
    return 10 * power;
}

// Seconds between grid lines: at most about ten over `length`.
double TickStep(double length) {
    for (const double step : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200})
        if (length / step <= 10)
            return step;
    return NiceCeiling(length / 10);
}

std::string TimeAxis(double length, double top, double bottom) {
    std::string out;
    const double step = TickStep(length);
    for (double t = 0; t <= length + 1e-9; t += step) {
        const double x = X(t, length);
        out += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(top) + "\" x2=\"" + Num(x) + "\" y2=\"" +
               Num(bottom) + "\" stroke=\"#999\" stroke-opacity=\"0.4\"/>\n";
        out += Label(x, bottom + 14, FormatOffset(t), "middle");
    }
    return out;
}

std::string EventColour(EventKind kind) {
    switch (kind) {
        case EventKind::State:
            return "#888888";
        case EventKind::Reconnect:
            return "#e69500";
        case EventKind::SignalLoss:
            return "#d62728";
        case EventKind::Online:
            return "#2ca02c";
        case EventKind::Offline:
            return "#8b0000";
        case EventKind::Input:
            return "#9467bd";
        case EventKind::MotionOn:
        case EventKind::MotionOff:
            return "#1f77b4";
    }
    return "#000000";
}

// "L12.0 34.5 ": one command of a path.
std::string PathStep(char command, double x, double y) {
    char text[48];
    std::snprintf(text, sizeof text, "%c%.1f %.1f ", command, x, y);
    return text;
}

// A rate per slot as a filled step outline in a framed panel with its scale.
std::string RatePanel(const std::vector<double>& values, double slotSeconds, double length,
                      double top, const std::string& unit, const char* colour) {
    const double scale =
        NiceCeiling(values.empty() ? 0 : *std::max_element(values.begin(), values.end()));
    const double bottom = top + kPanel;
    std::string path = PathStep('M', kLeft, bottom);
    for (size_t i = 0; i < values.size() && i * slotSeconds < length; ++i) {
        const double y = bottom - kPanel * values[i] / scale;
        path += PathStep('L', X(i * slotSeconds, length), y);
        path += PathStep('L', X((i + 1) * slotSeconds, length), y);
    }
    path += PathStep('L', X(std::min(values.size() * slotSeconds, length), length), bottom);
    path += 'Z';
    return Rect(kLeft, top, kPlotWidth, kPanel, "#fafafa") + "<path d=\"" + path + "\" fill=\"" +
           colour + "\" fill-opacity=\"0.35\" stroke=\"" + colour + "\"/>\n" +
           Label(kLeft - 6, top + 10, std::to_string(std::lround(scale)) + " " + unit) +
           Label(kLeft - 6, bottom, "0");
}

std::vector<double> PerSecond(const std::vector<RateSlot>& slots, double slotSeconds,
                              double (*figure)(const RateSlot&)) {
    std::vector<double> values;
    for (const RateSlot& slot : slots)
        values.push_back(figure(slot) / slotSeconds);
    return values;
}

std::string KeyTicks(const RateSeries& rates, double length, double top) {
    std::string out = Label(kLeft - 6, top + kLane - 3, "key frames");
    const std::vector<RateSlot>& slots = rates.Slots();
    for (size_t i = 0; i < slots.size(); ++i) {
        if (!slots[i].keyFrames)
            continue;
        const double x = X((i + 0.5) * rates.SlotSeconds(), length);
        out += Rect(x - 1, top + 2, 2, kLane - 4, "#333333",
                    std::to_string(slots[i].keyFrames) + " key frame(s) at " +
                        FormatOffset(i * rates.SlotSeconds()));
    }
    return out;
}

std::string EventLines(const std::vector<TimelineEvent>& events, double length, double top,
                       double bottom) {
    std::string out;
    for (const TimelineEvent& e : events)
        out += VerticalLine(X(e.seconds, length), top, bottom, EventColour(e.kind).c_str(),
                            FormatOffset(e.seconds) + " " + e.text);
    return out;
}

// A labelled lane with shaded spans.
std::string Lane(const std::vector<Interval>& spans, double length, double top,
                 const std::string& name, const char* colour) {
    std::string out =
        Label(kLeft - 6, top + kLane - 3, name) + Rect(kLeft, top, kPlotWidth, kLane, "#f3f3f3");
    for (const auto& [from, to] : spans)
        out += Rect(X(from, length), top, X(to, length) - X(from, length), kLane, colour,
                    name + " from " + FormatOffset(from) + " to " + FormatOffset(to));
    return out;
}

// Spans from each change to on to the next change to off (or to `length`).
std::vector<Interval> Spans(const std::vector<std::pair<double, bool>>& changes, double length) {
    std::vector<Interval> spans;
    double from = -1;
    for (const auto& [at, on] : changes) {
        if (on && from < 0) {
            from = at;
        } else if (!on && from >= 0) {
            spans.emplace_back(from, at);
            from = -1;
        }
    }
    if (from >= 0)
        spans.emplace_back(from, length);
    return spans;
}

}  // namespace

std::string FormatOffset(double seconds) {
    const long total = std::lround(std::max(seconds, 0.0));
    char text[32];
    if (total < 120)
        std::snprintf(text, sizeof text, "%ld s", total);
    else if (total < 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    return text;
}

std::string ChannelTimelineSvg(const TimelineSnapshot& t,
                               const std::vector<TimelineEvent>& cameraEvents, double seconds) {
    const double length = std::max(seconds, 1.0);
    const double slot = t.rates.SlotSeconds();
    const double kbpsTop = 8 + kPanel + 10;
    const double keyTop = kbpsTop + kPanel + 6;
    const double eventsTop = keyTop + kLane + 4;
    const double motionTop = eventsTop + kLane + 4;
    const double bottom = motionTop + kLane;
    std::vector<TimelineEvent> events(t.events.Events().begin(), t.events.Events().end());
    events.insert(events.end(), cameraEvents.begin(), cameraEvents.end());
    std::vector<std::pair<double, bool>> motion;
    for (const TimelineEvent& e : t.motion.Events())
        motion.emplace_back(e.seconds, e.kind == EventKind::MotionOn);

    std::string out = Open(bottom + 24);
    out += RatePanel(PerSecond(t.rates.Slots(), slot,
                               [](const RateSlot& s) { return static_cast<double>(s.frames); }),
                     slot, length, 8, "fps", "#1f77b4");
    out += RatePanel(
        PerSecond(t.rates.Slots(), slot, [](const RateSlot& s) { return s.bytes * 8 / 1000.0; }),
        slot, length, kbpsTop, "kbit/s", "#2ca02c");
    out += KeyTicks(t.rates, length, keyTop);
    out += Label(kLeft - 6, eventsTop + kLane - 3, "events") +
           Rect(kLeft, eventsTop, kPlotWidth, kLane, "#f3f3f3");
    out += Lane(Spans(motion, length), length, motionTop, "motion", "#1f77b4");
    out += TimeAxis(length, 8, bottom);
    return out + EventLines(events, length, 8, eventsTop + kLane) + "</svg>\n";
}

std::string InputsSvg(const std::vector<InputChange>& changes, double seconds) {
    const double length = std::max(seconds, 1.0);
    std::map<int, std::vector<std::pair<double, bool>>> inputs;
    std::vector<TimelineEvent> failures;
    for (const InputChange& c : changes) {
        if (c.index < 0)
            failures.push_back({c.seconds, EventKind::Input, "I/O failure: input states reset"});
        else
            inputs[c.index].emplace_back(c.seconds, c.active);
    }
    const double bottom = 8 + std::max<size_t>(inputs.size(), 1) * (kLane + 4);
    std::string out = Open(bottom + 24);
    double top = 8;
    for (const auto& [index, states] : inputs) {
        out +=
            Lane(Spans(states, length), length, top, "input " + std::to_string(index), "#9467bd");
        top += kLane + 4;
    }
    out += TimeAxis(length, 8, bottom);
    return out + EventLines(failures, length, 8, bottom) + "</svg>\n";
}

}  // namespace host
