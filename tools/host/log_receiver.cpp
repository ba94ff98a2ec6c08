#include "host/log_receiver.h"

namespace host {

void LogReceiver::OnDebugInfo(CDebugInfoIf* info) {
    if (!info)
        return;
    const char* text = info->GetText();
    LogRecord record{info->GetLevel(), text != nullptr, text ? text : "",
                     std::chrono::steady_clock::now()};
    if (echo_)
        std::fprintf(echo_, "[log %d] %s\n", record.level, record.text.c_str());
    monitor_.Update([&] {
        ++levels_[record.level];
        records_.Add(std::move(record));
    });
}

std::vector<LogRecord> LogReceiver::Records() {
    return monitor_.With([&] { return records_.Copy(); });
}

size_t LogReceiver::Count() {
    return monitor_.With([&] { return records_.Items().size(); });
}

std::map<int, size_t> LogReceiver::LevelCounts() {
    return monitor_.With([&] { return levels_; });
}

size_t LogReceiver::Dropped() {
    return monitor_.With([&] { return records_.Dropped(); });
}

size_t LogReceiver::CountContaining(const std::string& fragment) {
    return monitor_.With([&] {
        size_t n = 0;
        for (const LogRecord& r : records_.Items())
            n += r.text.find(fragment) != std::string::npos;
        return n;
    });
}

bool LogReceiver::WaitForText(const std::string& fragment, std::chrono::milliseconds timeout) {
    return monitor_.WaitFor(
        [&] {
            for (const LogRecord& r : records_.Items())
                if (r.text.find(fragment) != std::string::npos)
                    return true;
            return false;
        },
        timeout);
}

void LogReceiver::Clear() {
    monitor_.Update([&] {
        records_.Clear();
        levels_.clear();
    });
}

}  // namespace host
