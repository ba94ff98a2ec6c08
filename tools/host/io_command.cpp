#include "host/io_command.h"

#include "camsim/alarm_timeline.h"
#include "camsim/camera.h"
#include "host/capture_time.h"
#include "host/channel_stats.h"

namespace host {

bool ApplyIOOptions(const IOOptions& o, camsim::Camera* simulator, int& inputs, int& outputs,
                    std::string& error) {
    const camsim::Personality* camera = simulator ? &simulator->Cgi().GetPersonality() : nullptr;
    inputs = o.inputs >= 0 ? o.inputs : camera ? camera->inputs : 0;
    outputs = o.outputs >= 0 ? o.outputs : camera ? camera->outputs : 0;
    std::vector<camsim::AlarmEvent> events;
    for (const std::string& text : o.alarms) {
        const auto event = camsim::ParseAlarmEvent(text);
        if (!event) {
            error = "--alarm wants T:inputN=0|1 or T:motion=0|1, not " + text;
            return false;
        }
        events.push_back(*event);
    }
    if (!events.empty() && !simulator) {
        error = "--alarm scripts the bundled simulator only";
        return false;
    }
    if (simulator)
        simulator->Cgi().ScheduleAlarms(std::move(events));
    return true;
}

bool ParseOutputSetting(const std::string& text, std::pair<int, int>& setting) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq > 4)
        return false;
    const std::string index = text.substr(0, eq);
    const std::string value = text.substr(eq + 1);
    for (const char c : index)
        if (c < '0' || c > '9')
            return false;
    if (value != "0" && value != "1")
        return false;
    setting = {std::stoi(index), value == "1" ? 2 : 1};
    return true;
}

std::string DescribeMotionRecord(unsigned channel, const DeliveredFrame& frame) {
    return FormatUtc(UtcNow()) + " channel " + std::to_string(channel) + " motion " +
           (IsMotionOn(frame) ? "on" : "off");
}

IOSession::IOSession(norvane::ICaptureIOApi* io, std::FILE* out) : io_(io), out_(out) {
    sink_.SetCallback([this](const IOEvent& event) {
        std::fprintf(out_, "%s\n", DescribeIOEvent(event).c_str());
        std::fflush(out_);
    });
}

IOSession::~IOSession() { Stop(); }

bool IOSession::Start(const IOOptions& options, std::string& error) {
    std::vector<std::pair<int, int>> settings;
    for (const std::string& text : options.setOutputs) {
        std::pair<int, int> setting;
        if (!ParseOutputSetting(text, setting)) {
            error = "--set-output wants N=0|1, not " + text;
            return false;
        }
        settings.push_back(setting);
    }
    if (!io_) {
        error = "the driver has no I/O object";
        return false;
    }
    io_->SetEventSink(&sink_);
    if (!io_->StartIO()) {
        error = "the driver's I/O did not start";
        return false;
    }
    started_ = true;
    for (const auto& [index, state] : settings) {
        const bool queued = index < io_->GetOutputCount() && io_->SetOutput(index, state);
        std::fprintf(out_, "output %d %s%s\n", index, state == 2 ? "active" : "inactive",
                     queued ? "" : " not set (no such output)");
    }
    return true;
}

void IOSession::Stop() {
    if (started_)
        io_->StopIO();
    started_ = false;
}

}  // namespace host
