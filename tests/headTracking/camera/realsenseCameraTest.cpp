// The RealSense camera against the simulated device: opening, sensor settings,
// the capture thread and its error rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <librealsense2/hpp/rs_types.hpp>

#include <stdexcept>
#include <system_error>

#include "common/exception.h"
#include "realsenseTestSupport.h"

using namespace quilo;
using namespace quilo::head;
using namespace realsenseTest;
using spdlog::level::critical;
using spdlog::level::debug;
using spdlog::level::err;
using spdlog::level::trace;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

namespace {

using Write = fakeRealsense::OptionWrite;
using Request = fakeRealsense::StreamRequest;

RealsenseCameraConfiguration WithDynamic(bool emitter, bool autoExposure, float exposure, float gain) {
    RealsenseCameraConfiguration c;
    c.dynamicConfiguration = {emitter, autoExposure, exposure, gain};
    return c;
}

std::vector<Write> WritesSince(size_t first) {
    auto writes = fakeRealsense::OptionWrites();
    return {writes.begin() + static_cast<std::ptrdiff_t>(first), writes.end()};
}

// The "[RealsenseCamera] ..." lines (trace and debug) logged after the first `skip` of them.
std::vector<std::string> CameraLinesSince(const LogCapture& log, size_t skip) {
    auto lines = log.Matching("[RealsenseCamera] ");
    return {lines.begin() + static_cast<std::ptrdiff_t>(skip), lines.end()};
}

}  // namespace

// ---- Opening ---------------------------------------------------------------------------------

using RealsenseCameraOpen = RealsenseFixture;

TEST_F(RealsenseCameraOpen, AllZeroConfigurationRequestsDefaultInfraredAndFreeDepth) {
    Open();
    EXPECT_THAT(fakeRealsense::ContextApiVersions(), ElementsAre(25000));
    EXPECT_THAT(fakeRealsense::StreamRequests(),
                ElementsAre(Request{RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0},
                            Request{RS2_STREAM_INFRARED, -1, 848, 480, RS2_FORMAT_Y8, 90}));
    EXPECT_EQ(camera->GetFps(), 90);
    EXPECT_FALSE(camera->SetFps(30));
    EXPECT_EQ(camera->GetFps(), 90);
    EXPECT_EQ(camera->GetSupportedFps().size, 0);
    EXPECT_EQ(log.Count(debug, "[RealsenseCamera] Initializing: w=848, h=480, fps=90"), 1);
}

TEST_F(RealsenseCameraOpen, ConfiguredSizeAndRateAreRequested) {
    RealsenseCameraConfiguration c;
    c.width = 640;
    c.height = 400;
    c.fps = 30;
    c.binningFactor = 2.0f;
    Open(c);
    EXPECT_THAT(fakeRealsense::StreamRequests(),
                ElementsAre(Request{RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0},
                            Request{RS2_STREAM_INFRARED, -1, 640, 400, RS2_FORMAT_Y8, 30}));
    EXPECT_EQ(camera->GetFps(), 30);
    ASSERT_EQ(listener.Intrinsics().size(), 1u);
    EXPECT_EQ(listener.Intrinsics()[0].intrinsics.width, 640);
    // The configuration prints as the engine's camera settings.
    EXPECT_EQ(fmt::format("{}", c), "{.width=640, .height=400, .fps=30, .binningFactor=2}");
}

TEST_F(RealsenseCameraOpen, IntrinsicsAreReportedOnceOnTheConstructingThread) {
    Open();
    const auto reports = listener.Intrinsics();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].thread, std::this_thread::get_id());
    EXPECT_EQ(reports[0].camera, camera.get());
    const rs2_intrinsics expected = fakeRealsense::IntrinsicsFor(RS2_STREAM_INFRARED, 1, 848, 480);
    const CameraIntrinsics& got = reports[0].intrinsics;
    EXPECT_EQ(got.width, 848);
    EXPECT_EQ(got.height, 480);
    EXPECT_EQ(got.ppx, expected.ppx);
    EXPECT_EQ(got.ppy, expected.ppy);
    EXPECT_EQ(got.fx, expected.fx);
    EXPECT_EQ(got.fy, expected.fy);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(got.distortionCoeffs[i], expected.coeffs[i]);
    EXPECT_TRUE(got.isMirrored);

    // Capturing reports nothing more.
    camera->StartCapture();
    fakeRealsense::PushFrameSet(SmallSet(1.0));
    ASSERT_TRUE(listener.WaitForFrames(1));
    StopCapture();
    EXPECT_EQ(listener.Intrinsics().size(), 1u);
}

