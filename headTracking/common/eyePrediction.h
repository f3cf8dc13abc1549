// Both eyes of a tracked face, extrapolated from a frame to the moment the
// display shows them.
//
// An eye-tracked display renders each eye's view for where that eye will be
// when the picture lights up; between the camera's exposure and then lie
// detection, the host's rendering and the display's scan-out, tens of
// milliseconds in which a moving head travels several times what the views
// tolerate. PredictEyes carries the frame's filtered eyes over that interval
// with the face's filtered velocity.
//
// Threads: a pure function of the frame; any thread, as long as the frame
// lives unchanged. Allocates nothing and takes no lock.
#pragma once

#include <cstdint>

#include <glm/glm.hpp>

#include "common/export.h"
#include "headTracking/common/frameAdapter.h"

namespace quilo::head {

// The longest interval PredictEyes extrapolates over, ms after the frame's
// timestamp: beyond it a constant velocity is a guess, not a prediction.
inline constexpr double kMaxPredictionHorizonMs = 100.0;

// Speeds (mm per ms) between which the extrapolation fades in. At rest the
// filtered velocity is the detector's noise, which 40 ms of extrapolation
// would turn into jitter the still head does not have: a face slower than
// the first is predicted where it is, one faster than the second with its
// full velocity, one between with a smooth blend of the two.
inline constexpr float kPredictionStillSpeed = 0.01f;   // 1 cm/s
inline constexpr float kPredictionMovingSpeed = 0.03f;  // 3 cm/s

// Why PredictEyes extrapolated or not. The values are those of the C
// interface's status codes.
enum class PredictionStatus : int32_t {
    Predicted = 0,          // the eyes at the target time
    FaceCoasting = 3,       // the face had no detection in this frame
    TargetBeforeFrame = 4,  // the target time comes before the frame's timestamp
    BeyondHorizon = 5,      // the target is more than kMaxPredictionHorizonMs after the frame
    UnknownClock = 6,       // the frame's timestamp is not in the system clock
};

// The C interface's name of the status, e.g. "Predicted"; never null.
QUILO_API const char* ToString(PredictionStatus status);

struct EyePrediction {
    PredictionStatus status = PredictionStatus::Predicted;
    // Display space, mm. Predicted: the eyes at the target time. Otherwise the
    // face's filtered eyes at the frame's own time, as Face reports them.
    glm::vec3 rightEye{0.0f};  // the person's right eye
    glm::vec3 leftEye{0.0f};
    // The interval extrapolated over: target minus the frame's timestamp when
    // predicted (0 to kMaxPredictionHorizonMs), otherwise 0.
    double horizonMs = 0.0;
};

// Both eyes of face `faceIndex` of `frame` (0: the main face) at
// `targetTimeNs`, nanoseconds of the system clock since 1970 (the clock of
// the frame's timestamp when that is in Timestamp::Space::System): the
// face's filtered eyes moved by its filtered velocity (faded in between
// kPredictionStillSpeed and kPredictionMovingSpeed) times the horizon. The
// refusals, checked in this order, each give the frame-time eyes and their
// status: a timestamp in an unknown clock, a coasting face, a target before
// the frame, a target beyond the horizon. A target within a microsecond of
// either end of the horizon counts as that end (the frame's millisecond
// timestamp is a quarter of a microsecond coarse). Throws quilo::Exception when the
// frame has no face `faceIndex`.
QUILO_API EyePrediction PredictEyes(const Frame& frame, int64_t faceIndex, int64_t targetTimeNs);

}  // namespace quilo::head
