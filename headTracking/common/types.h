// The plain records exchanged between the engine, its host, the cameras, the
// face detector and the face tracker. Units: millimetres in camera and display
// space, metres for points exchanged with camera frames and detector depths,
// pixels as doubles, Timestamp::ms in milliseconds, velocities in mm per ms,
// profiling times in nanoseconds of the system clock since 1970.
#pragma once

#include <cstdint>

#include <glm/glm.hpp>

#include "common/export.h"

// Face detector back ends; the non-zero values double as bits of a mask.
typedef enum quilo_face_detector_backend_e : int32_t {
    kQuiloFaceDetectorBackendUnknown = 0,  // in a configuration: let the engine choose
    kQuiloFaceDetectorBackendCPU = 1,
    kQuiloFaceDetectorBackendGPU = 2,
} quilo_face_detector_backend_e;

// The enumerator's name; "kQuiloFaceDetectorBackendUnknown" for every value
// other than 1 and 2. Never null.
extern "C" QUILO_API const char* quilo_face_detector_backend_to_string(int backend);

namespace quilo {

// Non-owning view of `size` contiguous elements. Valid only as long as its
// owner leaves the sequence unchanged; every function returning one says how
// long that is.
template <typename T>
struct Slice {
    const T* data = nullptr;
    int64_t size = 0;

    const T* begin() const { return data; }
    const T* end() const { return data + size; }
    const T& operator[](int64_t i) const { return data[i]; }
    bool empty() const { return size == 0; }
};

struct Timestamp {
    enum class Space : int32_t {
        System = 0,    // the system clock (ms since 1970)
        Unknown = -1,  // an unknown clock, or no timestamp yet
    };
    Space space = Space::System;
    double ms = 0.0;
};

// One image of a camera frame: 8-bit, one channel, rows of `width` bytes.
struct ImageDesc {
    int32_t width = 0;
    int32_t height = 0;
    int32_t rotation = 0;           // as the camera reports it; a change restarts tracking
    const uint8_t* data = nullptr;  // owned by the frame
};

struct CameraIntrinsics {
    int32_t width = 0;
    int32_t height = 0;
    float ppx = 0.0f;
    float ppy = 0.0f;
    float fx = 0.0f;
    float fy = 0.0f;
    float distortionCoeffs[5] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    bool isMirrored = false;
};

namespace head {

// Coefficients of the per-point filter.
struct KalmanCoeffs {
    glm::vec3 a{0.02f, 0.05f, 0.2f};  // per-axis velocity scale, mm per ms
    glm::vec3 b{0.1f, 0.1f, 0.1f};    // per-axis gain at zero velocity
};

// Filter and selection parameters of the face tracker. The C interface
// exchanges it field for field in this order.
struct FilterProperties {
    float restartThreshold = 0.5f;
    float maxTrackGap = 600.0f;     // ms
    float velDampingTime = 100.0f;  // ms
    float minFitDist = 40.0f;       // exclusive bounds of the weighted distance
    float maxFitDist = 2000.0f;
    float angleYMax = 0.7853982f;              // radians, half-width of the yaw window
    float interocularDistanceMin = 30.0f;      // mm, exclusive
    float interocularDistanceMax = 80.0f;      // mm, exclusive
    float bufferLim = 600.0f;                  // ms
    glm::vec3 mainFaceSkew{0.0f, 0.0f, 0.0f};  // mm, display space
    glm::vec3 mainFaceScale{4.0f, 4.0f, 1.0f};
    KalmanCoeffs kalman;
};

// What the face tracker runs with; FaceTracker::Configuration.
struct FaceTrackerConfiguration {
    bool trackRightEye = true;
    bool trackLeftEye = true;  // both: track the midpoint of the eyes
    FilterProperties filterProperties;
    glm::mat3 cameraRotation{1.0f};              // R of display = F * (R * v) + t
    glm::vec3 cameraPosition{0.0f, 0.0f, 0.0f};  // t, mm
};

// Camera settings; Camera::Configuration. Zero lets the camera choose.
struct CameraConfiguration {
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;
    float binningFactor = 0.0f;  // carried and printed; read by no camera
};

// Face detector settings; FaceDetector::Configuration.
struct FaceDetectorConfiguration {
    int32_t maxNumOfFaces = 0;
    quilo_face_detector_backend_e backend = kQuiloFaceDetectorBackendUnknown;
};

struct MovingPoint {
    glm::vec3 position{0.0f};  // mm
    glm::vec3 velocity{0.0f};  // mm per ms
};

// One accepted detection of a frame, in camera space (mm).
struct RawFace {
    glm::vec3 rightEye{0.0f};  // the person's right eye
    glm::vec3 leftEye{0.0f};
    glm::vec3 trackedPoint{0.0f};  // one eye or the midpoint, per the tracked-eye flags
    int32_t detectionIndex = 0;
};

// One reported face, in display space. position and velocity form a MovingPoint.
struct Face {
    glm::vec3 position{0.0f};  // mm, filtered
    glm::vec3 velocity{0.0f};  // mm per ms, filtered
    glm::vec3 angles{0.0f};    // from the detection; y is the yaw in radians
    int32_t rawFaceIndex = 0;  // -1 for a coasting face
    // Both eyes at the frame's time, mm, display space: the filtered position
    // plus each eye's smoothed offset from the tracked point. They move with
    // `velocity`, so position + velocity * t extrapolates them too.
    glm::vec3 rightEye{0.0f};  // the person's right eye
    glm::vec3 leftEye{0.0f};
};

struct TrackingSessionInitArgs {
    void* androidSurface = nullptr;  // carried and printed; unused on this platform
};

// Built by the engine for every frame while a virtual-face hook is set.
struct VirtualFaceHookContext {
    Timestamp timestamp;
    int32_t numDetectedFaces = 0;
    int32_t maxNumOfFaces = 0;
    // Room for maxNumOfFaces entries: head centre x, y, z (display space, mm)
    // and the distance between the eyes (mm).
    glm::vec4* virtualFaces = nullptr;
    int32_t numVirtualFaces = 0;        // written by the hook
    bool replaceDetectedFaces = false;  // written by the hook
};

// When a frame's image was exposed and when its result was published,
// nanoseconds of the system clock since 1970. Every frame the engine makes
// carries both, profiled or not; their difference is the engine's latency.
struct FrameTiming {
    // The frame's timestamp when it is in the system clock; otherwise the
    // time the frame reached the engine (for a pushed image, the push).
    int64_t exposureTime = 0;
    // Taken just before the frame adapter hands the result to the host.
    int64_t publishTime = 0;
};

// Per-frame timing, nanoseconds on the system clock; all 0 when not profiled.
struct FrameProfiling {
    int64_t cameraExposureTime = 0;
    int64_t faceDetectorStartTime = 0;
    int64_t faceDetectorEndTime = 0;
    int64_t apiTimestamp = 0;
};

}  // namespace head
}  // namespace quilo
