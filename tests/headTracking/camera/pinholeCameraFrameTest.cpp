// The frame of a host's own camera: depth lookup in the host's depth image,
// pinhole projection with its intrinsics, and the refusals at the edges.
#include "headTracking/camera/pinholeCameraFrame.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace quilo::head {
namespace {

CameraIntrinsics Intrinsics() {
    CameraIntrinsics intrinsics;
    intrinsics.width = 5;
    intrinsics.height = 4;
    intrinsics.ppx = 2.0f;
    intrinsics.ppy = 1.5f;
    intrinsics.fx = 100.0f;
    intrinsics.fy = 200.0f;
    return intrinsics;
}

// A 5 x 4 depth image with rows 12 bytes apart (2 bytes of padding), starting
// one byte into its buffer so that the values are not aligned; value(x, y) =
// 100 · y + x.
struct Depth {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(1 + 12 * 4, 0xee);
    DepthImageDesc desc;
    Depth() {
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x) {
                const uint16_t v = static_cast<uint16_t>(100 * y + x);
                std::memcpy(&bytes[1 + 12 * y + 2 * x], &v, 2);
            }
        }
        desc = {5, 4, 12, 0.002f, bytes.data() + 1};
    }
};

TEST(PinholeCameraFrame, DepthIsReadAtTheTruncatedPixelInTheHostsUnit) {
    Depth depth;
    const ImageDesc image{5, 4, 0, depth.bytes.data()};
    const PinholeCameraFrame frame(image, &depth.desc, {Timestamp::Space::Unknown, 7.0}, Intrinsics());
    EXPECT_EQ(frame.imageDescs().size, 1);
    EXPECT_EQ(frame.timestamp().ms, 7.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        glm::dvec2 pixel;
        bool answers;
        float metres;
    };
    for (const Case& c : std::vector<Case>{{{0.0, 0.0}, true, 0.0f},
                                           {{4.9, 3.9}, true, 304 * 0.002f},
                                           {{2.5, 1.0}, true, 102 * 0.002f},
                                           {{-0.5, 0.0}, true, 0.0f},  // truncates to column 0
                                           {{5.0, 0.0}, false, 0.0f},
                                           {{0.0, 4.0}, false, 0.0f},
                                           {{-1.0, 0.0}, false, 0.0f},
                                           {{nan, 1.0}, false, 0.0f},
                                           {{1e300, 1.0}, false, 0.0f}}) {
        float metres = -1.0f;
        EXPECT_EQ(frame.GetDepth(c.pixel, &metres), c.answers) << c.pixel.x << "," << c.pixel.y;
        EXPECT_FLOAT_EQ(metres, c.answers ? c.metres : -1.0f) << c.pixel.x << "," << c.pixel.y;
    }

    // Without a depth image the frame says so and leaves the output alone.
    const PinholeCameraFrame noDepth(image, nullptr, {}, Intrinsics());
    float untouched = -1.0f;
    EXPECT_FALSE(noDepth.GetDepth({1.0, 1.0}, &untouched));
    EXPECT_EQ(untouched, -1.0f);
}

TEST(PinholeCameraFrame, ProjectionIsThePinholeOfTheIntrinsicsBothWays) {
    const ImageDesc image{5, 4, 0, nullptr};
    const PinholeCameraFrame frame(image, nullptr, {}, Intrinsics());
    glm::vec3 point;
    ASSERT_TRUE(frame.DeprojectPixelToPoint({12.0, -18.5}, 0.5f, &point));
    EXPECT_FLOAT_EQ(point.x, 0.05f);
    EXPECT_FLOAT_EQ(point.y, -0.05f);
    EXPECT_FLOAT_EQ(point.z, 0.5f);
    glm::dvec2 pixel;
    float depth = 0.0f;
    ASSERT_TRUE(frame.ProjectPointToPixel(point, &pixel, &depth));
    EXPECT_NEAR(pixel.x, 12.0, 1e-4);
    EXPECT_NEAR(pixel.y, -18.5, 1e-4);
    EXPECT_FLOAT_EQ(depth, 0.5f);

    // Behind the camera: no pixel, but the depth is written first.
    pixel = {-7.0, -7.0};
    EXPECT_FALSE(frame.ProjectPointToPixel({0.1f, 0.1f, -0.2f}, &pixel, &depth));
    EXPECT_FLOAT_EQ(depth, -0.2f);
    EXPECT_EQ(pixel, glm::dvec2(-7.0, -7.0));

    // Unusable focal lengths: neither way.
    CameraIntrinsics flat = Intrinsics();
    flat.fx = 0.0f;
    const PinholeCameraFrame unusable(image, nullptr, {}, flat);
    EXPECT_FALSE(unusable.DeprojectPixelToPoint({1.0, 1.0}, 1.0f, &point));
    EXPECT_FALSE(unusable.ProjectPointToPixel({0.0f, 0.0f, 1.0f}, &pixel, &depth));
}

}  // namespace
}  // namespace quilo::head
