// The engine through its class interface, fed by a shared camera, with the
// scripted detector plugin beside its library: construction, sessions,
// configuration changes reaching the next frame, back-end switches,
// profiling, the virtual-face hook and failing callbacks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/exception.h"
#include "common/platform.h"
#include "fakeRealsense.h"
#include "headTracking/camera/sharedCamera.h"
#include "headTracking/common/frameAdapter.h"
#include "headTracking/engine/core/faceTracker.h"
#include "headTracking/engine/engine.h"
#include "support/detections.h"
#include "support/logCapture.h"
#include "support/sandbox.h"
#include "testPlugins/scriptedDetector.h"

using ::testing::HasSubstr;
using namespace quilo;
using namespace quilo::head;
using quilo::test::DetectorOperation;
using quilo::test::Sandbox;

namespace {

const std::string kCpu = "quiloHeadTrackingBlinkDetectorcpu";
const std::string kGpu = "quiloHeadTrackingBlinkDetectorgpu";
const std::string kScripted = "quiloTestBlinkDetectorScripted";

// A clock that advances by one microsecond per reading.
class SteppingPlatform final : public Platform {
public:
    int64_t GetSystemTimeNs() const override { return now_.fetch_add(1000) + 1000; }

private:
    mutable std::atomic<int64_t> now_{1'000'000'000};
};

// A face 600 mm in front of a 640 x 480 camera with a 500 px focal length:
// the eyes 48 mm apart around pixel (cx, 240).
DetectedFace FaceAt(double cx, float yaw = 0.0f) { return quilo::test::FaceAt(cx, 240.0, 0.6f, yaw); }

CameraIntrinsics TestIntrinsics() {
    CameraIntrinsics i;
    i.width = 640;
    i.height = 480;
    i.ppx = 320.0f;
    i.ppy = 240.0f;
    i.fx = 500.0f;
    i.fy = 500.0f;
    return i;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        quilo::test::DetectorScript script;
        script.maxNumOfFacesLimit = 3;
        script.thereafter = {FaceAt(320.0)};
        quilo::test::ResetScriptedDetector(script);
        Sandbox::Install(kScripted, kCpu);
        pixels_.assign(640 * 480, 128);
    }
    void TearDown() override { quilo::test::ResetScriptedDetector(); }

    EngineInitArgs Args(bool lazy = false) {
        EngineInitArgs args;
        args.platform = &platform_;
        args.frameAdapter = &adapter_;
        args.sharedCameraSink = &sink_;
        args.configuration.faceDetector.maxNumOfFaces = 2;
        args.configuration.initializeFaceDetectorLazily = lazy;
        return args;
    }

    // Pushes one image `step` frames of 10 ms into the session.
    void Push(int frames = 1) {
        for (int i = 0; i < frames; ++i) {
            ImageDesc image{640, 480, 0, pixels_.data()};
            sink_.onFrameAvailable(image, Timestamp{Timestamp::Space::System, 1000.0 + 10.0 * pushed_++});
        }
    }

    static int64_t Count(DetectorOperation operation) {
        return quilo::test::GetScriptedDetectorRecord().Count(operation);
    }

    Sandbox sandbox_;
    quilo::test::LogCapture log_;
    SteppingPlatform platform_;
    FrameAdapter adapter_{nullptr, true};
    SharedCameraSink sink_;
    std::vector<uint8_t> pixels_;
    int pushed_ = 0;
};

TEST_F(EngineTest, ConstructionChecksItsArgumentsPlatformFirst) {
    EngineInitArgs args;
    try {
        Engine engine(args);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_THAT(e.what(), HasSubstr("Unexpected EngineInitArgs arguments: platform is not set. in "
                                        "quilo::head::Engine::Engine headTracking/engine/engine.cpp:"));
    }
    args.platform = &platform_;
    try {
        Engine engine(args);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_THAT(e.what(), HasSubstr("neither frameCallback nor frameAdapter are specified"));
    }
}

TEST_F(EngineTest, BackendChoiceFollowsThePluginsPresent) {
    std::filesystem::remove(Sandbox::Directory() / quilo::PluginLibrary::FileName(kCpu));
    EXPECT_THROW(
        {
            try {
                Engine engine(Args());
            } catch (const Exception& e) {
                EXPECT_THAT(e.what(), HasSubstr("No supported face detector backends has been found."));
                throw;
            }
        },
        Exception);

    Sandbox::Install(kScripted, kGpu);
    Engine engine(Args());
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kQuiloFaceDetectorBackendGPU);

