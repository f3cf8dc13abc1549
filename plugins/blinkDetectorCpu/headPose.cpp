#include "plugins/blinkDetectorCpu/headPose.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/calib3d.hpp>

namespace quilo::head::cpu {

namespace {

// A generic adult face: across and down, the mean shape of dlib's landmark
// model scaled to 63 mm between the eye centres; in depth, average
// anthropometric proportions (eye corners set back, the nose forward). Only
// landmarks that stay on the same spot of the face as it turns are used: the
// eyes, the nose, the mouth and the chin; the jaw line and the brows are left
// out.
const std::vector<FacePoint> kFaceModel = {
    {36, {-43.9f, 0.1f, 10.0f}}, {37, {-36.1f, -4.4f, 0.0f}},  {38, {-26.7f, -4.3f, 0.0f}},
    {39, {-18.5f, 1.9f, 2.0f}},  {40, {-27.3f, 3.5f, 0.0f}},   {41, {-36.6f, 3.3f, 0.0f}},
    {42, {18.5f, 1.9f, 2.0f}},   {43, {26.7f, -4.3f, 0.0f}},   {44, {36.1f, -4.4f, 0.0f}},
    {45, {43.9f, 0.1f, 10.0f}},  {46, {36.6f, 3.3f, 0.0f}},    {47, {27.3f, 3.5f, 0.0f}},
    {27, {0.0f, -1.5f, -9.0f}},  {28, {0.0f, 10.8f, -15.0f}},  {29, {0.0f, 23.0f, -21.0f}},
    {30, {0.0f, 35.5f, -27.0f}}, {31, {-14.6f, 44.0f, -8.0f}}, {32, {-7.6f, 46.6f, -12.0f}},
    {33, {0.0f, 48.8f, -14.0f}}, {34, {7.6f, 46.6f, -12.0f}},  {35, {14.6f, 44.0f, -8.0f}},
    {48, {-28.0f, 66.8f, 2.0f}}, {51, {0.0f, 62.4f, -10.0f}},  {54, {28.0f, 66.8f, 2.0f}},
    {57, {0.0f, 82.2f, -7.0f}},  {8, {0.0f, 115.7f, 2.0f}},
};

constexpr double kMaxTurnForDepth = 60.0 * CV_PI / 180.0;

bool IsUsable(const CameraIntrinsics& i) {
    return i.width > 0 && i.height > 0 && std::isfinite(i.fx) && std::isfinite(i.fy) && i.fx > 0 && i.fy > 0 &&
           std::isfinite(i.ppx) && std::isfinite(i.ppy);
}

cv::Point2d EyeMidpoint(const Landmarks& landmarks) {
    const cv::Point2f mid = (EyeCentre(landmarks, kRightEyeFirst) + EyeCentre(landmarks, kLeftEyeFirst)) * 0.5f;
    return {mid.x, mid.y};
}

}  // namespace

Pinhole PinholeFor(const CameraIntrinsics& intrinsics, int width, int height) {
    Pinhole camera;
    if (IsUsable(intrinsics)) {
        const double sx = static_cast<double>(width) / intrinsics.width;
        const double sy = static_cast<double>(height) / intrinsics.height;
        camera.fx = intrinsics.fx * sx;
        camera.fy = intrinsics.fy * sy;
        camera.ppx = intrinsics.ppx * sx;
        camera.ppy = intrinsics.ppy * sy;
    } else {
        camera.fx = camera.fy = 0.5 * width / std::tan(kDefaultHorizontalFieldOfView / 2);
        camera.ppx = 0.5 * width;
        camera.ppy = 0.5 * height;
    }
    return camera;
}

bool FitHeadPose(const Landmarks& landmarks, const Pinhole& camera, HeadPose* pose) {
    std::vector<cv::Point3f> object;
    std::vector<cv::Point2f> image;
    object.reserve(kFaceModel.size());
    image.reserve(kFaceModel.size());
    for (const FacePoint& p : kFaceModel) {
        object.push_back(p.position);
        image.push_back(landmarks[p.landmark]);
    }
    if (!pose->valid) {
        // A frontal face between the eyes, at the distance its eye spacing suggests.
        const double depth = EstimateEyeDepth(landmarks, camera, 0.0) * 1000.0;
        if (!(depth > 0.0) || !std::isfinite(depth)) return pose->valid = false;
        const cv::Point2d n = camera.Normalise(EyeMidpoint(landmarks));
        pose->rotation = cv::Vec3d(0.0, 0.0, 0.0);
        pose->translation = cv::Vec3d(n.x * depth, n.y * depth, depth);
    }
    const cv::Matx33d k(camera.fx, 0.0, camera.ppx, 0.0, camera.fy, camera.ppy, 0.0, 0.0, 1.0);
    cv::Mat rotation(3, 1, CV_64F, pose->rotation.val);
    cv::Mat translation(3, 1, CV_64F, pose->translation.val);
    bool ok = false;
    try {
        ok = cv::solvePnP(object, image, k, cv::noArray(), rotation, translation, true, cv::SOLVEPNP_ITERATIVE);
    } catch (const cv::Exception&) {
        ok = false;
    }
    if (ok && rotation.ptr<double>() != pose->rotation.val) rotation.copyTo(cv::Mat(3, 1, CV_64F, pose->rotation.val));
    if (ok && translation.ptr<double>() != pose->translation.val) {
        translation.copyTo(cv::Mat(3, 1, CV_64F, pose->translation.val));
    }
    ok = ok && cv::checkRange(pose->rotation) && cv::checkRange(pose->translation) && pose->translation[2] > 0.0;
    if (ok) {
        cv::Matx33d r;
        cv::Rodrigues(pose->rotation, r);
        // The face's forward direction is -z of the model; it must point towards the camera.
        ok = r(2, 2) > 0.0;
    }
    pose->valid = ok;
    return ok;
}

glm::vec3 HeadAngles(const HeadPose& pose) {
    cv::Matx33d r;
    cv::Rodrigues(pose.rotation, r);
    // f = -(third column of r); the head's left-to-right axis is the first column.
    const double pitch = std::atan2(r(1, 2), std::hypot(r(0, 2), r(2, 2)));
    const double yaw = std::atan2(r(0, 2), r(2, 2));
    const double roll = std::atan2(r(1, 0), r(0, 0));
    return {static_cast<float>(pitch), static_cast<float>(yaw), static_cast<float>(roll)};
}

glm::vec3 FrontalAngles(const Landmarks& landmarks, const Pinhole& camera) {
    const cv::Point2d n = camera.Normalise(EyeMidpoint(landmarks));
    const cv::Point2f across = EyeCentre(landmarks, kLeftEyeFirst) - EyeCentre(landmarks, kRightEyeFirst);
    return {static_cast<float>(std::atan2(n.y, std::hypot(n.x, 1.0))), static_cast<float>(std::atan2(n.x, 1.0)),
            static_cast<float>(std::atan2(across.y, across.x))};
}

double EstimateEyeDepth(const Landmarks& landmarks, const Pinhole& camera, double yaw) {
    const cv::Point2f first = EyeCentre(landmarks, kRightEyeFirst);
    const cv::Point2f second = EyeCentre(landmarks, kLeftEyeFirst);
    const cv::Point2d a = camera.Normalise({first.x, first.y});
    const cv::Point2d b = camera.Normalise({second.x, second.y});
    const double apart = std::hypot(a.x - b.x, a.y - b.y);
    if (!(apart > 0.0) || !std::isfinite(apart)) return 0.0;
    const double lineOfSight = std::atan2(camera.Normalise(EyeMidpoint(landmarks)).x, 1.0);
    double turn = yaw - lineOfSight;
    turn = std::isfinite(turn) ? std::clamp(turn, -kMaxTurnForDepth, kMaxTurnForDepth) : 0.0;
    return kMeanEyeDistance * std::cos(turn) / (apart * std::cos(lineOfSight));
}

const std::vector<FacePoint>& GenericFace() { return kFaceModel; }

}  // namespace quilo::head::cpu
