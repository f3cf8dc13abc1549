#include "headTracking/common/eyePrediction.h"

#include "common/exception.h"

namespace quilo::head {

const char* ToString(PredictionStatus status) {
    switch (status) {
        case PredictionStatus::Predicted: return "Predicted";
        case PredictionStatus::FaceCoasting: return "FaceCoasting";
        case PredictionStatus::TargetBeforeFrame: return "TargetBeforeFrame";
        case PredictionStatus::BeyondHorizon: return "BeyondHorizon";
        case PredictionStatus::UnknownClock: return "UnknownClock";
    }
    return "Unknown";
}

EyePrediction PredictEyes(const Frame& frame, int64_t faceIndex, int64_t targetTimeNs) {
    const Slice<Face> faces = frame.faces();
    if (faceIndex < 0 || faceIndex >= faces.size) {
        QUILO_THROW("PredictEyes: the frame has no face {} (it has {})", faceIndex, faces.size);
    }
    const Face& face = faces[faceIndex];
    EyePrediction out;
    out.rightEye = face.rightEye;
    out.leftEye = face.leftEye;

    const Timestamp stamp = frame.timestamp();
    if (stamp.space != Timestamp::Space::System) {
        out.status = PredictionStatus::UnknownClock;
        return out;
    }
    if (face.rawFaceIndex < 0) {
        out.status = PredictionStatus::FaceCoasting;
        return out;
    }
    // Split before subtracting: nanoseconds since 1970 lose precision as a
    // double, the milliseconds of the difference do not.
    const int64_t wholeMs = targetTimeNs / 1000000;
    double horizon =
        static_cast<double>(wholeMs) - stamp.ms + static_cast<double>(targetTimeNs - wholeMs * 1000000) * 1e-6;
    // A timestamp of milliseconds since 1970 in a double is a quarter of a
    // microsecond coarse: a target that close to either end is at that end.
    constexpr double kResolutionMs = 1e-3;
    if (horizon < 0.0 && horizon >= -kResolutionMs) horizon = 0.0;
    if (horizon > kMaxPredictionHorizonMs && horizon <= kMaxPredictionHorizonMs + kResolutionMs) {
        horizon = kMaxPredictionHorizonMs;
    }
    if (!(horizon >= 0.0)) {
        out.status = PredictionStatus::TargetBeforeFrame;
        return out;
    }
    if (horizon > kMaxPredictionHorizonMs) {
        out.status = PredictionStatus::BeyondHorizon;
        return out;
    }
    const float speed = glm::length(face.velocity);
    const float weight = glm::smoothstep(kPredictionStillSpeed, kPredictionMovingSpeed, speed);
    const glm::vec3 step = face.velocity * (weight * static_cast<float>(horizon));
    out.rightEye += step;
    out.leftEye += step;
    out.horizonMs = horizon;
    return out;
}

}  // namespace quilo::head