TEST_F(RealsenseCameraOpen, IntrinsicsComeFromTheFirstInfraredStreamOfTheActiveProfile) {
    auto device = fakeRealsense::StandardDevice();
    // Depth, infrared 2, infrared 1.
    device.activeStreams = {device.profiles[0], device.profiles[2], device.profiles[1]};
    fakeRealsense::Reset(device);
    Open();
    ASSERT_EQ(listener.Intrinsics().size(), 1u);
    EXPECT_EQ(listener.Intrinsics()[0].intrinsics.fx,
              fakeRealsense::IntrinsicsFor(RS2_STREAM_INFRARED, 2, 848, 480).fx);
}

TEST_F(RealsenseCameraOpen, ProfileWithoutInfraredFailsWithoutErrorLine) {
    auto device = fakeRealsense::StandardDevice();
    device.activeStreams = {device.profiles[0]};
    fakeRealsense::Reset(device);
    try {
        Open();
        FAIL() << "opened without an infrared stream";
    } catch (const rs2::error&) {
        FAIL() << "not a library error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Profile does not contain the requested stream");
    }
    EXPECT_EQ(log.Count(err, ""), 0);
    EXPECT_TRUE(listener.Intrinsics().empty());
}

TEST_F(RealsenseCameraOpen, FailuresBeforeThePipelineStartsPropagateWithoutLogLine) {
    fakeRealsense::FailNextCall("rs2_create_context", RS2_EXCEPTION_TYPE_BACKEND, "no backend");
    EXPECT_THROW(Open(), rs2::backend_error);
    fakeRealsense::FailNextCall("rs2_create_pipeline", RS2_EXCEPTION_TYPE_IO, "no pipe");
    try {
        Open();
        FAIL();
    } catch (const rs2::error& e) {
        EXPECT_STREQ(e.what(), "no pipe");
        EXPECT_EQ(e.get_type(), RS2_EXCEPTION_TYPE_IO);
        EXPECT_EQ(e.get_failed_function(), "rs2_create_pipeline");
    }
    EXPECT_EQ(log.Count(err, ""), 0);
    // The pipeline's failure frees the context.
    EXPECT_EQ(fakeRealsense::CallCount("rs2_delete_context"), 1);
}

TEST_F(RealsenseCameraOpen, FailuresWhileStartingAreLoggedAndRethrown) {
    fakeRealsense::Reset(fakeRealsense::Device{});  // nothing connected
    try {
        Open();
        FAIL();
    } catch (const rs2::unrecoverable_error&) {
        FAIL() << "wrong class";
    } catch (const rs2::recoverable_error&) {
        FAIL() << "wrong class";
    } catch (const rs2::error& e) {
        EXPECT_STREQ(e.what(), "No device connected");
    }
    const auto lines = log.Matching("Failed to start realsense pipe");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], MatchesRegex("Failed to start realsense pipe: func=\"rs2_pipeline_start_with_config\" "
                                       "args=\"pipe:0x\\w+, config:0x\\w+\" "
                                       "message=\"No device connected\""));
    EXPECT_EQ(log.Count(err, "Failed to start realsense pipe"), 1);
}

TEST_F(RealsenseCameraOpen, DeviceWithoutDepthSensorIsRefused) {
    auto device = fakeRealsense::StandardDevice();
    device.sensors[0].isDepthSensor = false;
    fakeRealsense::Reset(device);
    try {
        Open();
        FAIL();
    } catch (const rs2::error& e) {
        EXPECT_STREQ(e.what(), "Could not find requested sensor type!");
        EXPECT_EQ(e.get_type(), RS2_EXCEPTION_TYPE_UNKNOWN);
    }
    EXPECT_EQ(log.Count(err,
                        "Failed to start realsense pipe: func=\"\" args=\"\" "
                        "message=\"Could not find requested sensor type!\""),
              1);
    EXPECT_TRUE(fakeRealsense::OptionWrites().empty());
}

