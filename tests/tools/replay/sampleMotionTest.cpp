// The generated motions against their own description, and the truth
// between frames that the replay measures predictions against.
#include <gtest/gtest.h>

#include <cmath>

#include "support/tempFolder.h"
#include "tools/replay/replay.h"
#include "tools/replay/sampleGenerator.h"

namespace quilo::replay {
namespace {

const std::filesystem::path kSample = std::filesystem::path(QUILO_SOURCE_DIR) / "tools/replay/sample";

glm::dvec3 Midpoint(const EyeTruth& eyes) { return (eyes.rightEye + eyes.leftEye) * 0.5; }

// Speed of the eye midpoint at `ms`, mm per ms.
double Speed(const SampleOptions& options, const EyePixels& eyes, double ms) {
    return glm::distance(Midpoint(SampleTruthAt(options, eyes, ms + 0.5)),
                         Midpoint(SampleTruthAt(options, eyes, ms - 0.5)));
}

TEST(SampleMotion, EachMotionMovesAsDescribed) {
    const EyePixels eyes = ReadEyePixels(kSample / "astronaut-eyes.csv", "astronaut.png");
    struct Case {
        SampleMotion motion;
        double atMs;          // on the sample's clock (first frame at 1000 ms)
        glm::dvec3 midpoint;  // mm, camera space
        double speed;         // mm per ms
    };
    const Case cases[] = {
        // 100 mm peak to peak at 1 Hz: +50 mm after a quarter second, at rest.
        {SampleMotion::Sway, 1250.0, {50.0, 0.0, 650.0}, 0.0},
        {SampleMotion::Sway, 1500.0, {0.0, 0.0, 650.0}, 0.05 * 2.0 * 3.141592653589793},
        {SampleMotion::Lean, 1500.0, {0.0, 0.0, 550.0}, 0.0},
        {SampleMotion::Still, 4321.0, {0.0, 0.0, 650.0}, 0.0},
        // Held at the left for 0.7 s, then 0.5 mm per ms to the right.
        {SampleMotion::TurnAndStop, 1500.0, {-75.0, 0.0, 650.0}, 0.0},
        {SampleMotion::TurnAndStop, 1850.0, {0.0, 0.0, 650.0}, 0.5},
        {SampleMotion::TurnAndStop, 2100.0, {75.0, 0.0, 650.0}, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << SampleMotionName(c.motion) << " at " << c.atMs);
        SampleOptions options;
        options.motion = c.motion;
        const EyeTruth truth = SampleTruthAt(options, eyes, c.atMs);
        EXPECT_NEAR(glm::distance(truth.rightEye, truth.leftEye), kSampleEyeDistanceMm, 1e-6);
        EXPECT_LT(glm::distance(Midpoint(truth), c.midpoint), 1e-6);
        EXPECT_NEAR(Speed(options, eyes, c.atMs), c.speed, 1e-3);
    }
}

TEST(SampleMotion, FramesComeAt90PerSecondWithTheCardsDepth) {
    test::TempFolder folder;
    const GreyImage photo = ReadPhotoAsGrey(kSample / "astronaut.png");
    const EyePixels eyes = ReadEyePixels(kSample / "astronaut-eyes.csv", "astronaut.png");
    SampleOptions options;
    options.motion = SampleMotion::Lean;
    options.frameCount = 3;
    options.depth = true;
    const Sequence sequence = GenerateSample(photo, eyes, options, folder.path());
    ASSERT_EQ(sequence.frames.size(), 3u);
    EXPECT_NEAR(sequence.frames[1].timestampMs - sequence.frames[0].timestampMs, 1000.0 / 90.0, 1e-9);
    const Sequence read = ReadSequence(folder.path());
    for (const SequenceFrame& frame : read.frames) {
        ASSERT_TRUE(frame.depth);
        ASSERT_TRUE(frame.truth);
        const DepthImage depth = ReadFrameDepth(folder.path(), read, frame);
        // The depth under each true eye is that eye's distance; off the card nothing.
        for (const glm::dvec3& eye : {frame.truth->rightEye, frame.truth->leftEye}) {
            const auto x = static_cast<int>(std::lround(read.intrinsics.ppx + read.intrinsics.fx * eye.x / eye.z));
            const auto y = static_cast<int>(std::lround(read.intrinsics.ppy + read.intrinsics.fy * eye.y / eye.z));
            EXPECT_NEAR(depth.values[static_cast<size_t>(y * depth.width + x)] * read.depthUnit * 1000.0, eye.z, 1.0);
        }
        EXPECT_EQ(depth.values[0], 0);
    }
}

TEST(TruthAt, IsExactAtFramesAndFollowsSmoothMotionBetweenThem) {
    // A quadratic path sampled every 10 ms: the cubic between frames follows
    // it to well under a millimetre; outside the frames there is no truth.
    const auto at = [](double ms) {
        const double t = (ms - 1000.0) / 1000.0;
        return EyeTruth{{100.0 * t * t - 30.0, 5.0 * t, 600.0}, {100.0 * t * t + 30.0, 5.0 * t, 600.0}};
    };
    Sequence sequence;
    for (int i = 0; i <= 20; ++i) {
        SequenceFrame frame;
        frame.timestampMs = 1000.0 + 10.0 * i;
        frame.truth = at(frame.timestampMs);
        sequence.frames.push_back(frame);
    }
    for (const double ms : {1000.0, 1010.0, 1013.7, 1095.0, 1199.9, 1200.0}) {
        const auto truth = TruthAt(sequence, ms);
        ASSERT_TRUE(truth) << ms;
        EXPECT_LT(glm::distance(truth->rightEye, at(ms).rightEye), 1e-3) << ms;
        EXPECT_LT(glm::distance(truth->leftEye, at(ms).leftEye), 1e-3) << ms;
    }
    EXPECT_FALSE(TruthAt(sequence, 999.9));
    EXPECT_FALSE(TruthAt(sequence, 1200.1));
    sequence.frames[10].truth.reset();
    EXPECT_FALSE(TruthAt(sequence, 1095.0));
    EXPECT_TRUE(TruthAt(sequence, 1150.0));
}

}  // namespace
}  // namespace quilo::replay
