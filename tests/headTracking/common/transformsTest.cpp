// Camera space to display space and back, and the pinhole deprojection.
#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>

#include "headTracking/common/transforms.h"

namespace quilo::head {
namespace {

TEST(Transforms, DisplayAndCameraSpaceAreInverses) {
    const glm::mat3 quarterTurnAboutY(glm::rotate(glm::mat4(1.0f), glm::radians(90.0f), glm::vec3(0, 1, 0)));
    const struct {
        glm::mat3 rotation;
        glm::vec3 position;
        glm::vec3 camera;
        glm::vec3 display;  // F · (R · v) + t
    } cases[] = {
        {glm::mat3(1.0f), {0, 0, 0}, {10, 20, 600}, {-10, -20, 600}},
        {glm::mat3(1.0f), {5, -7, 3}, {10, 20, 600}, {-5, -27, 603}},
        {quarterTurnAboutY, {0, 0, 0}, {0, 0, 600}, {-600, 0, 0}},
    };
    for (const auto& c : cases) {
        const glm::vec3 display = CameraToDisplay(c.rotation, c.position, c.camera);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(display[i], c.display[i], 1e-3f) << i;
        const glm::vec3 back = DisplayToCamera(c.rotation, c.position, display);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], c.camera[i], 1e-3f) << i;
        // A direction turns like a point but never moves with the camera.
        const glm::vec3 turned = RotateCameraToDisplay(c.rotation, c.camera);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(turned[i], c.display[i] - c.position[i], 1e-3f) << i;
    }
}

TEST(Transforms, PinholeDeprojectionScalesWithDepth) {
    CameraIntrinsics intrinsics;
    intrinsics.fx = 500.0f;
    intrinsics.fy = 250.0f;
    intrinsics.ppx = 320.0f;
    intrinsics.ppy = 240.0f;
    EXPECT_EQ(DeprojectPinhole({320.0, 240.0}, 0.6, intrinsics), glm::dvec3(0.0, 0.0, 0.6));
    EXPECT_EQ(DeprojectPinhole({420.0, 140.0}, 2.0, intrinsics), glm::dvec3(0.4, -0.8, 2.0));
}

}  // namespace
}  // namespace quilo::head
