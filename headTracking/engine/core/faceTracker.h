// Turns the face detector's per-frame eye detections into a short, ordered
// list of filtered faces in display space, main face first.
//
// Per frame the tracker lifts both eyes of every detection to 3D camera space
// (mm), drops eye pairs whose spacing is not a human one, follows every face
// with one KalmanFilter using greedy nearest-neighbour association, takes the
// tracks to display space (F * (R * v) + t with F = diag(-1, -1, 1)), keeps
// those inside a weighted-distance and a yaw window, orders them by that
// distance and keeps the main face at the front, letting it coast on a damped
// velocity for a while when it disappears. Each track also keeps both eyes'
// offsets from its tracked point, smoothed over a few frames, so that every
// face reports both eyes filtered, moving with the tracked point's velocity.
//
// Threads: no locks. All calls, CameraDidChange included, come from one thread
// at a time (the engine's frame thread during a session).
#pragma once

#include <cstdint>
#include <vector>

#include <glm/glm.hpp>

#include "common/export.h"
#include "headTracking/common/types.h"
#include "headTracking/engine/core/kalmanFilter.h"
#include "headTracking/engine/faceDetector.h"

namespace quilo::head {

class CameraFrame;

class QUILO_API FaceTracker {
public:
    using Configuration = FaceTrackerConfiguration;

    // Valid when at least one eye is tracked, interocularDistanceMin > 0 and
    // interocularDistanceMax > interocularDistanceMin (NaN is invalid).
    static bool IsValid(const Configuration& configuration);

    // Throws quilo::Exception "invalid configuration" for an invalid
    // configuration. Reserves room for the detector's current maximum number
    // of faces; the detector is not retained.
    FaceTracker(const FaceDetector& detector, const Configuration& configuration);

    // A valid configuration is taken whole and the tracker starts over: no
    // faces, no filters, and the next frame only primes the clock (raw faces,
    // the remembered image rotation and trackingStarted are kept). An invalid
    // one is logged as an error and changes nothing.
    void UpdateConfiguration(const Configuration& configuration);

    // The geometry used to deproject eyes when a frame cannot do it itself.
    void CameraDidChange(const CameraIntrinsics& intrinsics);

    // Reserves every list for `count` faces. A negative count throws
    // std::length_error and changes nothing.
    void OnMaxNumOfDetectedFacesChange(int count);

    // One tracking step with the detector's output for `frame`. The first
    // frame after construction, after a valid UpdateConfiguration or after a
    // change of the first image's rotation only records the timestamp. Every
    // track restarts when restartThreshold > 0 and restartSignal exceeds it.
    // A frame without images carries nothing to track and is skipped: no state
    // changes, and the next frame's interval spans it. More detections than
    // the reserved count are processed too (the lists then grow). Exceptions
    // of the frame pass through.
    void Update(const FaceDetector::Output& output, const CameraFrame& frame, float restartSignal);

    // Views valid until the next Update, UpdateConfiguration or
    // OnMaxNumOfDetectedFacesChange.
    // The faces of the last frame in display space, main face first.
    Slice<Face> faces() const;
    // The accepted detections of the last processed (non-priming) frame, in
    // camera space.
    Slice<RawFace> rawFaces() const;

    // The timestamp of the last frame given to Update; space Unknown and
    // ms -1 before the first frame and after every restart.
    Timestamp timestamp() const { return previousTimestamp_; }
    // True once a frame had a track while no main face was held; never cleared.
    bool trackingStarted() const { return trackingStarted_; }
    // The intrinsics last given to CameraDidChange (zero before the first).
    const CameraIntrinsics& intrinsics() const { return intrinsics_; }
    const Configuration& configuration() const { return configuration_; }

private:
    struct Candidate {
        int32_t track;
        float weightedDistance;
    };

    // Each eye minus the tracked point, mm; camera space in the filter lists,
    // display space in trackEyes_.
    struct EyeOffsets {
        glm::vec3 right{0.0f};
        glm::vec3 left{0.0f};
    };

    // Back to priming: no faces, no filters, no previous timestamp.
    void Restart();
    // Eye pixel and depth (m) to camera space (mm); false when the pixel lies
    // outside the first image.
    bool LiftEye(const CameraFrame& frame, const ImageDesc& image, glm::dvec2 pixel, float depth,
                 glm::vec3* point) const;
    void BuildRawFaces(const FaceDetector::Output& output, const CameraFrame& frame, const ImageDesc& image);
    void UpdateFilters(float restartSignal, float dt);
    // Greedy nearest-neighbour matching of raw faces to `previous` filters
    // into matches_ (-1: unmatched).
    void Associate(const std::vector<KalmanFilter>& previous, float dt);
    void BuildTracks();
    void SelectCandidates(const FaceDetector::Output& output);
    void BuildFaces(const FaceDetector::Output& output, float dt);
    const DetectedFace& DetectionOfTrack(const FaceDetector::Output& output, int32_t track) const;

    Configuration configuration_;
    CameraIntrinsics intrinsics_;
    int32_t imageRotation_ = -1;  // of the first image of the previous frame
    Timestamp previousTimestamp_{Timestamp::Space::Unknown, -1.0};
    bool clockPrimed_ = false;  // `previousTimestamp_` is a frame's
    std::vector<RawFace> rawFaces_;
    // Double buffers: [index] is the current list, [1 - index] the previous one.
    int filterIndex_ = 0;
    std::vector<KalmanFilter> filters_[2];
    std::vector<EyeOffsets> eyeOffsets_[2];  // entry k belongs to filters_[...][k]
    // Entry k: the raw face filter k of the current list was made from; sized
    // to the number of raw faces of each frame.
    std::vector<int32_t> trackToRawFace_;
    std::vector<MovingPoint> tracks_;    // current filters in display space
    std::vector<EyeOffsets> trackEyes_;  // their eye offsets in display space
    bool trackingStarted_ = false;
    float lostTime_ = 0.0f;  // ms the main face has not been at the front
    int faceIndex_ = 0;
    std::vector<Face> faces_[2];

    // Per-frame temporaries, kept so that steady-state frames allocate nothing.
    std::vector<glm::vec3> predicted_;  // previous filters predicted to this frame
    std::vector<float> distances_;      // raw face i to filter j at [i * M + j]
    std::vector<uint8_t> rawAssigned_;
    std::vector<uint8_t> filterAssigned_;
    std::vector<int32_t> matches_;  // per raw face: filter index or -1
    std::vector<Candidate> candidates_;
};

}  // namespace quilo::head
