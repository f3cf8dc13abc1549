// The RealSense camera's frames, as the listener sees them during capture
// against the simulated device: images, timestamps, depth and projection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <librealsense2/hpp/rs_types.hpp>

#include <cmath>
#include <cstring>
#include <limits>

#include "realsenseTestSupport.h"

using namespace quilo;
using namespace quilo::head;
using namespace realsenseTest;
using spdlog::level::err;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::vector<std::string> CallsNamed(std::initializer_list<std::string> names) {
    std::vector<std::string> out;
    for (const auto& call : fakeRealsense::Calls()) {
        if (std::find(names.begin(), names.end(), call) != names.end()) out.push_back(call);
    }
    return out;
}

bool SameIntrinsics(const rs2_intrinsics& a, const rs2_intrinsics& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Captures the frames pushed and runs `onFrame` on each, inside the listener.
// Stopping capture may log time-outs of the capture loop; the library error
// lines of the frame ("Failed to ...") are counted instead of all error lines.
class RealsenseCameraFrames : public RealsenseFixture {
protected:
    void Deliver(std::vector<fakeRealsense::FrameSet> sets,
                 std::function<void(Camera*, const CameraFrame&)> onFrame = nullptr) {
        listener.onFrame = std::move(onFrame);
        Open();
        camera->StartCapture();
        for (auto& set : sets) fakeRealsense::PushFrameSet(std::move(set));
        ASSERT_TRUE(listener.WaitForFrames(sets.size()));
        StopCapture();
    }
};

}  // namespace

TEST_F(RealsenseCameraFrames, ImageIsTheInfraredFrameReadOnce) {
    Slice<ImageDesc> first;
    Slice<ImageDesc> second;
    Deliver({fakeRealsense::InfraredAndDepth(80, 60, 5.0)}, [&](Camera*, const CameraFrame& frame) {
        first = frame.imageDescs();
        second = frame.imageDescs();
    });
    EXPECT_EQ(first.data, second.data);
    EXPECT_EQ(first.size, 1);
    EXPECT_EQ(second.size, 1);
    // Width, height, then the pixels, each asked once however often the frame is read.
    EXPECT_THAT(CallsNamed({"rs2_get_frame_width", "rs2_get_frame_height", "rs2_get_frame_data"}),
                ElementsAre("rs2_get_frame_width", "rs2_get_frame_height", "rs2_get_frame_data"));
    const auto frames = listener.Frames();
    ASSERT_EQ(frames[0].images.size(), 1u);
    EXPECT_EQ(frames[0].images[0].width, 80);
    EXPECT_EQ(frames[0].images[0].height, 60);
    EXPECT_EQ(frames[0].pixels[17 + 33 * 80], fakeRealsense::PixelAt(17, 33));
}

TEST_F(RealsenseCameraFrames, FirstInfraredFrameOfTheSetIsTheImage) {
    auto second = fakeRealsense::InfraredFrame(32, 24, 1.0);
    second.profile.index = 2;
    fakeRealsense::FrameSet set{
        {fakeRealsense::DepthFrame(64, 48, 1.0), fakeRealsense::InfraredFrame(64, 48, 1.0), second}, true};
    Deliver({set});
    EXPECT_EQ(listener.Frames()[0].images[0].width, 64);
}

TEST_F(RealsenseCameraFrames, TimestampIsReadOnce) {
    Timestamp first;
    Timestamp second;
    Deliver({fakeRealsense::InfraredAndDepth(64, 48, 77.5)}, [&](Camera*, const CameraFrame& frame) {
        first = frame.timestamp();
        second = frame.timestamp();
    });
    EXPECT_EQ(first.ms, second.ms);
    EXPECT_EQ(first.space, second.space);
    EXPECT_EQ(fakeRealsense::CallCount("rs2_get_frame_timestamp"), 1);
    EXPECT_EQ(fakeRealsense::CallCount("rs2_get_frame_timestamp_domain"), 1);
    EXPECT_EQ(fakeRealsense::CallCount("rs2_get_frame_metadata"), 2);
}