    // A configured backend is taken without probing and fails at creation.
    auto args = Args();
    args.configuration.faceDetector.backend = kQuiloFaceDetectorBackendCPU;
    try {
        Engine other(args);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_THAT(e.what(), HasSubstr("Failed to create face detector"));
    }
}

TEST_F(EngineTest, EagerSessionTracksPushedFramesAndDropsIdleOnes) {
    Engine engine(Args());
    // The caller's configuration is logged, not the detector's face count.
    EXPECT_EQ(log_.Count(spdlog::level::info, "[Engine] Initialized: with shared camera"), 1u);
    EXPECT_EQ(log_.Count(spdlog::level::info, "faceDetector={.maxNumOfFaces=2}"), 1u);
    EXPECT_EQ(engine.GetMaxNumOfDetectedFacesLimit(), 3);
    EXPECT_EQ(engine.GetCameraFps(), 0);
    EXPECT_FALSE(engine.SetCameraFps(30));
    EXPECT_EQ(engine.GetSupportedCameraFps().size, 0);

    sink_.onIntrinsicsChange(TestIntrinsics());
    Push(3);  // idle: never reaches the detector
    EXPECT_EQ(Count(DetectorOperation::DetectFaces), 0);

    EXPECT_TRUE(engine.StartTracking());
    EXPECT_FALSE(engine.StartTracking());
    Push(3);
    EXPECT_EQ(Count(DetectorOperation::DetectFaces), 3);
    // The first frame of the first session passes the face count on.
    EXPECT_EQ(Count(DetectorOperation::SetMaxNumOfDetectedFaces), 1);

    const auto frame = adapter_.GetFrame();
    ASSERT_EQ(frame.faces().size, 1);
    EXPECT_NEAR(frame.faces()[0].position.z, 600.0f, 1.0f);
    EXPECT_NEAR(frame.faces()[0].position.x, 0.0f, 1.0f);
    EXPECT_TRUE(frame.trackingStarted());
    EXPECT_EQ(frame.timestamp().ms, 1050.0);
    EXPECT_EQ(frame.detections().size, 1);
    EXPECT_EQ(frame.profiling().apiTimestamp, 0);  // profiling is off

    EXPECT_TRUE(engine.StopTracking());
    EXPECT_FALSE(engine.StopTracking());
    Push(2);
    EXPECT_EQ(Count(DetectorOperation::DetectFaces), 3);
    // The adapter keeps the last frame after the stop.
    EXPECT_EQ(adapter_.GetFrame().timestamp().ms, 1050.0);

    // A restart keeps the eager engine's detector.
    EXPECT_TRUE(engine.StartTracking());
    Push();
    EXPECT_EQ(Count(DetectorOperation::Create), 1);
    EXPECT_TRUE(engine.StopTracking());
}

