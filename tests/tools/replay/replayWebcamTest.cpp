// Replays a real webcam recording through the engine and the CPU detector
// plugin built beside it. The recording may not be redistributed: the
// program skips where the outside test data is missing.
#include "tools/replay/replay.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/outsideData.h"
#include "support/tempFolder.h"

QUILO_TESTS_NEED_OUTSIDE_DATA("webcam-head-motion");

namespace quilo::replay {
namespace {

namespace fs = std::filesystem;

// The first `count` webcam frames, 40 ms apart, as a sequence in `folder`,
// with a field of view of about 60 degrees.
Sequence WriteWebcamSequence(const fs::path& folder, size_t count) {
    const fs::path webcam = test::OutsideData("webcam-head-motion");
    Sequence sequence;
    sequence.description = "webcam frames";
    sequence.intrinsics.width = 400;
    sequence.intrinsics.height = 300;
    sequence.intrinsics.fx = sequence.intrinsics.fy = 346.0f;
    sequence.intrinsics.ppx = 200.0f;
    sequence.intrinsics.ppy = 150.0f;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = fmt::format("{:05}.png", i + 1);
        fs::copy_file(webcam / name, folder / name);
        sequence.frames.push_back({name, 1000.0 + 40.0 * static_cast<double>(i), std::nullopt, std::nullopt});
    }
    WriteSequence(folder, sequence);
    return sequence;
}

TEST(Replay, TracksTheFaceOfRealWebcamFrames) {
    test::TempFolder folder;
    const Sequence sequence = WriteWebcamSequence(folder.path(), 20);
    std::vector<size_t> progress;
    ReplayOptions options;
    options.tracker.cameraPosition = glm::vec3(0.0f, 100.0f, 0.0f);
    const ReplayResult result = Replay(folder.path(), sequence, options, [&](size_t done, size_t total) {
        EXPECT_EQ(total, 20u);
        progress.push_back(done);
    });
    ASSERT_EQ(result.frames.size(), 20u);
    EXPECT_EQ(progress.size(), 20u);
    EXPECT_EQ(progress.back(), 20u);
    EXPECT_GT(result.seconds, 0.0);

    // The first frame only starts the tracker's clock; every later one has
    // the viewer, about half a metre away, in front of the camera.
    for (const FrameResult& frame : result.frames) {
        EXPECT_TRUE(frame.delivered);
        EXPECT_EQ(frame.timestampMs, sequence.frames[frame.index].timestampMs);
        EXPECT_EQ(frame.detections.size(), 1u) << frame.index;
        EXPECT_GT(frame.detectorMs, 0.0);
        if (frame.index == 0) continue;
        ASSERT_EQ(frame.faces.size(), 1u) << frame.index;
        const head::Face& face = frame.faces[0];
        EXPECT_GT(face.position.z, 300.0f);
        EXPECT_LT(face.position.z, 800.0f);
        // The camera 100 mm above the display's origin lifts every position.
        ASSERT_EQ(frame.rawFaces.size(), 1u);
        const glm::dvec3 raw = (glm::dvec3(frame.rawFaces[0].rightEye) + glm::dvec3(frame.rawFaces[0].leftEye)) * 0.5;
        const glm::dvec3 display = ToDisplaySpace(options.tracker, raw);
        EXPECT_NEAR(display.y, -raw.y + 100.0, 1e-3);
        EXPECT_LT(glm::length(glm::dvec3(face.position) - display), 30.0) << frame.index;
        // The person's right eye lies on the image's left.
        EXPECT_LT(frame.detections[0].rightEyePixel.x, frame.detections[0].leftEyePixel.x);
    }
    const ReplayStatistics statistics = ComputeStatistics(result);
    EXPECT_EQ(statistics.framesWithFace, 19u);
    EXPECT_EQ(statistics.framesWithDetection, 20u);
}

}  // namespace
}  // namespace quilo::replay
