// The live program's image sources and camera geometry, without a camera:
// video files written here, sequences made by the sample generator's format.
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "support/tempFolder.h"
#include "tools/live/source.h"
#include "tools/replay/sequence.h"

namespace quilo::live {
namespace {

namespace fs = std::filesystem;

TEST(FieldOfView, FocalLengthSpansTheImageWidth) {
    struct Case {
        int32_t width, height;
        double fov;
        float fx;  // expected; 0: refused
    };
    const Case cases[] = {
        {640, 480, 90.0, 320.0f}, {848, 480, 87.0, 446.80f}, {1280, 720, 60.0, 1108.51f},
        {640, 480, 0.5, 0.0f},    {640, 480, 180.0, 0.0f},   {0, 480, 60.0, 0.0f},
    };
    for (const Case& c : cases) {
        if (c.fx == 0.0f) {
            EXPECT_THROW(IntrinsicsFromFieldOfView(c.width, c.height, c.fov), std::invalid_argument);
            continue;
        }
        const CameraIntrinsics intrinsics = IntrinsicsFromFieldOfView(c.width, c.height, c.fov);
        EXPECT_NEAR(intrinsics.fx, c.fx, 0.01f) << c.fov;
        EXPECT_EQ(intrinsics.fy, intrinsics.fx);
        EXPECT_EQ(intrinsics.ppx, c.width / 2.0f);
        EXPECT_EQ(intrinsics.ppy, c.height / 2.0f);
    }
}

TEST(Calibration, FileIsReadOrRefusedNamingTheFault) {
    test::TempFolder folder;
    struct Case {
        std::string text;
        std::string error;  // empty: read, with fx 500
    };
    const Case cases[] = {
        {R"({"width": 640, "height": 480, "fx": 500, "fy": 501, "ppx": 320, "ppy": 240})", ""},
        {R"({"format": "x", "intrinsics": {"width": 640, "height": 480, "fx": 500, "fy": 501,
            "ppx": 320, "ppy": 240, "isMirrored": true}})",
         ""},
        {R"({"width": 640, "height": 480, "fy": 501, "ppx": 320, "ppy": 240})", "\"fx\" is missing"},
        {R"({"width": 640, "height": 480, "fx": -5, "fy": 501, "ppx": 320, "ppy": 240})", "fx and fy must be positive"},
        {R"({"width": 640.5, "height": 480, "fx": 5, "fy": 501, "ppx": 320, "ppy": 240})", "whole numbers"},
        {R"({"width": 640, "height": 480, "fx": 5, "fy": 5, "ppx": 320, "ppy": 240, "isMirrored": 1})", "isMirrored"},
        {R"([1, 2])", "expected a JSON object"},
        {"{nope", "not JSON"},
    };
    for (const Case& c : cases) {
        const fs::path path = folder / "calibration.json";
        std::ofstream(path) << c.text;
        if (c.error.empty()) {
            const CameraIntrinsics intrinsics = ReadCalibration(path);
            EXPECT_EQ(intrinsics.fx, 500.0f);
            EXPECT_EQ(intrinsics.fy, 501.0f);
            EXPECT_EQ(intrinsics.width, 640);
            continue;
        }
        try {
            ReadCalibration(path);
            ADD_FAILURE() << c.text;
        } catch (const SourceError& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("calibration.json"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(ReadCalibration(folder / "missing.json"), SourceError);
}

TEST(Calibration, ScalesWithTheImage) {
    CameraIntrinsics intrinsics = IntrinsicsFromFieldOfView(1280, 720, 70.0);
    const CameraIntrinsics half = ScaleIntrinsics(intrinsics, 640, 360);
    EXPECT_FLOAT_EQ(half.fx, intrinsics.fx / 2.0f);
    EXPECT_FLOAT_EQ(half.ppy, 180.0f);
    EXPECT_EQ(half.width, 640);
}

// A grey video of `frames` images, each filled with its number times 10.
void WriteVideo(const fs::path& path, int frames) {
    cv::VideoWriter writer(path.string(), cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0,
                           cv::Size(64, 48), true);
    ASSERT_TRUE(writer.isOpened());
    for (int i = 0; i < frames; ++i) writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(i * 10)));
}

TEST(VideoSource, GivesEveryImageAsGreyWithTheFilesTimesAndLoops) {
    test::TempFolder folder;
    const fs::path video = folder / "clip.avi";
    WriteVideo(video, 5);
    GeometryOptions geometry;
    geometry.fovDeg = 90.0;
    for (const bool loop : {false, true}) {
        const auto source = OpenVideo(video, geometry, /*fast=*/true, loop);
        EXPECT_EQ(source->Intrinsics().width, 64);
        EXPECT_FLOAT_EQ(source->Intrinsics().fx, 32.0f);
        EXPECT_FALSE(source->Live());
        std::vector<double> times;
        for (int i = 0; i < 12; ++i) {
            const auto image = source->Next();
            if (!image) break;
            ASSERT_EQ(image->grey.size(), 64u * 48u);
            EXPECT_NEAR(image->grey[100], (i % 5) * 10, 3) << i;
            times.push_back(image->timestampMs);
        }
        ASSERT_EQ(times.size(), loop ? 12u : 5u);
        for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], i * 40.0, 1e-6);
    }
}

TEST(Sources, ThatCannotBeOpenedAreRefusedNamingThem) {
    test::TempFolder folder;
    std::ofstream(folder / "garbage.avi") << "this is no video";
    GeometryOptions geometry;
    const auto message = [](const auto& open) {
        try {
            open();
        } catch (const SourceError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message([&] { OpenVideo(folder / "missing.avi", geometry, true, false); }).find("missing.avi: no such"),
              std::string::npos);
    EXPECT_NE(
        message([&] { OpenVideo(folder / "garbage.avi", geometry, true, false); }).find("garbage.avi: cannot read"),
        std::string::npos);
    EXPECT_NE(message([&] { OpenSequence(folder.path(), true, false); }).find("sequence.json"), std::string::npos);
    EXPECT_NE(message([&] { OpenWebcam((folder / "video99").string(), geometry, 0.0); }).find("cannot open the webcam"),
              std::string::npos);
}

TEST(SequenceSource, LoopsWithIncreasingTimestamps) {
    test::TempFolder folder;
    replay::Sequence sequence;
    sequence.intrinsics = IntrinsicsFromFieldOfView(8, 6, 60.0);
    sequence.frames = {{"a.pgm", 100.0, std::nullopt, std::nullopt}, {"b.pgm", 140.0, std::nullopt, std::nullopt}};
    replay::WriteSequence(folder.path(), sequence);
    std::ofstream(folder / "a.pgm", std::ios::binary) << "P5\n8 6\n255\n" << std::string(48, '\x10');
    std::ofstream(folder / "b.pgm", std::ios::binary) << "P5\n8 6\n255\n" << std::string(48, '\x20');
    const auto source = OpenSequence(folder.path(), true, true);
    const double expected[] = {100.0, 140.0, 180.0, 220.0, 260.0};
    for (double time : expected) {
        const auto image = source->Next();
        ASSERT_TRUE(image);
        EXPECT_DOUBLE_EQ(image->timestampMs, time);
        EXPECT_EQ(image->grey[0], time == 100.0 || time == 180.0 || time == 260.0 ? 0x10 : 0x20);
    }
}

}  // namespace
}  // namespace quilo::live
