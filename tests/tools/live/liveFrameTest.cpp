// The live program's wire formats and its faces in the display's space.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/rotation.h"
#include "headTracking/common/transforms.h"
#include "tools/live/liveFrame.h"

namespace quilo::live {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;

LiveFace FaceAt(glm::dvec3 head, double yaw, double pitch, double roll) {
    LiveFace face;
    face.head = head;
    face.rightEye = head + glm::dvec3(31.5, 0.0, 0.0);
    face.leftEye = head - glm::dvec3(31.5, 0.0, 0.0);
    face.yawDeg = yaw;
    face.pitchDeg = pitch;
    face.rollDeg = roll;
    return face;
}

TEST(OpentrackPacket, MainFaceInCentimetresAndDegreesAsLittleEndianDoubles) {
    struct Case {
        std::vector<LiveFace> faces;
        std::optional<std::array<double, 6>> expected;  // nothing: no packet
    };
    const Case cases[] = {
        {{FaceAt({10.0, -20.0, 600.0}, 5.0, -3.0, 2.0)}, {{1.0, -2.0, 60.0, 5.0, -3.0, 2.0}}},
        // The main face only, whatever follows it.
        {{FaceAt({-55.0, 0.5, 1234.0}, 0.0, 0.0, 0.0), FaceAt({1.0, 2.0, 3.0}, 9.0, 9.0, 9.0)},
         {{-5.5, 0.05, 123.4, 0.0, 0.0, 0.0}}},
        {{}, std::nullopt},
        {{FaceAt({kNaN, 0.0, 600.0}, 0.0, 0.0, 0.0)}, std::nullopt},
        {{FaceAt({0.0, 0.0, 600.0}, 0.0, std::numeric_limits<double>::infinity(), 0.0)}, std::nullopt},
    };
    for (const Case& c : cases) {
        LiveFrame frame;
        frame.faces = c.faces;
        const auto packet = EncodeOpentrack(frame);
        ASSERT_EQ(packet.has_value(), c.expected.has_value());
        if (!packet) continue;
        const auto values = DecodeOpentrack(*packet);
        for (size_t i = 0; i < 6; ++i) EXPECT_NEAR(values[i], (*c.expected)[i], 1e-12) << i;
    }
    // The byte order on the wire, whatever the machine's: 1.0 is 00 .. 00 f0 3f.
    LiveFrame one;
    one.faces = {FaceAt({10.0, 0.0, 0.0}, 0.0, 0.0, 0.0)};
    const auto packet = EncodeOpentrack(one);
    ASSERT_TRUE(packet);
    const uint8_t expected[8] = {0, 0, 0, 0, 0, 0, 0xf0, 0x3f};
    for (size_t b = 0; b < 8; ++b) EXPECT_EQ((*packet)[b], expected[b]) << b;
}

TEST(DisplayAngles, AHeadLookingIntoTheCameraFacesItsPlaceOnTheDisplay) {
    // The detector's angles of a viewer at P (camera space) who looks into
    // the camera are yaw atan2(P.x, P.z) and pitch atan2(P.y, |P.xz|); in the
    // display's space that face points from the head to the camera.
    struct Case {
        glm::dvec3 head;        // camera space, mm
        glm::vec3 rotationDeg;  // the camera's rotation on the display (a rotation vector)
        glm::vec3 position;     // the camera's place on the display, mm
        float rollDeg;
    };
    const Case cases[] = {
        {{0.0, 0.0, 600.0}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, 0.0f},
        {{200.0, 0.0, 600.0}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, 5.0f},
        {{0.0, -150.0, 700.0}, {0.0f, 0.0f, 0.0f}, {0.0f, 160.0f, 0.0f}, 0.0f},
        {{-100.0, 80.0, 500.0}, {0.0f, 10.0f, 0.0f}, {0.0f, 160.0f, 0.0f}, -3.0f},
        {{50.0, 50.0, 800.0}, {15.0f, 0.0f, 5.0f}, {20.0f, -150.0f, 10.0f}, 0.0f},
    };
    for (const Case& c : cases) {
        const glm::mat3 rotation = GetRotationMatFromRodriguesNotation(c.rotationDeg);
        const glm::vec3 detector(static_cast<float>(std::atan2(c.head.y, std::hypot(c.head.x, c.head.z))),
                                 static_cast<float>(std::atan2(c.head.x, c.head.z)),
                                 static_cast<float>(c.rollDeg * kPi / 180.0));
        const glm::dvec3 headOnDisplay = head::CameraToDisplay(glm::dmat3(rotation), glm::dvec3(c.position), c.head);
        const glm::dvec3 towards = glm::dvec3(c.position) - headOnDisplay;
        const double yaw = std::atan2(towards.x, -towards.z) * 180.0 / kPi;
        const double pitch = std::atan2(towards.y, std::hypot(towards.x, towards.z)) * 180.0 / kPi;
        const glm::dvec3 angles = DisplayAngles(detector, rotation);
        EXPECT_NEAR(angles.x, yaw, 1e-3) << c.head.x << " " << c.rotationDeg.y;
        EXPECT_NEAR(angles.y, pitch, 1e-3) << c.head.y << " " << c.rotationDeg.x;
        EXPECT_NEAR(angles.z, c.rollDeg, 1e-3);
    }
    // Seen from the front, a viewer to the display's right looking at its
    // middle turns towards -x; one above it looking down, towards -y.
    const glm::dvec3 right =
        DisplayAngles({0.0f, static_cast<float>(std::atan2(-200.0, 600.0)), 0.0f}, glm::mat3(1.0f));
    EXPECT_LT(right.x, -10.0);
    const glm::dvec3 above =
        DisplayAngles({static_cast<float>(std::atan2(-200.0, 600.0)), 0.0f, 0.0f}, glm::mat3(1.0f));
    EXPECT_LT(above.y, -10.0);
}

// A frame with these faces and raw faces.
class FakeFrame final : public head::Frame {
public:
    std::vector<head::Face> faces_;
    std::vector<head::RawFace> raws_;
    Slice<head::Face> faces() const override { return {faces_.data(), static_cast<int64_t>(faces_.size())}; }
    Timestamp timestamp() const override { return {}; }
    bool trackingStarted() const override { return true; }
    float signalValue() const override { return 0.0f; }
    Slice<head::RawFace> rawFaces() const override { return {raws_.data(), static_cast<int64_t>(raws_.size())}; }
    Slice<head::DetectedFace> detections() const override { return {}; }
    head::FrameProfiling profiling() const override { return {}; }
    head::FrameTiming timing() const override { return {}; }
};

TEST(FacesOfFrame, EyesAndHeadAboutTheFilteredPoint) {
    // The detection's eyes in camera space: the person's right eye on the
    // image's left, 64 mm apart, the left one 10 mm further away.
    head::RawFace raw;
    raw.rightEye = {-32.0f, 0.0f, 600.0f};
    raw.leftEye = {32.0f, 0.0f, 610.0f};
    struct Case {
        bool trackLeft, trackRight;
        int32_t rawIndex;  // -1: coasting
        glm::dvec3 rightEye, leftEye;
    };
    // The engine's position is (100, 50, 700) in display space, whichever
    // point it follows.
    const Case cases[] = {
        {true, true, 0, {132.0, 50.0, 695.0}, {68.0, 50.0, 705.0}},
        {false, true, 0, {100.0, 50.0, 700.0}, {36.0, 50.0, 710.0}},
        {true, false, 0, {164.0, 50.0, 690.0}, {100.0, 50.0, 700.0}},
        {true, true, -1, {131.5, 50.0, 700.0}, {68.5, 50.0, 700.0}},
        {false, true, -1, {100.0, 50.0, 700.0}, {37.0, 50.0, 700.0}},
        {true, false, -1, {163.0, 50.0, 700.0}, {100.0, 50.0, 700.0}},
    };
    for (const Case& c : cases) {
        FakeFrame frame;
        head::RawFace tracked = raw;
        tracked.trackedPoint = c.trackLeft && c.trackRight ? 0.5f * (raw.rightEye + raw.leftEye)
                               : c.trackLeft               ? raw.leftEye
                                                           : raw.rightEye;
        frame.raws_ = {tracked};
        frame.faces_ = {head::Face{{100.0f, 50.0f, 700.0f}, {0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, c.rawIndex}};
        const std::vector<LiveFace> faces = FacesOfFrame(frame, glm::mat3(1.0f), c.trackLeft, c.trackRight);
        ASSERT_EQ(faces.size(), 1u);
        const LiveFace& face = faces[0];
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(face.rightEye[k], c.rightEye[k], 1e-3) << c.trackLeft << c.trackRight << c.rawIndex;
            EXPECT_NEAR(face.leftEye[k], c.leftEye[k], 1e-3) << c.trackLeft << c.trackRight << c.rawIndex;
            EXPECT_NEAR(face.head[k], 0.5 * (c.rightEye[k] + c.leftEye[k]), 1e-3);
        }
        EXPECT_EQ(face.coasting, c.rawIndex < 0);
        EXPECT_NEAR(face.velocity.x, 0.1, 1e-6);
    }
}

TEST(JsonMessage, EveryFaceWithItsPointsMainFaceFirstAndNullForNonFinite) {
    LiveFrame frame;
    frame.index = 42;
    frame.captureTimeMs = 1.7e12;
    frame.latencyMs = 12.5;
    frame.faces = {FaceAt({1.0, 2.0, 600.0}, 4.0, 5.0, 6.0), FaceAt({-300.0, 0.0, 900.0}, 0.0, 0.0, 0.0)};
    frame.faces[1].coasting = true;
    frame.faces[1].velocity = {kNaN, 0.0, 0.0};
    const nlohmann::json message = nlohmann::json::parse(EncodeJson(frame));
    EXPECT_EQ(message["frame"], 42);
    EXPECT_DOUBLE_EQ(message["timestamp"].get<double>(), 1.7e12);
    EXPECT_DOUBLE_EQ(message["latency"].get<double>(), 12.5);
    ASSERT_EQ(message["faces"].size(), 2u);
    const auto& main = message["faces"][0];
    EXPECT_EQ(main["head"], nlohmann::json::array({1.0, 2.0, 600.0}));
    EXPECT_EQ(main["rightEye"], nlohmann::json::array({32.5, 2.0, 600.0}));
    EXPECT_EQ(main["leftEye"], nlohmann::json::array({-30.5, 2.0, 600.0}));
    EXPECT_EQ(main["angles"]["yaw"], 4.0);
    EXPECT_EQ(main["angles"]["pitch"], 5.0);
    EXPECT_EQ(main["angles"]["roll"], 6.0);
    EXPECT_EQ(main["coasting"], false);
    EXPECT_EQ(message["faces"][1]["head"][0], -300.0);
    EXPECT_TRUE(message["faces"][1]["velocity"][0].is_null());
    EXPECT_EQ(message["faces"][1]["coasting"], true);

    LiveFrame empty;
    empty.latencyMs = kNaN;
    const nlohmann::json none = nlohmann::json::parse(EncodeJson(empty));
    EXPECT_TRUE(none["faces"].is_array());
    EXPECT_TRUE(none["faces"].empty());
    EXPECT_TRUE(none["latency"].is_null());
}

}  // namespace
}  // namespace quilo::live
