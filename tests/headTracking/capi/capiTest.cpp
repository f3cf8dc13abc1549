// The engine end to end through its C interface, with the simulated RealSense
// device behind it and the scripted detector plugin beside its library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakeRealsense.h"
#include "headTracking/capi/poll.h"
#include "headTracking/capi/quiloHeadTracking.h"
#include "headTracking/engine/testPlugins/scriptedDetector.h"
#include "support/detections.h"
#include "support/logCapture.h"
#include "support/sandbox.h"

extern "C" int quiloTestCClientNullHandles(void);
extern "C" int quiloTestCClientNullArguments(const quilo_head_tracking_engine_init_args_t* args);

using quilo::head::DetectedFace;
using quilo::test::DetectorOperation;
using quilo::test::Sandbox;
using ::testing::HasSubstr;

namespace {

using namespace std::chrono_literals;

const std::string kCpu = "quiloHeadTrackingBlinkDetectorcpu";
const std::string kScripted = "quiloTestBlinkDetectorScripted";

using quilo::test::FaceAt;

// Collects what the C frame callback reads from its handles.
struct CallbackRecord {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<quilo_head_tracking_result_t> results;

    static void Handle(quilo_head_tracking_frame* frame, void* user) {
        auto* self = static_cast<CallbackRecord*>(user);
        quilo_head_tracking_result_t result;
        if (quiloHeadTrackingFrameGetTrackingResult(frame, &result) != 0) return;
        std::lock_guard<std::mutex> lock(self->mutex);
        self->results.push_back(result);
        self->changed.notify_all();
    }
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return results.size() >= count; });
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return results.size();
    }
};

struct HookScript {
    int returns = 1;
    int numVirtualFaces = 0;
    int replace = 0;
    std::vector<quilo_head_tracking_virtual_face_t> faces;
    std::atomic<int> calls{0};
    std::atomic<int> seenMax{0};

    static int Hook(quilo_head_tracking_virtual_face_hook_context_t* context, void* user) {
        auto* self = static_cast<HookScript*>(user);
        ++self->calls;
        self->seenMax = context->maxNumOfFaces;
        for (int i = 0; i < context->maxNumOfFaces && i < static_cast<int>(self->faces.size()); ++i) {
            context->virtualFaces[i] = self->faces[static_cast<size_t>(i)];
        }
        context->numVirtualFaces = self->numVirtualFaces;
        context->replaceDetectedFaces = self->replace;
        return self->returns;
    }
};

class CapiTest : public ::testing::Test {
protected:
    void SetUp() override {
        quilo::test::DetectorScript script;
        script.maxNumOfFacesLimit = 5;
        script.thereafter = {FaceAt(424.0)};
        quilo::test::ResetScriptedDetector(script);
        Sandbox::Install(kScripted, kCpu);
        fakeRealsense::Reset();
        args_.fps = 90;
        args_.maxNumOfFaces = 2;
        args_.logLevel = 1;
        args_.frameCallback = &CallbackRecord::Handle;
        args_.frameCallbackUserData = &callbacks_;
        args_.enablePolling = 1;
    }
    void TearDown() override {
        // Lets a capture thread blocked in its wait see the stop at once.
        fakeRealsense::TimeOutIdleWaits(true);
        if (engine_) quiloHeadTrackingEngineRelease(engine_);
        quilo::test::ResetScriptedDetector();
    }

    void Create() { ASSERT_EQ(quiloHeadTrackingEngineInitArgs(&args_, &engine_), 0); }

    // Pushes frame sets 10 ms apart and waits until the engine handled them.
    void Stream(int frames) {
        for (int i = 0; i < frames; ++i) {
            fakeRealsense::PushFrameSet(fakeRealsense::InfraredAndDepth(848, 480, 1000.0 + 10.0 * streamed_++));
        }
        ASSERT_TRUE(fakeRealsense::WaitUntilIdle());
    }

    void Stop() {
        fakeRealsense::TimeOutIdleWaits(true);
        EXPECT_EQ(quiloHeadTrackingEngineStopTracking(engine_), 0);
        fakeRealsense::TimeOutIdleWaits(false);
    }

    quilo_head_tracking_result_t Poll() { return quilo::test::PollResult(engine_); }

    Sandbox sandbox_;
    quilo::test::LogCapture log_;
    CallbackRecord callbacks_;
    quilo_head_tracking_engine_init_args_t args_{};
    quilo_head_tracking_engine* engine_ = nullptr;
    int streamed_ = 0;
};