TEST_F(RealsenseCameraFrames, GlobalTimeIsCorrectedBySensorMinusFrameTimestamp) {
    auto later = fakeRealsense::InfraredFrame(64, 48, 1000.25);
    later.metadata[RS2_FRAME_METADATA_SENSOR_TIMESTAMP] = 5001500;
    later.metadata[RS2_FRAME_METADATA_FRAME_TIMESTAMP] = 5000000;
    auto earlier = later;
    earlier.metadata[RS2_FRAME_METADATA_SENSOR_TIMESTAMP] = 4999000;
    Deliver({fakeRealsense::FrameSet{{later}, true}, fakeRealsense::FrameSet{{earlier}, true}});
    const auto frames = listener.Frames();
    EXPECT_EQ(frames[0].timestamp.space, Timestamp::Space::System);
    EXPECT_DOUBLE_EQ(frames[0].timestamp.ms, 1001.75);
    EXPECT_EQ(frames[1].timestamp.space, Timestamp::Space::System);
    EXPECT_DOUBLE_EQ(frames[1].timestamp.ms, 999.25);
    EXPECT_EQ(log.Count(err, "Failed to"), 0);
}

TEST_F(RealsenseCameraFrames, OtherDomainsKeepTheLibraryTimestampInTheUnknownSpace) {
    Deliver({fakeRealsense::FrameSet{{fakeRealsense::InfraredFrame(64, 48, 12.5, RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK)},
                                     true},
             fakeRealsense::FrameSet{{fakeRealsense::InfraredFrame(64, 48, 13.5, RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME)},
                                     true}});
    const auto frames = listener.Frames();
    EXPECT_EQ(frames[0].timestamp.space, Timestamp::Space::Unknown);
    EXPECT_EQ(frames[0].timestamp.ms, 12.5);
    EXPECT_EQ(frames[1].timestamp.space, Timestamp::Space::Unknown);
    EXPECT_EQ(frames[1].timestamp.ms, 13.5);
    EXPECT_EQ(fakeRealsense::CallCount("rs2_get_frame_metadata"), 0);
}

TEST_F(RealsenseCameraFrames, MissingMetadataFallsBackToTheLibraryClock) {
    auto frame = fakeRealsense::InfraredFrame(64, 48, 1000.0);
    frame.metadata.erase(RS2_FRAME_METADATA_FRAME_TIMESTAMP);
    fakeRealsense::SetLibraryTime(123456.5);
    Deliver({fakeRealsense::FrameSet{{frame}, true}});
    const auto timestamp = listener.Frames()[0].timestamp;
    EXPECT_EQ(timestamp.space, Timestamp::Space::Unknown);
    EXPECT_EQ(timestamp.ms, 123456.5);
    EXPECT_EQ(log.Count(err, "Failed to query frame timestamp: func=\"rs2_get_frame_metadata\""), 1);
}

TEST_F(RealsenseCameraFrames, SetWithoutInfraredIsDeliveredWithoutImageAndLogsOnce) {
    fakeRealsense::SetLibraryTime(4242.5);
    Timestamp first;
    Timestamp second;
    int64_t imageCount = -1;
    Deliver({fakeRealsense::FrameSet{{fakeRealsense::DepthFrame(64, 48, 1.0)}, true}},
            [&](Camera*, const CameraFrame& frame) {
                imageCount = frame.imageDescs().size;
                frame.imageDescs();
                first = frame.timestamp();
                second = frame.timestamp();
            });
    EXPECT_EQ(imageCount, 0);
    EXPECT_TRUE(listener.Frames()[0].images.empty());
    EXPECT_EQ(first.space, Timestamp::Space::Unknown);
    EXPECT_EQ(first.ms, 4242.5);
    EXPECT_EQ(second.ms, 4242.5);
    EXPECT_EQ(log.Count(err,
                        "Failed to query frame image desc: func=\"rs2_get_frame_width\" args=\"frame:nullptr\" "
                        "message=\"null pointer passed for argument \"frame\"\""),
              1);
    EXPECT_EQ(log.Count(err, "Failed to query frame timestamp: func=\"rs2_get_frame_timestamp\""), 1);
    EXPECT_EQ(log.Count(err, "Failed to"), 2);
}

TEST_F(RealsenseCameraFrames, NonCompositeWaitResultGivesAnEmptyFrameThatStillProjects) {
    bool projected = false;
    glm::vec3 point(0.0f);
    Deliver({fakeRealsense::FrameSet{{fakeRealsense::InfraredFrame(64, 48, 1.0)}, false}},
            [&](Camera*, const CameraFrame& frame) {
                EXPECT_TRUE(frame.imageDescs().empty());
                projected = frame.DeprojectPixelToPoint({32.0, 24.0}, 1.0f, &point);
            });
    EXPECT_TRUE(projected);
    EXPECT_EQ(point.z, 1.0f);
    EXPECT_EQ(fakeRealsense::LiveFrames(), 0);
}