TEST_F(EngineTest, LazyEngineLoadsThePluginPerSessionAndKeepsTheHostsCamera) {
    // No RealSense device: a session that opened one would fail to start.
    fakeRealsense::Reset(fakeRealsense::Device{});
    Engine engine(Args(/*lazy=*/true));
    EXPECT_EQ(engine.GetMaxNumOfDetectedFacesLimit(), 0);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kQuiloFaceDetectorBackendUnknown);
    EXPECT_THROW(engine.SetMaxNumOfDetectedFaces(1), Exception);
    EXPECT_EQ(Count(DetectorOperation::Create), 0);

    sink_.onIntrinsicsChange(TestIntrinsics());
    for (int session = 1; session <= 3; ++session) {
        ASSERT_TRUE(engine.StartTracking()) << session;
        EXPECT_EQ(Count(DetectorOperation::Create), session);
        Push(2);
        EXPECT_EQ(Count(DetectorOperation::DetectFaces), 2 * session);
        EXPECT_EQ(adapter_.GetFrame().faces().size, 1) << session;
        EXPECT_TRUE(engine.StopTracking());
        EXPECT_EQ(Count(DetectorOperation::Delete), session);
        // The host's sink stays connected for the next session.
        EXPECT_TRUE(sink_.onFrameAvailable) << session;
        EXPECT_TRUE(sink_.onIntrinsicsChange) << session;
    }
}

// Of several face counts set before a frame, the last one reaches the
// detector, also when it is the count the detector already has.
TEST_F(EngineTest, TheLastFaceCountBeforeAFrameHolds) {
    struct Case {
        std::vector<int> counts;
        int expected;
    };
    const Case cases[] = {
        {{3, 2}, 2}, {{3}, 3}, {{2}, 2}, {{1, 3, 2}, 2}, {{3, 2, 3}, 3},
    };
    for (const Case& c : cases) {
        Engine engine(Args());
        sink_.onIntrinsicsChange(TestIntrinsics());
        ASSERT_TRUE(engine.StartTracking());
        Push();  // the detector now has 2
        for (int n : c.counts) engine.SetMaxNumOfDetectedFaces(n);
        Push();
        int last = 0;
        for (const auto& call : quilo::test::GetScriptedDetectorRecord().calls) {
            if (call.operation == DetectorOperation::SetMaxNumOfDetectedFaces) last = call.count;
        }
        EXPECT_EQ(last, c.expected) << ::testing::PrintToString(c.counts);
        EXPECT_TRUE(engine.StopTracking());
    }
}

TEST_F(EngineTest, IdleChangesReachTheNextSessionsTracker) {
    Engine engine(Args());
    sink_.onIntrinsicsChange(TestIntrinsics());
    engine.SetTrackedEyes(/*left=*/true, /*right=*/false);
    engine.SetCameraPosition({10.0f, 20.0f, 30.0f});
    engine.StartTracking();
    Push(2);
    const auto frame = adapter_.GetFrame();
    ASSERT_EQ(frame.rawFaces().size, 1);
    EXPECT_EQ(frame.rawFaces()[0].trackedPoint, frame.rawFaces()[0].leftEye);
    ASSERT_EQ(frame.faces().size, 1);
    // Display space: x and y negated, then the camera position added.
    EXPECT_NEAR(frame.faces()[0].position.x, -frame.rawFaces()[0].leftEye.x + 10.0f, 1e-3f);
    EXPECT_NEAR(frame.faces()[0].position.z, 630.0f, 1.0f);
    engine.StopTracking();
}

TEST_F(EngineTest, SettersWhileTrackingApplyAtTheNextFrame) {
    Engine engine(Args());
    sink_.onIntrinsicsChange(TestIntrinsics());
    engine.StartTracking();
    Push(2);

    EXPECT_THROW(engine.SetMaxNumOfDetectedFaces(0), Exception);
    EXPECT_THROW(engine.SetMaxNumOfDetectedFaces(4), Exception);
    engine.SetMaxNumOfDetectedFaces(3);
    EXPECT_EQ(Count(DetectorOperation::SetMaxNumOfDetectedFaces), 1);
    Push();
    const auto calls = quilo::test::GetScriptedDetectorRecord().calls;
    ASSERT_EQ(Count(DetectorOperation::SetMaxNumOfDetectedFaces), 2);
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (it->operation == DetectorOperation::SetMaxNumOfDetectedFaces) {
            EXPECT_EQ(it->count, 3);
            break;
        }
    }

    // Turned half round about y, the camera sees the face behind the display,
    // where the yaw window (|yaw + atan2(x, z)| <= pi/4) rejects it.
    engine.SetCameraRotation(-1, 0, 0, 0, 1, 0, 0, 0, -1);
    Push(2);  // the tracker restarts: one priming frame, then a full one
    EXPECT_EQ(adapter_.GetFrame().faces().size, 0);
    engine.SetCameraRotation(1, 0, 0, 0, 1, 0, 0, 0, 1);
    Push(2);
    EXPECT_EQ(adapter_.GetFrame().faces().size, 1);
    engine.StopTracking();
}

