// The built tavrin-host against the bundled camera simulator, judged by its exit code, its files,
// ffprobe, and its report as headless Chromium renders it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "support/media.h"

namespace {

const std::string kHost = std::string(TAVRIN_BINARY_DIR) + "/tools/tavrin-host";

// Exit status of `command` run by the shell, -1 when it did not end normally.
int ExitStatus(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// First number after `"name": ` in `json`; -1 when absent.
long JsonNumber(const std::string& json, const std::string& name) {
    std::smatch match;
    if (!std::regex_search(json, match, std::regex("\"" + name + "\": ([0-9]+)")))
        return -1;
    return std::stol(match[1]);
}

// ffprobe's codec, size and decoded frame count of the first video stream, one per line.
std::string Probe(const std::string& file, const std::string& scratch) {
    const std::string out = scratch + "/probe.txt";
    test::RunCommand("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                     "stream=codec_name,width,height,nb_read_frames -of default=nw=1 '" +
                     file + "' > '" + out + "'");
    return test::ReadText(out);
}

size_t Occurrences(const std::string& text, const std::string& fragment) {
    size_t n = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1))
        ++n;
    return n;
}

struct PixelCounts {
    size_t pixels = 0;
    size_t nonWhite = 0;
    size_t colours = 0;
};

// The picture's pixels as ffmpeg decodes them to RGB.
PixelCounts CountPixels(const std::string& png, const std::string& scratch) {
    const std::string raw = scratch + "/shot.rgb";
    PixelCounts counts;
    if (!test::RunCommand("ffmpeg -nostdin -hide_banner -v error -y -i '" + png +
                          "' -f rawvideo -pix_fmt rgb24 '" + raw + "'"))
        return counts;
    std::ifstream file(raw, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3) {
        const uint32_t rgb = static_cast<uint8_t>(bytes[i]) << 16 |
                             static_cast<uint8_t>(bytes[i + 1]) << 8 |
                             static_cast<uint8_t>(bytes[i + 2]);
        ++counts.pixels;
        counts.nonWhite += rgb != 0xffffff;
        colours.insert(rgb);
    }
    counts.colours = colours.size();
    return counts;
}

// Chromium's console messages among its log lines ("...:INFO:CONSOLE:1] ...").
std::string ConsoleLines(const std::string& log) {
    std::string out;
    std::regex console(".*:CONSOLE[:(].*");
    for (std::sregex_iterator it(log.begin(), log.end(), console), end; it != end; ++it)
        out += it->str() + "\n";
    return out;
}

}  // namespace

TEST(HostRun, DefaultRunWritesA1080pH264FileAndItsSummary) {
    ASSERT_FALSE(test::MediaDir().empty());
    const std::string scratch = test::OutputDir();
    const std::string out = scratch + "/out";
    // Without --media the simulator serves the build tree's reference media.
    ASSERT_EQ(ExitStatus("'" + kHost + "' --seconds 3 --out '" + out + "' > '" + scratch +
                         "/stdout.txt' 2>&1"),
              0)
        << test::ReadText(scratch + "/stdout.txt");
    const std::string json = test::ReadText(out + "/summary.json");
    const long frames = JsonNumber(json, "frames");
    EXPECT_GE(frames, 40) << json;  // 25 fps for 3 s, less the set-up
    EXPECT_LE(frames, 80) << json;
    EXPECT_GE(JsonNumber(json, "key_frames"), 2) << json;
    EXPECT_EQ(JsonNumber(json, "dropped_frames"), 0) << json;
    EXPECT_NE(json.find("\"codec\": \"h264\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"interrupted\": false"), std::string::npos) << json;
    EXPECT_NE(json.find("\"opened\": 1"), std::string::npos) << json;
    EXPECT_EQ(Probe(out + "/channel-0.h264", scratch),
              "codec_name=h264\nwidth=1920\nheight=1080\nnb_read_frames=" +
                  std::to_string(frames) + "\n");
    // The file ends with the last whole frame: a strict decode has nothing to report.
    const std::string errors = scratch + "/decode-errors.txt";
    EXPECT_TRUE(test::RunCommand("ffmpeg -nostdin -hide_banner -v error -xerror -i '" + out +
                                 "/channel-0.h264' -f null - 2>'" + errors + "'"));
    EXPECT_EQ(test::ReadText(errors), "");
    // The run probed the camera first and printed what it found.
    const std::string printed = test::ReadText(scratch + "/stdout.txt");
    EXPECT_NE(printed.find("Capability query of 127.0.0.1:"), std::string::npos) << printed;
    EXPECT_TRUE(std::regex_search(printed, std::regex("3 Camera group +3\n"))) << printed;
}

TEST(HostRun, ProbePrintsValidJsonOfTheBundledCamera) {
    const std::string scratch = test::OutputDir();
    const std::string json = scratch + "/probe.json";
    ASSERT_EQ(ExitStatus("'" + kHost + "' probe --json --model VCC-HD4000 > '" + json + "' 2>&1"), 0)
        << test::ReadText(json);
    EXPECT_EQ(ExitStatus("python3 -m json.tool '" + json + "' > /dev/null"), 0)
        << test::ReadText(json);
    const std::string text = test::ReadText(json);
    EXPECT_NE(text.find("\"succeeded\": true"), std::string::npos) << text;
    EXPECT_NE(text.find("{\"number\": 3, \"name\": \"Camera group\", \"value\": \"2\", \"flag\": 0}"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"model\": \"Sanyo VCC-HD4000\""), std::string::npos) << text;
}