TEST_F(RealsenseCameraFrames, GetDepthTruncatesThePixelTowardZero) {
    float inside = 0.0f;
    float nearOrigin = 0.0f;
    Deliver({fakeRealsense::InfraredAndDepth(64, 48, 1.0)}, [&](Camera*, const CameraFrame& frame) {
        EXPECT_TRUE(frame.GetDepth({10.9, 20.9}, &inside));
        EXPECT_TRUE(frame.GetDepth({-0.9, 0.7}, &nearOrigin));
    });
    EXPECT_EQ(inside, fakeRealsense::DepthAt(10, 20));
    EXPECT_EQ(nearOrigin, fakeRealsense::DepthAt(0, 0));
    const auto queries = fakeRealsense::DepthQueries();
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_EQ(queries[0].x, 10);
    EXPECT_EQ(queries[0].y, 20);
}

TEST_F(RealsenseCameraFrames, GetDepthFailuresPropagateAsLibraryErrors) {
    auto wrongFormat = fakeRealsense::DepthFrame(64, 48, 1.0);
    wrongFormat.profile.format = RS2_FORMAT_Y8;
    int thrown = 0;
    const auto expectThrows = [&](const CameraFrame& frame, glm::dvec2 pixel) {
        float depth = -1.0f;
        try {
            frame.GetDepth(pixel, &depth);
        } catch (const rs2::error&) {
            ++thrown;
        }
        EXPECT_EQ(depth, -1.0f);
    };
    int frameNumber = 0;
    Deliver({fakeRealsense::InfraredAndDepth(64, 48, 1.0),
             fakeRealsense::FrameSet{{fakeRealsense::InfraredFrame(64, 48, 2.0)}, true},
             fakeRealsense::FrameSet{{wrongFormat, fakeRealsense::InfraredFrame(64, 48, 3.0)}, true}},
            [&](Camera*, const CameraFrame& frame) {
                if (++frameNumber == 1) {
                    expectThrows(frame, {64.0, 10.0});  // outside the image
                    expectThrows(frame, {std::nan(""), 10.0});
                    expectThrows(frame, {1e12, 10.0});
                } else {
                    expectThrows(frame, {10.0, 10.0});  // no depth image
                }
            });
    EXPECT_EQ(thrown, 5);
    EXPECT_EQ(log.Count(err, "Failed to"), 0);
}

TEST_F(RealsenseCameraFrames, ProjectionUsesTheInfraredIntrinsicsAndWritesDepth) {
    glm::dvec2 pixel(-1.0);
    float depth = -1.0f;
    glm::vec3 point(-1.0f);
    bool projected = false;
    bool deprojected = false;
    Deliver({fakeRealsense::InfraredAndDepth(64, 48, 1.0)}, [&](Camera*, const CameraFrame& frame) {
        projected = frame.ProjectPointToPixel({0.1f, -0.05f, 0.8f}, &pixel, &depth);
        deprojected = frame.DeprojectPixelToPoint({500.75, 100.5}, 1.25f, &point);
    });
    const rs2_intrinsics ir = fakeRealsense::IntrinsicsFor(RS2_STREAM_INFRARED, 1, 848, 480);
    EXPECT_TRUE(projected);
    EXPECT_EQ(depth, 0.8f);
    EXPECT_EQ(pixel.x, static_cast<double>(0.1f / 0.8f * ir.fx + ir.ppx));
    EXPECT_EQ(pixel.y, static_cast<double>(-0.05f / 0.8f * ir.fy + ir.ppy));
    EXPECT_TRUE(deprojected);
    EXPECT_EQ(point.x, (500.75f - ir.ppx) / ir.fx * 1.25f);
    EXPECT_EQ(point.y, (100.5f - ir.ppy) / ir.fy * 1.25f);
    EXPECT_EQ(point.z, 1.25f);
    // The whole record, distortion model and coefficients included.
    const auto handed = fakeRealsense::ProjectionIntrinsics();
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_TRUE(SameIntrinsics(handed[0], ir));
    EXPECT_TRUE(SameIntrinsics(handed[1], ir));
}

TEST_F(RealsenseCameraFrames, TextFormShowsTheInfraredImageAndTimestamp) {
    std::string text;
    Deliver({fakeRealsense::InfraredAndDepth(64, 48, 2.5)},
            [&](Camera*, const CameraFrame& frame) { text = fmt::format("{}", frame); });
    EXPECT_EQ(text, "{{.width=64, .height=48, .rotation=0}, {.space=Timestamp::Space::System, .ms=2.5}}");
}