TEST_F(RealsenseCameraOpen, AFailingOptionStopsTheSequenceWithEarlierOptionsInForce) {
    auto device = fakeRealsense::StandardDevice();
    device.sensors[0].options = {RS2_OPTION_EMITTER_ENABLED, RS2_OPTION_ENABLE_AUTO_EXPOSURE, RS2_OPTION_EXPOSURE};
    fakeRealsense::Reset(device);
    EXPECT_THROW(Open(WithDynamic(true, false, 8500.0f, 16.0f)), rs2::invalid_value_error);
    EXPECT_THAT(fakeRealsense::OptionWrites(),
                ElementsAre(Write{0, RS2_OPTION_EMITTER_ENABLED, 1.0f}, Write{0, RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f},
                            Write{0, RS2_OPTION_EXPOSURE, 8500.0f}));
    EXPECT_EQ(log.Count(err, "Failed to start realsense pipe: func=\"rs2_set_option\""), 1);
    EXPECT_EQ(log.Count(err, "message=\"object doesn't support option #4\""), 1);
}

TEST_F(RealsenseCameraOpen, NullListenerIsRefusedBeforeTouchingTheDevice) {
    EXPECT_THROW(CreateRealsenseCamera(nullptr, {}), quilo::Exception);
    EXPECT_TRUE(fakeRealsense::Calls().empty());
}

// ---- Sensor settings -------------------------------------------------------------------------

using RealsenseCameraSettings = RealsenseFixture;

TEST_F(RealsenseCameraSettings, AutoExposureOnWritesNeitherExposureNorGain) {
    Open(WithDynamic(true, true, 123.0f, 7.0f));
    EXPECT_THAT(fakeRealsense::OptionWrites(),
                ElementsAre(Write{0, RS2_OPTION_EMITTER_ENABLED, 1.0f}, Write{0, RS2_OPTION_ENABLE_AUTO_EXPOSURE, 1.0f},
                            Write{0, RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}));
    EXPECT_EQ(log.Count(debug,
                        "[RealsenseCamera] Dynamic config: emitter=true, autoExposure=true, "
                        "exposure=123, gain=7"),
              1);
}

TEST_F(RealsenseCameraSettings, AutoExposureOffWritesExposureThenGainAfterIt) {
    Open(WithDynamic(false, false, 8500.5f, 16.0f));
    EXPECT_THAT(fakeRealsense::OptionWrites(),
                ElementsAre(Write{0, RS2_OPTION_EMITTER_ENABLED, 0.0f}, Write{0, RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f},
                            Write{0, RS2_OPTION_EXPOSURE, 8500.5f}, Write{0, RS2_OPTION_GAIN, 16.0f},
                            Write{0, RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}));
}

TEST_F(RealsenseCameraSettings, EngineDefaultsLeaveExposureToTheSensor) {
    Open();
    EXPECT_EQ(log.Count(debug,
                        "[RealsenseCamera] Dynamic config: emitter=false, autoExposure=true, exposure=9000, "
                        "gain=50"),
              1);
    EXPECT_EQ(fakeRealsense::OptionWrites().size(), 3u);
}

TEST_F(RealsenseCameraSettings, MissingEmitterIsSkippedSilently) {
    auto device = fakeRealsense::StandardDevice();
    device.sensors[0].options = {RS2_OPTION_ENABLE_AUTO_EXPOSURE, RS2_OPTION_EXPOSURE, RS2_OPTION_GAIN,
                                 RS2_OPTION_GLOBAL_TIME_ENABLED};
    fakeRealsense::Reset(device);
    Open(WithDynamic(true, false, 100.0f, 2.0f));
    EXPECT_THAT(fakeRealsense::OptionWrites(),
                ElementsAre(Write{0, RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f}, Write{0, RS2_OPTION_EXPOSURE, 100.0f},
                            Write{0, RS2_OPTION_GAIN, 2.0f}, Write{0, RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}));
    EXPECT_EQ(log.Count(err, ""), 0);
}

TEST_F(RealsenseCameraSettings, OptionsGoToTheFirstDepthSensor) {
    auto device = fakeRealsense::StandardDevice();
    std::swap(device.sensors[0], device.sensors[1]);  // colour sensor first
    device.sensors.push_back(device.sensors[1]);      // a second depth sensor last
    fakeRealsense::Reset(device);
    Open();
    for (const auto& write : fakeRealsense::OptionWrites()) EXPECT_EQ(write.sensor, 1);
    EXPECT_EQ(fakeRealsense::OptionWrites().size(), 3u);
}