TEST_F(EngineTest, BackendSwitchWhileTrackingInstallsAtTheNextFrame) {
    Sandbox::Install(kScripted, kGpu);
    Engine engine(Args());
    sink_.onIntrinsicsChange(TestIntrinsics());
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kQuiloFaceDetectorBackendCPU);
    EXPECT_FALSE(engine.SetFaceDetectorBackend(kQuiloFaceDetectorBackendUnknown));
    EXPECT_TRUE(engine.SetFaceDetectorBackend(kQuiloFaceDetectorBackendCPU));
    EXPECT_EQ(Count(DetectorOperation::Create), 1);

    engine.StartTracking();
    Push();
    EXPECT_TRUE(engine.SetFaceDetectorBackend(kQuiloFaceDetectorBackendGPU));
    EXPECT_EQ(Count(DetectorOperation::Create), 2);
    EXPECT_EQ(Count(DetectorOperation::Delete), 0);  // waits for the next frame
    Push();
    EXPECT_EQ(Count(DetectorOperation::Delete), 1);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kQuiloFaceDetectorBackendGPU);
    // The installed detector got the tracker's intrinsics before detecting.
    const auto record = quilo::test::GetScriptedDetectorRecord();
    bool sawIntrinsics = false;
    for (const auto& call : record.calls) {
        if (call.detector == 2 && call.operation == DetectorOperation::OnCameraIntrinsicsChange) {
            sawIntrinsics = call.intrinsics.fx == 500.0f;
        }
    }
    EXPECT_TRUE(sawIntrinsics);
    engine.StopTracking();
}

