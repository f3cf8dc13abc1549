// The geometry every room shares: camera space to display space and back,
// and the pinhole projection used where a frame cannot project itself or
// has nothing better than the camera's focal lengths and principal point.
//
// The display sees a point v of camera space at F · (R · v) + t, with
// R = the camera's rotation, t = its position on the display (millimetres)
// and F = diag(-1, -1, 1): the camera looks at the viewer, the display's x and
// y axes point the other way.
#pragma once

#include <glm/glm.hpp>

#include "headTracking/common/types.h"

namespace quilo::head {

// F · (R · v): a direction (a velocity, an offset) in display space.
template <typename T>
glm::vec<3, T> RotateCameraToDisplay(const glm::mat<3, 3, T>& rotation, const glm::vec<3, T>& v) {
    const glm::vec<3, T> r = rotation * v;
    return {-r.x, -r.y, r.z};
}

// F · (R · v) + t: a point in display space.
template <typename T>
glm::vec<3, T> CameraToDisplay(const glm::mat<3, 3, T>& rotation, const glm::vec<3, T>& position,
                               const glm::vec<3, T>& v) {
    return RotateCameraToDisplay(rotation, v) + position;
}

// The inverse: R⁻¹ · (F · (d - t)), a display-space point back in camera space.
template <typename T>
glm::vec<3, T> DisplayToCamera(const glm::mat<3, 3, T>& rotation, const glm::vec<3, T>& position,
                               const glm::vec<3, T>& d) {
    glm::vec<3, T> f = d - position;
    f.x = -f.x;
    f.y = -f.y;
    return glm::inverse(rotation) * f;
}

// The point at `depth` along the ray through `pixel` of an ideal pinhole
// camera with focal lengths `focal` and principal point `principal` (pixels);
// the point has the unit of `depth`.
inline glm::dvec3 DeprojectPinhole(const glm::dvec2& pixel, double depth, const glm::dvec2& focal,
                                   const glm::dvec2& principal) {
    return {(pixel.x - principal.x) / focal.x * depth, (pixel.y - principal.y) / focal.y * depth, depth};
}

inline glm::dvec3 DeprojectPinhole(const glm::dvec2& pixel, double depth, const CameraIntrinsics& intrinsics) {
    return DeprojectPinhole(pixel, depth, {intrinsics.fx, intrinsics.fy}, {intrinsics.ppx, intrinsics.ppy});
}

// The inverse: the pixel at which that camera sees `point` (any unit, z > 0).
inline glm::dvec2 ProjectPinhole(const glm::dvec3& point, const glm::dvec2& focal, const glm::dvec2& principal) {
    return {principal.x + focal.x * point.x / point.z, principal.y + focal.y * point.y / point.z};
}

inline glm::dvec2 ProjectPinhole(const glm::dvec3& point, const CameraIntrinsics& intrinsics) {
    return ProjectPinhole(point, {intrinsics.fx, intrinsics.fy}, {intrinsics.ppx, intrinsics.ppy});
}

}  // namespace quilo::head
