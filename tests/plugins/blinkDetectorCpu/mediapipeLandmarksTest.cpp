// The crops MediaPipe's models look at and the way their points come back
// into the image: an error of a pixel here is an error of every eye.
#include <cmath>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#if QUILO_HAVE_MEDIAPIPE
#include "plugins/blinkDetectorCpu/mediapipeLandmarks.h"
#endif

namespace quilo::head::cpu::test {
namespace {

#if QUILO_HAVE_MEDIAPIPE
using Region = MediaPipeLandmarks::Region;

// The brightness-weighted centre of what is brighter than half the peak.
cv::Point2f BrightCentre(const cv::Mat& image) {
    double peak = 0.0;
    cv::minMaxLoc(image, nullptr, &peak);
    cv::Mat mask = image > peak / 2;
    const cv::Moments m = cv::moments(mask & image, false);
    return {static_cast<float>(m.m10 / m.m00), static_cast<float>(m.m01 / m.m00)};
}

// A bright spot in the image shows in the crop where ToImage says the crop's
// point lies, turned, mirrored, shrunk, near and beyond the border.
TEST(MediaPipeLandmarks, CropAndPointsBackAgree) {
    struct Case {
        const char* what;
        cv::Point2f spot;
        Region region;
        int size;
        bool mirror;
    };
    constexpr float kDegree = static_cast<float>(CV_PI) / 180.0f;
    const Case cases[] = {
        {"upright, same scale", {300.0f, 200.0f}, {{310.0f, 190.0f}, 64.0f, 0.0f}, 64, false},
        {"upright, shrunk 3x", {300.0f, 200.0f}, {{320.0f, 180.0f}, 576.0f, 0.0f}, 192, false},
        {"turned 30 degrees", {300.0f, 200.0f}, {{280.0f, 215.0f}, 150.0f, 30.0f * kDegree}, 64, false},
        {"turned -45 degrees, shrunk", {300.0f, 200.0f}, {{330.0f, 230.0f}, 400.0f, -45.0f * kDegree}, 192, false},
        {"mirrored", {300.0f, 200.0f}, {{290.0f, 205.0f}, 80.0f, 0.0f}, 64, true},
        {"mirrored and turned", {300.0f, 200.0f}, {{310.0f, 195.0f}, 120.0f, 20.0f * kDegree}, 64, true},
        {"square beyond the border", {20.0f, 15.0f}, {{10.0f, 5.0f}, 300.0f, 10.0f * kDegree}, 192, false},
    };
    for (const Case& c : cases) {
        cv::Mat image(480, 640, CV_8U, cv::Scalar(0));
        // A blurred spot a few crop pixels wide, so that its centre survives any scale.
        const float sigma = std::max(1.5f, 1.5f * c.region.side / static_cast<float>(c.size));
        for (int y = 0; y < image.rows; ++y) {
            for (int x = 0; x < image.cols; ++x) {
                const float d2 = (x - c.spot.x) * (x - c.spot.x) + (y - c.spot.y) * (y - c.spot.y);
                image.at<uint8_t>(y, x) = cv::saturate_cast<uint8_t>(250.0f * std::exp(-d2 / (2 * sigma * sigma)));
            }
        }
        const cv::Mat crop = MediaPipeLandmarks::Crop(image, c.region, c.size, c.mirror);
        ASSERT_EQ(crop.size(), cv::Size(c.size, c.size)) << c.what;
        // Crop pixel centres sit half a pixel past the models' whole numbers.
        const cv::Point2f inCrop = BrightCentre(crop) + cv::Point2f(0.5f, 0.5f);
        const cv::Point2f back = MediaPipeLandmarks::ToImage(c.region, c.size, c.mirror, inCrop);
        const float scale = c.region.side / static_cast<float>(c.size);
        EXPECT_LT(cv::norm(back - c.spot), 0.25f * scale + 0.25f)
            << c.what
            << fmt::format(": spot ({}, {}) came back at ({:.2f}, {:.2f})", c.spot.x, c.spot.y, back.x, back.y);
    }
}

// Mirroring turns the crop left to right and nothing else.
TEST(MediaPipeLandmarks, MirroredCropIsTheCropFlipped) {
    cv::Mat image(200, 200, CV_8U);
    cv::randu(image, 0, 255);
    cv::GaussianBlur(image, image, cv::Size(5, 5), 1.5);
    for (const Region& region : {Region{{100.0f, 100.0f}, 64.0f, 0.0f}, Region{{90.0f, 110.0f}, 100.0f, 0.3f}}) {
        cv::Mat plain = MediaPipeLandmarks::Crop(image, region, 64, false), flipped;
        cv::flip(plain, flipped, 1);
        cv::Mat difference;
        cv::absdiff(flipped, MediaPipeLandmarks::Crop(image, region, 64, true), difference);
        double worst = 0.0;
        cv::minMaxLoc(difference, nullptr, &worst);
        EXPECT_LE(worst, 1.0) << "roll " << region.roll;
    }
}
#else
TEST(MediaPipeLandmarks, NotInThisBuild) { GTEST_SKIP() << "built without OpenCV's dnn module"; }
#endif

}  // namespace
}  // namespace quilo::head::cpu::test
