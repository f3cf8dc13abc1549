// Where the live program's images come from: a webcam, a video file or a
// recorded sequence folder, each giving 8-bit grey images with the time they
// were taken. (The RealSense camera is the engine's own and needs none of this.)
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "headTracking/common/types.h"

namespace quilo::live {

// A source that cannot be opened or fails while running; the message says
// which and why.
class SourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CapturedImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> grey;  // rows without padding
    // Measured depth aligned with the image, where a sequence has it.
    std::vector<uint16_t> depth;
    double depthUnit = 0.0;  // metres per step
    // When the image was taken: the camera's time where the source gives
    // one on the steady clock, else when the read returned.
    std::chrono::steady_clock::time_point captured;
    double captureTimeMs = 0.0;  // the same moment on the system clock, ms since 1970
    // The source's own time of the image (ms), for the engine's timestamps:
    // increasing from image to image.
    double timestampMs = 0.0;
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // The next image, waiting for it (a video file or a sequence not read
    // `fast` waits until its time comes). Nothing at the end of a file or
    // sequence. Throws SourceError when a camera stops delivering images or
    // an image cannot be read.
    virtual std::optional<CapturedImage> Next() = 0;
    // The camera geometry of the images; known after the source is opened.
    virtual CameraIntrinsics Intrinsics() const = 0;
    // A description for the console, e.g. "webcam 0 (640 x 480, 30 fps)".
    virtual std::string Describe() const = 0;
    // Whether images are dropped when the engine falls behind: a camera's
    // and a paced file's are, an unpaced file's are all processed.
    virtual bool Live() const = 0;
};

// The intrinsics of a pinhole camera without distortion that sees
// `horizontalFovDeg` degrees across an image of `width` x `height`, with
// square pixels and the principal point in the middle. Throws
// std::invalid_argument unless 1 <= fov < 180 and the size is positive.
CameraIntrinsics IntrinsicsFromFieldOfView(int32_t width, int32_t height, double horizontalFovDeg);

// Reads a calibration file: JSON with width, height, fx, fy, ppx, ppy (pixels)
// and optionally isMirrored, either at the top or in an "intrinsics" object
// (so a sequence's manifest serves too). Throws SourceError naming the file
// when it cannot be read or a value is missing or unusable.
CameraIntrinsics ReadCalibration(const std::filesystem::path& path);

// `intrinsics` for images of `width` x `height`: the focal lengths and the
// principal point scaled along with the size.
CameraIntrinsics ScaleIntrinsics(const CameraIntrinsics& intrinsics, int32_t width, int32_t height);

// How a webcam or video file's geometry is known: a calibration when given,
// else the field of view (degrees).
struct GeometryOptions {
    std::optional<std::filesystem::path> calibration;
    double fovDeg = 60.0;
};

// A webcam by number or device path (e.g. /dev/video0), through OpenCV's
// V4L2 capture. `fps` asks the camera for a rate when above 0. Throws
// SourceError when it cannot be opened or gives no first image.
std::unique_ptr<FrameSource> OpenWebcam(const std::string& device, const GeometryOptions& geometry, double fps);

// A video file, anything OpenCV reads, paced at its own frame rate unless
// `fast`; `loop` starts it again at its end. Throws SourceError when it
// cannot be opened or has no first image.
std::unique_ptr<FrameSource> OpenVideo(const std::filesystem::path& path, const GeometryOptions& geometry, bool fast,
                                       bool loop);

// A sequence folder as the replay tool reads it, paced by its timestamps
// unless `fast`; `loop` starts it again at its end. Throws SourceError (with
// the replay's message) when it cannot be read.
std::unique_ptr<FrameSource> OpenSequence(const std::filesystem::path& folder, bool fast, bool loop);

}  // namespace quilo::live
