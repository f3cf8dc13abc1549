// Head angles and depth estimates on landmarks projected from known poses.
#include <cmath>

#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>

#include "plugins/blinkDetectorCpu/headPose.h"

namespace quilo::head::cpu {
namespace {

constexpr double kDegree = CV_PI / 180.0;

// The generic face seen by `camera` from `position` (mm), looking straight at
// the camera and then turned by `turn` radians about its own vertical axis
// (positive: towards the image's left).
Landmarks Project(const Pinhole& camera, cv::Vec3d position, double turn) {
    // Columns: the head's x, y and z (into the head) axes in camera space; z
    // points from the camera to the head when it faces the camera.
    const cv::Vec3d z = cv::normalize(position);
    const cv::Vec3d x = cv::normalize(cv::Vec3d(0, 1, 0).cross(z));
    const cv::Vec3d y = z.cross(x);
    const cv::Matx33d lookAt(x[0], y[0], z[0], x[1], y[1], z[1], x[2], y[2], z[2]);
    const cv::Matx33d turned(std::cos(turn), 0, std::sin(turn), 0, 1, 0, -std::sin(turn), 0, std::cos(turn));
    const cv::Matx33d rotation = lookAt * turned;

    Landmarks landmarks;
    landmarks.fill(cv::Point2f(0, 0));
    for (const FacePoint& p : GenericFace()) {
        const cv::Vec3d q = rotation * cv::Vec3d(p.position.x, p.position.y, p.position.z) + position;
        landmarks[p.landmark] = cv::Point2f(static_cast<float>(camera.fx * q[0] / q[2] + camera.ppx),
                                            static_cast<float>(camera.fy * q[1] / q[2] + camera.ppy));
    }
    return landmarks;
}

const Pinhole kCamera{600.0, 600.0, 424.0, 240.0};

TEST(HeadPose, ViewerFacingTheCameraHasTheYawOfItsPosition) {
    for (const cv::Vec3d& position : {cv::Vec3d(0, 0, 900), cv::Vec3d(300, -100, 1000), cv::Vec3d(-450, 150, 1200)}) {
        SCOPED_TRACE(::testing::PrintToString(position));
        HeadPose pose;
        ASSERT_TRUE(FitHeadPose(Project(kCamera, position, 0.0), kCamera, &pose));
        const glm::vec3 angles = HeadAngles(pose);
        EXPECT_NEAR(angles.y, std::atan2(position[0], position[2]), 0.01);
        EXPECT_NEAR(angles.x, std::atan2(position[1], std::hypot(position[0], position[2])), 0.01);
        EXPECT_NEAR(angles.z, 0.0, 0.01);
        // Translation of the model origin (between the eyes), mm.
        EXPECT_NEAR(cv::norm(pose.translation - position), 0.0, 0.01 * cv::norm(position));
    }
}

TEST(HeadPose, TurningTheHeadAddsTheTurnToTheYaw) {
    const cv::Vec3d position(200, 0, 800);
    for (const double turn : {-30.0 * kDegree, -10.0 * kDegree, 15.0 * kDegree, 40.0 * kDegree}) {
        SCOPED_TRACE(turn / kDegree);
        HeadPose pose;
        ASSERT_TRUE(FitHeadPose(Project(kCamera, position, turn), kCamera, &pose));
        EXPECT_NEAR(HeadAngles(pose).y, std::atan2(position[0], position[2]) + turn, 0.01);
    }
}

TEST(HeadPose, FitStartsFromThePreviousPose) {
    HeadPose pose;
    ASSERT_TRUE(FitHeadPose(Project(kCamera, {0, 0, 700}, 0.0), kCamera, &pose));
    // A large turn in one step: the fit from the previous (frontal) pose finds it.
    ASSERT_TRUE(FitHeadPose(Project(kCamera, {0, 0, 700}, 35.0 * kDegree), kCamera, &pose));
    EXPECT_NEAR(HeadAngles(pose).y, 35.0 * kDegree, 0.01);
}

TEST(HeadPose, DegenerateLandmarksGiveNoPose) {
    Landmarks landmarks;
    landmarks.fill(cv::Point2f(100, 100));
    HeadPose pose;
    EXPECT_FALSE(FitHeadPose(landmarks, kCamera, &pose));
    EXPECT_FALSE(pose.valid);
    EXPECT_EQ(EstimateEyeDepth(landmarks, kCamera, 0.0), 0.0);
}

TEST(HeadPose, EyeDepthFromTheEyeDistance) {
    // The eye centres of the generic face lie about 2 mm behind its origin.
    for (const cv::Vec3d& position : {cv::Vec3d(0, 0, 900), cv::Vec3d(400, 0, 1000), cv::Vec3d(-600, 200, 1500)}) {
        for (const double turn : {0.0, 25.0 * kDegree, -40.0 * kDegree}) {
            SCOPED_TRACE(::testing::PrintToString(position) + " turned " + std::to_string(turn / kDegree));
            const Landmarks landmarks = Project(kCamera, position, turn);
            HeadPose pose;
            ASSERT_TRUE(FitHeadPose(landmarks, kCamera, &pose));
            const double depth = EstimateEyeDepth(landmarks, kCamera, HeadAngles(pose).y);
            EXPECT_NEAR(depth, position[2] / 1000.0, 0.015 * position[2] / 1000.0);
        }
    }
}

TEST(HeadPose, FrontalAnglesFollowTheEyes) {
    const Landmarks landmarks = Project(kCamera, {300, 0, 1000}, 0.0);
    const glm::vec3 angles = FrontalAngles(landmarks, kCamera);
    EXPECT_NEAR(angles.y, std::atan2(300.0, 1000.0), 0.01);
    EXPECT_NEAR(angles.z, 0.0, 0.01);
}

TEST(HeadPose, CameraFromIntrinsicsOrTheDefaultFieldOfView) {
    // 424 x 240, principal point (212.5, 119.5), focal lengths 210 and 211.
    CameraIntrinsics intrinsics{424, 240, 212.5f, 119.5f, 210.0f, 211.0f, {}, false};
    // Scaled to the image size.
    const Pinhole scaled = PinholeFor(intrinsics, 848, 480);
    EXPECT_DOUBLE_EQ(scaled.fx, 420.0);
    EXPECT_DOUBLE_EQ(scaled.fy, 422.0);
    EXPECT_DOUBLE_EQ(scaled.ppx, 425.0);
    EXPECT_DOUBLE_EQ(scaled.ppy, 239.0);
    // Missing or unusable: 87 degrees across, centred.
    for (const float fx : {0.0f, -5.0f, NAN}) {
        intrinsics.fx = fx;
        const Pinhole fallback = PinholeFor(intrinsics, 848, 480);
        EXPECT_NEAR(2.0 * std::atan(424.0 / fallback.fx), 87.0 * kDegree, 1e-9);
        EXPECT_EQ(fallback.fx, fallback.fy);
        EXPECT_EQ(fallback.ppx, 424.0);
        EXPECT_EQ(fallback.ppy, 240.0);
    }
}

}  // namespace
}  // namespace quilo::head::cpu