TEST_F(CapiTest, PlainCClientSeesNullHandles) { EXPECT_EQ(quiloTestCClientNullHandles(), 0); }

TEST_F(CapiTest, NullArgumentsAreRefusedWithAnErrorLine) {
    EXPECT_EQ(quiloTestCClientNullArguments(&args_), 0);
    EXPECT_EQ(log_.Count(spdlog::level::err, "quiloHeadTrackingEngineSetCameraTransform: rotation is null"), 1u);
    EXPECT_EQ(log_.Count(spdlog::level::err, "quiloHeadTrackingFrameGetProfiling: the output record is null"), 1u);
}

TEST_F(CapiTest, ExceptionsOfAnyTypeStayInside) {
    Create();
    quilo::test::DetectorScript script;
    script.maxNumOfFacesLimit = 5;
    script.beforeCall = [](DetectorOperation operation) {
        if (operation == DetectorOperation::GetMaxNumOfDetectedFacesLimit) throw 42;
    };
    quilo::test::ResetScriptedDetector(script);
    // The engine's detector was created before the script changed; a backend
    // switch is not needed, since the script is read at every call.
    EXPECT_EQ(quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 1), 2);
    int limit = -1;
    EXPECT_EQ(quiloHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(engine_, &limit), 2);
    EXPECT_EQ(log_.Count(spdlog::level::critical, "Unexpected exception of an unknown type"), 2u);
}

TEST_F(CapiTest, CreateStartPollCallbackStopRestartRelease) {
    Create();
    const quilo_head_tracking_vec3_t zero{0, 0, 0};
    EXPECT_EQ(quiloHeadTrackingEngineSetCameraTransform(engine_, &zero, &zero), 0);

    // Before the first frame a poll gives a valid, empty frame.
    auto result = Poll();
    EXPECT_EQ(result.numFaces, 0);
    EXPECT_EQ(result.trackingStarted, 0);

    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    EXPECT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);  // already running: still 0
    Stream(3);
    ASSERT_TRUE(callbacks_.WaitFor(3));
    result = Poll();
    ASSERT_EQ(result.numFaces, 1);
    EXPECT_EQ(result.trackingStarted, 1);
    EXPECT_EQ(result.timestamp.space, 0);
    EXPECT_DOUBLE_EQ(double{result.timestamp.ms}, 1020.0);
    EXPECT_EQ(result.faces[0].rawFaceIndex, 0);
    EXPECT_GT(result.faces[0].position.z, 500.0f);

    int limit = 0;
    EXPECT_EQ(quiloHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(engine_, &limit), 0);
    EXPECT_EQ(limit, 5);

    Stop();
    EXPECT_EQ(quiloHeadTrackingEngineStopTracking(engine_), 0);  // not running: still 0
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    Stream(2);
    ASSERT_TRUE(callbacks_.WaitFor(5));
    EXPECT_EQ(quilo::test::GetScriptedDetectorRecord().created, 1);

    // A polled frame outlives its engine.
    quilo_head_tracking_frame* frame = nullptr;
    ASSERT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine_, &frame), 0);
    fakeRealsense::TimeOutIdleWaits(true);
    quiloHeadTrackingEngineRelease(engine_);
    engine_ = nullptr;
    quilo_head_tracking_raw_faces_t raw{};
    EXPECT_EQ(quiloHeadTrackingFrameGetRawFaces(frame, &raw), 0);
    EXPECT_EQ(raw.numFaces, 1);
    quilo_head_tracking_detected_faces_t detected{};
    EXPECT_EQ(quiloHeadTrackingFrameGetDetectedFaces(frame, &detected), 0);
    ASSERT_EQ(detected.numFaces, 1);
    EXPECT_EQ(double{detected.faces[0].rightEyePixel.x}, 404.0);
    EXPECT_EQ(detected.faces[0].leftEyeDepth, 0.6f);
    quiloHeadTrackingFrameRelease(frame);
}

