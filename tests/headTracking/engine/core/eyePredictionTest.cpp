// Eyes predicted to display time from the face tracker's frames: a head in
// constant motion is predicted exactly, and every refusal answers the
// frame-time eyes with its status.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "common/exception.h"
#include "headTracking/common/eyePrediction.h"
#include "headTracking/common/glmFormat.h"
#include "headTracking/common/transforms.h"
#include "headTracking/engine/core/faceTracker.h"
#include "headTracking/engine/engineFrame.h"
#include "tests/headTracking/engine/core/faceTrackerScript.h"

namespace glm {
void PrintTo(const vec3& v, std::ostream* os) { *os << fmt::format("{}", v); }
}  // namespace glm

using namespace quilo;
using namespace quilo::head;
using namespace quilo::head::script;

namespace {

constexpr double kFrameMs = 1000.0 / 90.0;
// Frame times of today's system clock: the horizon must not lose the
// precision a double of nanoseconds since 1970 lacks.
constexpr double kStartMs = 1.7e12 + 0.25;
constexpr float kSpacing = 60.0f;

// ms * 1e6 as a double is 256 ns coarse today: whole ms and the rest apart.
int64_t Nanoseconds(double ms) {
    const double whole = std::floor(ms);
    return static_cast<int64_t>(whole) * 1000000 + std::llround((ms - whole) * 1e6);
}

class EyePredictionTest : public ::testing::Test {
protected:
    EyePredictionTest() {
        // A camera turned 10 degrees about y and a little down, off the
        // display's centre: display and camera axes differ in every way.
        const glm::mat3 turn = glm::mat3(glm::cos(0.1745f), 0.0f, -glm::sin(0.1745f), 0.0f, 1.0f, 0.0f,
                                         glm::sin(0.1745f), 0.0f, glm::cos(0.1745f));
        const glm::mat3 tilt =
            glm::mat3(1.0f, 0.0f, 0.0f, 0.0f, glm::cos(0.1f), glm::sin(0.1f), 0.0f, -glm::sin(0.1f), glm::cos(0.1f));
        config.cameraRotation = turn * tilt;
        config.cameraPosition = glm::vec3(12.0f, -160.0f, 4.0f);
        tracker = std::make_unique<FaceTracker>(detector, config);
    }

    void Step(std::vector<DetectedFace> detections, Timestamp::Space space = Timestamp::Space::System) {
        now += kFrameMs;
        frame = std::make_unique<ScriptFrame>(now);
        frame->time.space = space;
        output.detections = std::move(detections);
        tracker->Update(output, *frame, 0.0f);
    }

    EngineFrame Frame() const { return EngineFrame(tracker.get(), &output, FrameProfiling{}, FrameTiming{}); }

    // An eye of a detection by FaceAt(midpoint) in display space.
    glm::vec3 Display(glm::vec3 midpoint, float side) const {
        return CameraToDisplay(config.cameraRotation, config.cameraPosition,
                               midpoint + glm::vec3(side * kSpacing / 2.0f, 0.0f, 0.0f));
    }

