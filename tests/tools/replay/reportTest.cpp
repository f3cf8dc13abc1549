// Figures and files made from replay results, on results built by hand.
#include "tools/replay/report.h"

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/tempFolder.h"

namespace quilo::replay {
namespace {

using ::testing::HasSubstr;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

FrameResult Delivered(size_t index, glm::vec3 position, glm::vec3 velocity = glm::vec3(0.0f)) {
    FrameResult frame;
    frame.index = index;
    frame.timestampMs = 1000.0 + 40.0 * static_cast<double>(index);
    frame.delivered = true;
    head::Face face;
    face.position = position;
    face.velocity = velocity;
    face.rawFaceIndex = 0;
    frame.faces.push_back(face);
    head::RawFace raw;
    raw.detectionIndex = 0;
    frame.rawFaces.push_back(raw);
    head::DetectedFace detection;
    detection.rightEyePixel = {100.0, 50.0};
    detection.leftEyePixel = {140.0, 51.0};
    frame.detections.push_back(detection);
    return frame;
}

TEST(Quantile, InterpolatesBetweenSortedValues) {
    EXPECT_DOUBLE_EQ(Quantile({3, 1, 2}, 0.5), 2.0);
    EXPECT_DOUBLE_EQ(Quantile({4, 1, 2, 3}, 0.5), 2.5);
    EXPECT_DOUBLE_EQ(Quantile({1, 2, 3, 4, 5}, 0.99), 4.96);
    EXPECT_DOUBLE_EQ(Quantile({7}, 0.95), 7.0);
    EXPECT_TRUE(std::isnan(Quantile({}, 0.5)));
}

TEST(Statistics, ErrorAndJitterAgainstTruth) {
    // A face that follows the truth with a white-noise error of known spread.
    ReplayResult result;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 2.0);
    const size_t n = 4000;
    for (size_t i = 0; i < n; ++i) {
        const glm::dvec3 truth(0.1 * i, -20.0, 700.0 + 0.5 * i);
        const glm::dvec3 error(noise(random), noise(random), noise(random));
        FrameResult frame = Delivered(i, glm::vec3(truth + error));
        frame.truth = truth;
        frame.detectorMs = static_cast<double>(i % 100);
        result.frames.push_back(frame);
    }
    result.frames[10].faces.clear();  // a frame without a face breaks the runs
    result.seconds = 2.0;

    const ReplayStatistics s = ComputeStatistics(result);
    EXPECT_EQ(s.frames, n);
    EXPECT_EQ(s.framesWithFace, n - 1);
    EXPECT_EQ(s.framesWithError, n - 1);
    EXPECT_DOUBLE_EQ(s.framesPerSecond, n / 2.0);
    EXPECT_NEAR(s.detectorMedianMs, 49.5, 1e-9);
    // The length of a 3D error with spread 2 per axis averages 2 * 1.596.
    EXPECT_NEAR(s.errorMeanMm, 3.19, 0.1);
    EXPECT_TRUE(s.jitterFromTruth);
    EXPECT_EQ(s.jitterFrames, n - 3);
    // sqrt(3) * 2: the root mean square length of the error itself.
    EXPECT_NEAR(s.jitterMm, std::sqrt(3.0) * 2.0, 0.1);
}

TEST(Statistics, JitterWithoutTruthCountsOnlyStillFrames) {
    ReplayResult result;
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (size_t i = 0; i < 3000; ++i) {
        // A steady glide at 0.01 mm/ms adds nothing to the second difference.
        const glm::dvec3 p(0.4 * i + noise(random), noise(random), 600.0 + noise(random));
        result.frames.push_back(Delivered(i, glm::vec3(p), glm::vec3(0.01f, 0.0f, 0.0f)));
    }
    // A fast move is left out.
    for (size_t i = 1000; i < 1100; ++i) {
        result.frames[i].faces[0].velocity = glm::vec3(0.5f, 0.0f, 0.0f);
        result.frames[i].faces[0].position.x += 1000.0f;
    }
    const ReplayStatistics s = ComputeStatistics(result);
    EXPECT_FALSE(s.jitterFromTruth);
    EXPECT_EQ(s.jitterFrames, 3000u - 2u - 102u);
    EXPECT_NEAR(s.jitterMm, std::sqrt(3.0), 0.08);
    EXPECT_EQ(s.framesWithError, 0u);
    EXPECT_THAT(FormatSummary(s), HasSubstr("jitter:             1.7"));
    EXPECT_THAT(FormatSummary(s), ::testing::Not(HasSubstr("3D error")));
}

TEST(FrameTable, EveryRowHasEveryColumn) {
    ReplayResult result;
    FrameResult empty;  // a frame without faces
    empty.index = 0;
    empty.timestampMs = 1000.0;
    empty.delivered = true;
    result.frames.push_back(empty);
    FrameResult two = Delivered(1, {1.5f, -2.0f, 650.25f});
    head::Face coasting;
    coasting.rawFaceIndex = -1;
    two.faces.push_back(coasting);
    two.truth = glm::dvec3(1.0, -2.0, 650.0);
    result.frames.push_back(two);

    test::TempFolder folder;
    WriteFrameTable(folder.path() / "frames.csv", result);
    const std::vector<std::string> lines = Lines(ReadText(folder.path() / "frames.csv"));
    ASSERT_EQ(lines.size(), 4u);
    const auto columns = [](const std::string& line) { return std::count(line.begin(), line.end(), ',') + 1; };
    for (const std::string& line : lines) EXPECT_EQ(columns(line), 25) << line;
    EXPECT_THAT(lines[0], ::testing::StartsWith("frame,timestamp_ms,face,position_x"));
    EXPECT_THAT(lines[1], ::testing::StartsWith("0,1000.000,,"));
    EXPECT_THAT(lines[2], ::testing::StartsWith("1,1040.000,0,1.50,-2.00,650.25,"));
    EXPECT_THAT(lines[2], HasSubstr(",100.00,50.00,140.00,51.00,1.00,-2.00,650.00,"));
    // The coasting face has no detection: its eye columns are empty.
    EXPECT_THAT(lines[3], HasSubstr(",,,,,,,,,,,1.00,-2.00,650.00,"));
}

TEST(TrajectoryPlot, DrawsTrackedAndTruePathsWithEscapedTitle) {
    ReplayResult result;
    for (size_t i = 0; i < 5; ++i) {
        FrameResult frame = Delivered(i, {float(i), 0.0f, 600.0f});
        if (i != 2) frame.truth = glm::dvec3(i, 1.0, 601.0);
        result.frames.push_back(frame);
    }
    test::TempFolder folder;
    WriteTrajectoryPlot(folder.path() / "plot.svg", result, "a <b> & c");
    const std::string svg = ReadText(folder.path() / "plot.svg");
    EXPECT_THAT(svg, ::testing::StartsWith("<svg xmlns=\"http://www.w3.org/2000/svg\""));
    EXPECT_THAT(svg, HasSubstr("a &lt;b&gt; &amp; c"));
    EXPECT_THAT(svg, ::testing::EndsWith("</svg>\n"));
    // Three panels, each with one tracked line and a truth line broken at frame 2.
    size_t polylines = 0;
    for (size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1)) ++polylines;
    EXPECT_EQ(polylines, 3u * 3u);
}

}  // namespace
}  // namespace quilo::replay