TEST_F(EngineTest, ProfilingTimesTheDetectorWhenOn) {
    auto args = Args();
    args.configuration.profiling = true;
    Engine engine(args);
    sink_.onIntrinsicsChange(TestIntrinsics());
    engine.StartTracking();
    Push();
    auto p = adapter_.GetFrame().profiling();
    EXPECT_EQ(p.cameraExposureTime, 1'000'000'000);  // 1000 ms
    EXPECT_GT(p.faceDetectorStartTime, 0);
    EXPECT_GT(p.faceDetectorEndTime, p.faceDetectorStartTime);
    EXPECT_GT(p.apiTimestamp, p.faceDetectorEndTime);
    EXPECT_EQ(log_.Count(spdlog::level::debug, "[Engine] profiling={.cameraExposureTime=1000000000"), 1u);

    engine.SetProfiling(false);
    Push();
    p = adapter_.GetFrame().profiling();
    EXPECT_EQ(p.cameraExposureTime, 0);
    EXPECT_EQ(p.apiTimestamp, 0);
    engine.StopTracking();
}

TEST_F(EngineTest, AFailingFrameCallbackDropsThatFrameOnly) {
    auto args = Args();
    int calls = 0;
    args.frameCallback = [&](const FaceTracker&, const FaceDetector::Output&, const CameraFrame& frame) {
        ++calls;
        if (frame.timestamp().ms == 1010.0) throw std::runtime_error("host failure");
    };
    Engine engine(args);
    sink_.onIntrinsicsChange(TestIntrinsics());
    engine.StartTracking();
    Push();
    Push();
    EXPECT_EQ(adapter_.GetFrame().timestamp().ms, 1000.0);
    EXPECT_EQ(log_.Count(spdlog::level::err, "Failed to process frame: host failure"), 1u);
    Push();
    EXPECT_EQ(adapter_.GetFrame().timestamp().ms, 1020.0);
    EXPECT_EQ(calls, 3);
    engine.StopTracking();
}

TEST_F(EngineTest, VirtualFacesThatCannotBeProjectedOnlyRemoveDetections) {
    auto args = Args();
    int hookCalls = 0;
    args.virtualFaceHook = [&](VirtualFaceHookContext* context) {
        ++hookCalls;
        EXPECT_EQ(context->numDetectedFaces, 1);
        EXPECT_EQ(context->maxNumOfFaces, 2);
        for (int i = 0; i < context->maxNumOfFaces; ++i) context->virtualFaces[i] = glm::vec4(0, 0, 600, 60);
        context->numVirtualFaces = 5;  // more than the buffer holds: only 2 are used
        context->replaceDetectedFaces = true;
        return true;
    };
    Engine engine(args);
    sink_.onIntrinsicsChange(TestIntrinsics());
    engine.StartTracking();
    Push();
    EXPECT_EQ(hookCalls, 1);
    // A shared camera cannot project: every virtual face is skipped.
    EXPECT_EQ(adapter_.GetFrame().detections().size, 0);
    engine.StopTracking();
}

TEST_F(EngineTest, InvalidTrackedEyesKeepTheSessionAndFailTheNextStart) {
    Engine engine(Args());
    sink_.onIntrinsicsChange(TestIntrinsics());
    engine.StartTracking();
    Push(2);
    engine.SetTrackedEyes(false, false);
    Push(2);
    EXPECT_EQ(log_.Count(spdlog::level::err, "[FaceTracker] UpdateConfiguration failed: invalid config"), 1u);
    EXPECT_EQ(adapter_.GetFrame().faces().size, 1);
    engine.StopTracking();
    EXPECT_THROW(engine.StartTracking(), Exception);
    EXPECT_EQ(log_.Count(spdlog::level::err,
                         "Failed to start tracking: one of components is corrupted - "
                         "invalid configuration"),
              1u);
    // Nothing of the failed session remains: frames are dropped.
    const auto detections = Count(DetectorOperation::DetectFaces);
    Push();
    EXPECT_EQ(Count(DetectorOperation::DetectFaces), detections);
}

// Calls that would wait for the very frame they are made from throw, change
// nothing, and leave the session running.
TEST_F(EngineTest, SessionsAndPushesAreRefusedFromTheirOwnFrames) {
    auto args = Args();
    std::function<void()> inside;
    std::string refusal;
    args.frameCallback = [&](const FaceTracker&, const FaceDetector::Output&, const CameraFrame&) {
        if (!inside) return;
        try {
            inside();
        } catch (const Exception& e) {
            refusal = e.what();
        }
        inside = nullptr;
    };
    Engine engine(args);
    sink_.onIntrinsicsChange(TestIntrinsics());
    ASSERT_TRUE(engine.StartTracking());
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { engine.StopTracking(); }, "StopTracking was called from inside the processing of a frame"},
        {[&] { engine.StartTracking(); }, "StartTracking was called from inside the processing of a frame"},
        {[&] { Push(); }, "pushed from inside the processing of another image of the same camera"},
        {[&] { sink_.onIntrinsicsChange(TestIntrinsics()); }, "pushed from inside the processing"},
    };
    for (const auto& [call, expected] : cases) {
        refusal.clear();
        inside = call;
        const auto before = Count(DetectorOperation::DetectFaces);
        const double outer = 1000.0 + 10.0 * pushed_;
        Push();
        EXPECT_THAT(refusal, HasSubstr(expected));
        EXPECT_EQ(Count(DetectorOperation::DetectFaces), before + 1);  // only the outer frame
        EXPECT_EQ(adapter_.GetFrame().timestamp().ms, outer);
    }
    EXPECT_TRUE(engine.StopTracking());
}