TEST_F(RealsenseCameraSettings, UpdateOnAStoppedCameraWritesAgainIncludingGlobalTime) {
    Open();
    const size_t before = fakeRealsense::OptionWrites().size();
    const size_t linesBefore = log.Matching("[RealsenseCamera] ").size();
    UpdateRealsenseCameraDynamicConfiguration(camera.get(), {true, false, 100.0f, 2.0f});
    EXPECT_THAT(WritesSince(before),
                ElementsAre(Write{0, RS2_OPTION_EMITTER_ENABLED, 1.0f}, Write{0, RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f},
                            Write{0, RS2_OPTION_EXPOSURE, 100.0f}, Write{0, RS2_OPTION_GAIN, 2.0f},
                            Write{0, RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}));
    EXPECT_THAT(CameraLinesSince(log, linesBefore),
                ElementsAre("[RealsenseCamera] Dynamic config: emitter=true, autoExposure=false, "
                            "exposure=100, gain=2"));
    EXPECT_TRUE(fakeRealsense::WaitThreads().empty());
}

TEST_F(RealsenseCameraSettings, UpdateOnACapturingCameraStopsAppliesAndRestarts) {
    Open();
    camera->StartCapture();
    fakeRealsense::PushFrameSet(SmallSet(1.0));
    ASSERT_TRUE(listener.WaitForFrames(1));
    const size_t before = fakeRealsense::OptionWrites().size();
    const size_t linesBefore = log.Matching("[RealsenseCamera] ").size();

    fakeRealsense::TimeOutIdleWaits(true);  // let the stop finish
    UpdateRealsenseCameraDynamicConfiguration(camera.get(), {false, true, 1.0f, 1.0f});
    fakeRealsense::TimeOutIdleWaits(false);

    EXPECT_THAT(CameraLinesSince(log, linesBefore),
                ElementsAre("[RealsenseCamera] StopCapture",
                            "[RealsenseCamera] Dynamic config: emitter=false, autoExposure=true, "
                            "exposure=1, gain=1",
                            "[RealsenseCamera] StartCapture"));
    EXPECT_THAT(WritesSince(before),
                ElementsAre(Write{0, RS2_OPTION_EMITTER_ENABLED, 0.0f}, Write{0, RS2_OPTION_ENABLE_AUTO_EXPOSURE, 1.0f},
                            Write{0, RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}));
    // Capture goes on.
    fakeRealsense::PushFrameSet(SmallSet(2.0));
    ASSERT_TRUE(listener.WaitForFrames(2));
    StopCapture();
}

TEST_F(RealsenseCameraSettings, FailedUpdateIsLoggedRethrownAndLeavesCaptureStopped) {
    Open();
    camera->StartCapture();
    const size_t linesBefore = log.Matching("[RealsenseCamera] ").size();
    fakeRealsense::FailNextCall("rs2_pipeline_get_active_profile", RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE,
                                "not streaming");
    fakeRealsense::TimeOutIdleWaits(true);
    EXPECT_THROW(UpdateRealsenseCameraDynamicConfiguration(camera.get(), {}), rs2::wrong_api_call_sequence_error);
    fakeRealsense::TimeOutIdleWaits(false);

    EXPECT_THAT(CameraLinesSince(log, linesBefore), ElementsAre("[RealsenseCamera] StopCapture"));
    EXPECT_THAT(log.Matching("Failed to update dynamic configuration"),
                ElementsAre(MatchesRegex("Failed to update dynamic configuration: "
                                         "func=\"rs2_pipeline_get_active_profile\" args=\"pipe:0x\\w+\" "
                                         "message=\"not streaming\"")));
    // Capture can be started again.
    camera->StartCapture();
    fakeRealsense::PushFrameSet(SmallSet(2.0));
    ASSERT_TRUE(listener.WaitForFrames(1));
    StopCapture();
}

TEST_F(RealsenseCameraSettings, UpdateOfNoCameraIsRefused) {
    EXPECT_THROW(UpdateRealsenseCameraDynamicConfiguration(nullptr, {}), quilo::Exception);
}

// ---- Capture ---------------------------------------------------------------------------------

using RealsenseCameraCapture = RealsenseFixture;

