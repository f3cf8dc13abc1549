// A frame a host pushes with what it knows of its camera: one 8-bit image,
// optionally a 16-bit depth image aligned pixel for pixel with it, and the
// camera's intrinsics. It answers depth lookup from the depth image and
// projection with the ideal pinhole model of the intrinsics (no distortion).
#pragma once

#include <cstdint>

#include "common/export.h"
#include "headTracking/camera/camera.h"
#include "headTracking/common/types.h"

namespace quilo {

// A depth image of 16-bit values in the machine's byte order, each `unit`
// metres per step; 0 means no measurement. The rows need not be aligned.
struct DepthImageDesc {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;             // bytes from one row to the next, at least 2 · width
    float unit = 0.001f;            // metres per step
    const uint8_t* data = nullptr;  // not owned
};

namespace head {

// Holds copies of the descriptions; the pixels are not copied and must stay
// valid for the frame's life (one listener call).
class QUILO_API PinholeCameraFrame final : public CameraFrame {
public:
    // `depth` may be null (a frame without depth); otherwise it has the
    // image's size.
    PinholeCameraFrame(const ImageDesc& image, const DepthImageDesc* depth, Timestamp time,
                       const CameraIntrinsics& intrinsics);

    Timestamp timestamp() const override { return time_; }
    Slice<ImageDesc> imageDescs() const override { return {&image_, 1}; }
    // The value at the pixel truncated toward zero, times the unit. False
    // without depth or for a pixel outside the image (NaN included).
    bool GetDepth(glm::dvec2 pixel, float* depth) const override;
    // Pinhole model of the intrinsics; false when their focal lengths are
    // not positive.
    bool DeprojectPixelToPoint(glm::dvec2 pixel, float depth, glm::vec3* point) const override;
    // Writes the point's z to `depth` first, then the pixel; false when the
    // point is not in front of the camera or the focal lengths are unusable.
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const override;

private:
    ImageDesc image_;
    DepthImageDesc depth_;
    bool hasDepth_;
    Timestamp time_;
    CameraIntrinsics intrinsics_;
};

}  // namespace head
}  // namespace quilo
