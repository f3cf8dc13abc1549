#include "tools/live/liveFrame.h"

#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "headTracking/common/transforms.h"

namespace quilo::live {

namespace {

constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;
// Half the mean eye distance, for faces that coast without a detection.
constexpr double kHalfEyeDistanceMm = 31.5;

}  // namespace

glm::dvec3 DisplayAngles(const glm::vec3& cameraAngles, const glm::mat3& rotation) {
    const double pitch = cameraAngles.x, yaw = cameraAngles.y;
    // The face's forward direction in camera space, as the detector defines
    // its angles (yaw = atan2(-f.x, -f.z), pitch = atan2(-f.y, |f.xz|)); the
    // same definitions in the display's frame, whose x and y point the other
    // way, give the display's angles.
    const glm::dvec3 forward(-std::sin(yaw) * std::cos(pitch), -std::sin(pitch), -std::cos(yaw) * std::cos(pitch));
    const glm::dvec3 f = head::RotateCameraToDisplay(glm::dmat3(rotation), forward);
    // Looking at the display is looking along -z there; yaw and pitch are
    // the turn from that towards +x and +y.
    const double displayYaw = std::atan2(f.x, -f.z);
    const double displayPitch = std::atan2(f.y, std::hypot(f.x, f.z));
    return {displayYaw * kDegreesPerRadian, displayPitch * kDegreesPerRadian,
            static_cast<double>(cameraAngles.z) * kDegreesPerRadian};
}

std::vector<LiveFace> FacesOfFrame(const head::Frame& frame, const glm::mat3& rotation, bool trackLeft,
                                   bool trackRight) {
    const Slice<head::Face> faces = frame.faces();
    const Slice<head::RawFace> raws = frame.rawFaces();
    const glm::dmat3 r(rotation);
    std::vector<LiveFace> out;
    out.reserve(static_cast<size_t>(faces.size));
    for (const head::Face& face : faces) {
        LiveFace live;
        const glm::dvec3 position(face.position);
        const int32_t raw = face.rawFaceIndex;
        if (raw >= 0 && raw < raws.size) {
            // The filtered point with the detection's eyes about it.
            const head::RawFace& detection = raws[raw];
            const glm::dvec3 tracked(detection.trackedPoint);
            live.rightEye = position + head::RotateCameraToDisplay(r, glm::dvec3(detection.rightEye) - tracked);
            live.leftEye = position + head::RotateCameraToDisplay(r, glm::dvec3(detection.leftEye) - tracked);
        } else {
            live.coasting = true;
            // A viewer facing the display has the right eye on its +x side.
            const glm::dvec3 half(kHalfEyeDistanceMm, 0.0, 0.0);
            glm::dvec3 centre = position;
            if (trackLeft != trackRight) centre += trackRight ? -half : half;
            live.rightEye = centre + half;
            live.leftEye = centre - half;
        }
        live.head = 0.5 * (live.rightEye + live.leftEye);
        live.velocity = glm::dvec3(face.velocity);
        const glm::dvec3 angles = DisplayAngles(face.angles, rotation);
        live.yawDeg = angles.x;
        live.pitchDeg = angles.y;
        live.rollDeg = angles.z;
        out.push_back(live);
    }
    return out;
}

std::optional<OpentrackPacket> EncodeOpentrack(const LiveFrame& frame) {
    if (frame.faces.empty()) return std::nullopt;
    const LiveFace& face = frame.faces.front();
    const double values[6] = {face.head.x / 10.0, face.head.y / 10.0, face.head.z / 10.0,
                              face.yawDeg,        face.pitchDeg,      face.rollDeg};
    OpentrackPacket packet{};
    for (size_t i = 0; i < 6; ++i) {
        if (!std::isfinite(values[i])) return std::nullopt;
        uint64_t bits = 0;
        std::memcpy(&bits, &values[i], sizeof bits);
        for (size_t b = 0; b < 8; ++b) packet[i * 8 + b] = static_cast<uint8_t>(bits >> (8 * b));
    }
    return packet;
}

std::array<double, 6> DecodeOpentrack(const OpentrackPacket& packet) {
    std::array<double, 6> values{};
    for (size_t i = 0; i < 6; ++i) {
        uint64_t bits = 0;
        for (size_t b = 0; b < 8; ++b) bits |= static_cast<uint64_t>(packet[i * 8 + b]) << (8 * b);
        std::memcpy(&values[i], &bits, sizeof bits);
    }
    return values;
}

namespace {

nlohmann::json Number(double value) { return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr); }

nlohmann::json Vector(const glm::dvec3& v) { return nlohmann::json::array({Number(v.x), Number(v.y), Number(v.z)}); }

}  // namespace

std::string EncodeJson(const LiveFrame& frame) {
    nlohmann::json faces = nlohmann::json::array();
    for (const LiveFace& face : frame.faces) {
        faces.push_back(
            {{"head", Vector(face.head)},
             {"rightEye", Vector(face.rightEye)},
             {"leftEye", Vector(face.leftEye)},
             {"velocity", Vector(face.velocity)},
             {"angles",
              {{"yaw", Number(face.yawDeg)}, {"pitch", Number(face.pitchDeg)}, {"roll", Number(face.rollDeg)}}},
             {"coasting", face.coasting}});
    }
    const nlohmann::json message = {{"frame", frame.index},
                                    {"timestamp", Number(frame.captureTimeMs)},
                                    {"latency", Number(frame.latencyMs)},
                                    {"faces", std::move(faces)}};
    return message.dump();
}

}  // namespace quilo::live
