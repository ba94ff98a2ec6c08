// Live status lines: state names, interval rates and the two ways of showing them.
#include <gtest/gtest.h>

#include <cstdio>

#include "host/status_line.h"

using host::ChannelCounts;

namespace {

ChannelCounts Counts(uint64_t frames, uint64_t keys, uint64_t bytes) {
    ChannelCounts c;
    c.frames = frames, c.keyFrames = keys, c.bytes = bytes;
    return c;
}

// What `show` printed to a scratch stream.
template <typename F>
std::string Printed(F show) {
    std::FILE* file = std::tmpfile();
    show(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

}  // namespace

TEST(StatusLine, StateNamesFollowTheChannelStates) {
    EXPECT_EQ(host::ChannelStateName(true, 0), "Running");
    EXPECT_EQ(host::ChannelStateName(true, 1), "Starting");
    EXPECT_EQ(host::ChannelStateName(true, 2), "SignalLost");
    EXPECT_EQ(host::ChannelStateName(true, 3), "Stopped");
    EXPECT_EQ(host::ChannelStateName(true, 7), "State7");
    EXPECT_EQ(host::ChannelStateName(false, 0), "None");
}

TEST(StatusLine, RatesCoverOnlyTheLastInterval) {
    const auto f = host::MakeFigures(1, "Running", Counts(300, 12, 1'500'000),
                                     Counts(250, 10, 1'000'000), 2.0);
    EXPECT_EQ(f.channel, 1u);
    EXPECT_DOUBLE_EQ(f.fps, 25);
    EXPECT_DOUBLE_EQ(f.kbps, 2000);
    EXPECT_EQ(f.frames, 300u);
    EXPECT_EQ(f.keyFrames, 12u);
    const auto none = host::MakeFigures(0, "Stopped", Counts(5, 1, 10), Counts(5, 1, 10), 0);
    EXPECT_EQ(none.fps, 0);
    EXPECT_EQ(none.kbps, 0);
}

TEST(StatusLine, FormatShowsEveryFigure) {
    auto f = host::MakeFigures(0, "SignalLost", Counts(250, 10, 0), Counts(200, 8, 0), 2.0);
    f.signalLost = 3;
    f.dropped = 4;
    EXPECT_EQ(host::FormatStatus(f),
              "ch0 SignalLost  25.0 fps        0 kbit/s  frames 250 (key 10)  lost: signal 3, "
              "dropped 4");
}

TEST(StatusLine, TerminalRedrawsInPlacePipeGetsPlainLines) {
    const std::string terminal = Printed([](std::FILE* out) {
        host::StatusLine status(out, true);
        status.Show({"a", "b"});
        status.Show({"c", "d"});
    });
    EXPECT_EQ(terminal, "\ra\x1b[K\n\rb\x1b[K\n\x1b[2A\rc\x1b[K\n\rd\x1b[K\n");
    const std::string plain = Printed([](std::FILE* out) {
        host::StatusLine status(out, false);
        status.Show({"a"});
        status.Show({"b"});
        EXPECT_EQ(status.Interval(), std::chrono::seconds(2));
    });
    EXPECT_EQ(plain, "a\nb\n");
    EXPECT_EQ(host::StatusLine(stdout, true).Interval(), std::chrono::seconds(1));
}
