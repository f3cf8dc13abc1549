// The engine with the CPU detector: a host pushes a real recording through a
// shared camera, and the engine reports the viewer.
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "blinkDetectorCpu/support.h"
#include "common/platform.h"
#include "headTracking/camera/sharedCamera.h"
#include "headTracking/engine/core/faceTracker.h"
#include "headTracking/engine/engine.h"

namespace quilo::head::cpu::test {
namespace {

TEST(BlinkDetectorCpuEngine, TracksTheViewerOfARecording) {
    const auto platform = Platform::Create(PlatformInitArgs{});
    SharedCameraSink sink;
    std::vector<size_t> detections, faces;
    std::vector<Face> last;
    EngineInitArgs args;
    args.platform = platform.get();
    args.sharedCameraSink = &sink;
    args.configuration.faceDetector.backend = kQuiloFaceDetectorBackendCPU;
    args.configuration.faceDetector.maxNumOfFaces = 1;
    args.frameCallback = [&](const FaceTracker& tracker, const FaceDetectorOutput& output,
                             const CameraFrame&) {
        detections.push_back(output.detections.size());
        faces.push_back(static_cast<size_t>(tracker.faces().size));
        last.assign(tracker.faces().begin(), tracker.faces().end());
    };
    Engine engine(args);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kQuiloFaceDetectorBackendCPU);
    ASSERT_TRUE(engine.StartTracking());

    // The webcam: 400 x 300 pixels, about 60 degrees across.
    const CameraIntrinsics webcam = CentredIntrinsics(400, 300, 346.0f);
    sink.onIntrinsicsChange(webcam);
    // The detector searches in the background: the first frame is delivered
    // until a frame after the search reports the viewer.
    const cv::Mat first = LoadGrey(TestData("webcam-head-motion/00001.png"));
    ASSERT_FALSE(first.empty());
    double ms = 0.0;
    ASSERT_TRUE(Eventually([&] {
        ms += 40.0;
        sink.onFrameAvailable(ImageDesc{first.cols, first.rows, 0, first.data},
                              Timestamp{Timestamp::Space::System, ms});
        return !detections.empty() && detections.back() == 1u;
    }));
    const size_t before = detections.size();
    constexpr int kFrames = 30;
    for (int i = 2; i <= kFrames; ++i) {
        const cv::Mat image = LoadGrey(TestData(fmt::format("webcam-head-motion/{:05d}.png", i)));
        ASSERT_FALSE(image.empty());
        ms += 40.0;
        sink.onFrameAvailable(ImageDesc{image.cols, image.rows, 0, image.data},
                              Timestamp{Timestamp::Space::System, ms});
    }
    EXPECT_TRUE(engine.StopTracking());

    ASSERT_EQ(detections.size(), before + kFrames - 1);
    for (size_t i = before - 1; i < detections.size(); ++i)
        EXPECT_EQ(detections[i], 1u) << "frame " << i;
    // The first frame only starts the tracker's clock.
    for (size_t i = before; i < detections.size(); ++i) EXPECT_EQ(faces[i], 1u) << "frame " << i;
    // About half a metre in front of the camera, near its axis.
    ASSERT_EQ(last.size(), 1u);
    EXPECT_GT(last[0].position.z, 350.0f);
    EXPECT_LT(last[0].position.z, 650.0f);
    EXPECT_LT(std::abs(last[0].position.x), 100.0f);
}

}  // namespace
}  // namespace quilo::head::cpu::test
