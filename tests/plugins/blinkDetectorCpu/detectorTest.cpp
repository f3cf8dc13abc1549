// The CPU face detector on real faces: what it reports, how it follows faces
// and what it does with frames it cannot use.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "blinkDetectorCpu/support.h"

namespace quilo::head::cpu::test {
namespace {

const cv::Size kFrameSize(848, 480);

cv::Mat Astronaut() { return LoadGrey(ProjectData(kAstronautPhoto)); }

// The portrait in the middle of an 848 x 480 frame, and where its hand-placed
// eyes lie there.
struct Placed {
    cv::Mat frame;
    cv::Point2d rightEye, leftEye;
};
Placed AstronautInFrame() {
    const cv::Point offset(168, -16);
    const EyeAnnotation eyes = LoadEyeAnnotations(ProjectData(kAstronautEyes)).at(0);
    return {Compose(kFrameSize, 60, {{Astronaut(), 1.0, offset}}), eyes.rightEye + cv::Point2d(offset),
            eyes.leftEye + cv::Point2d(offset)};
}

CameraIntrinsics Intrinsics(float fx, bool mirrored = false) {
    return CentredIntrinsics(kFrameSize.width, kFrameSize.height, fx, mirrored);
}

cv::Point2d Pixel(const glm::dvec2& p) { return {p.x, p.y}; }

class BlinkDetectorCpuTest : public ::testing::Test {
protected:
    void SetUp() override {
        placed_ = AstronautInFrame();
        ASSERT_FALSE(placed_.frame.empty());
    }
    Placed placed_;
};

TEST_F(BlinkDetectorCpuTest, ReportsThePersonsRightEyeAsTheRightEye) {
    auto detector = MakeDetector();
    TestFrame frame(placed_.frame);
    const auto faces = detector->DetectFaces(frame).detections;
    ASSERT_EQ(faces.size(), 1u);
    const double distance = cv::norm(placed_.leftEye - placed_.rightEye);
    EXPECT_LT(cv::norm(Pixel(faces[0].rightEyePixel) - placed_.rightEye), 0.05 * distance);
    EXPECT_LT(cv::norm(Pixel(faces[0].leftEyePixel) - placed_.leftEye), 0.05 * distance);

    // With mirrored images the eye on the image's left is the person's left eye.
    detector->OnCameraIntrinsicsChange(Intrinsics(600, true));
    const auto& mirrored = detector->DetectFaces(frame).detections;
    ASSERT_EQ(mirrored.size(), 1u);
    EXPECT_LT(glm::distance(mirrored[0].rightEyePixel, faces[0].leftEyePixel), 1.0);
    EXPECT_LT(glm::distance(mirrored[0].leftEyePixel, faces[0].rightEyePixel), 1.0);
}

TEST_F(BlinkDetectorCpuTest, DepthComesFromTheFrameRobustly) {
    auto detector = MakeDetector();
    detector->OnCameraIntrinsicsChange(Intrinsics(600));
    // 0.85 m with holes, unreadable and wild values here and there.
    TestFrame frame(placed_.frame, [](glm::dvec2 pixel, float* depth) {
        const int x = static_cast<int>(pixel.x), y = static_cast<int>(pixel.y);
        if ((x + y) % 4 == 0) {
            *depth = 0.0f;
        } else if ((x * y) % 7 == 0) {
            *depth = std::numeric_limits<float>::quiet_NaN();
        } else if ((x + 2 * y) % 9 == 0) {
            *depth = 40.0f;
        } else {
            *depth = 0.85f;
        }
        return true;
    });
    const auto& faces = detector->DetectFaces(frame).detections;
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_FLOAT_EQ(faces[0].rightEyeDepth, 0.85f);
    EXPECT_FLOAT_EQ(faces[0].leftEyeDepth, 0.85f);
    // headPosition: the point between the eyes, metres.
    const glm::dvec2 middle = (faces[0].rightEyePixel + faces[0].leftEyePixel) * 0.5;
    EXPECT_NEAR(faces[0].headPosition.x, (middle.x - 424.0) / 600.0 * 0.85, 1e-5);
    EXPECT_NEAR(faces[0].headPosition.y, (middle.y - 240.0) / 600.0 * 0.85, 1e-5);
    EXPECT_FLOAT_EQ(faces[0].headPosition.z, 0.85f);
}

TEST_F(BlinkDetectorCpuTest, DepthOfTheFaceWhenTheEyesHaveNone) {
    auto detector = MakeDetector();
    // No valid depth near the eyes (glasses reflect the projector), 0.9 m elsewhere.
    const cv::Point2d right = placed_.rightEye, left = placed_.leftEye;
    TestFrame frame(placed_.frame, [&](glm::dvec2 pixel, float* depth) {
        const cv::Point2d p(pixel.x, pixel.y);
        *depth = cv::norm(p - right) < 10 || cv::norm(p - left) < 10 ? 0.0f : 0.9f;
        return true;
    });
    const auto& faces = detector->DetectFaces(frame).detections;
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_FLOAT_EQ(faces[0].rightEyeDepth, 0.9f);
    EXPECT_FLOAT_EQ(faces[0].leftEyeDepth, 0.9f);
}

TEST_F(BlinkDetectorCpuTest, DepthIsEstimatedFromTheEyeDistanceWithoutDepth) {
    TrivialCameraFrame frame(ImageDesc{placed_.frame.cols, placed_.frame.rows, 0, placed_.frame.data}, Timestamp{});
    auto detector = MakeDetector();
    // Without intrinsics: an 87 degree field of view, fx = 446.8 px.
    const auto defaultFaces = detector->DetectFaces(frame).detections;
    ASSERT_EQ(defaultFaces.size(), 1u);
    detector->OnCameraIntrinsicsChange(Intrinsics(600));
    const auto faces = detector->DetectFaces(frame).detections;
    ASSERT_EQ(faces.size(), 1u);

    for (const DetectedFace& face : {defaultFaces[0], faces[0]}) {
        EXPECT_GT(face.rightEyeDepth, 0.0f);
        EXPECT_TRUE(std::isfinite(face.rightEyeDepth));
        EXPECT_EQ(face.rightEyeDepth, face.leftEyeDepth);
    }
    // A near-frontal face about 45 px between the eyes, 0.063 * 600 / 45 = 0.84 m away.
    const double apart = glm::distance(faces[0].rightEyePixel, faces[0].leftEyePixel);
    const double frontal = 0.063 * 600.0 / apart;
    EXPECT_GT(faces[0].rightEyeDepth, 0.9 * frontal);
    EXPECT_LT(faces[0].rightEyeDepth, 1.02 * frontal);
    // The estimate scales with the focal length.
    EXPECT_NEAR(defaultFaces[0].rightEyeDepth / faces[0].rightEyeDepth, 424.0 / std::tan(43.5 * CV_PI / 180) / 600.0,
                0.01);
}

TEST_F(BlinkDetectorCpuTest, KeepsTheLargestFacesUpToTheFaceCount) {
    // Three faces of clearly different sizes.
    const cv::Mat astronaut = Astronaut();
    const cv::Mat frame = Compose(
        kFrameSize, 60, {{astronaut, 0.45, {10, 200}}, {astronaut, 0.8, {230, 20}}, {astronaut, 0.6, {560, 120}}});
    BlinkDetectorSettings settings = InlineSettings();
    settings.maxNumOfFaces = 3;
    auto detector = MakeDetector(settings);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFacesLimit(), 3);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFaces(), 3);
    TestFrame input(frame);

