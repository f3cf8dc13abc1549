#include "headTracking/engine/core/faceTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "common/exception.h"
#include "common/log.h"
#include "headTracking/camera/camera.h"
#include "headTracking/common/format.h"
#include "headTracking/common/transforms.h"

namespace quilo::head {

namespace {

// Camera to display space without the translation: rotate, then negate x and y.
// The previous main face continues a candidate only when it is this close (mm).
constexpr double kMainFaceCatchDistance = 100.0;

// Time constant (ms) of the eye offsets' smoothing. The offsets change only
// as the head turns, slowly next to the detector's per-eye noise at 90 fps:
// 40 ms takes the noise to about a third and lags a quick turn by about 2 mm.
constexpr float kEyeOffsetSmoothingMs = 40.0f;

double DistanceInDouble(const glm::vec3& a, const glm::vec3& b) { return glm::distance(glm::dvec3(a), glm::dvec3(b)); }

}  // namespace

bool FaceTracker::IsValid(const Configuration& configuration) {
    const FilterProperties& p = configuration.filterProperties;
    return (configuration.trackRightEye || configuration.trackLeftEye) && p.interocularDistanceMin > 0.0f &&
           p.interocularDistanceMax > p.interocularDistanceMin;
}

FaceTracker::FaceTracker(const FaceDetector& detector, const Configuration& configuration) {
    if (!IsValid(configuration)) QUILO_THROW("invalid configuration");
    UpdateConfiguration(configuration);
    OnMaxNumOfDetectedFacesChange(detector.GetMaxNumOfDetectedFaces());
}

void FaceTracker::UpdateConfiguration(const Configuration& configuration) {
    QUILO_LOG_TRACE("[FaceTracker] UpdateConfiguration: {}", configuration);
    if (!IsValid(configuration)) {
        QUILO_LOG_ERROR("[FaceTracker] UpdateConfiguration failed: invalid config");
        return;
    }
    configuration_ = configuration;
    Restart();
}

void FaceTracker::CameraDidChange(const CameraIntrinsics& intrinsics) { intrinsics_ = intrinsics; }

void FaceTracker::OnMaxNumOfDetectedFacesChange(int count) {
    if (count < 0) {
        throw std::length_error(fmt::format("[FaceTracker] OnMaxNumOfDetectedFacesChange: negative count {}", count));
    }
    const auto n = static_cast<size_t>(count);
    for (auto& filters : filters_) filters.reserve(n);
    for (auto& offsets : eyeOffsets_) offsets.reserve(n);
    trackEyes_.reserve(n);
    // One more face than detections: the coasting main face.
    for (auto& faces : faces_) faces.reserve(n + 1);
    rawFaces_.reserve(n);
    tracks_.reserve(n);
    trackToRawFace_.resize(n);
    predicted_.reserve(n);
    distances_.reserve(n * n);
    rawAssigned_.reserve(n);
    filterAssigned_.reserve(n);
    matches_.reserve(n);
    candidates_.reserve(n);
}

Slice<Face> FaceTracker::faces() const {
    const auto& current = faces_[faceIndex_];
    return {current.data(), static_cast<int64_t>(current.size())};
}

Slice<RawFace> FaceTracker::rawFaces() const { return {rawFaces_.data(), static_cast<int64_t>(rawFaces_.size())}; }

void FaceTracker::Restart() {
    lostTime_ = 0.0f;
    faces_[faceIndex_].clear();
    filters_[filterIndex_].clear();
    eyeOffsets_[filterIndex_].clear();
    previousTimestamp_ = Timestamp{Timestamp::Space::Unknown, -1.0};
    clockPrimed_ = false;
}

void FaceTracker::Update(const FaceDetector::Output& output, const CameraFrame& frame, float restartSignal) {
    QUILO_LOG_DEBUG("[FaceTracker] Update");

    // Without an image there is no size to test eyes against and nothing
    // observed; the frame leaves the tracks as they are.
    const Slice<ImageDesc> images = frame.imageDescs();
    if (images.empty()) {
        QUILO_LOG_DEBUG("[FaceTracker] Update: frame without images skipped");
        return;
    }
    const ImageDesc image = images[0];
    if (image.rotation != imageRotation_) {
        imageRotation_ = image.rotation;
        Restart();
    }

    const Timestamp now = frame.timestamp();
    const double previousMs = previousTimestamp_.ms;
    previousTimestamp_ = now;
    // Any finite time is a time, negative ones too: only the flag tells that
    // there was no previous frame.
    if (!clockPrimed_) {
        clockPrimed_ = true;
        return;
    }
    const auto dt = static_cast<float>(now.ms - previousMs);

    BuildRawFaces(output, frame, image);
    UpdateFilters(restartSignal, dt);
    BuildTracks();
    SelectCandidates(output);
    BuildFaces(output, dt);
}

bool FaceTracker::LiftEye(const CameraFrame& frame, const ImageDesc& image, glm::dvec2 pixel, float depth,
                          glm::vec3* point) const {
    // The pixel's integer position must lie in the image; tested in double so
    // that NaN and huge coordinates fail instead of overflowing a conversion.
    const double column = std::trunc(pixel.x);
    const double row = std::trunc(pixel.y);
    if (!(column >= 0.0 && column < image.width && row >= 0.0 && row < image.height)) return false;

    glm::vec3 p;
    if (!frame.DeprojectPixelToPoint(pixel, depth, &p)) {
        // Pinhole model with the camera's last intrinsics.
        p = glm::vec3(DeprojectPinhole(pixel, depth, intrinsics_));
        p.z = depth;
    }
    *point = p * 1000.0f;  // metres to millimetres
    return true;
}

void FaceTracker::BuildRawFaces(const FaceDetector::Output& output, const CameraFrame& frame, const ImageDesc& image) {
    const FilterProperties& properties = configuration_.filterProperties;
    rawFaces_.clear();
    for (size_t i = 0; i < output.detections.size(); ++i) {
        const DetectedFace& detection = output.detections[i];
        RawFace raw;
        if (!LiftEye(frame, image, detection.rightEyePixel, detection.rightEyeDepth, &raw.rightEye) ||
            !LiftEye(frame, image, detection.leftEyePixel, detection.leftEyeDepth, &raw.leftEye)) {
            continue;
        }
        // Only a human eye spacing; NaN spacings fail both comparisons.
        const float spacing = glm::distance(raw.rightEye, raw.leftEye);
        if (!(properties.interocularDistanceMin < spacing && spacing < properties.interocularDistanceMax)) {
            continue;
        }
        if (!configuration_.trackRightEye) {
            raw.trackedPoint = raw.leftEye;
        } else if (configuration_.trackLeftEye) {
            raw.trackedPoint = 0.5f * (raw.rightEye + raw.leftEye);
        } else {
            raw.trackedPoint = raw.rightEye;
        }
        raw.detectionIndex = static_cast<int32_t>(i);
        rawFaces_.push_back(raw);
    }
}

void FaceTracker::UpdateFilters(float restartSignal, float dt) {
    const FilterProperties& properties = configuration_.filterProperties;
    filterIndex_ = (filterIndex_ + 1) % 2;
    const std::vector<KalmanFilter>& previous = filters_[(filterIndex_ + 1) % 2];
    std::vector<KalmanFilter>& current = filters_[filterIndex_];
    const std::vector<EyeOffsets>& previousOffsets = eyeOffsets_[(filterIndex_ + 1) % 2];
    std::vector<EyeOffsets>& offsets = eyeOffsets_[filterIndex_];
    const size_t n = rawFaces_.size();
    const auto measuredOffsets = [this](size_t i) {
        const RawFace& raw = rawFaces_[i];
        return EyeOffsets{raw.rightEye - raw.trackedPoint, raw.leftEye - raw.trackedPoint};
    };
    // One entry per raw face of this frame, however many the detector reported.
    trackToRawFace_.resize(n);

    const bool restart =
        previous.empty() || (properties.restartThreshold > 0.0f && restartSignal > properties.restartThreshold);
    if (restart) {
        current.resize(n);
        offsets.resize(n);
        for (size_t k = 0; k < n; ++k) {
            current[k].Reset(rawFaces_[k].trackedPoint);
            offsets[k] = measuredOffsets(k);
            trackToRawFace_[k] = static_cast<int32_t>(k);
        }
        return;
    }

    Associate(previous, dt);
    current.clear();
    offsets.clear();
    const float blend = 1.0f - std::exp(-std::max(dt, 0.0f) / kEyeOffsetSmoothingMs);
    for (size_t i = 0; i < n; ++i) {
        trackToRawFace_[current.size()] = static_cast<int32_t>(i);
        const glm::vec3& measured = rawFaces_[i].trackedPoint;
        const int32_t match = matches_[i];
        const EyeOffsets seen = measuredOffsets(i);
        if (match >= 0 && dt < properties.maxTrackGap) {
            current.push_back(previous[static_cast<size_t>(match)]);
            current.back().Update(properties.kalman, measured, dt);
            const EyeOffsets& before = previousOffsets[static_cast<size_t>(match)];
            offsets.push_back(
                EyeOffsets{glm::mix(before.right, seen.right, blend), glm::mix(before.left, seen.left, blend)});
        } else {
            current.emplace_back();
            current.back().Reset(measured);
            offsets.push_back(seen);
        }
    }
}

void FaceTracker::Associate(const std::vector<KalmanFilter>& previous, float dt) {
    const size_t n = rawFaces_.size();
    const size_t m = previous.size();
    predicted_.resize(m);
    for (size_t j = 0; j < m; ++j) predicted_[j] = previous[j].Predict(dt);
    distances_.resize(n * m);
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < m; ++j) {
            distances_[i * m + j] = glm::distance(rawFaces_[i].trackedPoint, predicted_[j]);
        }
    }
    rawAssigned_.assign(n, 0);
    filterAssigned_.assign(m, 0);
    matches_.assign(n, -1);

    // Repeatedly match the closest free pair. Only strictly smaller distances
    // win, so ties go to the lowest raw face, then the lowest filter, and
    // infinite or NaN distances never match. There is no distance gate.
    for (;;) {
        float best = std::numeric_limits<float>::max();
        size_t bestRaw = n;
        size_t bestFilter = m;
        for (size_t i = 0; i < n; ++i) {
            if (rawAssigned_[i]) continue;
            for (size_t j = 0; j < m; ++j) {
                if (filterAssigned_[j]) continue;
                if (distances_[i * m + j] < best) {
                    best = distances_[i * m + j];
                    bestRaw = i;
                    bestFilter = j;
                }
            }
        }
        if (bestRaw == n) break;
        matches_[bestRaw] = static_cast<int32_t>(bestFilter);
        rawAssigned_[bestRaw] = 1;
        filterAssigned_[bestFilter] = 1;
    }
}