// Host threads poll and change the configuration while another host thread
// pushes frames.
TEST_F(EngineTest, SettersAndPollingRaceFramesSafely) {
    Engine engine(Args());
    sink_.onIntrinsicsChange(TestIntrinsics());
    engine.StartTracking();

    std::atomic<bool> done{false};
    std::thread pusher([&] {
        for (int i = 0; i < 300; ++i) Push();
        done = true;
    });
    std::thread setter([&] {
        for (int i = 0; !done; ++i) {
            engine.SetCameraPosition({float(i % 7), 0, 0});
            FilterProperties p;
            p.mainFaceSkew.x = float(i % 5);
            engine.SetFilterProperties(p);
            engine.SetMaxNumOfDetectedFaces(1 + i % 3);
            engine.SetTrackedEyes(true, i % 2 == 0);
            engine.SetProfiling(i % 2 == 1);
        }
    });
    std::thread poller([&] {
        while (!done) {
            const auto frame = adapter_.GetFrame();
            EXPECT_LE(frame.faces().size, 3);
            EXPECT_GE(engine.GetMaxNumOfDetectedFacesLimit(), 3);
            EXPECT_EQ(engine.GetFaceDetectorBackend(), kQuiloFaceDetectorBackendCPU);
        }
    });
    pusher.join();
    setter.join();
    poller.join();
    engine.StopTracking();
    EXPECT_EQ(Count(DetectorOperation::DetectFaces), 300);
}

// Host threads push images and geometry through the sink at once, without
// serialising them, while another stops and starts the session: frames reach
// the tracker one at a time and never after its session's stop.
TEST_F(EngineTest, UnserialisedPushersRaceSessionStopsAndStarts) {
    Engine engine(Args());
    sink_.onIntrinsicsChange(TestIntrinsics());
    ASSERT_TRUE(engine.StartTracking());
    std::atomic<bool> done{false};
    std::atomic<int> delivered{0};
    const auto pusher = [&](bool geometry) {
        std::vector<uint8_t> pixels(640 * 480, 128);
        for (int i = 0; !done; ++i) {
            if (geometry && i % 4 == 0) sink_.onIntrinsicsChange(TestIntrinsics());
            sink_.onFrameAvailable(ImageDesc{640, 480, 0, pixels.data()}, Timestamp{Timestamp::Space::System, 1.0 * i});
            ++delivered;
        }
    };
    std::thread first(pusher, false);
    std::thread second(pusher, true);
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(engine.StopTracking());
        const auto stopped = Count(DetectorOperation::DetectFaces);
        // Frames delivered after the stop returned are dropped.
        const int target = delivered + 3;
        while (delivered < target) std::this_thread::yield();
        EXPECT_EQ(Count(DetectorOperation::DetectFaces), stopped);
        EXPECT_TRUE(engine.StartTracking());
    }
    done = true;
    first.join();
    second.join();
    EXPECT_TRUE(engine.StopTracking());
}

// One host thread switches back ends on an idle engine, unloading the old
// detector's plugin each time, while another delivers camera geometry: no
// call may land in a released detector, and the detector left installed has
// the last geometry.
TEST_F(EngineTest, BackendSwitchesRaceIntrinsicsChangesOnAnIdleEngine) {
    Sandbox::Install(kScripted, kGpu);
    // Each geometry call lingers inside the plugin's code, so a plugin
    // unloaded under it would be caught there.
    quilo::test::DetectorScript script;
    script.beforeCall = [](DetectorOperation operation) {
        if (operation != DetectorOperation::OnCameraIntrinsicsChange) return;
        for (int i = 0; i < 100; ++i) std::this_thread::yield();
    };
    quilo::test::ResetScriptedDetector(script);
    Engine engine(Args());
    constexpr int kSwitches = 60;
    std::atomic<bool> done{false};
    std::thread switcher([&] {
        for (int i = 0; i < kSwitches; ++i) {
            EXPECT_TRUE(engine.SetFaceDetectorBackend(i % 2 == 0 ? kQuiloFaceDetectorBackendGPU
                                                                 : kQuiloFaceDetectorBackendCPU));
        }
        done = true;
    });
    int changes = 0;
    while (!done) {
        CameraIntrinsics intrinsics = TestIntrinsics();
        intrinsics.fx = static_cast<float>(++changes);
        sink_.onIntrinsicsChange(intrinsics);
    }
    switcher.join();

    const auto record = quilo::test::GetScriptedDetectorRecord();
    ASSERT_EQ(record.created, kSwitches + 1);
    float lastOfInstalled = 0.0f;
    for (const auto& call : record.calls) {
        if (call.detector == record.created && call.operation == DetectorOperation::OnCameraIntrinsicsChange) {
            lastOfInstalled = call.intrinsics.fx;
        }
    }
    EXPECT_EQ(lastOfInstalled, static_cast<float>(changes));
}

