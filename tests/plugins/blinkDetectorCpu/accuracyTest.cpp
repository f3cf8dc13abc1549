// Accuracy of the CPU face detector on the real photographs the repository
// carries; realDataTest.cpp has the crowds of faces and the video kept outside it.
#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "blinkDetectorCpu/support.h"

namespace quilo::head::cpu::test {
namespace {

// A found face for an annotation: eyes midway within half an eye distance of
// the true midpoint, at a similar eye distance.
double NormalisedError(const Landmarks& face, const EyeAnnotation& truth) {
    const cv::Point2f r = EyeCentre(face, kRightEyeFirst), l = EyeCentre(face, kLeftEyeFirst);
    const cv::Point2d right(r.x, r.y), left(l.x, l.y);
    const double distance = truth.EyeDistance();
    const cv::Point2d midpointOffset = (right + left) * 0.5 - (truth.rightEye + truth.leftEye) * 0.5;
    const double ratio = cv::norm(left - right) / distance;
    if (cv::norm(midpointOffset) > 0.5 * distance || ratio < 0.5 || ratio > 2.0) return -1.0;
    return std::max(cv::norm(right - truth.rightEye), cv::norm(left - truth.leftEye)) / distance;
}

// Each set of landmark models this build has.
std::vector<std::pair<const char*, LandmarkScheme>> Schemes() {
    std::vector<std::pair<const char*, LandmarkScheme>> schemes = {{"dlib68", LandmarkScheme::kDlib68}};
    if (QUILO_HAVE_MEDIAPIPE) schemes.emplace_back("mediapipe", LandmarkScheme::kMediaPipe);
    return schemes;
}

TEST(BlinkDetectorCpuAccuracy, HandPlacedEyesOfThePortrait) {
    const auto truth = LoadEyeAnnotations(ProjectData(kAstronautEyes));
    ASSERT_EQ(truth.size(), 1u);
    for (const auto& [name, scheme] : Schemes()) {
        auto detector = MakeDetector(InlineSettings(), scheme);
        const auto faces = detector->FindAllFaces(LoadGrey(ProjectData(kAstronautPhoto)));
        ASSERT_EQ(faces.size(), 1u) << name;
        const double error = NormalisedError(faces[0], truth[0]);
        std::cout << fmt::format("astronaut ({}): normalised eye error {:.3f}\n", name, error);
        EXPECT_GE(error, 0.0) << name;
        EXPECT_LE(error, 0.05) << name;
    }
}

// A still viewer in front of a noisy sensor: the eyes the detector follows
// stay put.
TEST(BlinkDetectorCpuAccuracy, EyesOfAStillFaceHardlyJitter) {
    // About 52 px between the eyes: a viewer 0.55 m from the camera.
    const cv::Mat still = Compose(cv::Size(848, 480), 60, {{LoadGrey(ProjectData(kAstronautPhoto)), 1.2, {150, -40}}});
    ASSERT_FALSE(still.empty());
    for (const auto& [name, scheme] : Schemes()) {
        auto detector = MakeDetector(InlineSettings(), scheme);
        // Sensor noise: Gaussian read noise of 2 grey levels plus shot noise
        // growing with the brightness (a standard deviation of 3.5 at mid grey).
        std::mt19937 random(8);
        std::normal_distribution<float> unit(0.0f, 1.0f);
        cv::Mat noisy(still.size(), CV_8UC1);
        const int frames = kSanitized ? 30 : 100;
        std::vector<glm::dvec2> right, left;
        for (int i = 0; i < frames; ++i) {
            for (int p = 0; p < still.rows * still.cols; ++p) {
                const float value = still.data[p];
                noisy.data[p] = cv::saturate_cast<uint8_t>(value + unit(random) * std::sqrt(4.0f + value / 16.0f));
            }
            TestFrame frame(noisy, nullptr, 11.1 * i);
            const auto& faces = detector->DetectFaces(frame).detections;
            ASSERT_EQ(faces.size(), 1u) << "frame " << i;
            right.push_back(faces[0].rightEyePixel);
            left.push_back(faces[0].leftEyePixel);
        }
        auto deviation = [](const std::vector<glm::dvec2>& points) {
            glm::dvec2 mean(0.0), square(0.0);
            for (const auto& p : points) mean += p;
            mean /= static_cast<double>(points.size());
            for (const auto& p : points) square += (p - mean) * (p - mean);
            const glm::dvec2 sd = glm::sqrt(square / static_cast<double>(points.size()));
            return std::max(sd.x, sd.y);
        };
        const double jitter = std::max(deviation(right), deviation(left));
        std::cout << fmt::format(
            "eye jitter ({}) over {} noisy frames: {:.3f} px (standard deviation, worst coordinate)\n", name, frames,
            jitter);
        EXPECT_LT(jitter, 0.5) << name;
    }
}

// The compact evaluation of the landmark model places the landmarks where
// dlib's own shape predictor does (dlib rounds them to whole pixels).
TEST(BlinkDetectorCpuAccuracy, LandmarksAsDlibPlacesThem) {
    dlib::shape_predictor reference;
    dlib::deserialize((BuildAssets() / kLandmarkModelAsset).string()) >> reference;
    const auto model = SharedModel();
    // Two people side by side, one smaller.
    const cv::Mat image = Compose(cv::Size(848, 480), 60,
                                  {{LoadGrey(ProjectData(kAstronautPhoto)), 0.8, {20, 40}},
                                   {LoadGrey(ProjectData("tests/data/grace_hopper.jpg")), 0.6, {480, 60}}});
    auto detector = MakeDetector();
    const auto faces = detector->FindAllFaces(image);
    ASSERT_EQ(faces.size(), 2u);
    double worst = 0.0;
    for (const Landmarks& face : faces) {
        // Off the usual place a little, and far off: both models must agree anywhere.
        const FaceBox around = LandmarkModel::BoxAround(face);
        for (const FaceBox& box :
             {around, FaceBox(around.x + 7, around.y - 4, around.width * 1.3f, around.height * 1.3f)}) {
            // dlib's boxes lie on whole pixels: both start from the same one.
            const dlib::rectangle pixels(std::lround(box.x), std::lround(box.y), std::lround(box.x + box.width),
                                         std::lround(box.y + box.height));
            const auto theirs = reference(dlib::cv_image<uint8_t>(image), pixels);
            Landmarks ours;
            model->Predict(image,
                           FaceBox(static_cast<float>(pixels.left()), static_cast<float>(pixels.top()),
                                   static_cast<float>(pixels.right() - pixels.left()),
                                   static_cast<float>(pixels.bottom() - pixels.top())),
                           &ours);
            for (int k = 0; k < kLandmarkCount; ++k) {
                worst = std::max(worst, static_cast<double>(std::abs(ours[k].x - theirs.part(k).x())));
                worst = std::max(worst, static_cast<double>(std::abs(ours[k].y - theirs.part(k).y())));
            }
        }
    }
    EXPECT_LE(worst, 0.501) << "largest difference from dlib's rounded landmarks, px";
}

TEST(BlinkDetectorCpuAccuracy, ProfileIsNoFrontalFace) {
    auto detector = MakeDetector();
    EXPECT_TRUE(detector->FindAllFaces(LoadGrey(ProjectData("tests/data/camera.png"))).empty());
}

}  // namespace
}  // namespace quilo::head::cpu::test
