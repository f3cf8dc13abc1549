#include <gtest/gtest.h>

#include <fmt/format.h>

#include "headTracking/camera/camera.h"

using namespace quilo;
using namespace quilo::head;

TEST(TrivialCameraFrame, OneImageAndNoGeometry) {
    static const uint8_t pixels[4] = {1, 2, 3, 4};
    TrivialCameraFrame frame(ImageDesc{2, 2, 90, pixels}, Timestamp{Timestamp::Space::System, 12.5});
    auto images = frame.imageDescs();
    ASSERT_EQ(images.size, 1);
    EXPECT_EQ(images[0].width, 2);
    EXPECT_EQ(images[0].rotation, 90);
    EXPECT_EQ(images[0].data, pixels);
    EXPECT_EQ(frame.timestamp().ms, 12.5);

    float depth = -7.0f;
    glm::vec3 point(9.0f);
    glm::dvec2 pixel(3.0);
    EXPECT_FALSE(frame.GetDepth({0, 0}, &depth));
    EXPECT_FALSE(frame.DeprojectPixelToPoint({0, 0}, 1.0f, &point));
    EXPECT_FALSE(frame.ProjectPointToPixel({0, 0, 1}, &pixel, &depth));
    EXPECT_EQ(depth, -7.0f);
    EXPECT_EQ(point, glm::vec3(9.0f));
    EXPECT_EQ(pixel, glm::dvec2(3.0));
}

TEST(TrivialCameraFrame, TextFormShowsImageThenTimestamp) {
    TrivialCameraFrame frame(ImageDesc{848, 480, 0, nullptr}, Timestamp{Timestamp::Space::Unknown, 3.25});
    EXPECT_EQ(fmt::format("{}", static_cast<const CameraFrame&>(frame)),
              "{{.width=848, .height=480, .rotation=0}, {.space=Timestamp::Space::Unknown, .ms=3.25}}");
}