// A setter that lands while a session starts is never lost: the value set
// last always reaches the session's tracker.
TEST_F(EngineTest, SettersRacingSessionStartsAreNeverLost) {
    Engine engine(Args());
    sink_.onIntrinsicsChange(TestIntrinsics());
    for (int i = 1; i <= 60; ++i) {
        const float x = static_cast<float>(i);
        std::thread setter([&] { engine.SetCameraPosition({x, 0.0f, 0.0f}); });
        engine.StartTracking();
        setter.join();
        Push(3);
        const auto frame = adapter_.GetFrame();
        ASSERT_EQ(frame.faces().size, 1);
        const auto& raw = frame.rawFaces()[frame.faces()[0].rawFaceIndex];
        ASSERT_NEAR(frame.faces()[0].position.x, -raw.trackedPoint.x + x, 1e-2f) << "session " << i;
        engine.StopTracking();
    }
}

}  // namespace

namespace {

// What a run of session calls from one thread gives: the call's result.
enum class SessionCall { Start, Stop };

bool Apply(SessionCall call, bool* tracking) {
    const bool wasTracking = *tracking;
    *tracking = call == SessionCall::Start;
    return call == SessionCall::Start ? !wasTracking : wasTracking;
}

// Runs `first` and `second` on two threads released together.
template <typename First, typename Second>
void RunTogether(First first, Second second) {
    std::atomic<int> ready{0};
    auto gate = [&ready] {
        ready.fetch_add(1);
        while (ready.load() < 2) std::this_thread::yield();
    };
    std::thread a([&] {
        gate();
        first();
    });
    std::thread b([&] {
        gate();
        second();
    });
    a.join();
    b.join();
}

}  // namespace

