#include "plugins/blinkDetectorCpu/facePlacement.h"

#include <algorithm>
#include <cmath>

namespace quilo::head::cpu {

namespace {

// A face region whose grey values spread less than this is no face (a black,
// covered or saturated image).
constexpr double kFlatRegionDeviation = 2.0;

// A face region whose grey values spread less than this is dim: the
// landmarks are placed on a copy stretched to this spread.
constexpr double kDimDeviation = 24.0;

// Eyes rolled further than this (or swapped: about 180 degrees) are no fit.
constexpr float kMaxRoll = 70.0f * static_cast<float>(CV_PI) / 180.0f;

bool EyesInside(const Landmarks& landmarks, int width, int height) {
    return Inside(EyeCentre(landmarks, kRightEyeFirst), width, height) &&
           Inside(EyeCentre(landmarks, kLeftEyeFirst), width, height);
}

// The roll of the line from the person's right eye to the left eye.
float EyeRoll(const Landmarks& landmarks) {
    const cv::Point2f d = EyeCentre(landmarks, kLeftEyeFirst) - EyeCentre(landmarks, kRightEyeFirst);
    return std::atan2(d.y, d.x);
}

}  // namespace

bool PlaceLandmarks(const LandmarkPlacer& placer, const cv::Mat& image, const FaceBox& from, float roll,
                    Placement* placed, LandmarkPlacer::Origin origin) {
    Landmarks landmarks;
    float presence = kNoPresence;
    FaceMemory memory = placed->memory;
    // The landmark model compares differences of grey levels with fixed
    // thresholds: a dim face is placed on a copy of its region with the
    // contrast stretched.
    const cv::Point2f centre = (from.tl() + from.br()) * 0.5f;
    const cv::Rect region =
        cv::Rect(cv::Point(static_cast<int>(centre.x - from.width), static_cast<int>(centre.y - from.height)),
                 cv::Size(static_cast<int>(2 * from.width), static_cast<int>(2 * from.height))) &
        cv::Rect(0, 0, image.cols, image.rows);
    cv::Scalar mean, deviation;
    if (region.area() > 0) cv::meanStdDev(image(cv::Rect(from) & region), mean, deviation);
    if (region.area() > 0 && deviation[0] > kFlatRegionDeviation && deviation[0] < kDimDeviation) {
        const double gain = kDimDeviation / deviation[0];
        cv::Mat stretched;
        image(region).convertTo(stretched, CV_8U, gain, 110.0 - gain * mean[0]);
        FaceBox inRegion = from;
        inRegion.x -= static_cast<float>(region.x);
        inRegion.y -= static_cast<float>(region.y);
        presence = placer.Place(stretched, inRegion, roll, origin, &landmarks, &memory);
        for (cv::Point2f& p : landmarks) p += cv::Point2f(region.tl());
    } else {
        presence = placer.Place(image, from, roll, origin, &landmarks, &memory);
    }
    const float placedRoll = EyeRoll(landmarks);
    if (std::abs(placedRoll) > kMaxRoll || !EyesInside(landmarks, image.cols, image.rows)) return false;
    placed->landmarks = landmarks;
    placed->roll = placedRoll;
    placed->presence = presence;
    placed->memory = memory;
    placed->box = LandmarkModel::BoxAround(landmarks, placedRoll);
    return true;
}

bool Inside(cv::Point2f p, int width, int height) {
    return p.x >= 0.0f && p.y >= 0.0f && p.x < static_cast<float>(width) && p.y < static_cast<float>(height);
}

bool IsFlat(const cv::Mat& image, const FaceBox& box) {
    const cv::Rect region = cv::Rect(box) & cv::Rect(0, 0, image.cols, image.rows);
    if (region.area() <= 0) return true;
    cv::Scalar mean, deviation;
    cv::meanStdDev(image(region), mean, deviation);
    return deviation[0] < kFlatRegionDeviation;
}

bool Agree(const FaceBox& landmarksBox, const FaceBox& found) {
    const cv::Point2f d = (landmarksBox.tl() + landmarksBox.br()) * 0.5f - (found.tl() + found.br()) * 0.5f;
    const float ratio = landmarksBox.width / found.width;
    return std::hypot(d.x, d.y) < 0.125f * landmarksBox.width && ratio > 0.8f && ratio < 1.25f;
}

bool SameFace(const FaceBox& a, const FaceBox& b) {
    const cv::Point2f d = (a.tl() + a.br()) * 0.5f - (b.tl() + b.br()) * 0.5f;
    const float size = std::max(a.width, b.width);
    const float ratio = a.width / b.width;
    return std::hypot(d.x, d.y) < 0.5f * size && ratio > 0.5f && ratio < 2.0f;
}

}  // namespace quilo::head::cpu
