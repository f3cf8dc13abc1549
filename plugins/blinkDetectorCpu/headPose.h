// Head geometry from landmarks: the camera model, the head's orientation from
// a perspective-n-point fit of a generic face to the landmarks, and the depth
// of a face from its eye distance.
//
// Camera space: x to the image's right, y down, z forward, as the camera
// frame deprojects. Angles of a head are (pitch, yaw, roll) in radians, from
// the face's forward direction f (out of the face) in camera space:
//   yaw   = atan2(-f.x, -f.z): a viewer at (X, Y, Z) looking straight at the
//           camera has yaw atan2(X, Z); turning the head towards the image's
//           right lowers it by the turn angle, towards the left raises it;
//   pitch = atan2(-f.y, hypot(f.x, f.z)): atan2(Y, hypot(X, Z)) for a viewer
//           looking at the camera; raising the chin raises it;
//   roll  = the angle of the head's left-to-right axis from the image's x
//           axis, positive when the head tilts clockwise in the image.
#pragma once

#include <opencv2/core.hpp>

#include <glm/glm.hpp>

#include "headTracking/common/types.h"
#include "plugins/blinkDetectorCpu/landmarkModel.h"

namespace quilo::head::cpu {

// Mean distance between the centres of the eyes of adults, metres.
inline constexpr double kMeanEyeDistance = 0.063;
// Field of view assumed across the image when the camera gives no intrinsics:
// the infrared imagers of RealSense D43x cameras see 87 degrees.
inline constexpr double kDefaultHorizontalFieldOfView = 87.0 * CV_PI / 180.0;

// A pinhole camera without distortion, in pixels.
struct Pinhole {
    double fx = 0.0;
    double fy = 0.0;
    double ppx = 0.0;
    double ppy = 0.0;

    // The viewing direction of a pixel as (x / z, y / z).
    cv::Point2d Normalise(cv::Point2d pixel) const { return {(pixel.x - ppx) / fx, (pixel.y - ppy) / fy}; }
};

// The camera for images of `width` x `height` pixels: the intrinsics scaled to
// that size, or, when they are missing or unusable (no size, a focal length
// that is not positive and finite), the default field of view with the
// principal point at the image's centre.
Pinhole PinholeFor(const CameraIntrinsics& intrinsics, int width, int height);

// A head's pose: the rotation (Rodrigues vector) and translation (mm) that
// take the generic face model into camera space.
struct HeadPose {
    cv::Vec3d rotation;
    cv::Vec3d translation;
    bool valid = false;
};

// Fits the generic face model to the landmarks, starting from `pose` when it
// is valid and otherwise from a frontal face at the distance the eye spacing
// suggests. Returns false and marks the pose invalid when the fit fails or
// ends with a face that turns away from the camera.
bool FitHeadPose(const Landmarks& landmarks, const Pinhole& camera, HeadPose* pose);

// (pitch, yaw, roll) of a fitted pose, as described above.
glm::vec3 HeadAngles(const HeadPose& pose);

// (pitch, yaw, roll) of a head that looks straight at the camera from between
// its eyes, with the roll of the line of the eyes: the fallback when no pose
// can be fitted.
glm::vec3 FrontalAngles(const Landmarks& landmarks, const Pinhole& camera);

// Depth in metres (z in camera space) of the eyes of a face with these
// landmarks and this yaw, from their distance in the image and the mean eye
// distance. A head turned from its line of sight shows its eyes closer
// together by the cosine of the turn (taken into account up to 60 degrees);
// a line of sight at a horizontal angle a from the camera's axis spreads
// them by 1 / cos(a). 0 when the eyes coincide.
double EstimateEyeDepth(const Landmarks& landmarks, const Pinhole& camera, double yaw);

// One point of the generic face the pose fit uses: the landmark and its
// place in the face, in mm, with x towards the person's left (the image's
// right), y down and z into the head, the origin midway between the eye
// centres, which lie 63 mm apart.
struct FacePoint {
    int landmark;
    cv::Point3f position;
};
const std::vector<FacePoint>& GenericFace();

}  // namespace quilo::head::cpu