// Two host threads start and stop sessions of an engine with its RealSense
// camera at once: every round ends as the two calls would one after the
// other, in one order or the other.
TEST_F(EngineTest, ConcurrentSessionCallsEndAsSomeOrderOfThem) {
    fakeRealsense::Reset();
    fakeRealsense::TimeOutIdleWaits(true);
    struct Case {
        const char* name;
        bool lazy;
        bool trackingBefore;
        SessionCall first;
        SessionCall second;
    };
    const Case cases[] = {
        {"eager: start and start", false, false, SessionCall::Start, SessionCall::Start},
        {"eager: start and stop while idle", false, false, SessionCall::Start, SessionCall::Stop},
        {"eager: start and stop while tracking", false, true, SessionCall::Start, SessionCall::Stop},
        {"eager: stop and stop", false, true, SessionCall::Stop, SessionCall::Stop},
        {"lazy: start and start", true, false, SessionCall::Start, SessionCall::Start},
        {"lazy: start and stop while idle", true, false, SessionCall::Start, SessionCall::Stop},
        {"lazy: start and stop while tracking", true, true, SessionCall::Start, SessionCall::Stop},
        {"lazy: stop and stop", true, true, SessionCall::Stop, SessionCall::Stop},
    };
    for (const Case& c : cases) {
        auto args = Args(c.lazy);
        args.sharedCameraSink = nullptr;
        Engine engine(args);
        for (int round = 0; round < 15; ++round) {
            if (c.trackingBefore) {
                ASSERT_TRUE(engine.StartTracking()) << c.name;
            }
            auto call = [&engine](SessionCall which) {
                return which == SessionCall::Start ? engine.StartTracking() : engine.StopTracking();
            };
            bool firstResult = false;
            bool secondResult = false;
            RunTogether([&] { firstResult = call(c.first); }, [&] { secondResult = call(c.second); });
            const bool trackingAfter = engine.StopTracking();

            bool inOrder = c.trackingBefore;
            const bool a1 = Apply(c.first, &inOrder), b1 = Apply(c.second, &inOrder);
            const bool endInOrder = inOrder;
            bool reversed = c.trackingBefore;
            const bool b2 = Apply(c.second, &reversed), a2 = Apply(c.first, &reversed);
            const bool matchesInOrder = firstResult == a1 && secondResult == b1 && trackingAfter == endInOrder;
            const bool matchesReversed = firstResult == a2 && secondResult == b2 && trackingAfter == reversed;
            EXPECT_TRUE(matchesInOrder || matchesReversed)
                << c.name << " round " << round << ": " << firstResult << secondResult << trackingAfter;
        }
    }
    // Every camera was closed with its engine or its session.
    EXPECT_EQ(fakeRealsense::LiveObjects(), 0);
}

// The camera-rate calls on one host thread, and in the engine's own frame
// callback, while another host thread starts and stops a lazy engine's
// sessions (each making and destroying its RealSense camera): every answer is
// the camera's or the defined one without a camera, and no call waits for a
// stop that waits for the frame.
TEST_F(EngineTest, CameraRateCallsRaceSessionStopsSafely) {
    fakeRealsense::Reset();
    fakeRealsense::TimeOutIdleWaits(true);
    auto args = Args(/*lazy=*/true);
    args.sharedCameraSink = nullptr;
    Engine* self = nullptr;
    std::atomic<int> entered{0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> wrong{false};
    args.frameCallback = [&](const FaceTracker&, const FaceDetector::Output&, const CameraFrame&) {
        entered.fetch_add(1);
        // Asked while the stop is under way, which waits for this frame.
        while (!stopping.load()) std::this_thread::yield();
        // A frame is only processed while its camera lives.
        if (self->GetCameraFps() != 90 || self->SetCameraFps(30)) wrong = true;
    };
    Engine engine(args);
    self = &engine;

    struct Answer {
        int fps;
        bool set;
        int64_t supported;
    };
    const Answer noCamera{0, false, 0}, realsense{90, false, 0};
    EXPECT_EQ(engine.GetCameraFps(), noCamera.fps);
    EXPECT_EQ(engine.SetCameraFps(30), noCamera.set);
    EXPECT_EQ(engine.GetSupportedCameraFps().size, noCamera.supported);

    std::atomic<bool> done{false};
    std::atomic<int> answers{0};
    std::thread reader([&] {
        while (!done.load() || answers.load() == 0) {
            const Answer a{engine.GetCameraFps(), engine.SetCameraFps(60), engine.GetSupportedCameraFps().size};
            const bool known = (a.fps == noCamera.fps || a.fps == realsense.fps) && !a.set && a.supported == 0;
            if (!known) wrong = true;
            answers.fetch_add(1);
        }
    });
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_TRUE(engine.StartTracking());
        fakeRealsense::PushFrameSet(fakeRealsense::InfraredAndDepth(848, 480, 1000.0 + 10.0 * cycle));
        while (entered.load() <= cycle) std::this_thread::yield();
        stopping = true;
        ASSERT_TRUE(engine.StopTracking());
        stopping = false;
    }
    done = true;
    reader.join();
    EXPECT_FALSE(wrong.load());
    EXPECT_GT(answers.load(), 0);
    EXPECT_EQ(engine.GetCameraFps(), noCamera.fps);
}
