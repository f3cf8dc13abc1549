// The replay tool's sample: an image sequence made from one face photograph
// moved along a known path in front of a simulated camera, with the true
// positions of the eyes in its manifest.
//
// The camera is the 848 x 480 infrared imager of a RealSense depth camera
// (87 degrees horizontal field of view, square pixels, principal point in the
// middle) at 30 frames per second; the first frame is at 1000 ms. The
// photograph is a flat card, scaled so that its eye centres are 63 mm apart,
// whose origin is the midpoint of the eyes. Along the path (one round in
// kSamplePathFrames frames) the eye midpoint moves 600 to 1050 mm from the
// camera, up to 190 mm sideways and 50 mm up and down, while the card rolls
// up to 6 degrees, turns about the vertical axis up to 12 degrees and tilts
// up to 4 degrees. Each frame is the card's perspective image (linear
// interpolation) over a fixed, softly blotched dark background, plus Gaussian
// noise from a fixed seed: the same photograph and options give the same
// bytes on every run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <glm/glm.hpp>

#include "tools/replay/sequence.h"

namespace quilo::replay {

// Besides that path, motions of a person in front of an eye-tracked display
// at the camera's real rate (90 frames per second), each with the card's
// depth image beside every frame when asked, and a truth that gives both
// eyes at any time (SampleTruthAt):
//   sway: side to side, swayMm peak to peak at swayHz, 650 mm away;
//   lean: in and out, 550 to 750 mm at 0.5 Hz;
//   still: a still head 650 mm away;
//   turnAndStop: every second a quick move of 150 mm sideways in 0.3 s
//     (0.5 m/s) while the card turns by 17 degrees, then a dead stop and
//     0.7 s still; right, then back left.

// Frames in one round of the sample's path; at 30 frames per second, 5 s.
inline constexpr int32_t kSamplePathFrames = 150;
// The eye distance the card is scaled to, mm.
inline constexpr double kSampleEyeDistanceMm = 63.0;

// The centres of the person's eyes in a photograph, in pixels (0-based, x to
// the right, y down). The person's right eye lies on the image's left in a
// photograph that is not mirrored.
struct EyePixels {
    glm::dvec2 rightEye{0.0};
    glm::dvec2 leftEye{0.0};
};

enum class SampleMotion { Path, Sway, Lean, Still, TurnAndStop };

// "path", "sway", "lean", "still", "turnAndStop"; nullopt for another name.
std::optional<SampleMotion> SampleMotionFromName(const std::string& name);
const char* SampleMotionName(SampleMotion motion);

struct SampleOptions {
    SampleMotion motion = SampleMotion::Path;
    // Frames per second; 0: 30 for the path, 90 for the other motions.
    double framesPerSecond = 0.0;
    // Sway's width peak to peak (mm, 0..400) and rate (Hz, 0.05..5).
    double swayMm = 100.0;
    double swayHz = 1.0;
    // Writes "NNNNN-depth.png" beside every frame: the card's distance along
    // the camera's axis, mm (depth unit 0.001), 0 off the card.
    bool depth = false;
    // Frames written.
    int32_t frameCount = kSamplePathFrames;
    // Steps along the path from one written frame to the next, so that a few
    // frames can cover the whole path; the timestamps follow the path's time.
    int32_t pathStep = 1;
    // Standard deviation of the sensor noise, grey levels (0: none).
    double noiseSigma = 2.0;
    uint32_t noiseSeed = 20240617;
};

// Reads a PNG or PGM photograph as grey, each colour pixel the mean of its
// three channels (truncated), as dlib converts colour images. Throws
// SequenceError naming the file when it cannot be read or decoded.
GreyImage ReadPhotoAsGrey(const std::filesystem::path& path);

// The eyes of face 0 of the image named `imageName` in an eye annotation file
// with the columns image,face_index,right_eye_x,right_eye_y,left_eye_x,
// left_eye_y (a header line first). Throws SequenceError naming the file when
// it cannot be read, a row is malformed, or no row is for that image.
EyePixels ReadEyePixels(const std::filesystem::path& csv, const std::string& imageName);

// The sample camera's intrinsics.
CameraIntrinsics SampleIntrinsics();

// Where the eyes of the card with eye centres `eyes` truly are at `ms` on
// the sample's clock (the first frame is at 1000 ms), camera space, mm; any
// time, between frames and beyond the last too. A frame's truth is this at
// its timestamp.
EyeTruth SampleTruthAt(const SampleOptions& options, const EyePixels& eyes, double ms);

// Renders the sample from `photo` (grey) with its eye centres `eyes` into
// `outputFolder` (created when missing): frames "00000.png", "00001.png", ...
// and then sequence.json, so that a manifest is present only after every
// frame was written (a manifest left there before is removed first). Returns
// the sequence the manifest describes. Throws SequenceError when the photo is
// empty, the eyes lie outside it or less than 4 px apart, an option is out of
// range (frameCount 1..100000, pathStep >= 1, noiseSigma 0..50), or a file
// cannot be written.
Sequence GenerateSample(const GreyImage& photo, const EyePixels& eyes, const SampleOptions& options,
                        const std::filesystem::path& outputFolder);

}  // namespace quilo::replay