    FixedCountDetector detector{1};
    FaceTracker::Configuration config;
    std::unique_ptr<FaceTracker> tracker;
    std::unique_ptr<ScriptFrame> frame;
    FaceDetector::Output output;
    double now = kStartMs;
};

struct ConstantMotion {
    const char* name;
    glm::vec3 start;           // mm, camera space
    glm::vec3 velocity;        // mm per ms
    bool extrapolated = true;  // false: slower than kPredictionStillSpeed, held where it is
};

TEST_F(EyePredictionTest, ConstantMotionIsPredictedExactly) {
    const ConstantMotion motions[] = {
        {"still", {20.0f, -10.0f, 600.0f}, {0.0f, 0.0f, 0.0f}},
        {"sideways", {-250.0f, 0.0f, 650.0f}, {0.3f, 0.0f, 0.0f}},
        {"up", {0.0f, -170.0f, 600.0f}, {0.0f, 0.2f, 0.0f}},
        {"towards the camera", {0.0f, 0.0f, 900.0f}, {0.0f, 0.0f, -0.2f}},
        {"diagonal", {-120.0f, 80.0f, 500.0f}, {0.15f, -0.1f, 0.12f}},
        {"just faster than the fade", {-30.0f, 0.0f, 600.0f}, {0.0f, 0.0f, kPredictionMovingSpeed * 1.01f}},
        {"creeping", {-30.0f, 0.0f, 600.0f}, {0.006f, 0.0f, 0.0f}, false},
    };
    const double horizons[] = {0.0, kFrameMs, 40.0, kMaxPredictionHorizonMs};
    for (const ConstantMotion& motion : motions) {
        SCOPED_TRACE(motion.name);
        tracker = std::make_unique<FaceTracker>(detector, config);
        now = kStartMs;
        const auto midpointAt = [&](double ms) {
            return motion.start + motion.velocity * static_cast<float>(ms - kStartMs);
        };
        for (int i = 0; i < 150; ++i) Step({FaceAt(midpointAt(now + kFrameMs), kSpacing)});

        for (const double horizon : horizons) {
            SCOPED_TRACE(horizon);
            const EyePrediction p = PredictEyes(Frame(), 0, Nanoseconds(now + horizon));
            ASSERT_EQ(tracker->faces().size, 1);
            ASSERT_EQ(p.status, PredictionStatus::Predicted);
            // Milliseconds since 1970 in a double are 0.24 us coarse.
            EXPECT_NEAR(p.horizonMs, horizon, 5e-4);
            const glm::vec3 midpoint = midpointAt(motion.extrapolated ? now + horizon : now);
            // Float positions of several hundred mm, a few ulps each.
            EXPECT_NEAR(glm::distance(p.rightEye, Display(midpoint, -1.0f)), 0.0f, 2e-3f)
                << fmt::format("{} vs {}", p.rightEye, Display(midpoint, -1.0f));
            EXPECT_NEAR(glm::distance(p.leftEye, Display(midpoint, 1.0f)), 0.0f, 2e-3f)
                << fmt::format("{} vs {}", p.leftEye, Display(midpoint, 1.0f));
        }
    }
}

struct Refusal {
    const char* name;
    bool coast;              // the last frame has no detection
    Timestamp::Space space;  // of the last frame
    double targetAfterFrameMs;
    PredictionStatus status;
};

TEST_F(EyePredictionTest, RefusalsAnswerTheFrameTimeEyes) {
    const Refusal refusals[] = {
        {"an unknown clock", false, Timestamp::Space::Unknown, 20.0, PredictionStatus::UnknownClock},
        {"an unknown clock, the face coasting", true, Timestamp::Space::Unknown, 20.0, PredictionStatus::UnknownClock},
        {"a coasting face", true, Timestamp::Space::System, 20.0, PredictionStatus::FaceCoasting},
        {"a coasting face, target before it", true, Timestamp::Space::System, -5.0, PredictionStatus::FaceCoasting},
        {"a target before the frame", false, Timestamp::Space::System, -0.002, PredictionStatus::TargetBeforeFrame},
        {"a target past the horizon", false, Timestamp::Space::System, kMaxPredictionHorizonMs + 0.002,
         PredictionStatus::BeyondHorizon},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        tracker = std::make_unique<FaceTracker>(detector, config);
        now = kStartMs;
        for (int i = 0; i < 30; ++i) Step({FaceAt(glm::vec3(0.4f * i, 0.0f, 600.0f), kSpacing)});
        Step(refusal.coast ? std::vector<DetectedFace>{} : std::vector<DetectedFace>{FaceAt({12.0f, 0.0f, 600.0f})},
             refusal.space);
        const EngineFrame f = Frame();
        ASSERT_EQ(f.faces().size, 1);
        const Face& face = f.faces()[0];
        ASSERT_EQ(face.rawFaceIndex < 0, refusal.coast);

        const EyePrediction p = PredictEyes(f, 0, Nanoseconds(now + refusal.targetAfterFrameMs));
        EXPECT_EQ(p.status, refusal.status) << ToString(p.status);
        EXPECT_EQ(p.rightEye, face.rightEye);
        EXPECT_EQ(p.leftEye, face.leftEye);
        EXPECT_EQ(p.horizonMs, 0.0);
        // Frame-time eyes are eyes, not points: a coasting face keeps them apart.
        EXPECT_NEAR(glm::distance(p.rightEye, p.leftEye), kSpacing, 0.01f);
    }
}

TEST_F(EyePredictionTest, AFaceTheFrameLacksThrows) {
    Step({FaceAt(glm::vec3(0.0f, 0.0f, 600.0f))});
    Step({FaceAt(glm::vec3(1.0f, 0.0f, 600.0f))});
    ASSERT_EQ(Frame().faces().size, 1);
    for (const int64_t index : {int64_t{-1}, int64_t{1}}) {
        EXPECT_THROW(PredictEyes(Frame(), index, Nanoseconds(now)), quilo::Exception) << index;
    }
}

}  // namespace
