// An engine fed by its host through the C interface: pushed images reach the
// scripted detector as frames that answer depth and projection from what the
// host gave, and every kind of bad input is refused with status 2.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakeRealsense.h"
#include "headTracking/camera/camera.h"
#include "headTracking/capi/poll.h"
#include "headTracking/capi/quiloHeadTracking.h"
#include "headTracking/engine/testPlugins/scriptedDetector.h"
#include "support/detections.h"
#include "support/logCapture.h"
#include "support/sandbox.h"

extern "C" int quiloTestCClientOwnCamera(void);

using quilo::test::DetectorOperation;
using quilo::test::Sandbox;

namespace {

const std::string kCpu = "quiloHeadTrackingBlinkDetectorcpu";
const std::string kScripted = "quiloTestBlinkDetectorScripted";
constexpr int kWidth = 64;
constexpr int kHeight = 48;

// What the detector saw of the last frame, asked from its own thread.
struct Seen {
    std::vector<uint8_t> pixels;
    bool hasDepth = false;
    float depth = -1.0f;
    bool deprojected = false;
    glm::vec3 point{0.0f};
    bool projected = false;
    glm::dvec2 pixel{0.0};
    float projectedDepth = 0.0f;
    quilo::Timestamp timestamp;
};

class OwnCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        quilo::test::DetectorScript script;
        script.maxNumOfFacesLimit = 5;
        script.thereafter = {quilo::test::FaceAt(32.0, 24.0)};
        script.onDetectFaces = [this](const quilo::head::CameraFrame& frame) {
            Seen seen;
            const auto image = frame.imageDescs()[0];
            seen.pixels.assign(image.data, image.data + size_t(image.width) * size_t(image.height));
            seen.hasDepth = frame.GetDepth({10.9, 20.9}, &seen.depth);
            seen.deprojected = frame.DeprojectPixelToPoint({42.0, 14.0}, 2.0f, &seen.point);
            seen.projected = frame.ProjectPointToPixel({0.1f, -0.05f, 0.5f}, &seen.pixel, &seen.projectedDepth);
            seen.timestamp = frame.timestamp();
            std::lock_guard<std::mutex> lock(mutex_);
            seen_ = seen;
        };
        quilo::test::ResetScriptedDetector(script);
        Sandbox::Install(kScripted, kCpu);
        args_.maxNumOfFaces = 1;
        args_.logLevel = 1;
        args_.enablePolling = 1;
        pixels_.assign(size_t(kWidth) * kHeight, 7);
        image_ = {kWidth, kHeight, kWidth, 0, pixels_.data(), pixels_.size()};
        // Depth 600 mm everywhere except the pixel (10, 20): 1234 mm.
        depthValues_.assign(size_t(kWidth) * kHeight, 600);
        depthValues_[20 * kWidth + 10] = 1234;
        depth_ = {kWidth, kHeight, 2 * kWidth, 0.001f, depthValues_.data(), depthValues_.size() * 2};
        // Eyes 40 px apart at 0.6 m are 60 mm apart with these focal lengths.
        intrinsics_ = {kWidth, kHeight, 32.0f, 24.0f, 400.0f, 500.0f, {0, 0, 0, 0, 0}, 0};
    }
    void TearDown() override {
        if (engine_) quiloHeadTrackingEngineRelease(engine_);
        quilo::test::ResetScriptedDetector();
    }

    void Create() { ASSERT_EQ(quiloHeadTrackingEngineInitArgsWithOwnCamera(&args_, &engine_), 0); }

    int Push(double ms, bool withDepth = false) {
        return quiloHeadTrackingEnginePushFrame(engine_, &image_, withDepth ? &depth_ : nullptr, &intrinsics_, ms);
    }

    std::optional<Seen> LastSeen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

    size_t Detections() { return quilo::test::GetScriptedDetectorRecord().Count(DetectorOperation::DetectFaces); }

    quilo_head_tracking_result_t Poll() { return quilo::test::PollResult(engine_); }

    Sandbox sandbox_;
    quilo::test::LogCapture log_;
    quilo_head_tracking_engine_init_args_t args_{};
    quilo_head_tracking_engine* engine_ = nullptr;
    std::vector<uint8_t> pixels_;
    std::vector<uint16_t> depthValues_;
    quilo_head_tracking_image_t image_{};
    quilo_head_tracking_depth_image_t depth_{};
    quilo_head_tracking_camera_intrinsics_t intrinsics_{};
    std::mutex mutex_;
    std::optional<Seen> seen_;
};