void FaceTracker::BuildTracks() {
    const glm::mat3& rotation = configuration_.cameraRotation;
    tracks_.clear();
    trackEyes_.clear();
    const std::vector<EyeOffsets>& offsets = eyeOffsets_[filterIndex_];
    for (size_t k = 0; k < filters_[filterIndex_].size(); ++k) {
        const KalmanFilter& filter = filters_[filterIndex_][k];
        tracks_.push_back(MovingPoint{CameraToDisplay(rotation, configuration_.cameraPosition, filter.position),
                                      RotateCameraToDisplay(rotation, filter.velocity)});
        trackEyes_.push_back(EyeOffsets{RotateCameraToDisplay(rotation, offsets[k].right),
                                        RotateCameraToDisplay(rotation, offsets[k].left)});
    }
}

const DetectedFace& FaceTracker::DetectionOfTrack(const FaceDetector::Output& output, int32_t track) const {
    const RawFace& raw = rawFaces_[static_cast<size_t>(trackToRawFace_[static_cast<size_t>(track)])];
    return output.detections[static_cast<size_t>(raw.detectionIndex)];
}

void FaceTracker::SelectCandidates(const FaceDetector::Output& output) {
    const FilterProperties& properties = configuration_.filterProperties;
    const glm::vec3& centre = properties.mainFaceSkew;
    const glm::vec3& scale = properties.mainFaceScale;
    const double yawLimit = properties.angleYMax;
    candidates_.clear();
    for (size_t k = 0; k < tracks_.size(); ++k) {
        const glm::vec3& p = tracks_[k].position;
        const glm::vec3 d = p - centre;
        const float w = std::sqrt(d.x * scale.x * d.x + d.y * scale.y * d.y + d.z * scale.z * d.z);
        if (!(properties.minFitDist < w && w < properties.maxFitDist)) continue;

        // Keep faces turned towards the display: |yaw + direction| <= limit.
        const double direction = std::atan2(static_cast<double>(p.x), static_cast<double>(p.z));
        const double yaw = DetectionOfTrack(output, static_cast<int32_t>(k)).angles.y;
        if (!(-yawLimit - direction <= yaw && yaw <= yawLimit - direction)) continue;

        candidates_.push_back(Candidate{static_cast<int32_t>(k), w});
    }
    // By weighted distance, equal distances by track; std::sort needs no buffer.
    std::sort(candidates_.begin(), candidates_.end(), [](const Candidate& a, const Candidate& b) {
        return a.weightedDistance < b.weightedDistance ||
               (a.weightedDistance == b.weightedDistance && a.track < b.track);
    });
}

