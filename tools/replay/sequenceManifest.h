// Recorded image sequences: a folder of 8-bit grey images and a manifest,
// `sequence.json`, that lists them with their timestamps, the camera's
// intrinsics and, optionally, where the eyes truly were.
//
//   {
//     "format": "quiloHeadTrackingSequence",
//     "version": 1,
//     "description": "free text",                          (optional)
//     "intrinsics": {"width": 848, "height": 480, "fx": 430.0, "fy": 430.0,
//                    "ppx": 424.0, "ppy": 240.0,
//                    "isMirrored": false},                 (isMirrored optional)
//     "depthUnit": 0.001,                                  (optional)
//     "frames": [
//       {"image": "00000.png", "timestamp": 0.0,
//        "depth": "00000-depth.png",                       (optional)
//        "truth": {"rightEye": [x, y, z], "leftEye": [x, y, z]}},   (truth optional)
//       ...
//     ]
//   }
//
// A frame's depth image is a 16-bit grey PNG of the image's size, aligned
// pixel for pixel with it: each value times "depthUnit" (metres, 0.001 when
// absent) is the measured distance, 0 where nothing was measured. Frames
// without one replay with depth estimated by the detector.
//
// Images are PNG or binary PGM files named relative to the folder; colour
// images are read as grey. Timestamps are milliseconds on any clock and must
// increase from frame to frame. The truth gives the centres of the person's
// right and left eyes in camera space, in millimetres: x to the image's
// right, y down, z away from the camera along its axis.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <glm/glm.hpp>

#include "headTracking/common/types.h"

namespace quilo::replay {

inline constexpr const char* kManifestName = "sequence.json";
inline constexpr const char* kFormatName = "quiloHeadTrackingSequence";
inline constexpr int kFormatVersion = 1;

// A sequence that cannot be read or written; the message names the file and
// what is wrong with it.
class SequenceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where the eyes were, camera space, mm.
struct EyeTruth {
    glm::dvec3 rightEye{0.0};
    glm::dvec3 leftEye{0.0};
};

struct SequenceFrame {
    std::string image;  // file name relative to the folder
    double timestampMs = 0.0;
    std::optional<EyeTruth> truth;
    std::optional<std::string> depth;  // 16-bit depth image, relative to the folder
};

inline constexpr double kDefaultDepthUnit = 0.001;

struct Sequence {
    std::string description;
    CameraIntrinsics intrinsics;
    double depthUnit = kDefaultDepthUnit;  // metres per step of the depth images
    std::vector<SequenceFrame> frames;
};

// Reads `folder`/sequence.json. Throws SequenceError when the folder or the
// manifest is missing, the JSON is malformed, a field is missing or has the
// wrong type, the intrinsics are unusable (no positive size or focal length),
// the depth unit is not a positive finite number, there are no frames, an
// image or depth name leaves the folder, or the timestamps are
// not finite and strictly increasing; also when the manifest is not a regular
// file (a FIFO would block). The images themselves are not opened.
Sequence ReadSequence(const std::filesystem::path& folder);

// Writes `folder`/sequence.json (the folder must exist). Throws SequenceError
// when the file cannot be written.
void WriteSequence(const std::filesystem::path& folder, const Sequence& sequence);

// The pixel at which a camera with `intrinsics` sees the camera-space point
// `point` (any unit; z > 0), without distortion.
glm::dvec2 ProjectToPixel(const CameraIntrinsics& intrinsics, const glm::dvec3& point);

}  // namespace quilo::replay
