#include "headTracking/camera/pinholeCameraFrame.h"

#include <cmath>
#include <cstring>

#include "headTracking/common/transforms.h"

namespace quilo::head {

namespace {

bool FocalLengthsUsable(const CameraIntrinsics& intrinsics) {
    return intrinsics.fx > 0.0f && intrinsics.fy > 0.0f && std::isfinite(intrinsics.fx) && std::isfinite(intrinsics.fy);
}

}  // namespace

PinholeCameraFrame::PinholeCameraFrame(const ImageDesc& image, const DepthImageDesc* depth, Timestamp time,
                                       const CameraIntrinsics& intrinsics)
    : image_(image),
      depth_(depth != nullptr ? *depth : DepthImageDesc{}),
      hasDepth_(depth != nullptr && depth->data != nullptr),
      time_(time),
      intrinsics_(intrinsics) {}

bool PinholeCameraFrame::GetDepth(glm::dvec2 pixel, float* depth) const {
    if (!hasDepth_) return false;
    // Truncation toward zero, as the camera library addresses its depth
    // image; tested in double so that NaN and huge values fail.
    const double column = std::trunc(pixel.x);
    const double row = std::trunc(pixel.y);
    if (!(column >= 0.0 && column < depth_.width && row >= 0.0 && row < depth_.height)) return false;
    const size_t at =
        static_cast<size_t>(row) * static_cast<size_t>(depth_.stride) + static_cast<size_t>(column) * sizeof(uint16_t);
    uint16_t value = 0;
    std::memcpy(&value, depth_.data + at, sizeof value);  // rows may be unaligned
    *depth = static_cast<float>(value) * depth_.unit;
    return true;
}

bool PinholeCameraFrame::DeprojectPixelToPoint(glm::dvec2 pixel, float depth, glm::vec3* point) const {
    if (!FocalLengthsUsable(intrinsics_)) return false;
    *point = glm::vec3(DeprojectPinhole(pixel, depth, intrinsics_));
    return true;
}

bool PinholeCameraFrame::ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const {
    *depth = point.z;
    if (!(point.z > 0.0f) || !FocalLengthsUsable(intrinsics_)) return false;
    *pixel = ProjectPinhole(glm::dvec3(point), intrinsics_);
    return true;
}

}  // namespace quilo::head