// With the RealSense camera a release from the frame callback would wait in
// the capture thread for itself: it is refused, and the engine goes on.
TEST_F(CapiTest, ReleaseFromTheFrameCallbackIsRefused) {
    struct Inside {
        quilo_head_tracking_engine* engine = nullptr;
        std::atomic<int> frames{0};
        std::string reason;  // written by the first frame, read after the stream
        static void Handle(quilo_head_tracking_frame*, void* user) {
            auto& self = *static_cast<Inside*>(user);
            if (self.frames.load() == 0) {
                quiloHeadTrackingEngineRelease(self.engine);
                self.reason = quiloHeadTrackingGetLastErrorMessage();
            }
            self.frames.fetch_add(1);
        }
    } inside;
    args_.frameCallback = &Inside::Handle;
    args_.frameCallbackUserData = &inside;
    Create();
    inside.engine = engine_;
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    Stream(3);
    EXPECT_EQ(inside.frames.load(), 3);
    EXPECT_THAT(inside.reason, HasSubstr("quiloHeadTrackingEngineRelease: called from inside the engine's "
                                         "processing of a frame"));
    EXPECT_EQ(log_.Count(spdlog::level::err, inside.reason), 1u);
    EXPECT_EQ(Poll().numFaces, 1);
    Stop();
}

TEST_F(CapiTest, ARecordWithNeitherCallbackNorPollingIsRefused) {
    args_.frameCallback = nullptr;
    args_.enablePolling = 0;
    engine_ = reinterpret_cast<quilo_head_tracking_engine*>(0x1);
    EXPECT_EQ(quiloHeadTrackingEngineInitArgs(&args_, &engine_), 2);
    EXPECT_EQ(engine_, nullptr);
    EXPECT_EQ(log_.Count(spdlog::level::err,
                         "Failed to initialize head tracking engine: FrameAdapter incorrect "
                         "configuration: neither callback set nor polling enabled."),
              1u);
}

TEST_F(CapiTest, PollingWhenNotEnabledFails) {
    args_.enablePolling = 0;
    Create();
    auto* frame = reinterpret_cast<quilo_head_tracking_frame*>(0x1);
    EXPECT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine_, &frame), 2);
    EXPECT_EQ(frame, nullptr);
    EXPECT_EQ(
        log_.Count(spdlog::level::critical, "Unexpected exception: FrameAdapter::GetFrame: polling API is not enabled"),
        1u);
    EXPECT_EQ(log_.Count(spdlog::level::critical, "(quilo::Exception)"), 1u);
}

TEST_F(CapiTest, NoCameraFailsCreation) {
    fakeRealsense::Reset(fakeRealsense::Device{});  // nothing connected
    EXPECT_EQ(quiloHeadTrackingEngineInitArgs(&args_, &engine_), 2);
    EXPECT_EQ(engine_, nullptr);
    EXPECT_EQ(log_.Count(spdlog::level::err, "Failed to initialize head tracking engine: "), 1u);
}

TEST_F(CapiTest, StatusesOfAFailingStartAndOfInvalidCounts) {
    Create();
    EXPECT_EQ(quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 0), 2);
    EXPECT_EQ(quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 6), 2);
    EXPECT_EQ(log_.Count(spdlog::level::critical, "Invalid max num of detected faces: must be in [1; 5] range, got 6"),
              1u);
    EXPECT_EQ(quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 5), 0);

    EXPECT_EQ(quiloHeadTrackingEngineSetTrackedEyes(engine_, 0, 0), 0);
    EXPECT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 2);
    EXPECT_EQ(log_.Count(spdlog::level::err, "Failed to start tracking: one of components is corrupted"), 1u);
    EXPECT_EQ(quiloHeadTrackingEngineSetTrackedEyes(engine_, 1, 1), 0);
    EXPECT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    Stream(2);
    EXPECT_EQ(Poll().numFaces, 1);
}

TEST_F(CapiTest, FilterPropertiesOfTheRecordWaitForTheSetter) {
    // A distance window no face fits in.
    args_.filterProperties.minFitDist = 0.0f;
    args_.filterProperties.maxFitDist = 1.0f;
    args_.filterProperties.interocularDistanceMin = 30.0f;
    args_.filterProperties.interocularDistanceMax = 80.0f;
    args_.filterProperties.mainFaceScale = {4, 4, 1};
    args_.filterProperties.kalman.a = {0.02f, 0.05f, 0.2f};
    args_.filterProperties.kalman.b = {0.1f, 0.1f, 0.1f};
    args_.filterProperties.angleYMax = 0.78f;
    args_.filterProperties.maxTrackGap = 600.0f;
    args_.filterProperties.bufferLim = 600.0f;
    args_.filterProperties.velDampingTime = 100.0f;
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    Stream(2);
    EXPECT_EQ(Poll().numFaces, 1);  // the engine started with its defaults

    EXPECT_EQ(quiloHeadTrackingEngineSetFilterProperties(engine_, &args_.filterProperties), 0);
    Stream(2);
    EXPECT_EQ(Poll().numFaces, 0);
}

