// The face tracker driven frame by frame with scripted detections.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "common/exception.h"
#include "headTracking/common/glmFormat.h"
#include "headTracking/engine/core/faceTracker.h"
#include "tests/headTracking/engine/core/faceTrackerScript.h"

namespace glm {
void PrintTo(const vec3& v, std::ostream* os) { *os << fmt::format("{}", v); }
}  // namespace glm

using namespace quilo;
using namespace quilo::head;
using namespace quilo::head::script;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr float kTolerance = 1e-3f;

MATCHER_P(IsNear, expected, "") {
    return glm::all(glm::lessThanEqual(glm::abs(arg - expected), glm::vec3(kTolerance)));
}
auto Near(glm::vec3 expected) { return IsNear(expected); }

class FaceTrackerScenario : public ::testing::Test {
protected:
    void Start() { tracker = std::make_unique<FaceTracker>(detector, config); }

    // One frame `dt` ms after the previous one; the frame can be adjusted first.
    ScriptFrame& Step(std::vector<DetectedFace> detections, double dt = 10.0, float restartSignal = 0.0f) {
        now += dt;
        frame = std::make_unique<ScriptFrame>(now);
        frame->image.rotation = rotation;
        frame->deprojects = deprojects;
        output.detections = std::move(detections);
        tracker->Update(output, *frame, restartSignal);
        return *frame;
    }

    std::vector<Face> Faces() const { return {tracker->faces().begin(), tracker->faces().end()}; }
    std::vector<int32_t> RawFaceIndices() const {
        std::vector<int32_t> indices;
        for (const Face& face : tracker->faces()) indices.push_back(face.rawFaceIndex);
        return indices;
    }
    std::vector<int32_t> DetectionIndices() const {
        std::vector<int32_t> indices;
        for (const RawFace& raw : tracker->rawFaces()) indices.push_back(raw.detectionIndex);
        return indices;
    }
    const Face& FaceOf(int32_t rawFaceIndex) const {
        for (const Face& face : tracker->faces()) {
            if (face.rawFaceIndex == rawFaceIndex) return face;
        }
        throw std::runtime_error("no face of that raw face");
    }

    FixedCountDetector detector{3};
    FaceTracker::Configuration config;
    std::unique_ptr<FaceTracker> tracker;
    FaceDetector::Output output;
    std::unique_ptr<ScriptFrame> frame;
    double now = 1000.0;
    int32_t rotation = 0;
    bool deprojects = true;
};

// Camera (x, y, z) with the default pose: display (-x, -y, z).
glm::vec3 Display(glm::vec3 camera) { return {-camera.x, -camera.y, camera.z}; }

}  // namespace

TEST_F(FaceTrackerScenario, RejectsInvalidConfigurationsAtConstructionAndLater) {
    auto invalid = [&](auto change) {
        FaceTracker::Configuration c;
        change(c);
        return c;
    };
    const FaceTracker::Configuration invalids[] = {
        invalid([](auto& c) { c.trackRightEye = c.trackLeftEye = false; }),
        invalid([](auto& c) { c.filterProperties.interocularDistanceMin = 0.0f; }),
        invalid([](auto& c) { c.filterProperties.interocularDistanceMax = 30.0f; }),
        invalid([](auto& c) { c.filterProperties.interocularDistanceMax = std::nanf(""); }),
    };
    for (const auto& c : invalids) {
        try {
            FaceTracker t(detector, c);
            ADD_FAILURE() << "accepted an invalid configuration";
        } catch (const Exception& e) {
            EXPECT_THAT(e.what(), HasSubstr("invalid configuration in quilo::head::FaceTracker::FaceTracker "
                                            "headTracking/engine/core/faceTracker.cpp:"));
        }
    }

    // Later, an invalid configuration is ignored and tracking goes on.
    Start();
    Step({FaceAt({0, 0, 600})});
    Step({FaceAt({0, 0, 600})});
    Step({FaceAt({10, 0, 600})});
    const Face moving = Faces().at(0);
    tracker->UpdateConfiguration(invalids[0]);
    EXPECT_TRUE(tracker->configuration().trackRightEye);
    EXPECT_EQ(Faces().size(), 1u);
    Step({FaceAt({10, 0, 600})});
    ASSERT_EQ(Faces().size(), 1u);
    EXPECT_NE(Faces()[0].velocity, moving.velocity) << "the filter went on";
    EXPECT_NE(Faces()[0].velocity, glm::vec3(0.0f)) << "the filter went on";
}