TEST_F(RealsenseCameraCapture, FramesArriveOnTheCaptureThreadAndAreReleasedAfterEachCall) {
    std::vector<int> liveFramesDuringCall;
    listener.onFrame = [&](Camera*, const CameraFrame&) {
        liveFramesDuringCall.push_back(fakeRealsense::LiveFrames());
    };
    Open();
    camera->StartCapture();
    for (int i = 0; i < 3; ++i) {
        fakeRealsense::PushFrameSet(fakeRealsense::InfraredAndDepth(160, 120, 10.0 + i));
    }
    ASSERT_TRUE(listener.WaitForFrames(3));
    ASSERT_TRUE(fakeRealsense::WaitUntilIdle());
    EXPECT_EQ(fakeRealsense::LiveFrames(), 0);
    // During the call only the infrared and depth frames are held, not the set.
    EXPECT_THAT(liveFramesDuringCall, ElementsAre(2, 2, 2));

    const auto frames = listener.Frames();
    const auto dataPointers = fakeRealsense::FrameDataPointers();
    ASSERT_EQ(dataPointers.size(), 3u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NE(frames[i].thread, std::this_thread::get_id());
        EXPECT_EQ(frames[i].thread, frames[0].thread);
        EXPECT_EQ(frames[i].camera, camera.get());
        ASSERT_EQ(frames[i].images.size(), 1u);
        EXPECT_EQ(frames[i].images[0].width, 160);
        EXPECT_EQ(frames[i].images[0].height, 120);
        EXPECT_EQ(frames[i].images[0].rotation, 0);
        EXPECT_EQ(static_cast<const void*>(frames[i].images[0].data),
                  dataPointers[i]);  // not a copy
        EXPECT_EQ(frames[i].pixels[159 + 119 * 160], fakeRealsense::PixelAt(159, 119));
        EXPECT_EQ(frames[i].timestamp.ms, 10.0 + static_cast<double>(i));
    }
    for (unsigned timeout : fakeRealsense::WaitTimeouts()) EXPECT_EQ(timeout, 15000u);
    StopCapture();
}

TEST_F(RealsenseCameraCapture, StartingTwiceRunsOneThread) {
    Open();
    camera->StartCapture();
    camera->StartCapture();
    EXPECT_EQ(log.Count(trace, "[RealsenseCamera] StartCapture"), 2);
    fakeRealsense::PushFrameSet(SmallSet(1.0));
    fakeRealsense::PushFrameSet(SmallSet(2.0));
    ASSERT_TRUE(listener.WaitForFrames(2));
    StopCapture();
    EXPECT_EQ(fakeRealsense::WaitThreads().size(), 1u);
}

TEST_F(RealsenseCameraCapture, StoppingAStoppedCameraOnlyLogs) {
    Open();
    camera->StopCapture();
    EXPECT_EQ(log.Count(trace, "[RealsenseCamera] StopCapture"), 1);
    EXPECT_EQ(fakeRealsense::CallCount("rs2_pipeline_wait_for_frames"), 0);
}

TEST_F(RealsenseCameraCapture, CaptureRestartsAfterAStop) {
    Open();
    camera->StartCapture();
    fakeRealsense::PushFrameSet(SmallSet(1.0));
    ASSERT_TRUE(listener.WaitForFrames(1));
    StopCapture();
    camera->StartCapture();
    fakeRealsense::PushFrameSet(SmallSet(2.0));
    ASSERT_TRUE(listener.WaitForFrames(2));
    StopCapture();
}

TEST_F(RealsenseCameraCapture, ATimeOutIsLoggedAndCaptureGoesOn) {
    Open();
    camera->StartCapture();
    fakeRealsense::PushTimeout();
    fakeRealsense::PushFrameSet(SmallSet(1.0));
    ASSERT_TRUE(listener.WaitForFrames(1));
    EXPECT_EQ(log.Count(err, "[RealsenseCamera.background] Frame didn't arrive within 15000"), 1);
    EXPECT_EQ(log.Count(critical, ""), 0);
    StopCapture();
}