    auto apart = [](const DetectedFace& f) { return glm::distance(f.rightEyePixel, f.leftEyePixel); };
    const auto all = detector->DetectFaces(input).detections;
    ASSERT_EQ(all.size(), 3u);
    EXPECT_GT(apart(all[0]), apart(all[1]));
    EXPECT_GT(apart(all[1]), apart(all[2]));

    detector->SetMaxNumOfDetectedFaces(1);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFaces(), 1);
    const auto one = detector->DetectFaces(input).detections;
    ASSERT_EQ(one.size(), 1u);
    EXPECT_LT(glm::distance(one[0].rightEyePixel, all[0].rightEyePixel), 2.0);

    // More faces again: the next full search finds the dropped ones.
    detector->SetMaxNumOfDetectedFaces(2);
    size_t found = 0;
    for (int i = 0; i < BlinkDetectorSettings{}.detectionInterval && found < 2; ++i) {
        found = detector->DetectFaces(input).detections.size();
    }
    EXPECT_EQ(found, 2u);

    // Out-of-range counts are clamped.
    detector->SetMaxNumOfDetectedFaces(0);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFaces(), 1);
    detector->SetMaxNumOfDetectedFaces(7);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFaces(), 3);
    EXPECT_EQ(detector->GetBackend(), kQuiloFaceDetectorBackendCPU);
}

TEST_F(BlinkDetectorCpuTest, UnusableFramesGiveNoFaces) {
    auto detector = MakeDetector();
    TestFrame good(placed_.frame);
    const std::vector<uint8_t> small(16 * 16, 128);
    const cv::Mat black(kFrameSize, CV_8UC1, cv::Scalar(0));

    auto afterAFace = [&](const CameraFrame& bad) {
        EXPECT_EQ(detector->DetectFaces(good).detections.size(), 1u);
        return detector->DetectFaces(bad).detections.size();
    };
    EXPECT_EQ(afterAFace(TestFrame(cv::Mat())), 0u);  // no image at all
    EXPECT_EQ(afterAFace(TrivialCameraFrame(ImageDesc{848, 480, 0, nullptr}, {})), 0u);
    EXPECT_EQ(afterAFace(TrivialCameraFrame(ImageDesc{16, 16, 0, small.data()}, {})), 0u);
    EXPECT_EQ(afterAFace(TrivialCameraFrame(ImageDesc{-848, 480, 0, small.data()}, {})), 0u);
    // Sizes far beyond the pixels given: the detector must not read them.
    EXPECT_EQ(afterAFace(TrivialCameraFrame(ImageDesc{100000, 16, 0, small.data()}, {})), 0u);
    EXPECT_EQ(afterAFace(TrivialCameraFrame(ImageDesc{16, std::numeric_limits<int32_t>::max(), 0, small.data()}, {})),
              0u);
    // A black frame, also while a face is being followed.
    EXPECT_EQ(afterAFace(TestFrame(black)), 0u);
    EXPECT_EQ(detector->DetectFaces(TestFrame(black)).detections.size(), 0u);
}