TEST_F(OwnCameraTest, PlainCClientSeesNullHandlesAndArguments) {
    EXPECT_EQ(quiloTestCClientOwnCamera(), 0);
    EXPECT_EQ(log_.Count(spdlog::level::err, "quiloHeadTrackingEnginePushFrame: intrinsics is null"), 1u);
}

TEST_F(OwnCameraTest, PushedFramesAreTrackedWithTheHostsDepthAndGeometry) {
    Create();
    EXPECT_EQ(Push(5.0, true), 0);  // not tracking: nothing reaches the detector
    EXPECT_EQ(Detections(), 0u);
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    ASSERT_EQ(Push(10.0, true), 0);
    ASSERT_EQ(Push(20.0, true), 0);

    const auto seen = LastSeen();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->timestamp.space, quilo::Timestamp::Space::Unknown);
    EXPECT_EQ(seen->timestamp.ms, 20.0);
    EXPECT_TRUE(seen->hasDepth);
    EXPECT_FLOAT_EQ(seen->depth, 1.234f);  // (10.9, 20.9) reads column 10, row 20
    ASSERT_TRUE(seen->deprojected);
    EXPECT_FLOAT_EQ(seen->point.x, (42.0f - 32.0f) / 400.0f * 2.0f);
    EXPECT_FLOAT_EQ(seen->point.y, (14.0f - 24.0f) / 500.0f * 2.0f);
    EXPECT_FLOAT_EQ(seen->point.z, 2.0f);
    ASSERT_TRUE(seen->projected);
    EXPECT_DOUBLE_EQ(seen->pixel.x, 32.0 + 400.0 * 0.1f / 0.5f);
    EXPECT_DOUBLE_EQ(seen->pixel.y, 24.0 + 500.0 * -0.05f / 0.5f);
    EXPECT_FLOAT_EQ(seen->projectedDepth, 0.5f);

    const auto result = Poll();
    ASSERT_EQ(result.numFaces, 1);
    EXPECT_EQ(result.timestamp.space, -1);
    EXPECT_EQ(double{result.timestamp.ms}, 20.0);
    EXPECT_GT(result.faces[0].position.z, 500.0f);  // the detection's 0.6 m
    EXPECT_LT(result.faces[0].position.z, 700.0f);

    // Without depth the frame says so, and still projects.
    ASSERT_EQ(Push(30.0, false), 0);
    EXPECT_FALSE(LastSeen()->hasDepth);
    EXPECT_TRUE(LastSeen()->deprojected);
}

TEST_F(OwnCameraTest, PaddedRowsArePackedAndIntrinsicsChangesReported) {
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    // Rows 70 bytes apart: the row's pixels are its number, the padding 255.
    const int stride = 70;
    std::vector<uint8_t> padded(size_t(stride) * (kHeight - 1) + kWidth, 255);
    for (int y = 0; y < kHeight; ++y) std::memset(&padded[size_t(y) * stride], y, kWidth);
    image_ = {kWidth, kHeight, stride, 0, padded.data(), padded.size()};
    ASSERT_EQ(Push(1.0), 0);
    const auto seen = LastSeen();
    ASSERT_TRUE(seen);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) ASSERT_EQ(seen->pixels[size_t(y) * kWidth + x], y) << x << "," << y;
    }

    const auto intrinsicsCalls = [] {
        return quilo::test::GetScriptedDetectorRecord().Count(DetectorOperation::OnCameraIntrinsicsChange);
    };
    const size_t before = intrinsicsCalls();
    ASSERT_EQ(Push(2.0), 0);
    EXPECT_EQ(intrinsicsCalls(), before);  // the same geometry: no change
    intrinsics_.fx = 410.0f;
    ASSERT_EQ(Push(3.0), 0);
    EXPECT_EQ(intrinsicsCalls(), before + 1);
    const auto calls = quilo::test::GetScriptedDetectorRecord().calls;
    const auto last = std::find_if(calls.rbegin(), calls.rend(), [](const auto& call) {
        return call.operation == DetectorOperation::OnCameraIntrinsicsChange;
    });
    ASSERT_NE(last, calls.rend());
    EXPECT_FLOAT_EQ(last->intrinsics.fx, 410.0f);
}

