// The demo page in a real browser: headless Chromium, driven through its
// DevTools protocol, loads the page the live program serves while it plays a
// video made from the sample, and the page shows the eye positions it
// received. Skipped, saying so, where no Chromium is installed.
#include <fstream>
#include <regex>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "childProcess.h"
#include "headlessBrowser.h"
#include "support/tempFolder.h"
#include "tools/replay/sampleGenerator.h"

namespace quilo::live {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

// Resolves, once the page shows a face's eye positions over an open
// connection or once `waitMs` have passed, with what the page shows.
std::string PageShowsEyes(int waitMs) {
    return R"((() => new Promise((resolve) => {
  const deadline = performance.now() + )" +
           std::to_string(waitMs) + R"(;
  const look = () => {
    const state = document.getElementById('connection').dataset.state;
    const rightEye = document.getElementById('rightEye').textContent;
    const shown = state === 'open' && /^-?[0-9]+\.[0-9]  -?[0-9]+\.[0-9]  [0-9]+\.[0-9] mm$/.test(rightEye);
    if (shown || performance.now() > deadline) {
      resolve({shown, state, text: document.body.innerText});
    } else {
      setTimeout(look, 20);
    }
  };
  look();
}))())";
}

TEST(DemoPage, ShowsTheEyePositionsAndIsPhotographed) {
    const std::optional<fs::path> chromium = test::FindChromium();
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

    // The page connects and shows numbers once the feed has a face; under a
    // sanitizer on a busy machine that takes a while, so the page is asked
    // until then, with a deadline only as the bound for a page that never
    // gets there.
    test::HeadlessBrowser browser(*chromium, folder / "profile", 1000, 640);
    browser.Open(url, 60s);
    const nlohmann::json page = browser.Evaluate(PageShowsEyes(120000), 150s);
    ASSERT_TRUE(page.value("shown", false)) << "the page shows: " << page.dump(2) << "\n" << program.errors();
    EXPECT_EQ(page.value("state", ""), "open");

    const fs::path screenshots = QUILO_LIVE_SCREENSHOT_DIR;
    fs::create_directories(screenshots);
    const fs::path screenshot = screenshots / "demoPage.png";
    const std::vector<uint8_t> png = browser.Screenshot(60s);
    {
        std::ofstream file(screenshot, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    }
    EXPECT_GT(fs::file_size(screenshot), 10000u);
    const std::vector<uint8_t> signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_TRUE(png.size() > signature.size() && std::equal(signature.begin(), signature.end(), png.begin()));
    std::printf("demo page screenshot: %s\n", screenshot.string().c_str());

    program.Terminate();
    EXPECT_EQ(program.Wait(60s), std::optional<int>(0)) << program.errors();
}

}  // namespace
}  // namespace quilo::live
