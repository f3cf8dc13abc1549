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
#include <string>

#include <glm/glm.hpp>

#include "tools/replay/sequence.h"

namespace quilo::replay {

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

struct SampleOptions {
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

// Renders the sample from `photo` (grey) with its eye centres `eyes` into
// `outputFolder` (created when missing): frames "00000.png", "00001.png", ...
// and then sequence.json, so that a manifest is present only after every
// frame was written (a manifest left there before is removed first). Returns
// the sequence the manifest describes. Throws SequenceError when the photo is
// empty, the eyes lie outside it or less than 4 px apart, an option is out of
// range (frameCount 1..100000, pathStep >= 1, noiseSigma 0..50), or a file
// cannot be written.
Sequence GenerateSample(const GreyImage& photo, const EyePixels& eyes,
                        const SampleOptions& options, const std::filesystem::path& outputFolder);

}  // namespace quilo::replay