// One rule: any bad argument gives status 2 and an error line naming it, and
// nothing reaches the engine.
TEST_F(OwnCameraTest, BadInputIsRefusedWithAnErrorLine) {
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    ASSERT_EQ(Push(100.0, true), 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<uint8_t> small(pixels_.size() - 1, 0);

    struct Case {
        const char* name;
        std::function<void(quilo_head_tracking_image_t&, quilo_head_tracking_depth_image_t&,
                           quilo_head_tracking_camera_intrinsics_t&, double&)>
            spoil;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"null data", [](auto& i, auto&, auto&, auto&) { i.data = nullptr; }, "the image's data is null"},
        {"zero width", [](auto& i, auto&, auto&, auto&) { i.width = 0; }, "each side must be from 1 to 8192"},
        {"negative height", [](auto& i, auto&, auto&, auto&) { i.height = -4; }, "each side must be from 1"},
        {"too wide",
         [](auto& i, auto&, auto&, auto&) {
             i.width = 8193;
             i.stride = 8193;
         },
         "each side must be from 1 to 8192"},
        {"short stride", [](auto& i, auto&, auto&, auto&) { i.stride = kWidth - 1; },
         "stride 63 is shorter than its width 64"},
        {"small buffer",
         [&](auto& i, auto&, auto&, auto&) {
             i.data = small.data();
             i.dataSize = small.size();
         },
         "the image's buffer holds 3071 bytes"},
        {"huge stride", [](auto& i, auto&, auto&, auto&) { i.stride = 1 << 30; }, "the image's buffer holds"},
        {"depth without data", [](auto&, auto& d, auto&, auto&) { d.data = nullptr; },
         "the depth image's data is null"},
        {"depth of another size", [](auto&, auto& d, auto&, auto&) { d.width = kWidth / 2; },
         "the depth image is 32 x 48 pixels"},
        {"depth stride short", [](auto&, auto& d, auto&, auto&) { d.stride = 2 * kWidth - 1; },
         "shorter than a row of 128 bytes"},
        {"depth unit zero", [](auto&, auto& d, auto&, auto&) { d.unit = 0.0f; }, "the depth unit 0 is not"},
        {"depth unit NaN", [=](auto&, auto& d, auto&, auto&) { d.unit = nan; }, "the depth unit nan is not"},
        {"depth buffer small", [](auto&, auto& d, auto&, auto&) { d.dataSize -= 1; },
         "the depth image's buffer holds 6143 bytes"},
        {"intrinsics of another size", [](auto&, auto&, auto& c, auto&) { c.height = 480; },
         "the intrinsics are for 64 x 480 pixels"},
        {"fx NaN", [=](auto&, auto&, auto& c, auto&) { c.fx = nan; }, "a value that is not finite"},
        {"ppy infinite", [=](auto&, auto&, auto& c, auto&) { c.ppy = inf; }, "a value that is not finite"},
        {"distortion NaN", [=](auto&, auto&, auto& c, auto&) { c.distortionCoeffs[4] = nan; },
         "a value that is not finite"},
        {"fy zero", [](auto&, auto&, auto& c, auto&) { c.fy = 0.0f; }, "are not positive"},
        {"timestamp NaN", [](auto&, auto&, auto&, auto& t) { t = std::nan(""); }, "is not finite"},
        {"timestamp backwards", [](auto&, auto&, auto&, auto& t) { t = 99.0; },
         "the timestamp 99 ms does not come after the last one, 100 ms"},
        {"timestamp repeated", [](auto&, auto&, auto&, auto& t) { t = 100.0; }, "does not come after"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = image_;
        auto depth = depth_;
        auto intrinsics = intrinsics_;
        double ms = 200.0;
        c.spoil(image, depth, intrinsics, ms);
        const size_t detections = Detections();
        const size_t lines = log_.Count(spdlog::level::err, c.logged);
        EXPECT_EQ(quiloHeadTrackingEnginePushFrame(engine_, &image, &depth, &intrinsics, ms), 2);
        EXPECT_EQ(log_.Count(spdlog::level::err, c.logged), lines + 1);
        EXPECT_EQ(Detections(), detections);
    }
    // A refused push leaves the last timestamp as it was.
    EXPECT_EQ(Push(100.5, true), 0);
}

TEST_F(OwnCameraTest, AnEngineWithItsRealsenseCameraRefusesPushes) {
    // The test binary's simulated device provides the camera.
    fakeRealsense::Reset();
    ASSERT_EQ(quiloHeadTrackingEngineInitArgs(&args_, &engine_), 0);
    EXPECT_EQ(Push(1.0), 2);
    EXPECT_EQ(log_.Count(spdlog::level::err, "the engine takes its images from its RealSense camera"), 1u);
}

TEST_F(OwnCameraTest, ResultsComeThroughTheCallback) {
    struct Results {
        std::vector<quilo_head_tracking_result_t> all;
        static void Handle(quilo_head_tracking_frame* frame, void* user) {
            quilo_head_tracking_result_t result{};
            if (quiloHeadTrackingFrameGetTrackingResult(frame, &result) == 0) {
                static_cast<Results*>(user)->all.push_back(result);
            }
        }
    } results;
    args_.enablePolling = 0;
    args_.frameCallback = &Results::Handle;
    args_.frameCallbackUserData = &results;
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Push(10.0 * i), 0);
    // Each push is processed before it returns, on this thread.
    ASSERT_EQ(results.all.size(), 3u);
    EXPECT_EQ(double{results.all[2].timestamp.ms}, 20.0);
    EXPECT_EQ(results.all[2].numFaces, 1);
}

}  // namespace