TEST_F(CapiTest, LeftEyeOnly) {
    Create();
    EXPECT_EQ(quiloHeadTrackingEngineSetTrackedEyes(engine_, 1, 0), 0);
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    Stream(2);
    quilo_head_tracking_frame* frame = nullptr;
    ASSERT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine_, &frame), 0);
    quilo_head_tracking_raw_faces_t raw{};
    ASSERT_EQ(quiloHeadTrackingFrameGetRawFaces(frame, &raw), 0);
    ASSERT_EQ(raw.numFaces, 1);
    EXPECT_EQ(raw.faces[0].trackedPoint.x, raw.faces[0].leftEye.x);
    EXPECT_NE(raw.faces[0].trackedPoint.x, raw.faces[0].rightEye.x);
    quiloHeadTrackingFrameRelease(frame);
}

TEST_F(CapiTest, RecordsNeverHoldMoreThanThreeFaces) {
    quilo::test::DetectorScript script;
    script.maxNumOfFacesLimit = 5;
    script.thereafter = {FaceAt(200), FaceAt(300), FaceAt(400), FaceAt(500), FaceAt(600)};
    quilo::test::ResetScriptedDetector(script);
    args_.maxNumOfFaces = 5;
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    ASSERT_EQ(quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 5), 0);
    Stream(3);
    quilo_head_tracking_frame* frame = nullptr;
    ASSERT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine_, &frame), 0);
    quilo_head_tracking_detected_faces_t detected;
    memset(&detected, 0x7f, sizeof detected);
    ASSERT_EQ(quiloHeadTrackingFrameGetDetectedFaces(frame, &detected), 0);
    EXPECT_EQ(detected.numFaces, 3);
    EXPECT_EQ(double{detected.faces[2].rightEyePixel.x}, 380.0);
    quilo_head_tracking_result_t result;
    ASSERT_EQ(quiloHeadTrackingFrameGetTrackingResult(frame, &result), 0);
    EXPECT_LE(result.numFaces, 3);
    quiloHeadTrackingFrameRelease(frame);
}

TEST_F(CapiTest, VirtualFaceHook) {
    HookScript hook;
    // Two faces 600 mm in front of the display, 60 mm eye distance.
    hook.faces = {{{0.0f, 0.0f, 600.0f}, 60.0f}, {{100.0f, 0.0f, 600.0f}, 60.0f}, {{-100.0f, 0.0f, 600.0f}, 60.0f}};
    hook.numVirtualFaces = 5;  // more than the maximum: three are used
    args_.virtualFaceHook = &HookScript::Hook;
    args_.virtualFaceHookUserData = &hook;
    args_.maxNumOfFaces = 3;
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 3), 0);
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);

    const auto detections = [&] {
        quilo_head_tracking_frame* frame = nullptr;
        EXPECT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine_, &frame), 0);
        quilo_head_tracking_detected_faces_t detected{};
        EXPECT_EQ(quiloHeadTrackingFrameGetDetectedFaces(frame, &detected), 0);
        quiloHeadTrackingFrameRelease(frame);
        return detected;
    };

    Stream(1);
    EXPECT_EQ(hook.seenMax, 3);
    auto detected = detections();
    // The detection gave way to three projected virtual faces.
    ASSERT_EQ(detected.numFaces, 3);
    EXPECT_NEAR(detected.faces[0].rightEyeDepth, 0.6f, 1e-4f);
    EXPECT_LT(double{detected.faces[0].rightEyePixel.x}, double{detected.faces[0].leftEyePixel.x} + 1000.0);

    hook.numVirtualFaces = 1;
    Stream(1);
    detected = detections();
    ASSERT_EQ(detected.numFaces, 2);  // the detection, then the virtual face
    EXPECT_EQ(double{detected.faces[0].rightEyePixel.x}, 404.0);

    hook.replace = 1;
    Stream(1);
    EXPECT_EQ(detections().numFaces, 1);

    hook.returns = 0;  // whatever it wrote is ignored
    Stream(1);
    detected = detections();
    ASSERT_EQ(detected.numFaces, 1);
    EXPECT_EQ(double{detected.faces[0].rightEyePixel.x}, 404.0);
    EXPECT_EQ(hook.calls, 4);
}