TEST_F(FaceTrackerScenario, FirstFramesOnlyPrimeTheClock) {
    Start();
    EXPECT_EQ(tracker->timestamp().space, Timestamp::Space::Unknown);
    EXPECT_EQ(tracker->timestamp().ms, -1.0);

    Step({FaceAt({0, 0, 600})});
    EXPECT_TRUE(Faces().empty());
    EXPECT_EQ(tracker->rawFaces().size, 0);
    EXPECT_EQ(tracker->timestamp().ms, now);
    EXPECT_FALSE(tracker->trackingStarted());

    Step({FaceAt({0, 0, 600})});
    EXPECT_EQ(tracker->rawFaces().size, 1);
    ASSERT_EQ(Faces().size(), 1u);
    EXPECT_THAT(Faces()[0].position, Near(Display({0, 0, 600})));
    EXPECT_EQ(Faces()[0].rawFaceIndex, 0);
    EXPECT_TRUE(tracker->trackingStarted());

    // A new configuration starts over: no faces, and the next frame primes again.
    config.filterProperties.bufferLim = 100.0f;
    tracker->UpdateConfiguration(config);
    EXPECT_EQ(tracker->configuration().filterProperties.bufferLim, 100.0f);
    EXPECT_TRUE(Faces().empty());
    EXPECT_EQ(tracker->rawFaces().size, 1) << "raw faces are those of the last processed frame";
    EXPECT_EQ(tracker->timestamp().ms, -1.0);
    Step({FaceAt({5, 0, 600})});
    EXPECT_TRUE(Faces().empty());
    Step({FaceAt({5, 0, 600})});
    ASSERT_EQ(Faces().size(), 1u);
    EXPECT_EQ(Faces()[0].velocity, glm::vec3(0.0f)) << "a fresh filter";
    EXPECT_TRUE(tracker->trackingStarted());
}

// Any finite, increasing times track, whatever their sign: only the first
// frame after a start or a restart primes the clock.
TEST_F(FaceTrackerScenario, NegativeTimestampsTrackLikeAnyOthers) {
    const double firstFrames[] = {-1000.0, -15.0, -5.0, 0.0, 1000.0};
    for (double first : firstFrames) {
        now = first - 10.0;
        Start();
        Step({FaceAt({0, 0, 600})});
        EXPECT_TRUE(Faces().empty()) << first;
        Step({FaceAt({0, 0, 600})});
        EXPECT_EQ(Faces().size(), 1u) << first;
        Step({FaceAt({10, 0, 600})});
        ASSERT_EQ(Faces().size(), 1u) << first;
        EXPECT_GT(Faces()[0].velocity.x * -1.0f, 0.0f) << first << ": dt is 10 ms, not from an unset clock";
        EXPECT_EQ(tracker->timestamp().ms, first + 20.0);

        // A restart primes again, also at a negative time.
        tracker->UpdateConfiguration(config);
        Step({FaceAt({0, 0, 600})});
        EXPECT_TRUE(Faces().empty()) << first;
        Step({FaceAt({0, 0, 600})});
        EXPECT_EQ(Faces().size(), 1u) << first;
    }
}