void FaceTracker::BuildFaces(const FaceDetector::Output& output, float dt) {
    const FilterProperties& properties = configuration_.filterProperties;
    faceIndex_ = (faceIndex_ + 1) % 2;
    const std::vector<Face>& previous = faces_[(faceIndex_ + 1) % 2];
    std::vector<Face>& current = faces_[faceIndex_];
    current.clear();
    for (const Candidate& candidate : candidates_) {
        const MovingPoint& track = tracks_[static_cast<size_t>(candidate.track)];
        const EyeOffsets& eyes = trackEyes_[static_cast<size_t>(candidate.track)];
        current.push_back(Face{track.position, track.velocity, DetectionOfTrack(output, candidate.track).angles,
                               trackToRawFace_[static_cast<size_t>(candidate.track)], track.position + eyes.right,
                               track.position + eyes.left});
    }

    // Main face: start over after bufferLim ms away from the front or when
    // there was none, otherwise keep the previous main face at the front.
    if (lostTime_ > properties.bufferLim || previous.empty()) {
        lostTime_ = 0.0f;
        if (!tracks_.empty()) trackingStarted_ = true;
        return;
    }
    const Face& previousMain = previous.front();
    const glm::vec3 expected = KalmanFilter::Predict(MovingPoint{previousMain.position, previousMain.velocity}, dt);
    int nearest = -1;
    double nearestDistance = kMainFaceCatchDistance;
    for (size_t i = 0; i < current.size(); ++i) {
        const double distance = DistanceInDouble(current[i].position, expected);
        if (distance < nearestDistance) {
            nearestDistance = distance;
            nearest = static_cast<int>(i);
        }
    }

    if (nearest == 0) {
        lostTime_ = 0.0f;
    } else if (nearest > 0) {
        lostTime_ += dt;
        // To the front; the faces before it shift right in their order.
        std::rotate(current.begin(), current.begin() + nearest, current.begin() + nearest + 1);
    } else {
        lostTime_ += dt;
        // Coast on the predicted position with a damped velocity; the coasting
        // face swaps places with the former first face.
        const glm::vec3 damped = previousMain.velocity * std::exp(-dt / properties.velDampingTime);
        // The eyes keep their last offsets from the coasting point.
        current.push_back(Face{expected, damped, previousMain.angles, -1,
                               expected + (previousMain.rightEye - previousMain.position),
                               expected + (previousMain.leftEye - previousMain.position)});
        if (current.size() > 1) std::swap(current.front(), current.back());
    }
}

}  // namespace quilo::head