TEST(HostRun, ProbeOfACameraThatIsNotThereFails) {
    const std::string scratch = test::OutputDir();
    const std::string out = scratch + "/probe.txt";
    // Port 1 on loopback: nothing listens there.
    EXPECT_EQ(ExitStatus("'" + kHost + "' probe --address 127.0.0.1 --port 1 > '" + out + "' 2>&1"), 1)
        << test::ReadText(out);
    const std::string text = test::ReadText(out);
    EXPECT_NE(text.find("failed (code 3)"), std::string::npos) << text;
    EXPECT_NE(text.find("Failed to get camera properties"), std::string::npos) << text;
}

TEST(HostRun, InterruptStopsCleanlyAndStillWritesTheSummary) {
    ASSERT_FALSE(test::MediaDir().empty());
    const std::string scratch = test::OutputDir();
    const std::string out = scratch + "/out";
    // SIGINT after 3 s of a 60 s run; the host's own status is kept.
    ASSERT_EQ(ExitStatus("timeout --preserve-status -s INT 3 '" + kHost + "' --media '" +
                  test::MediaDir() + "' --codec 1 --seconds 60 --out '" + out + "' > '" +
                  scratch + "/stdout.txt' 2>&1"),
              0)
        << test::ReadText(scratch + "/stdout.txt");
    const std::string json = test::ReadText(out + "/summary.json");
    EXPECT_NE(json.find("\"interrupted\": true"), std::string::npos) << json;
    EXPECT_NE(json.find("\"codec\": \"mjpeg\""), std::string::npos) << json;
    const long frames = JsonNumber(json, "frames");
    EXPECT_GT(frames, 0) << json;
    EXPECT_EQ(JsonNumber(json, "key_frames"), frames) << json;
    EXPECT_EQ(Probe(out + "/channel-0.mjpeg", scratch),
              "codec_name=mjpeg\nwidth=1280\nheight=720\nnb_read_frames=" +
                  std::to_string(frames) + "\n");
}

TEST(HostRun, ACameraThatSendsNothingGivesAFailingExitCode) {
    const std::string scratch = test::OutputDir();
    // No media: the simulator answers RTSP, but its stream paths are unknown.
    EXPECT_EQ(ExitStatus("'" + kHost + "' --media '' --seconds 2 --out '" + scratch + "/out' > '" +
                         scratch + "/stdout.txt' 2>&1"),
              1)
        << test::ReadText(scratch + "/stdout.txt");
    const std::string json = test::ReadText(scratch + "/out/summary.json");
    EXPECT_EQ(JsonNumber(json, "frames"), 0) << json;
}

// report.html as a person sees it: the page of a run with alarm inputs and motion shows a picture
// and the browser reports nothing on its console.
TEST(HostReport, ChromiumRendersTheRunReportWithoutAComplaint) {
    if (!test::RunCommand("command -v chromium >/dev/null 2>&1"))
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
    ASSERT_FALSE(test::MediaDir().empty());
    const std::string scratch = test::OutputDir();
    const std::string out = scratch + "/out";
    ASSERT_EQ(ExitStatus("'" + kHost + "' --media '" + test::MediaDir() +
                         "' --seconds 5 --io --motion --alarm 100:input0=1 --alarm 100:motion=1 "
                         "--alarm 2500:motion=0 --out '" +
                         out + "' > '" + scratch + "/stdout.txt' 2>&1"),
              0)
        << test::ReadText(scratch + "/stdout.txt");
    const std::string json = test::ReadText(out + "/summary.json");
    const std::string html = test::ReadText(out + "/report.html");
    ASSERT_FALSE(html.empty()) << test::ReadText(scratch + "/stdout.txt");
    EXPECT_NE(html.find("src=\"data:image/png;base64,"), std::string::npos)
        << "the contact sheet is inlined";

    const std::string shot = scratch + "/shot.png";
    const std::string dom = scratch + "/dom.html";
    const std::string log = scratch + "/chromium.txt";
    ASSERT_TRUE(test::RunCommand(
        "timeout 60 chromium --headless --no-sandbox --disable-gpu --enable-logging=stderr "
        "--v=0 --user-data-dir='" +
        scratch + "/profile' --window-size=1200,2000 --screenshot='" + shot +
        "' --dump-dom 'file://" + out + "/report.html' > '" + dom + "' 2> '" + log + "'"))
        << test::ReadText(log);
    EXPECT_EQ(ConsoleLines(test::ReadText(log)), "");

    // The page as the browser parsed it: a timeline for the channel and one for the inputs,
    // the motion span and the input lane, and no script anywhere.
    const std::string page = test::ReadText(dom);
    EXPECT_EQ(Occurrences(page, "<svg"), 2u) << page.substr(0, 2000);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_GE(JsonNumber(json, "motion_records"), 1) << json;
    EXPECT_NE(page.find("motion from "), std::string::npos);
    EXPECT_GE(JsonNumber(json, "input_changes"), 1) << json;
    EXPECT_NE(page.find(">input 0</text>"), std::string::npos);

    // Not blank: text, lines, shaded lanes and the contact sheet's pictures.
    const PixelCounts pixels = CountPixels(shot, scratch);
    ASSERT_GT(pixels.pixels, 0u) << "no screenshot";
    EXPECT_GT(pixels.nonWhite, pixels.pixels / 20) << pixels.nonWhite << " of " << pixels.pixels;
    EXPECT_GE(pixels.colours, 256u);
}