TEST_F(FaceTrackerScenario, ImageRotationChangeRestartsTracking) {
    Start();
    Step({FaceAt({0, 0, 600})});
    Step({FaceAt({0, 0, 600})});
    Step({FaceAt({10, 0, 600})});
    ASSERT_EQ(Faces().size(), 1u);

    rotation = 90;
    Step({FaceAt({20, 0, 600}), FaceAt({-100, 0, 600})});
    EXPECT_TRUE(Faces().empty());
    EXPECT_EQ(tracker->rawFaces().size, 1);
    EXPECT_THAT(tracker->rawFaces()[0].trackedPoint, Near({10, 0, 600}));
    EXPECT_EQ(tracker->timestamp().ms, now);

    Step({FaceAt({20, 0, 600})});
    ASSERT_EQ(Faces().size(), 1u);
    EXPECT_THAT(Faces()[0].position, Near(Display({20, 0, 600})));
    EXPECT_EQ(Faces()[0].velocity, glm::vec3(0.0f));
}

TEST_F(FaceTrackerScenario, EyesMustLieInsideTheImage) {
    Start();
    Step({});
    auto withEyes = [](glm::dvec2 right, glm::dvec2 left) {
        DetectedFace face = FaceAt({0, 0, 600});
        face.rightEyePixel = right;
        face.leftEyePixel = left;
        return face;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const ScriptFrame& f = Step({
        withEyes({-0.5, 10}, {59.5, 10}),        // 0: truncates to column 0
        withEyes({640, 10}, {580, 10}),          // 1: one column past the edge; left eye never tried
        withEyes({nan, 10}, {60, 10}),           // 2
        withEyes({100, 480}, {160, 480}),        // 3: one row past the edge
        withEyes({100, 10}, {1e12, 10}),         // 4: right eye lifted, left eye out
        withEyes({579.9, -0.9}, {639.9, -0.9}),  // 5: last column, first row
        withEyes({100, 10}, {160, -1.0}),        // 6
    });
    EXPECT_THAT(DetectionIndices(), ElementsAre(0, 5));
    EXPECT_EQ(f.deprojections, 2 + 0 + 0 + 0 + 1 + 2 + 1);
}

TEST_F(FaceTrackerScenario, FramesWithoutDeprojectionUseTheLastIntrinsics) {
    deprojects = false;
    Start();
    tracker->CameraDidChange(CameraIntrinsics{640, 480, 100.0f, 100.0f, 1.0f, 1.0f, {}, false});
    const CameraIntrinsics intrinsics{640, 480, 300.0f, 200.0f, 500.0f, 250.0f, {}, false};
    tracker->CameraDidChange(intrinsics);
    EXPECT_EQ(tracker->intrinsics().fx, 500.0f);

    DetectedFace face;
    face.rightEyePixel = {350, 250};
    face.leftEyePixel = {390, 250};
    face.rightEyeDepth = face.leftEyeDepth = 0.8f;
    Step({face});
    Step({face});
    ASSERT_EQ(tracker->rawFaces().size, 1);
    const RawFace raw = tracker->rawFaces()[0];
    EXPECT_THAT(raw.rightEye, Near({80, 160, 800}));  // (50 / 500, 50 / 250) * 0.8 m
    EXPECT_THAT(raw.leftEye, Near({144, 160, 800}));

    // A frame that deprojects itself ignores the intrinsics.
    deprojects = true;
    Step({face});
    ASSERT_EQ(tracker->rawFaces().size, 1);
    EXPECT_THAT(tracker->rawFaces()[0].rightEye, Near({30, 10, 800}));
}

TEST_F(FaceTrackerScenario, EyeSpacingMustBeHuman) {
    Start();
    Step({});
    Step({FaceAt({0, 0, 600}, 30.0f), FaceAt({0, 0, 600}, 30.5f), FaceAt({0, 0, 600}, 79.5f),
          FaceAt({0, 0, 600}, 80.0f), FaceAt({0, 0, 600}, 12.0f), FaceAt({0, 0, 600}, 150.0f)});
    EXPECT_THAT(DetectionIndices(), ElementsAre(1, 2));
    EXPECT_FLOAT_EQ(glm::distance(tracker->rawFaces()[0].rightEye, tracker->rawFaces()[0].leftEye), 30.5f);

    config.filterProperties.interocularDistanceMin = 10.0f;
    config.filterProperties.interocularDistanceMax = 13.0f;
    tracker->UpdateConfiguration(config);
    Step({});
    Step({FaceAt({0, 0, 600}, 30.0f), FaceAt({0, 0, 600}, 12.0f), FaceAt({0, 0, 600}, 13.0f)});
    EXPECT_THAT(DetectionIndices(), ElementsAre(1));
}

TEST_F(FaceTrackerScenario, TrackedPointFollowsTheEyeFlags) {
    struct Case {
        bool right, left;
        glm::vec3 expected;
    };
    for (const Case& c :
         {Case{true, true, {0, 0, 600}}, Case{true, false, {-30, 0, 600}}, Case{false, true, {30, 0, 600}}}) {
        config.trackRightEye = c.right;
        config.trackLeftEye = c.left;
        Start();
        Step({});
        Step({FaceAt({0, 0, 600})});
        ASSERT_EQ(Faces().size(), 1u);
        EXPECT_THAT(tracker->rawFaces()[0].trackedPoint, Near(c.expected)) << c.right << c.left;
        EXPECT_THAT(Faces()[0].position, Near(Display(c.expected)));
    }
}

TEST_F(FaceTrackerScenario, TracksContinueOnlyWithinTheGapAndWithoutARestartSignal) {
    config.filterProperties.maxTrackGap = 100.0f;
    Start();
    Step({});
    Step({FaceAt({0, 0, 600})});
    // Within the gap the filter moves 10 % of the way at first.
    Step({FaceAt({10, 0, 600})}, 99.0);
    EXPECT_THAT(Faces().at(0).position, Near(Display({1, 0, 600})));
    EXPECT_NE(Faces()[0].velocity, glm::vec3(0.0f));

    // A zero interval leaves the matched filter as it was.
    const Face before = Faces()[0];
    Step({FaceAt({50, 0, 600})}, 0.0);
    EXPECT_EQ(Faces().at(0).position, before.position);
    EXPECT_EQ(Faces()[0].velocity, before.velocity);

    // At the gap the track starts over from the measurement, at rest.
    Step({FaceAt({20, 0, 600})}, 100.0);
    EXPECT_THAT(Faces().at(0).position, Near(Display({20, 0, 600})));
    EXPECT_EQ(Faces()[0].velocity, glm::vec3(0.0f));

    // A restart signal above the threshold restarts every track...
    Step({FaceAt({30, 0, 600})}, 10.0, 0.6f);
    EXPECT_THAT(Faces().at(0).position, Near(Display({30, 0, 600})));
    EXPECT_EQ(Faces()[0].velocity, glm::vec3(0.0f));
    // ...but not when the threshold is 0.
    config.filterProperties.restartThreshold = 0.0f;
    tracker->UpdateConfiguration(config);
    Step({FaceAt({30, 0, 600})});
    Step({FaceAt({30, 0, 600})});
    Step({FaceAt({40, 0, 600})}, 10.0, 1e6f);
    EXPECT_THAT(Faces().at(0).position, Near(Display({31, 0, 600})));
}

TEST_F(FaceTrackerScenario, NearestDetectionContinuesAFilterWithoutDistanceGate) {
    Start();
    Step({});
    Step({FaceAt({0, 0, 600})});

    // The nearer of two detections continues the filter, the other starts anew.
    Step({FaceAt({200, 0, 600}), FaceAt({10, 0, 600})});
    ASSERT_EQ(Faces().size(), 2u);
    EXPECT_THAT(FaceOf(1).position, Near(Display({1, 0, 600})));
    EXPECT_NE(FaceOf(1).velocity, glm::vec3(0.0f));
    EXPECT_THAT(FaceOf(0).position, Near(Display({200, 0, 600})));
    EXPECT_EQ(FaceOf(0).velocity, glm::vec3(0.0f));

    // However far a lone detection jumps, it continues the nearest filter.
    Step({FaceAt({0, 0, 1500})});
    EXPECT_NE(FaceOf(0).velocity, glm::vec3(0.0f));

    // Equally near detections: the first one continues the filter.
    Start();
    Step({});
    Step({FaceAt({0, 0, 600})});
    Step({FaceAt({20, 0, 600}), FaceAt({-20, 0, 600})});
    EXPECT_NE(FaceOf(0).velocity, glm::vec3(0.0f));
    EXPECT_EQ(FaceOf(1).velocity, glm::vec3(0.0f));
}

TEST_F(FaceTrackerScenario, DistanceWindowIsOpenAndYawWindowClosed) {
    config.filterProperties.minFitDist = 500.0f;
    Start();
    Step({});
    // Weighted distance sqrt(4 x^2 + 4 y^2 + z^2) = z on the axis.
    Step({FaceAt({0, 0, 500}), FaceAt({0, 0, 501}), FaceAt({0, 0, 2000}), FaceAt({0, 0, 1999})});
    EXPECT_THAT(RawFaceIndices(), ElementsAre(1, 3));

    const float limit = config.filterProperties.angleYMax;
    const float beyond = std::nextafter(limit, 1.0f);
    Start();
    Step({});
    Step({FaceAt({0, 0, 600}, 60, limit), FaceAt({0, 0, 700}, 60, -limit), FaceAt({0, 0, 800}, 60, beyond),
          // Seen at 45 degrees to the right in display space: only faces turned towards the display.
          FaceAt({-250, 0, 250}, 60, 0.0f), FaceAt({-240, 0, 240}, 60, -limit), FaceAt({-230, 0, 230}, 60, 0.01f)});
    EXPECT_THAT(RawFaceIndices(), ElementsAre(4, 3, 0, 1));
}

TEST_F(FaceTrackerScenario, MainFaceIsHeldAtTheFrontUntilBufferLim) {
    config.filterProperties.bufferLim = 25.0f;
    Start();
    Step({});
    Step({FaceAt({0, 0, 900})});
    // Two nearer faces arrive; the main face, third by distance, stays first
    // while it has been away from the front for no more than 25 ms.
    const std::vector<DetectedFace> three{FaceAt({0, 0, 500}), FaceAt({0, 0, 700}), FaceAt({0, 0, 900})};
    for (int frame = 0; frame < 3; ++frame) {
        Step(three);
        EXPECT_THAT(RawFaceIndices(), ElementsAre(2, 0, 1)) << "frame " << frame;
    }
    Step(three);
    EXPECT_THAT(RawFaceIndices(), ElementsAre(0, 1, 2));
    Step(three);
    EXPECT_THAT(RawFaceIndices(), ElementsAre(0, 1, 2));
}

TEST_F(FaceTrackerScenario, LostMainFaceCoastsUntilBufferLim) {
    Start();
    Step({});
    Step({FaceAt({0, 0, 600}, 60, 0.25f)});
    Step({FaceAt({10, 0, 600}, 60, 0.25f)});
    Face previous = Faces().at(0);
    ASSERT_NE(previous.velocity, glm::vec3(0.0f));

    // 100 ms frames: coasting until more than 600 ms have passed.
    for (int frame = 0; frame < 7; ++frame) {
        Step({}, 100.0);
        ASSERT_EQ(Faces().size(), 1u) << "frame " << frame;
        const Face coasting = Faces()[0];
        EXPECT_EQ(coasting.rawFaceIndex, -1);
        EXPECT_THAT(coasting.position, Near(previous.position + previous.velocity * 100.0f));
        EXPECT_THAT(coasting.velocity, Near(previous.velocity * std::exp(-1.0f)));
        EXPECT_EQ(coasting.angles, glm::vec3(0, 0.25f, 0));
        previous = coasting;
    }
    Step({}, 100.0);
    EXPECT_TRUE(Faces().empty());
    Step({}, 100.0);
    EXPECT_TRUE(Faces().empty());

    // A face seen again is the new main face at once.
    Step({FaceAt({100, 0, 600})});
    EXPECT_THAT(RawFaceIndices(), ElementsAre(0));
}

TEST_F(FaceTrackerScenario, CoastingFaceTakesTheFrontAndTheFirstCandidateTheBack) {
    Start();
    Step({});
    Step({FaceAt({0, 0, 1500})});
    // The main face vanishes as three others appear (A, B, C by distance).
    Step({FaceAt({0, 0, 500}), FaceAt({0, 0, 700}), FaceAt({0, 0, 900})}, 10.0, 1.0f);
    EXPECT_THAT(RawFaceIndices(), ElementsAre(-1, 1, 2, 0));
    EXPECT_THAT(Faces()[0].position, Near(Display({0, 0, 1500})));
}

TEST_F(FaceTrackerScenario, DisplaySpaceIsRotatedMirroredAndShifted) {
    // A quarter turn about z: (x, y, z) -> (-y, x, z); then x and y negated, then t.
    config.cameraRotation = glm::mat3(glm::vec3(0, 1, 0), glm::vec3(-1, 0, 0), glm::vec3(0, 0, 1));
    config.cameraPosition = {10, 20, 30};
    Start();
    Step({});
    Step({FaceAt({50, 20, 600})});
    EXPECT_THAT(Faces().at(0).position, Near({30, -30, 630}));
    Step({FaceAt({60, 20, 600})});  // camera x: 51 mm at 0.1 mm/ms
    EXPECT_THAT(Faces().at(0).position, Near({30, -31, 630}));
    EXPECT_THAT(Faces()[0].velocity, Near({0, -0.1f, 0})) << "velocities get no translation";
}

TEST_F(FaceTrackerScenario, ToleratesMoreDetectionsThanTheDetectorsCount) {
    detector.SetMaxNumOfDetectedFaces(1);
    Start();
    Step({});
    std::vector<DetectedFace> four{FaceAt({-150, 0, 600}), FaceAt({-50, 0, 600}), FaceAt({50, 0, 600}),
                                   FaceAt({150, 0, 600})};
    Step(four);
    EXPECT_EQ(Faces().size(), 4u);
    four.push_back(FaceAt({0, 50, 700}));
    Step(four);
    EXPECT_EQ(Faces().size(), 5u);
    EXPECT_EQ(FaceOf(4).velocity, glm::vec3(0.0f));

    EXPECT_THROW(tracker->OnMaxNumOfDetectedFacesChange(-1), std::length_error);
    Step(four);
    EXPECT_EQ(Faces().size(), 5u);
}

TEST_F(FaceTrackerScenario, FrameWithoutImagesIsSkipped) {
    config.filterProperties.maxTrackGap = 150.0f;
    Start();
    Step({});
    Step({FaceAt({0, 0, 600})}, 100.0);
    const double lastTime = tracker->timestamp().ms;

    now += 100.0;
    ScriptFrame empty(now);
    empty.hasImage = false;
    output.detections = {FaceAt({10, 0, 600})};
    tracker->Update(output, empty, 0.0f);
    EXPECT_EQ(empty.deprojections, 0);
    EXPECT_EQ(tracker->timestamp().ms, lastTime);
    EXPECT_THAT(RawFaceIndices(), ElementsAre(0));
    EXPECT_THAT(tracker->rawFaces()[0].trackedPoint, Near({0, 0, 600}));

    // The next frame's interval spans the skipped one: 200 ms, beyond the gap.
    Step({FaceAt({10, 0, 600})}, 100.0);
    EXPECT_THAT(Faces().at(0).position, Near(Display({10, 0, 600})));
    EXPECT_EQ(Faces()[0].velocity, glm::vec3(0.0f));
}
