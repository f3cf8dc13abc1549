// The engine library of a build made without librealsense2.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/exception.h"
#include "headTracking/camera/realsenseCamera.h"

using ::testing::HasSubstr;

namespace {
struct NullListener : quilo::head::Camera::Listener {
    void OnCameraFrameAvailable(quilo::head::Camera*, const quilo::head::CameraFrame&) override {}
    void OnCameraIntrinsicsChange(quilo::head::Camera*, const quilo::CameraIntrinsics&) override {}
};
}  // namespace

TEST(RealsenseUnavailable, CameraEntryPointsSayThereIsNoRealsenseSupport) {
    NullListener listener;
    try {
        quilo::head::CreateRealsenseCamera(&listener, {});
        FAIL() << "a camera without librealsense2";
    } catch (const quilo::Exception& e) {
        EXPECT_THAT(e.what(), HasSubstr("This build has no RealSense support"));
    }
    try {
        quilo::head::UpdateRealsenseCameraDynamicConfiguration(nullptr, {});
        FAIL();
    } catch (const quilo::Exception& e) {
        EXPECT_THAT(e.what(), HasSubstr("This build has no RealSense support"));
    }
}