TEST_F(CapiTest, FrameSetsWithoutInfraredNeverReachTheDetector) {
    Create();
    ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
    auto set = fakeRealsense::InfraredAndDepth(848, 480, 5.0);
    set.frames.erase(
        std::remove_if(set.frames.begin(), set.frames.end(),
                       [](const fakeRealsense::Frame& f) { return f.profile.stream == RS2_STREAM_INFRARED; }),
        set.frames.end());  // keep the depth frame only
    fakeRealsense::PushFrameSet(set);
    ASSERT_TRUE(fakeRealsense::WaitUntilIdle());
    EXPECT_EQ(quilo::test::GetScriptedDetectorRecord().Count(DetectorOperation::DetectFaces), 0);
    Stream(1);
    EXPECT_EQ(quilo::test::GetScriptedDetectorRecord().Count(DetectorOperation::DetectFaces), 1);
}

// Sessions start and stop while another host thread polls.
TEST_F(CapiTest, StartStopCyclesWhilePolling) {
    fakeRealsense::TimeOutIdleWaits(true);
    Create();
    std::atomic<bool> done{false};
    std::thread poller([&] {
        while (!done) {
            quilo_head_tracking_frame* frame = nullptr;
            if (quiloHeadTrackingEngineGetLatestFrame(engine_, &frame) == 0) {
                quilo_head_tracking_result_t result;
                EXPECT_EQ(quiloHeadTrackingFrameGetTrackingResult(frame, &result), 0);
                EXPECT_LE(result.numFaces, 3);
                quiloHeadTrackingFrameRelease(frame);
            }
        }
    });
    for (int cycle = 0; cycle < 10; ++cycle) {
        ASSERT_EQ(quiloHeadTrackingEngineStartTracking(engine_), 0);
        for (int i = 0; i < 3; ++i) {
            fakeRealsense::PushFrameSet(fakeRealsense::InfraredAndDepth(848, 480, 100.0 * cycle + i));
        }
        EXPECT_EQ(quiloHeadTrackingEngineSetCameraPosition(engine_, float(cycle), 0, 0), 0);
        ASSERT_EQ(quiloHeadTrackingEngineStopTracking(engine_), 0);
    }
    done = true;
    poller.join();
}

}  // namespace

// Every failing call leaves the text of its error line for the calling
// thread, which a success clears and which no other thread sees.
TEST_F(CapiTest, EachFailureLeavesItsReasonForItsThreadOnly) {
    Create();
    struct Case {
        const char* name;
        std::function<int()> call;
        int status;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"null engine", [] { return quiloHeadTrackingEngineStopTracking(nullptr); }, 1,
         "quiloHeadTrackingEngineStopTracking: the engine is null"},
        {"null frame", [] { return quiloHeadTrackingFrameGetProfiling(nullptr, nullptr); }, 1,
         "quiloHeadTrackingFrameGetProfiling: the frame is null"},
        {"null argument", [&] { return quiloHeadTrackingEngineInitArgs(&args_, nullptr); }, 2,
         "quiloHeadTrackingEngineInitArgs: out is null"},
        {"exception inside", [&] { return quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 0); }, 2,
         "Unexpected exception: Invalid max num of detected faces: must be in [1; 5] range, got 0"},
        {"no camera",
         [&] {
             fakeRealsense::Reset(fakeRealsense::Device{});  // nothing connected
             quilo_head_tracking_engine* none = nullptr;
             return quiloHeadTrackingEngineInitArgs(&args_, &none);
         },
         2, "Failed to initialize head tracking engine: "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.status) << c.name;
        const std::string reason = quiloHeadTrackingGetLastErrorMessage();
        EXPECT_THAT(reason, HasSubstr(c.reason)) << c.name;
        if (c.status == 2) {
            EXPECT_EQ(log_.Count(reason), 1u) << c.name;
        }
        std::string elsewhere = "unset";
        std::thread([&] { elsewhere = quiloHeadTrackingGetLastErrorMessage(); }).join();
        EXPECT_EQ(elsewhere, "") << c.name;
    }
    EXPECT_EQ(quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 1), 0);
    EXPECT_STREQ(quiloHeadTrackingGetLastErrorMessage(), "");
}