// A host's camera threads push while its UI thread stops and starts the
// session: no frame may meet a tracker that is being destroyed, every push
// is processed or refused as stale, and the engine tracks as before once they
// are done.
TEST_F(OwnCameraTest, PushesRacingSessionStopsAndStartsAreSafe) {
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    std::atomic<int> clock{0};
    std::atomic<bool> done{false};
    std::atomic<int> refused{0};
    const auto pusher = [&] {
        while (!done) {
            // Both threads take their times from one clock, but may reach the
            // engine in the other order: such a push is refused as stale.
            const int status = Push(++clock);
            if (status != 0) {
                ++refused;
                EXPECT_THAT(quiloHeadTrackingGetLastErrorMessage(), ::testing::HasSubstr("does not come after"));
            }
        }
    };
    // Each stop and each start lands while the pushers are at work.
    const auto whilePushing = [&](const std::function<int()>& call) {
        const int seen = clock;
        while (clock < seen + 2) std::this_thread::yield();
        EXPECT_EQ(call(), 0);
    };
    std::thread first(pusher);
    std::thread second(pusher);
    for (int i = 0; i < 100; ++i) {
        whilePushing([&] { return quiloHeadTrackingEngineStopTracking(engine_); });
        whilePushing([&] { return quiloHeadTrackingEngineStartTracking(engine_); });
    }
    done = true;
    first.join();
    second.join();
    EXPECT_LT(refused.load(), clock.load() / 2);

    const size_t before = Detections();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Push(++clock), 0);
    EXPECT_EQ(Detections(), before + 3);
    EXPECT_EQ(Poll().numFaces, 1);
}

// Calls that would wait for the frame they are made from are refused with
// their reason, and the session goes on.
TEST_F(OwnCameraTest, CallsFromTheFrameCallbackAreRefusedWithTheirReason) {
    struct Case {
        const char* name;
        std::function<int(quilo_head_tracking_engine*)> call;
        const char* reason;
    };
    const quilo_head_tracking_image_t image = image_;
    const quilo_head_tracking_camera_intrinsics_t intrinsics = intrinsics_;
    const std::vector<Case> cases = {
        {"push",
         [&](quilo_head_tracking_engine* e) {
             return quiloHeadTrackingEnginePushFrame(e, &image, nullptr, &intrinsics, 1e9);
         },
         "called from inside the engine's processing of a pushed image"},
        {"stop", quiloHeadTrackingEngineStopTracking, "StopTracking was called from inside the processing"},
        {"start", quiloHeadTrackingEngineStartTracking, "StartTracking was called from inside the processing"},
        // Returns nothing: the refusal shows in the reason, the error line
        // and the engine that goes on below.
        {"release",
         [](quilo_head_tracking_engine* e) {
             quiloHeadTrackingEngineRelease(e);
             return 2;
         },
         "quiloHeadTrackingEngineRelease: called from inside the engine's processing of a frame"},
    };
    struct Inside {
        const Case* now = nullptr;
        quilo_head_tracking_engine* engine = nullptr;
        int status = -1;
        std::string reason;
        static void Handle(quilo_head_tracking_frame*, void* user) {
            auto& self = *static_cast<Inside*>(user);
            if (self.now == nullptr) return;
            self.status = self.now->call(self.engine);
            self.reason = quiloHeadTrackingGetLastErrorMessage();
            self.now = nullptr;
        }
    } inside;
    args_.frameCallback = &Inside::Handle;
    args_.frameCallbackUserData = &inside;
    Create();
    inside.engine = engine_;
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    double ms = 0.0;
    for (const auto& c : cases) {
        inside.now = &c;
        ASSERT_EQ(Push(++ms), 0) << c.name;
        EXPECT_EQ(inside.status, 2) << c.name;
        EXPECT_THAT(inside.reason, ::testing::HasSubstr(c.reason)) << c.name;
        EXPECT_EQ(log_.Count(inside.reason), 1u) << c.name;
        // The outer push succeeded, and the session still runs.
        EXPECT_STREQ(quiloHeadTrackingGetLastErrorMessage(), "") << c.name;
        const size_t before = Detections();
        ASSERT_EQ(Push(++ms), 0) << c.name;
        EXPECT_EQ(Detections(), before + 1) << c.name;
    }
}

