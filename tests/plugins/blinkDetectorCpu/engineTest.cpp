// The engine with the CPU detector: a host pushes frames of a real face
// moving in front of a camera through a shared camera, and the engine reports
// the viewer.
#include <vector>

#include <gtest/gtest.h>

#include "blinkDetectorCpu/hardSequences.h"
#include "blinkDetectorCpu/support.h"
#include "common/platform.h"
#include "headTracking/camera/sharedCamera.h"
#include "headTracking/engine/core/faceTracker.h"
#include "headTracking/engine/engine.h"

namespace quilo::head::cpu::test {
namespace {

TEST(BlinkDetectorCpuEngine, TracksAMovingViewer) {
    const auto platform = Platform::Create(PlatformInitArgs{});
    SharedCameraSink sink;
    std::vector<size_t> detections, faces;
    std::vector<Face> last;
    EngineInitArgs args;
    args.platform = platform.get();
    args.sharedCameraSink = &sink;
    args.configuration.faceDetector.backend = kQuiloFaceDetectorBackendCPU;
    args.configuration.faceDetector.maxNumOfFaces = 1;
    args.frameCallback = [&](const FaceTracker& tracker, const FaceDetectorOutput& output, const CameraFrame&) {
        detections.push_back(output.detections.size());
        faces.push_back(static_cast<size_t>(tracker.faces().size));
        last.assign(tracker.faces().begin(), tracker.faces().end());
    };
    Engine engine(args);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kQuiloFaceDetectorBackendCPU);
    ASSERT_TRUE(engine.StartTracking());

    // The astronaut 40 px between the eyes in front of an 848 x 480 camera
    // 87 degrees across: 63 mm * 446.8 / 40 = 0.70 m away; she drifts right
    // 2 px a frame.
    const SceneRenderer renderer({Astronaut()});
    const auto render = [&](int i) {
        return renderer.Render({{0, {400.0 + 2.0 * i, 240.0}, 40.0, 0.0}}, 1.0, 2.0, static_cast<uint32_t>(i + 1))
            .image;
    };
    sink.onIntrinsicsChange(CentredIntrinsics(SceneRenderer::kWidth, SceneRenderer::kHeight, 446.8f));
    // The detector searches in the background: the first frame is delivered
    // until a frame after the search reports the viewer.
    const cv::Mat first = render(0);
    double ms = 0.0;
    ASSERT_TRUE(Eventually([&] {
        ms += 33.3;
        sink.onFrameAvailable(ImageDesc{first.cols, first.rows, 0, first.data},
                              Timestamp{Timestamp::Space::System, ms});
        return !detections.empty() && detections.back() == 1u;
    }));
    const size_t before = detections.size();
    constexpr int kFrames = 30;
    for (int i = 1; i < kFrames; ++i) {
        const cv::Mat image = render(i);
        ms += 33.3;
        sink.onFrameAvailable(ImageDesc{image.cols, image.rows, 0, image.data},
                              Timestamp{Timestamp::Space::System, ms});
    }
    EXPECT_TRUE(engine.StopTracking());

    ASSERT_EQ(detections.size(), before + kFrames - 1);
    for (size_t i = before - 1; i < detections.size(); ++i) EXPECT_EQ(detections[i], 1u) << "frame " << i;
    // The first frame only starts the tracker's clock.
    for (size_t i = before; i < detections.size(); ++i) EXPECT_EQ(faces[i], 1u) << "frame " << i;
    // About 0.7 m in front of the camera, a little right of its axis:
    // (400 + 58 - 424) px * 700 mm / 446.8 px = 53 mm.
    ASSERT_EQ(last.size(), 1u);
    EXPECT_GT(last[0].position.z, 600.0f);
    EXPECT_LT(last[0].position.z, 800.0f);
    EXPECT_LT(std::abs(last[0].position.x), 120.0f);
}

}  // namespace
}  // namespace quilo::head::cpu::test
