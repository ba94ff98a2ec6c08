// The channel's RTCP as Wireshark's dissector reads it: captured on loopback with tshark while
// the simulated camera drops a share of its RTP packets and sends sender reports every 20 ms.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "channels/channel_rig.h"
#include "channels/h264_rtsp_channel.h"
#include "rtsp/rtcp_report_schedule.h"

using namespace norvane;
using namespace std::chrono_literals;
using test::ChannelRig;

namespace {

constexpr int WAIT_MS = 10000;
constexpr uint64_t FRAMES = 250;  // 10 s of 25 fps

// tshark capturing on the loopback interface, its lines read as they come.
class LiveCapture {
public:
    ~LiveCapture() { Stop(); }

    // Starts tshark with `arguments`; false, with its words in `error`, when it cannot capture
    // (no permission, for one).
    bool Start(const std::vector<std::string>& arguments, std::string& error) {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            dup2(fds[1], STDERR_FILENO);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv{const_cast<char*>("tshark")};
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execvp("tshark", argv.data());
            _exit(127);
        }
        close(fds[1]);
        output_ = fds[0];
        if (pid_ < 0)
            return false;
        // It says so once the interface is open.
        std::string line;
        while (NextLine(line)) {
            if (line.find("Capturing on") != std::string::npos)
                return true;
            error += line + " ";
        }
        Stop();
        return false;
    }

    // Reads lines until one satisfies `wanted`; false at the end of the output or the limit.
    template <typename Predicate>
    bool WaitForLine(Predicate wanted) {
        std::string line;
        while (NextLine(line)) {
            lines_.push_back(line);
            if (wanted(line))
                return true;
        }
        return false;
    }

    // SIGINT ends tshark, which prints what it still holds; reads that (bounded) and reaps it.
    void Stop() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGINT);
        WaitForLine([](const std::string&) { return false; });
        close(output_);
        output_ = -1;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);  // it did not end in time
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

    const std::vector<std::string>& Lines() const { return lines_; }

private:
    // The next whole line of the output, read within the limit.
    bool NextLine(std::string& line) {
        for (size_t end; (end = pending_.find('\n')) == std::string::npos;) {
            pollfd ready{output_, POLLIN, 0};
            if (output_ < 0 || poll(&ready, 1, WAIT_MS) != 1)
                return false;
            char buffer[4096];
            const ssize_t got = read(output_, buffer, sizeof(buffer));
            if (got <= 0)
                return false;
            pending_.append(buffer, static_cast<size_t>(got));
        }
        const size_t end = pending_.find('\n');
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
};

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);)
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

// Fields printed for each packet, in this order.
const std::vector<std::string> FIELDS = {"udp.srcport",      "rtp.seq",
                                         "rtcp.pt",          "rtcp.ssrc.fraction",
                                         "rtcp.ssrc.cum_nr", "rtcp.ssrc.high_seq",
                                         "rtcp.sdes.text",   "rtcp.length_check",
                                         "_ws.malformed",    "_ws.expert.severity"};

// tshark's arguments: the RTP to `rtpPort` and the RTCP from the next port, decoded as such.
std::vector<std::string> CaptureArguments(uint16_t rtpPort) {
    const std::string rtp = std::to_string(rtpPort);
    const std::string rtcp = std::to_string(rtpPort + 1);
    std::vector<std::string> arguments = {"-n", "-l",
                                          "-i", "lo",
                                          "-f", "udp port " + rtp + " or udp port " + rtcp,
                                          "-d", "udp.port==" + rtp + ",rtp",
                                          "-d", "udp.port==" + rtcp + ",rtcp",
                                          "-Y", "udp.dstport==" + rtp + " || udp.srcport==" + rtcp,
                                          "-T", "fields",
                                          "-E", "separator=/t"};
    for (const std::string& field : FIELDS) {
        arguments.push_back("-e");
        arguments.push_back(field);
    }
    return arguments;
}

// One RTCP datagram of the driver as the dissector read it.
struct Report {
    std::string types;  // packet types in order, "201,202"
    long fraction = -1;
    long cumulative = -1;
    int64_t highest = 0;
    std::string cname;
    bool wellFormed = false;
};

// What the capture saw: the driver's reports, and the RTP sequence numbers that reached it.
struct Seen {
    std::vector<Report> reports;
    std::vector<uint16_t> sequences;
};

Seen Read(const std::vector<std::string>& lines, uint16_t rtcpPort) {
    Seen seen;
    for (const std::string& line : lines) {
        const std::vector<std::string> f = Split(line, '\t');
        if (f.size() != FIELDS.size())
            continue;  // tshark's own words
        if (!f[1].empty()) {
            seen.sequences.push_back(static_cast<uint16_t>(std::stoul(f[1])));
            continue;
        }
        if (f[0] != std::to_string(rtcpPort) || f[2].empty())
            continue;
        Report report;
        report.types = f[2];
        report.fraction = f[3].empty() ? -1 : std::stol(f[3]);
        report.cumulative = f[4].empty() ? -1 : std::stol(f[4]);
        report.highest = f[5].empty() ? -1 : std::stoll(f[5]);
        report.cname = f[6];
        // Every packet's length checks out, and nothing is malformed or worth an expert's note.
        report.wellFormed =
            !f[7].empty() && f[7].find('0') == std::string::npos && f[8].empty() && f[9].empty();
        seen.reports.push_back(report);
    }
    return seen;
}