namespace {

int64_t SystemNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One polled frame's prediction, its status and the thread's reason.
struct Predicted {
    int status = -1;
    quilo_head_tracking_eye_prediction_t eyes{};
    std::string reason;
};

Predicted PredictLatest(quilo_head_tracking_engine* engine, int32_t face, int64_t targetNs) {
    quilo_head_tracking_frame* frame = nullptr;
    EXPECT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine, &frame), 0);
    Predicted out;
    out.status = quiloHeadTrackingFramePredictEyes(frame, face, targetNs, &out.eyes);
    out.reason = quiloHeadTrackingGetLastErrorMessage();
    quiloHeadTrackingFrameRelease(frame);
    return out;
}

quilo_head_tracking_frame_timing_t LatestTiming(quilo_head_tracking_engine* engine) {
    quilo_head_tracking_frame* frame = nullptr;
    EXPECT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine, &frame), 0);
    quilo_head_tracking_frame_timing_t timing{};
    EXPECT_EQ(quiloHeadTrackingFrameGetTiming(frame, &timing), 0);
    quiloHeadTrackingFrameRelease(frame);
    return timing;
}

}  // namespace

// A host that states its timestamps in the system clock gets its frames'
// eyes predicted; one that does not, and a face without a detection, get the
// frame-time eyes with the status that says why. Every frame carries its
// exposure and publish times with profiling off.
TEST_F(OwnCameraTest, FramesPushedInTheSystemClockArePredictedAndTimed) {
    // 0.25 px to the right per 10 ms frame: 0.375 mm at 0.6 m with fx = 400,
    // faster than the prediction's fade.
    constexpr int kMoving = 80;
    quilo::test::DetectorScript script;
    script.maxNumOfFacesLimit = 5;
    for (int k = 0; k < kMoving; ++k) script.frames.push_back({quilo::test::FaceAt(21.0 + 0.25 * k, 24.0)});
    script.frames.push_back({});  // the face is lost for one frame
    script.thereafter = {quilo::test::FaceAt(36.0, 24.0)};
    quilo::test::ResetScriptedDetector(script);
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);

    // Whole milliseconds of today, so the stated times convert exactly.
    const double startMs = std::floor(static_cast<double>(SystemNowNs() / 1000000));
    double lastMs = startMs;
    int64_t pushedAt = 0;
    int64_t returnedAt = 0;
    for (int k = 0; k < kMoving; ++k) {
        lastMs = startMs + 10.0 * k;
        const quilo_head_tracking_timestamp_t stamp{0, lastMs};
        pushedAt = SystemNowNs();
        ASSERT_EQ(quiloHeadTrackingEnginePushFrameWithTimestamp(engine_, &image_, nullptr, &intrinsics_, &stamp), 0);
        returnedAt = SystemNowNs();
    }
    const auto timing = LatestTiming(engine_);
    EXPECT_EQ(int64_t{timing.exposureTime}, static_cast<int64_t>(lastMs) * 1000000);
    EXPECT_GE(int64_t{timing.publishTime}, pushedAt);
    EXPECT_LE(int64_t{timing.publishTime}, returnedAt);

    // The truth 40 ms on: four more steps. Display x is camera -x.
    const int64_t frameNs = static_cast<int64_t>(lastMs) * 1000000;
    const Predicted ahead = PredictLatest(engine_, 0, frameNs + 40000000);
    ASSERT_EQ(ahead.status, kQuiloHeadTrackingStatusSuccess) << ahead.reason;
    EXPECT_EQ(ahead.reason, "");
    EXPECT_DOUBLE_EQ(ahead.eyes.horizonMs, 40.0);
    const double cx = 21.0 + 0.25 * (kMoving - 1 + 4);
    const auto displayX = [](double pixel) { return static_cast<float>(-(pixel - 32.0) / 400.0 * 600.0); };
    EXPECT_NEAR(ahead.eyes.rightEye.x, displayX(cx - 20.0), 0.02f);
    EXPECT_NEAR(ahead.eyes.leftEye.x, displayX(cx + 20.0), 0.02f);
    EXPECT_NEAR(ahead.eyes.rightEye.z, 600.0f, 0.01f);

    struct Refusal {
        const char* name;
        int32_t face;
        int64_t target;
        int status;
    };
    const Refusal refusals[] = {
        {"before the frame", 0, frameNs - 2000, kQuiloHeadTrackingStatusPredictionTargetBeforeFrame},
        {"beyond the horizon", 0, frameNs + 101000000, kQuiloHeadTrackingStatusPredictionBeyondHorizon},
        {"a face the frame lacks", 1, frameNs, kQuiloHeadTrackingStatusErrorUnknown},
    };
    for (const Refusal& refusal : refusals) {
        const Predicted p = PredictLatest(engine_, refusal.face, refusal.target);
        EXPECT_EQ(p.status, refusal.status) << refusal.name;
        EXPECT_THAT(p.reason, ::testing::HasSubstr("quiloHeadTrackingFramePredictEyes")) << refusal.name;
        if (refusal.status != kQuiloHeadTrackingStatusErrorUnknown) {
            EXPECT_EQ(double{p.eyes.horizonMs}, 0.0) << refusal.name;
            EXPECT_NEAR(p.eyes.leftEye.x - p.eyes.rightEye.x, -60.0f, 0.5f) << refusal.name;
        }
    }
    quilo_head_tracking_frame* frame = nullptr;
    ASSERT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine_, &frame), 0);
    EXPECT_EQ(quiloHeadTrackingFramePredictEyes(frame, 0, frameNs, nullptr), kQuiloHeadTrackingStatusErrorUnknown);
    quiloHeadTrackingFrameRelease(frame);

    // The lost frame: the main face coasts.
    const quilo_head_tracking_timestamp_t lost{0, lastMs + 10.0};
    ASSERT_EQ(quiloHeadTrackingEnginePushFrameWithTimestamp(engine_, &image_, nullptr, &intrinsics_, &lost), 0);
    EXPECT_EQ(PredictLatest(engine_, 0, frameNs + 20000000).status, kQuiloHeadTrackingStatusPredictionFaceCoasting);

    // A timestamp of an unknown clock: no prediction, exposure at the push.
    pushedAt = SystemNowNs();
    ASSERT_EQ(Push(lastMs + 20.0), 0);
    returnedAt = SystemNowNs();
    const Predicted unknown = PredictLatest(engine_, 0, frameNs + 20000000);
    EXPECT_EQ(unknown.status, kQuiloHeadTrackingStatusPredictionUnknownClock);
    const auto pushedTiming = LatestTiming(engine_);
    EXPECT_GE(int64_t{pushedTiming.exposureTime}, pushedAt);
    EXPECT_LE(int64_t{pushedTiming.exposureTime}, int64_t{pushedTiming.publishTime});
    EXPECT_LE(int64_t{pushedTiming.publishTime}, returnedAt);

    // A stated clock that is neither.
    const quilo_head_tracking_timestamp_t odd{3, lastMs + 30.0};
    EXPECT_EQ(quiloHeadTrackingEnginePushFrameWithTimestamp(engine_, &image_, nullptr, &intrinsics_, &odd), 2);
    EXPECT_THAT(quiloHeadTrackingGetLastErrorMessage(), ::testing::HasSubstr("space 3"));
}
