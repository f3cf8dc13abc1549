// The demo page in a real browser: headless Chromium loads the page the live
// program serves while it plays a video made from the sample, and the page
// shows the eye positions it received. Skipped, saying so, where no Chromium
// is installed.
#include <regex>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "childProcess.h"
#include "support/tempFolder.h"
#include "tools/replay/sampleGenerator.h"

namespace quilo::live {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::optional<fs::path> FindChromium() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        std::error_code error;
        if (fs::exists(candidate, error)) return fs::path(candidate);
    }
    return std::nullopt;
}

// The sample's path as a 30 fps video, 60 frames.
void WriteSampleVideo(const fs::path& folder, const fs::path& video) {
    const fs::path sampleFolder = fs::path(QUILO_SOURCE_DIR) / "tools/replay/sample";
    const replay::GreyImage photo = replay::ReadPhotoAsGrey(sampleFolder / "astronaut.png");
    const replay::EyePixels eyes = replay::ReadEyePixels(sampleFolder / "astronaut-eyes.csv", "astronaut.png");
    replay::SampleOptions options;
    options.frameCount = 60;
    options.pathStep = 2;
    const replay::Sequence sequence = replay::GenerateSample(photo, eyes, options, folder);
    cv::VideoWriter writer(video.string(), cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0,
                           cv::Size(sequence.intrinsics.width, sequence.intrinsics.height), true);
    ASSERT_TRUE(writer.isOpened());
    for (const replay::SequenceFrame& frame : sequence.frames) {
        const replay::GreyImage image = replay::ReadGreyImage(folder / frame.image);
        const cv::Mat grey(image.height, image.width, CV_8UC1, const_cast<uint8_t*>(image.pixels.data()));
        cv::Mat colour;
        cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
        writer.write(colour);
    }
}

// Chromium, headless, with a profile of its own, on `url`; its output.
struct BrowserRun {
    std::optional<int> exitCode;
    std::string output;
};
BrowserRun RunChromium(const fs::path& chromium, const fs::path& profile, std::vector<std::string> arguments,
                       const std::string& url) {
    std::vector<std::string> all = {"--headless",
                                    "--no-sandbox",
                                    "--disable-gpu",
                                    "--no-first-run",
                                    "--user-data-dir=" + profile.string(),
                                    "--window-size=1000,640",
                                    "--virtual-time-budget=5000"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    all.push_back(url);
    test::ChildProcess browser(chromium.string(), all);
    BrowserRun run;
    run.exitCode = browser.Wait(120s);
    run.output = browser.output();
    return run;
}

TEST(DemoPage, ShowsTheEyePositionsAndIsPhotographed) {
    const std::optional<fs::path> chromium = FindChromium();
    if (!chromium) GTEST_SKIP() << "no chromium installed: the demo page is not tried in a browser";

    test::TempFolder folder;
    const fs::path video = folder / "sample.avi";
    WriteSampleVideo(folder / "frames", video);
    test::ChildProcess program(QUILO_LIVE_PROGRAM, {"--video", video.string(), "--loop", "--fov", "87", "--quiet",
                                                    "--http", "0", "--websocket", "0"});
    std::smatch match;
    ASSERT_TRUE(program.WaitForLine(std::regex("demo page: (http://127\\.0\\.0\\.1:[0-9]+/)"), &match, 30s))
        << program.output();
    const std::string url = match[1].str();
    ASSERT_TRUE(program.WaitForLine(std::regex("tracking from"), &match, 60s)) << program.output();

    // The page shows numbers once the feed has a face; the detector may need
    // a moment, so the page is loaded again until then.
    const std::regex eyesShown("id=\"rightEye\">-?[0-9]+\\.[0-9]  -?[0-9]+\\.[0-9]  [0-9]+\\.[0-9] mm<");
    std::string dom;
    bool shown = false;
    for (int attempt = 0; attempt < 10 && !shown; ++attempt) {
        const BrowserRun run = RunChromium(*chromium, folder / "profile", {"--dump-dom"}, url);
        ASSERT_TRUE(run.exitCode) << "chromium did not end";
        dom = run.output;
        shown = std::regex_search(dom, eyesShown);
    }
    ASSERT_TRUE(shown) << dom;
    EXPECT_NE(dom.find("data-state=\"open\""), std::string::npos);

    const fs::path screenshots = QUILO_LIVE_SCREENSHOT_DIR;
    fs::create_directories(screenshots);
    const fs::path screenshot = screenshots / "demoPage.png";
    fs::remove(screenshot);
    const BrowserRun run = RunChromium(*chromium, folder / "profile", {"--screenshot=" + screenshot.string()}, url);
    ASSERT_TRUE(run.exitCode);
    EXPECT_TRUE(fs::exists(screenshot)) << run.output;
    EXPECT_GT(fs::file_size(screenshot), 10000u);
    std::printf("demo page screenshot: %s\n", screenshot.string().c_str());

    program.Terminate();
    EXPECT_EQ(program.Wait(60s), std::optional<int>(0)) << program.errors();
}

}  // namespace
}  // namespace quilo::live