TEST_F(RealsenseCameraCapture, ADisconnectEndsCaptureWithOneCriticalLine) {
    Open();
    camera->StartCapture();
    fakeRealsense::PushFrameSet(SmallSet(1.0));
    fakeRealsense::Disconnect();
    ASSERT_TRUE(log.WaitFor(critical, "[RealsenseCamera.background] Camera disconnected"));

    // The thread has ended: a later frame set is not taken, StartCapture waits
    // for the join, and StopCapture returns without any wait being released.
    fakeRealsense::PushFrameSet(SmallSet(2.0));
    camera->StartCapture();
    camera->StopCapture();
    EXPECT_EQ(listener.Frames().size(), 1u);
    EXPECT_EQ(fakeRealsense::PendingWaitResults(), 1u);
    EXPECT_EQ(log.Count(critical, ""), 1);
    EXPECT_EQ(fakeRealsense::WaitThreads().size(), 1u);
}

TEST_F(RealsenseCameraCapture, ListenerExceptionsAreLoggedAndCaptureGoesOn) {
    Open();
    int calls = 0;
    listener.onFrame = [&](Camera*, const CameraFrame&) {
        ++calls;
        if (calls == 1) throw std::runtime_error("listener failed");
        if (calls == 2) throw 42;
    };
    camera->StartCapture();
    for (int i = 0; i < 3; ++i) fakeRealsense::PushFrameSet(SmallSet(1.0 + i));
    ASSERT_TRUE(listener.WaitForFrames(1));
    EXPECT_EQ(log.Count(err, "[RealsenseCamera.background] listener failed"), 1);
    EXPECT_EQ(log.Count(err, "[RealsenseCamera.background] unknown exception"), 1);
    StopCapture();
}

TEST_F(RealsenseCameraCapture, StopCaptureFromInsideTheListenerRaisesWouldDeadlock) {
    Open();
    std::error_code raised;
    listener.onFrame = [&](Camera* source, const CameraFrame&) {
        try {
            source->StopCapture();
        } catch (const std::system_error& e) {
            raised = e.code();
        }
    };
    camera->StartCapture();
    fakeRealsense::PushFrameSet(SmallSet(1.0));
    ASSERT_TRUE(listener.WaitForFrames(1));
    EXPECT_EQ(raised, std::errc::resource_deadlock_would_occur);

    // The request still stands: the thread ends after that frame, and the
    // controlling thread's StopCapture joins it.
    fakeRealsense::PushFrameSet(SmallSet(2.0));
    camera->StopCapture();
    EXPECT_EQ(listener.Frames().size(), 1u);
    EXPECT_EQ(fakeRealsense::PendingWaitResults(), 1u);
}

// Every class of library error from the wait: unrecoverable ones end the
// thread with a critical line, all others are logged as errors and capture
// goes on.
class RealsenseCameraWaitErrors : public RealsenseFixture,
                                  public ::testing::WithParamInterface<std::pair<rs2_exception_type, bool>> {};

TEST_P(RealsenseCameraWaitErrors, UnrecoverableEndsCaptureOthersAreLogged) {
    const auto [type, unrecoverable] = GetParam();
    Open();
    camera->StartCapture();
    fakeRealsense::PushError(type, "scripted failure");
    fakeRealsense::PushFrameSet(SmallSet(1.0));
    if (unrecoverable) {
        ASSERT_TRUE(log.WaitFor(critical, "[RealsenseCamera.background] scripted failure"));
        camera->StopCapture();
        EXPECT_TRUE(listener.Frames().empty());
        EXPECT_EQ(fakeRealsense::PendingWaitResults(), 1u);
        EXPECT_EQ(log.Count(err, "[RealsenseCamera.background]"), 0);
    } else {
        ASSERT_TRUE(listener.WaitForFrames(1));
        EXPECT_EQ(log.Count(err, "[RealsenseCamera.background] scripted failure"), 1);
        EXPECT_EQ(log.Count(critical, ""), 0);
        StopCapture();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryType, RealsenseCameraWaitErrors,
                         ::testing::Values(std::pair{RS2_EXCEPTION_TYPE_UNKNOWN, false},
                                           std::pair{RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED, true},
                                           std::pair{RS2_EXCEPTION_TYPE_BACKEND, true},
                                           std::pair{RS2_EXCEPTION_TYPE_INVALID_VALUE, false},
                                           std::pair{RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE, false},
                                           std::pair{RS2_EXCEPTION_TYPE_NOT_IMPLEMENTED, false},
                                           std::pair{RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE, true},
                                           std::pair{RS2_EXCEPTION_TYPE_IO, false},
                                           std::pair{RS2_EXCEPTION_TYPE_COUNT, false}));
