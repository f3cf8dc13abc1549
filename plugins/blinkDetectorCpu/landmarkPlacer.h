// What places the 68 landmarks (the iBUG 300-W scheme) on a face: dlib's
// landmark model, or MediaPipe's face mesh and iris models mapped onto the
// same scheme. The rest of the detector (boxes, head pose, depth) reads only
// the 68 points, whichever model placed them.
#pragma once

#include <array>

#include <opencv2/core.hpp>

namespace quilo::head::cpu {

inline constexpr int kLandmarkCount = 68;
// The six points around the person's right eye (on the image's left side in
// an unmirrored image) and around the left eye.
inline constexpr int kRightEyeFirst = 36;
inline constexpr int kLeftEyeFirst = 42;

using Landmarks = std::array<cv::Point2f, kLandmarkCount>;

// Box convention of dlib's model, which every placer follows: the normalised
// shape coordinates (0, 0) and (1, 1) map to the points (x, y) and
// (x + width, y + height).
using FaceBox = cv::Rect2f;

// Mean of the six landmarks of the eye whose first point is `first`: the
// centre of the eye's contour, the eye point the detector reports.
cv::Point2f EyeCentre(const Landmarks& landmarks, int first);

// A placer's answer when its model has no notion of whether a face is there.
inline constexpr float kNoPresence = -1.0f;

// What a placer keeps of a followed face from frame to frame.
struct FaceMemory {
    // MediaPipe: where the iris model's eye centres lie from the face mesh's
    // own, for the person's right and left eye, in eye distances in the
    // face's upright frame. Following a face takes the face mesh alone,
    // corrected by them, and the iris model looks at one eye now and then.
    std::array<cv::Point2f, 2> eyeOffset{};
    bool valid = false;
    int32_t frames = 0;  // placements since the offsets were first measured
    // The square the face mesh last looked at: kept while the face stays
    // within a small part of it, so that the landmarks' own noise does not
    // move the next frame's crop (and so the landmarks) again.
    cv::Point2f regionCentre;
    float regionSide = 0.0f;
    float regionRoll = 0.0f;
    // The square the last landmarks give for the next frame (MediaPipe's own
    // way to follow a face), its centre from the centre of their box.
    cv::Point2f nextOffset;
    float nextSide = 0.0f;
    float nextRoll = 0.0f;
};

class LandmarkPlacer {
public:
    // Where the box a face is placed from comes from.
    enum class Origin {
        kDetector,   // a face detector's box: the model's first guess may be off
        kLandmarks,  // the box of landmarks placed before (a followed face)
    };

    virtual ~LandmarkPlacer() = default;

    // Places the landmarks of the face in `box` on the 8-bit grey `image`.
    // `roll` (radians, positive clockwise in the image) turns the box about
    // its centre. Returns the model's confidence, 0 to 1, that a face is
    // there, or kNoPresence when the model gives none. Thread-safe; a placer
    // may serialise its callers (see each one), so each thread that places
    // many faces should have its own.
    // `memory` (may be null) is the face's, from its last placement, and is
    // updated.
    virtual float Place(const cv::Mat& image, const FaceBox& box, float roll, Origin origin, Landmarks* landmarks,
                        FaceMemory* memory = nullptr) const = 0;

    // The models in use, for the log.
    virtual const char* Description() const = 0;
};

}  // namespace quilo::head::cpu
