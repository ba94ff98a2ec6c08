// The host's log and input records stay within their capacity however much a camera says, and
// the counts still cover everything heard.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "host/io_sink.h"
#include "host/log_receiver.h"

namespace {

class Line : public norvane::TBoundaryObject<CDebugInfoIf> {
public:
    explicit Line(std::string text) : text_(std::move(text)) {}
    signed char GetLevel() const override { return 2; }
    const char* GetText() const override { return text_.c_str(); }

private:
    std::string text_;
};

}  // namespace

TEST(HostSinks, ALogStormKeepsTheLatestLinesAndCountsTheRest) {
    host::LogReceiver log;
    const size_t total = host::LogReceiver::MAX_RECORDS + 3;
    for (size_t i = 0; i < total; ++i) {
        Line line("line " + std::to_string(i) + ";");
        log.OnDebugInfo(&line);
    }
    EXPECT_EQ(log.Count(), host::LogReceiver::MAX_RECORDS);
    EXPECT_EQ(log.Dropped(), 3u);
    const auto records = log.Records();
    ASSERT_EQ(records.size(), host::LogReceiver::MAX_RECORDS);
    EXPECT_EQ(records.front().text, "line 3;");
    EXPECT_EQ(records.back().text, "line " + std::to_string(total - 1) + ";");
    EXPECT_EQ(log.CountContaining("line 2;"), 0u);
    EXPECT_EQ(log.LevelCounts(), (std::map<int, size_t>{{2, total}})) << "every line counted";
    log.Clear();
    EXPECT_EQ(log.Count() + log.Dropped(), 0u);
}

TEST(HostSinks, AnInputStormKeepsTheLatestEventsAndCountsEveryChange) {
    host::IOEventSink sink;
    const size_t total = host::IOEventSink::MAX_EVENTS + 5;
    for (size_t i = 0; i < total; ++i)
        sink.OnInputChanged(static_cast<unsigned>(i % 7), i % 2 ? 2 : 1);
    sink.OnIOFailure();
    EXPECT_EQ(sink.ChangeCount(), total);
    EXPECT_EQ(sink.FailureCount(), 1u);
    const auto events = sink.Events();
    ASSERT_EQ(events.size(), host::IOEventSink::MAX_EVENTS);
    EXPECT_EQ(events.front().index, 6u) << "the oldest six events were given up";
    EXPECT_TRUE(events.back().failure);
    EXPECT_EQ(sink.Changes().size(), host::IOEventSink::MAX_EVENTS - 1);
}