// Extended sequence numbers: the 16-bit numbers unwrapped from the first one's cycle.
std::vector<int64_t> Extend(const std::vector<uint16_t>& sequences) {
    std::vector<int64_t> extended;
    int64_t cycles = 0;
    for (size_t i = 0; i < sequences.size(); ++i) {
        if (i > 0 && sequences[i] < sequences[i - 1] && sequences[i - 1] - sequences[i] > 32768)
            cycles += 65536;
        extended.push_back(cycles + sequences[i]);
    }
    return extended;
}

}  // namespace

TEST(RtcpOnTheWire, CompoundReportsCarryTheLossAtTheirOwnRate) {
    if (!test::RunCommand("command -v tshark >/dev/null 2>&1"))
        GTEST_SKIP() << "tshark (Wireshark) is needed to read the RTCP on the wire";
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.driver.info.timeout2 = 30000;  // lost pictures must not end the session meanwhile
    camsim::RtpFaults faults;
    faults.lossPercent = 5;
    faults.seed = 11;
    rig.camera->Rtsp().SetRtpFaults(faults);
    rig.camera->Rtsp().SetSenderReportInterval(20);  // far faster than any report interval
    rig.camera->Rtsp().SetSessionFrameLimit(FRAMES);

    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    CAPTURE_PARAMS params = ChannelRig::Params();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(channel.Start(&params));
    ASSERT_TRUE(rig.sink.WaitForFrames(1, 15s));
    const uint16_t rtpPort = channel.GetRtpPort();
    const auto rtcpPort = static_cast<uint16_t>(rtpPort + 1);
    LiveCapture capture;
    std::string error;
    if (!capture.Start(CaptureArguments(rtpPort), error))
        GTEST_SKIP() << "capturing on the loopback interface is not permitted here: " << error;
    const auto fromDriver = [&](const std::string& line) {
        return line.rfind(std::to_string(rtcpPort) + "\t", 0) == 0;
    };
    // However long tshark took to start, a few reports are seen before the stop.
    for (int report = 0; report < 3; ++report)
        ASSERT_TRUE(capture.WaitForLine(fromDriver)) << "report " << report;
    ASSERT_TRUE(rig.camera->Rtsp().WaitUntil(
        [&] { return rig.camera->Rtsp().Totals().frames >= FRAMES; }, 60000));
    channel.Stop();
    const double runMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    // The goodbye is the driver's last datagram.
    EXPECT_TRUE(capture.WaitForLine([&](const std::string& line) {
        return fromDriver(line) && line.find(",203\t") != std::string::npos;
    }));
    capture.Stop();
    const camsim::RtspTotals totals = rig.camera->Rtsp().Totals();
    ASSERT_EQ(totals.sessions, 1u) << "one session throughout";

    const Seen seen = Read(capture.Lines(), rtcpPort);
    const std::vector<Report>& reports = seen.reports;
    ASSERT_GE(reports.size(), 4u) << "reports on the interval and the goodbye";
    const std::vector<int64_t> received = Extend(seen.sequences);
    ASSERT_FALSE(received.empty());
    const std::string cname = reports.front().cname;
    EXPECT_EQ(cname.size(), 16u);
    for (size_t i = 0; i < reports.size(); ++i) {
        const Report& report = reports[i];
        EXPECT_TRUE(report.wellFormed) << "report " << i;
        EXPECT_EQ(report.types, i + 1 < reports.size() ? "201,202" : "201,202,203") << i;
        EXPECT_EQ(report.cname, cname) << "report " << i;
        if (i == 0)
            continue;
        // The loss since the previous report is what the wire lacks between their highest
        // numbers, and the fraction is its share.
        const Report& previous = reports[i - 1];
        ASSERT_GE(report.highest, previous.highest) << "report " << i;
        const int64_t expected = report.highest - previous.highest;
        const auto arrived = std::count_if(received.begin(), received.end(), [&](int64_t s) {
            return s > previous.highest && s <= report.highest;
        });
        const long lost = static_cast<long>(expected - arrived);
        EXPECT_EQ(report.cumulative - previous.cumulative, lost) << "report " << i;
        EXPECT_EQ(report.fraction, lost <= 0 ? 0 : lost * 256 / expected) << "report " << i;
    }
    // About 5 % over the reports seen, and in all the camera's count but for losses after the
    // last packet that came.
    const Report& last = reports.back();
    const double share = static_cast<double>(last.cumulative - reports.front().cumulative) /
                         static_cast<double>(last.highest - reports.front().highest);
    EXPECT_GT(share, 0.03);
    EXPECT_LT(share, 0.07);
    EXPECT_LE(static_cast<uint64_t>(last.cumulative), totals.faults.lost);
    EXPECT_GE(static_cast<uint64_t>(last.cumulative) + 3, totals.faults.lost);
    // Not at the camera's rate: one at the first sender report, then at most one per shortest
    // interval, and the goodbye.
    EXPECT_LE(reports.size(), 2 + static_cast<size_t>(runMs / CRTCPReportSchedule::SHORTEST_MS));
    EXPECT_GT(totals.senderReports, 10 * reports.size());
}
