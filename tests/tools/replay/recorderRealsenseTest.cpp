// The recorder on the RealSense camera's own frames, from the simulated
// device: the depth it saves is the camera's, aligned with the infrared image.
#include <gtest/gtest.h>

#include <cmath>

#include "realsenseTestSupport.h"
#include "support/tempFolder.h"
#include "tools/replay/recorder.h"

namespace quilo::replay {
namespace {

using RecorderOnRealsense = realsenseTest::RealsenseFixture;

TEST_F(RecorderOnRealsense, SavesTheInfraredImageWithItsAlignedDepth) {
    test::TempFolder folder;
    SequenceRecorder recorder(folder.path() / "session", "simulated camera");
    CameraIntrinsics intrinsics;
    intrinsics.width = 64;
    intrinsics.height = 48;
    intrinsics.fx = intrinsics.fy = 60.0f;
    listener.onFrame = [&](head::Camera*, const head::CameraFrame& frame) { recorder.Record(frame, intrinsics); };
    Open();
    camera->StartCapture();
    fakeRealsense::PushFrameSet(realsenseTest::SmallSet(100.0));
    fakeRealsense::PushFrameSet(realsenseTest::SmallSet(111.0));
    ASSERT_TRUE(listener.WaitForFrames(2));
    StopCapture();
    recorder.Finish();

    const Sequence sequence = ReadSequence(folder.path() / "session");
    ASSERT_EQ(sequence.frames.size(), 2u);
    for (const SequenceFrame& frame : sequence.frames) {
        ASSERT_TRUE(frame.depth) << frame.image;
        EXPECT_EQ(ReadFrameImage(folder.path() / "session", sequence, frame).pixels[17 + 33 * 64],
                  fakeRealsense::PixelAt(17, 33));
        const DepthImage depth = ReadFrameDepth(folder.path() / "session", sequence, frame);
        for (int y : {0, 21, 47}) {
            for (int x : {0, 30, 63}) {
                EXPECT_EQ(depth.values[static_cast<size_t>(y * 64 + x)],
                          std::lround(fakeRealsense::DepthAt(x, y) / sequence.depthUnit))
                    << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace quilo::replay
