// What the live program sends for every frame: the tracked faces in the
// display's space with both eyes and the head, and the two wire formats
// built from them (opentrack's UDP packet and the JSON feed's message).
//
// Display space: millimetres, x to the viewer's right, y up, z out of the
// display towards the viewer (the engine's display space). Angles of a head
// are degrees in that frame: yaw positive when the face turns towards the
// display's +x, pitch positive when it turns up, roll as the detector
// measures it in the image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <glm/glm.hpp>

#include "headTracking/common/frameAdapter.h"
#include "headTracking/common/types.h"

namespace quilo::live {

struct LiveFace {
    glm::dvec3 head{0.0};      // midpoint of the eyes, filtered, mm
    glm::dvec3 rightEye{0.0};  // the person's right eye, mm
    glm::dvec3 leftEye{0.0};
    glm::dvec3 velocity{0.0};  // mm per ms, filtered
    double yawDeg = 0.0, pitchDeg = 0.0, rollDeg = 0.0;
    // A face the tracker carries on without a detection in this frame; its
    // eyes are placed 63 mm apart about the head, level with the display.
    bool coasting = false;
};

struct LiveFrame {
    uint64_t index = 0;           // counts the frames pushed, from 0
    double captureTimeMs = 0.0;   // system clock, ms since 1970, when the image was taken
    double latencyMs = 0.0;       // from capture to the outputs
    std::vector<LiveFace> faces;  // main face first
};

// The faces of one engine frame in display space, with `rotation` and
// `position` the camera's pose on the display as the tracker was configured
// and `trackLeft`/`trackRight` the tracked eyes (which decide what point the
// engine's position is).
std::vector<LiveFace> FacesOfFrame(const head::Frame& frame, const glm::mat3& rotation, bool trackLeft,
                                   bool trackRight);

// Head angles in the display's frame, degrees, from the detector's (pitch,
// yaw, roll) in radians in camera space (see the CPU detector's head pose)
// and the camera's rotation on the display.
glm::dvec3 DisplayAngles(const glm::vec3& cameraAngles, const glm::mat3& rotation);

// opentrack's "UDP over network" input: six little-endian doubles, x, y, z in
// centimetres and yaw, pitch, roll in degrees, of the main face's head.
inline constexpr size_t kOpentrackPacketSize = 48;
using OpentrackPacket = std::array<uint8_t, kOpentrackPacketSize>;

// The packet for `frame`; nothing when no face is tracked or a value is not
// finite (opentrack drops such packets anyway).
std::optional<OpentrackPacket> EncodeOpentrack(const LiveFrame& frame);

// The six values of a packet, in its order; for receivers and tests.
std::array<double, 6> DecodeOpentrack(const OpentrackPacket& packet);

// The JSON feed's message for `frame`:
//   {"frame": N, "timestamp": ms since 1970 (capture), "latency": ms,
//    "faces": [{"head": [x, y, z], "rightEye": [...], "leftEye": [...],
//               "velocity": [x, y, z] (mm per ms),
//               "angles": {"yaw": deg, "pitch": deg, "roll": deg},
//               "coasting": false}, ...]}
// positions in mm, main face first; numbers that are not finite are null.
std::string EncodeJson(const LiveFrame& frame);

}  // namespace quilo::live
