// The frame the RealSense camera hands to its listener: the infrared image and
// the depth image of one frame set, without copying pixels. Internal: only the
// camera's own sources include it (it needs librealsense2's headers).
#pragma once

#include <optional>
#include <vector>

#include "headTracking/camera/realsenseCameraDetail.h"

namespace quilo::head {

// Built on the capture thread for one listener call and used by that thread
// only. The image list and the timestamp are read from the library on first
// request and kept (a failure too, with its fallback), so the caches need no
// lock.
class RealsenseCameraFrame final : public CameraFrame {
public:
    // Takes over one reference to each library frame; either may be empty.
    // `camera` provides the infrared stream's intrinsics and outlives the frame.
    RealsenseCameraFrame(const RealsenseCamera* camera, Rs2FrameHandle infraredFrame, Rs2FrameHandle depthFrame);

    // Global-time frames: the library timestamp corrected by the sensor and
    // frame timestamp metadata, in the System space. Other domains: the library
    // timestamp in the Unknown space. On a library error (logged): the
    // library's current time in the Unknown space.
    Timestamp timestamp() const override;
    // The infrared image (8 bits per pixel, rows of `width` bytes, pointing
    // into the library's buffer); empty, and logged, when it cannot be read.
    Slice<ImageDesc> imageDescs() const override;
    // Distance in metres at the pixel, truncated toward zero, read from the
    // depth image with the infrared image's coordinates. Throws the library's
    // rs2::error when there is no depth image or the pixel is outside it.
    bool GetDepth(glm::dvec2 pixel, float* depth) const override;
    // Projection with the infrared stream's intrinsics and distortion, as the
    // library applies them; independent of the frame's images.
    bool DeprojectPixelToPoint(glm::dvec2 pixel, float depth, glm::vec3* point) const override;
    // Writes the point's z to `depth` first, then the pixel.
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const override;

private:
    const RealsenseCamera* camera_;
    Rs2FrameHandle infraredFrame_;
    Rs2FrameHandle depthFrame_;
    mutable std::optional<Timestamp> timestamp_;
    mutable std::optional<std::vector<ImageDesc>> imageDescs_;
};

}  // namespace quilo::head
