#include "host/probe.h"

#include <cstdio>

#include "host/summary.h"

namespace host {

namespace {

// Names of the capability identifiers a host knows.
const char* CapabilityName(uint32_t id) {
    static const std::map<uint32_t, const char*> names = {
        {0, "complete"}, {1, "model_flag"},     {2, "inputs"},         {3, "outputs"},
        {4, "audio"},    {5, "capability_5"},   {6, "codec_4"},        {7, "mjpeg"},
        {8, "h264"},     {11, "capability_11"}, {12, "capability_12"},
    };
    const auto it = names.find(id);
    return it == names.end() ? "unknown" : it->second;
}

std::string Row(const std::string& name, const std::string& value) {
    char line[512];
    std::snprintf(line, sizeof line, "  %-26s %s\n", name.c_str(), value.c_str());
    return line;
}

template <typename Range, typename Item>
std::string JoinJson(const Range& range, Item item) {
    std::string out = "[";
    for (const auto& element : range) {
        if (out.size() > 1)
            out += ", ";
        out += item(element);
    }
    return out + "]";
}

}  // namespace

void QueryCallback::Report(Outcome outcome, int code, const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    if (outcome_ == Outcome::None) {
        outcome_ = outcome;
        code_ = code;
        message_ = message;
    }
    changed_.notify_all();
}

void QueryCallback::OnQuerySucceeded() {
    Report(Outcome::Succeeded, 0, "");
}

void QueryCallback::OnQueryFailed(int code, const char* message) {
    Report(Outcome::Failed, code, message ? message : "");
}

void QueryCallback::OnQueryThreadTerminated() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    ++terminations_;
    changed_.notify_all();
}

bool QueryCallback::Wait(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return outcome_ != Outcome::None; });
}

QueryCallback::Outcome QueryCallback::Result() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outcome_;
}

int QueryCallback::Code() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return code_;
}

std::string QueryCallback::Message() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return message_;
}

int QueryCallback::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

int QueryCallback::Terminations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return terminations_;
}

ProbeResult Probe(const DriverLibrary& library, const ProbeTarget& target,
                  std::chrono::milliseconds limit) {
    ProbeResult probe;
    probe.target = target;
    QueryCallback callback;
    CapabilityResults results;
    const CapabilityApi& api = library.Capability();
    norvane::IIPCapabilityQuery* module = api.createModule(&callback, 0);
    if (module) {
        probe.started = module->Start(target.address.c_str(), target.port, target.user.c_str(),
                                      target.password.c_str(), &results) == 1;
        probe.answered = probe.started && callback.Wait(limit);
    }
    api.deleteModule(module);  // waits for the query thread: nothing writes into `results` after
    probe.succeeded = callback.Result() == QueryCallback::Outcome::Succeeded;
    probe.code = callback.Code();
    probe.message = callback.Message();
    probe.record = results.Record();
    return probe;
}

std::vector<ProbeSection> ProbeSections(const ProbeResult& p) {
    const CapabilityRecord& r = p.record;
    if (!p.succeeded) {
        ProbeSection outcome{
            "",
            {{"outcome", p.answered  ? "failed (code " + std::to_string(p.code) + ")"
                         : p.started ? "no answer"
                                     : "not started"}}};
        if (!p.message.empty())
            outcome.rows.push_back({"message", p.message});
        return {outcome};
    }
    std::vector<ProbeSection> sections(4);
    sections[0].rows.push_back({"model", r.model});
    for (const auto& [id, value] : r.capabilities)
        sections[0].rows.push_back(
            {std::string("capability ") + CapabilityName(id), std::to_string(value)});
    sections[1].title = "Custom parameters";
    for (const auto& [number, entry] : r.custom)
        sections[1].rows.push_back({std::to_string(number) + " " + entry.name, entry.value});
    sections[2].title = "Picture sizes (frame period ms)";
    for (const ResolutionRecord& size : r.resolutions)
        sections[2].rows.push_back(
            {size.text, size.framePeriod ? std::to_string(size.framePeriod) : "-"});
    std::string periods;
    for (uint32_t period : r.framePeriods) {
        if (!periods.empty())
            periods += ' ';
        periods += std::to_string(period);
    }
    sections[3].title = "Frame periods (ms)";
    sections[3].rows.push_back({"offered", periods});
    for (uint32_t period : r.defaultFramePeriods)
        sections[3].rows.push_back({"default", std::to_string(period)});
    return sections;
}

std::string ProbeTable(const ProbeResult& p) {
    std::string out =
        "Capability query of " + p.target.address + ":" + std::to_string(p.target.port) + "\n";
    for (const ProbeSection& section : ProbeSections(p)) {
        if (!section.title.empty())
            out += section.title + "\n";
        for (const ProbeRow& row : section.rows)
            out += Row(row.name, row.value);
    }
    return out;
}

std::string ProbeJson(const ProbeResult& p) {
    const CapabilityRecord& r = p.record;
    std::string out = "{\n";
    out += "  \"address\": " + JsonQuote(p.target.address) + ",\n";
    out += "  \"port\": " + std::to_string(p.target.port) + ",\n";
    out += std::string("  \"succeeded\": ") + (p.succeeded ? "true" : "false") + ",\n";
    out += "  \"code\": " + std::to_string(p.code) + ",\n";
    out += "  \"message\": " + JsonQuote(p.message) + ",\n";
    out += "  \"model\": " + JsonQuote(r.model) + ",\n";
    out += "  \"capabilities\": " +
           JoinJson(r.capabilities,
                    [](const auto& c) {
                        return "{\"id\": " + std::to_string(c.first) +
                               ", \"name\": " + JsonQuote(CapabilityName(c.first)) +
                               ", \"value\": " + std::to_string(c.second) + "}";
                    }) +
           ",\n";
    out += "  \"custom_parameters\": " +
           JoinJson(r.custom,
                    [](const auto& c) {
                        return "{\"number\": " + std::to_string(c.first) +
                               ", \"name\": " + JsonQuote(c.second.name) +
                               ", \"value\": " + JsonQuote(c.second.value) +
                               ", \"flag\": " + std::to_string(c.second.flag) + "}";
                    }) +
           ",\n";
    out += "  \"resolutions\": " +
           JoinJson(r.resolutions,
                    [](const ResolutionRecord& s) {
                        return "{\"size\": " + JsonQuote(s.text) +
                               ", \"width\": " + std::to_string(s.width) +
                               ", \"height\": " + std::to_string(s.height) +
                               ", \"frame_period_ms\": " + std::to_string(s.framePeriod) + "}";
                    }) +
           ",\n";
    out += "  \"frame_periods_ms\": " +
           JoinJson(r.framePeriods, [](uint32_t v) { return std::to_string(v); }) + ",\n";
    out += "  \"default_frame_periods_ms\": " +
           JoinJson(r.defaultFramePeriods, [](uint32_t v) { return std::to_string(v); }) + "\n";
    return out + "}\n";
}

}  // namespace host
