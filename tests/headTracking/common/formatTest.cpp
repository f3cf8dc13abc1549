#include <gtest/gtest.h>

#include <fmt/format.h>

#include "headTracking/common/engineConfiguration.h"
#include "headTracking/common/glmFormat.h"

using namespace quilo;
using namespace quilo::head;

TEST(TextForm, DefaultEngineConfigurationIsByteExact) {
    EngineConfiguration c;
    EXPECT_EQ(fmt::format("{}", c),
              "{.faceTracker={.trackRightEye=true, .trackLeftEye=true, .filterProperties="
              "{.velDampingTime=100, .minFitDist=40, .maxFitDist=2000, .angleYMax=0.7853982, "
              ".interocularDistanceMin=30, .interocularDistanceMax=80, .bufferLim=600, "
              ".mainFaceSkew={0, 0, 0}, .mainFaceScale={4, 4, 1}, .kalman={.a={0.02, 0.05, 0.2}, "
              ".b={0.1, 0.1, 0.1}}}, .cameraRotation={{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, "
              ".cameraPosition={0, 0, 0}}, .camera={.width=0, .height=0, .fps=0, .binningFactor=0}, "
              "faceDetector={.maxNumOfFaces=0}, .initializeFaceDetectorLazily=false}");
}

TEST(TextForm, FloatsShortestInRecordsSixDigitsInVectors) {
    EXPECT_EQ(fmt::format("{}", glm::vec3(0.7853982f, 1e7f, -2.5f)), "{0.785398, 1e+07, -2.5}");
    FilterProperties p;
    EXPECT_NE(fmt::format("{}", p).find(".angleYMax=0.7853982,"), std::string::npos);
}

TEST(TextForm, Timestamps) {
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::Unknown, -1.0}),
              "{.space=Timestamp::Space::Unknown, .ms=-1}");
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::System, 1.5}),
              "{.space=Timestamp::Space::System, .ms=1.5}");
    EXPECT_EQ(fmt::format("{}", static_cast<Timestamp::Space>(7)), "Timestamp::Space::Unknown");
}

TEST(TextForm, SmallRecords) {
    EXPECT_EQ(fmt::format("{}", TrackingSessionInitArgs{}), "{.androidSurface=0x0}");
    TrackingSessionInitArgs surface;
    surface.androidSurface = reinterpret_cast<void*>(0xabc0);
    EXPECT_EQ(fmt::format("{}", surface), "{.androidSurface=0xabc0}");
    EXPECT_EQ(fmt::format("{}", ImageDesc{848, 480, 0, nullptr}), "{.width=848, .height=480, .rotation=0}");
    CameraIntrinsics i{848, 480, 424.5f, 240.25f, 420.0f, 421.0f, {1, 2, 3, 4, 5}, true};
    EXPECT_EQ(fmt::format("{}", i),
              "{.width=848, .height=480, .ppx=424.5, .ppy=240.25, .fx=420, .fy=421, .isMirrored=true}");
    EXPECT_EQ(fmt::format("{}", FrameProfiling{1, -2, 3, 4}),
              "{.cameraExposureTime=1, .faceDetectorStartTime=-2, .faceDetectorEndTime=3, .apiTimestamp=4}");
    EXPECT_EQ(fmt::format("{}", CameraConfiguration{848, 480, 90, 1.5f}),
              "{.width=848, .height=480, .fps=90, .binningFactor=1.5}");
}

TEST(TextForm, FieldsThatAreNotPrintedDoNotChangeIt) {
    EngineConfiguration a;
    EngineConfiguration b;
    b.faceTracker.filterProperties.restartThreshold = 9;
    b.faceTracker.filterProperties.maxTrackGap = 9;
    b.faceDetector.backend = kQuiloFaceDetectorBackendGPU;
    b.profiling = true;
    EXPECT_EQ(fmt::format("{}", a), fmt::format("{}", b));
    CameraIntrinsics i;
    CameraIntrinsics j;
    j.distortionCoeffs[2] = 7;
    EXPECT_EQ(fmt::format("{}", i), fmt::format("{}", j));
    static const uint8_t pixel = 0;
    EXPECT_EQ(fmt::format("{}", ImageDesc{1, 1, 0, nullptr}), fmt::format("{}", ImageDesc{1, 1, 0, &pixel}));
}

TEST(BackendNames, EveryOtherValueIsUnknown) {
    EXPECT_STREQ(quilo_face_detector_backend_to_string(1), "kQuiloFaceDetectorBackendCPU");
    EXPECT_STREQ(quilo_face_detector_backend_to_string(2), "kQuiloFaceDetectorBackendGPU");
    EXPECT_STREQ(quilo_face_detector_backend_to_string(0), "kQuiloFaceDetectorBackendUnknown");
    EXPECT_STREQ(quilo_face_detector_backend_to_string(3), "kQuiloFaceDetectorBackendUnknown");
    EXPECT_STREQ(quilo_face_detector_backend_to_string(-1), "kQuiloFaceDetectorBackendUnknown");
}