TEST_F(BlinkDetectorCpuTest, FollowsAFaceAndSearchesEveryFewFrames) {
    BlinkDetectorSettings settings = InlineSettings();
    settings.detectionInterval = 5;
    auto detector = MakeDetector(settings);
    TestFrame frame(placed_.frame);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(detector->DetectFaces(frame).detections.size(), 1u);
    EXPECT_EQ(detector->statistics().frames, 20);
    EXPECT_EQ(detector->statistics().fullSearches, 4);  // frames 1, 6, 11 and 16
    EXPECT_EQ(detector->statistics().followed, 19);
    EXPECT_EQ(detector->statistics().lost, 0);
}

TEST_F(BlinkDetectorCpuTest, DropsAFaceThatIsGone) {
    BlinkDetectorSettings settings = InlineSettings();
    settings.maxMisses = 3;
    auto detector = MakeDetector(settings);
    TestFrame face(placed_.frame);
    ASSERT_EQ(detector->DetectFaces(face).detections.size(), 1u);
    // The same place now shows a textured scene with a cat's face and no human one.
    const cv::Mat cat = Compose(kFrameSize, 60, {{LoadGrey(ProjectData("tests/data/chelsea.png")), 0.9, {150, 0}}});
    TestFrame gone(cat);
    int reported = 0;
    while (reported < 10 && !detector->DetectFaces(gone).detections.empty()) ++reported;
    EXPECT_LE(reported, settings.maxMisses);
    EXPECT_EQ(detector->statistics().lost, 1);
    EXPECT_TRUE(detector->DetectFaces(gone).detections.empty());
}

TEST_F(BlinkDetectorCpuTest, ANewImageSizeStartsAfresh) {
    auto detector = MakeDetector();
    TestFrame frame(placed_.frame);
    ASSERT_EQ(detector->DetectFaces(frame).detections.size(), 1u);
    const cv::Mat astronaut = Astronaut();
    TestFrame other(astronaut);
    const int64_t searches = detector->statistics().fullSearches;
    ASSERT_EQ(detector->DetectFaces(other).detections.size(), 1u);
    EXPECT_EQ(detector->statistics().fullSearches, searches + 1);
    EXPECT_EQ(detector->statistics().lost, 0);
}

// The cascade's looks at a followed face: the quick look sees the face only
// where it is expected, the wider one finds it around there, and neither
// ever echoes the box it was asked about.
TEST_F(BlinkDetectorCpuTest, TheCascadeLooksReportTheFaceNotTheQuestion) {
    auto detector = MakeDetector();
    const std::vector<Landmarks> faces = detector->FindAllFaces(placed_.frame);
    ASSERT_EQ(faces.size(), 1u);
    const FaceBox truth = LandmarkModel::BoxAround(faces[0]);
    FolderAssetManager assets(BuildAssets());
    FaceFinder finder(assets.ReadText(kFaceCascadeAsset, nullptr));
    const auto centre = [](const FaceBox& b) { return (b.tl() + b.br()) * 0.5f; };
    const struct {
        const char* name;
        float shift;            // of the asked box's centre, box widths to the right
        float size;             // of the asked box, in the face's size
        bool atLook, nearLook;  // whether FindAt and FindNear see the face
    } cases[] = {
        {"where it is", 0.0f, 1.0f, true, true},       {"a tenth along", 0.1f, 1.0f, true, true},
        {"two fifths along", 0.4f, 1.0f, false, true}, {"half as large again", 0.0f, 1.5f, false, false},
        {"two boxes along", 2.0f, 1.0f, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const cv::Point2f at = centre(truth) + cv::Point2f(c.shift * truth.width, 0.0f);
        const float size = truth.width * c.size;
        const FaceBox asked(at.x - size / 2, at.y - size / 2, size, size);
        for (const bool quick : {true, false}) {
            FaceBox found;
            const bool seen = quick ? finder.FindAt(placed_.frame, asked, 0.0f, &found)
                                    : finder.FindNear(placed_.frame, asked, 0.0f, &found);
            EXPECT_EQ(seen, quick ? c.atLook : c.nearLook) << (quick ? "FindAt" : "FindNear");
            if (!seen) continue;
            EXPECT_LT(cv::norm(centre(found) - centre(truth)), 0.1 * truth.width);
            EXPECT_NEAR(found.width / truth.width, 1.0, 0.2);
        }
    }
}

}  // namespace
}  // namespace quilo::head::cpu::test
