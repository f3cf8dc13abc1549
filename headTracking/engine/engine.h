// The engine a host creates to track heads: it owns the camera, the face
// detector and, while tracking, the face tracker, and runs every camera frame
// through detector, virtual-face hook, tracker, frame callback and frame
// adapter on the camera's delivery thread.
//
// Threads: host threads construct the engine, start and stop sessions and call
// the setters and getters; the camera's delivery thread (the RealSense capture
// thread, or the host thread pushing into a shared-camera sink) delivers
// frames. Every call below may be made from any host thread, concurrently
// with the others and with frames: the session calls (StartTracking,
// StopTracking, SetFaceDetectorBackend and the camera-rate calls) are
// serialised by a session lock, so concurrent ones end as if made one after
// the other in some order; the setters store their change under the
// configuration lock and the delivery thread applies it at the start of the
// next frame. The session lock is never held while a frame is processed,
// and calls from inside the engine's callbacks do not take it. Only the
// destructor must not run concurrently with any other call, nor from inside
// one of the engine's callbacks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <glm/glm.hpp>

#include "common/export.h"
#include "common/threadSafety.h"
#include "headTracking/camera/camera.h"
#include "headTracking/common/engineConfiguration.h"
#include "headTracking/common/types.h"
#include "headTracking/engine/faceDetector.h"

namespace quilo::head {

class FaceTracker;

class QUILO_API Engine final : public Camera::Listener {
public:
    // Copies the arguments, chooses the detector back end (the first supported
    // of CPU, GPU when none is set), creates a SharedCamera when a sink is
    // given and, unless the detector is created lazily, the detector and
    // (without a sink) the RealSense camera. Throws quilo::Exception when the
    // platform is missing, when neither a frame callback nor a frame adapter
    // is given, when no back end is supported or when the detector cannot be
    // created; camera creation failures propagate unchanged.
    explicit Engine(const EngineInitArgs& args);
    // Destroys the camera first (which stops delivery), then the rest. Does
    // not stop a running session; logs nothing. Never call it from a callback.
    ~Engine();

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // ---- Sessions ----

    // Starts a session: creates what a lazy engine lacks (its detector and,
    // without a shared-camera sink, its RealSense camera), a new tracker from
    // the current configuration, and starts capture. false when a session is
    // already running, also when another thread's start won the race. Throws
    // when a component cannot be set up; what this call set up is undone
    // first. Throws quilo::Exception, doing nothing, when called from inside
    // this engine's frame processing (its detector, hook or callbacks).
    bool StartTracking(const TrackingSessionInitArgs& args) QUILO_EXCLUDES(sessionMutex_);
    bool StartTracking() QUILO_EXCLUDES(sessionMutex_);
    // Stops capture (a lazy engine also releases the detector and its
    // RealSense camera; a shared camera stays for the next session) and
    // destroys the tracker. false when no session was running, also when
    // another thread's stop came first. Waits for the frame being processed,
    // if any: when it returns no frame of this session is being processed,
    // and frames that arrive later are dropped. So a frame callback must not
    // wait for a thread that stops the session. Throws quilo::Exception,
    // stopping nothing, when called from inside this engine's frame
    // processing, which would wait for itself.
    bool StopTracking() QUILO_EXCLUDES(sessionMutex_);
    // True on a thread inside this engine's processing of a frame (its
    // detector, hook, frame callback or frame adapter).
    bool IsProcessingFrameOnThisThread() const;

    // ---- Getters (any host thread, also from the engine's callbacks) ----

    // The camera's rate; 0 without a camera (a lazy engine without a sink
    // between sessions) and for a shared camera. A stop on another thread
    // either comes before (0 for a lazy engine) or waits for this call.
    int GetCameraFps() const QUILO_EXCLUDES(sessionMutex_);
    // false without a camera and for a shared camera; ordered with a
    // concurrent start or stop as GetCameraFps. A lazy engine's next session
    // makes a new camera with the rate of its configuration.
    bool SetCameraFps(int fps) QUILO_EXCLUDES(sessionMutex_);
    // Empty without a camera and for a shared camera. The rates belong to
    // the camera: valid until a lazy engine's next stop or the engine's end.
    Slice<int> GetSupportedCameraFps() QUILO_EXCLUDES(sessionMutex_);
    // The current detector's back end; unknown without a detector.
    quilo_face_detector_backend_e GetFaceDetectorBackend();
    // The current detector's face-count limit; 0 without a detector.
    int GetMaxNumOfDetectedFacesLimit() const;

    // ---- Setters (any host thread, also from the engine's callbacks) ----
    // Each stores its change under the configuration lock; while tracking it
    // reaches the tracker at the next frame, and a change made while idle, or
    // racing a start, reaches the next frame of the session that starts.

    void SetTrackedEyes(bool left, bool right);
    void SetFilterProperties(const FilterProperties& properties);
    // Camera position in display space, mm.
    void SetCameraPosition(const glm::vec3& position);
    // Nine floats, column-major: m0..m2 are the first column.
    void SetCameraRotation(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7, float m8);
    // Position (mm) and a rotation vector whose length is an angle in degrees.
    void SetCameraTransform(const glm::vec3& position, const glm::vec3& rotation);
    // Throws quilo::Exception unless 1 <= n <= the detector's limit (always
    // without a detector). Reaches the detector and the tracker at the next
    // frame; of several calls before that frame the last one holds.
    void SetMaxNumOfDetectedFaces(int n);
    // Loads a detector for the back end: installed at once while idle, at the
    // next frame while tracking. false for the unknown back end or when the
    // detector cannot be created (the current one stays in use; the back end
    // is remembered for the next detector created). A session call: ordered
    // with a concurrent start or stop (a lazy engine's stop releases the
    // detector it installed; its next start loads the back end remembered).
    bool SetFaceDetectorBackend(quilo_face_detector_backend_e backend) QUILO_EXCLUDES(sessionMutex_);
    // Per-frame profiling; takes effect with the next frame.
    void SetProfiling(bool enabled);

    // ---- Camera::Listener (the camera's delivery thread) ----

    // Processes one frame. Frames that arrive while no session runs, and
    // frames without an image, are dropped. Never lets an exception
    // escape: a failing frame is logged and dropped.
    void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) override
        QUILO_EXCLUDES(configMutex_, pendingDetectorMutex_, detectorMutex_);
    // Passes new camera geometry to the detector at once and to the tracker
    // at the start of the next frame.
    void OnCameraIntrinsicsChange(Camera* camera, const CameraIntrinsics& intrinsics) override
        QUILO_EXCLUDES(detectorMutex_);

private:
    // Change bits of configDirty_.
    static constexpr int kTrackerConfigurationChanged = 1;
    static constexpr int kFaceCountChanged = 2;

    // arrivalTime: when the frame reached the engine, ns of the system clock.
    void ProcessFrame(const CameraFrame& frame, int64_t arrivalTime)
        QUILO_EXCLUDES(configMutex_, pendingDetectorMutex_, detectorMutex_);
    void AddVirtualFaces(const CameraFrame& frame, FaceDetector::Output& output, int maxNumOfFaces);
    std::shared_ptr<FaceDetector> CreateDetector(const FaceDetector::Configuration& settings) const;
    std::unique_ptr<Camera> CreateRealsenseCamera() QUILO_EXCLUDES(configMutex_);
    // The current detector, kept alive for the caller.
    std::shared_ptr<FaceDetector> CurrentDetector() const QUILO_EXCLUDES(detectorMutex_);
    // Replaces `detector_` under detectorMutex_; the old one is released after
    // the lock is dropped, since releasing may unload its plugin.
    void ReplaceDetector(std::shared_ptr<FaceDetector> next) QUILO_EXCLUDES(detectorMutex_);
    // The last camera geometry and, when asked, how many times it has changed.
    CameraIntrinsics CurrentIntrinsics(uint64_t* version = nullptr) const QUILO_EXCLUDES(detectorMutex_);
    // Steps shared by StopTracking and the rollback of a failed StartTracking.
    void EndSession() QUILO_REQUIRES(sessionMutex_) QUILO_EXCLUDES(configMutex_, detectorMutex_);
    bool SwitchDetector(quilo_face_detector_backend_e backend) QUILO_EXCLUDES(configMutex_, pendingDetectorMutex_);
    Camera* CameraOfRunningFrame() const;
    // `call` on the camera, or `none` without one; safe against a session
    // start or stop on another thread.
    template <typename Call, typename Result>
    Result WithCamera(Call&& call, Result none) const QUILO_EXCLUDES(sessionMutex_);
    void RaiseChange(int bits) { configDirty_.fetch_or(bits); }

    Platform* platform_;
    AssetManager* assetManager_;
    EngineConfiguration configuration_ QUILO_GUARDED_BY(configMutex_);
    EngineFrameCallback frameCallback_;
    FrameAdapter* frameAdapter_;
    VirtualFaceHook virtualFaceHook_;
    std::vector<glm::vec4> virtualFaces_;  // delivery thread only
    std::atomic<bool> profiling_;
    // Read by the delivery thread to drop frames outside a session.
    std::atomic<bool> tracking_{false};
    // Guards `configuration_` and the consumption of configDirty_. Setters
    // always take it, in a session or not: it costs nothing and keeps a setter
    // racing with a session start safe.
    Mutex configMutex_;
    std::atomic<int> configDirty_{-1};
    // The face count last applied to detector, buffer and tracker; delivery thread only.
    int appliedMaxNumOfFaces_ = 0;
    std::shared_ptr<FaceDetector> detector_ QUILO_GUARDED_BY(detectorMutex_);
    // Made by a session start before frames are let in, used by the delivery
    // thread, destroyed by a stop after the camera's stop has waited for the
    // frame in progress.
    std::unique_ptr<FaceTracker> tracker_;
    // Guards `pendingDetector_`.
    Mutex pendingDetectorMutex_;
    std::shared_ptr<FaceDetector> pendingDetector_ QUILO_GUARDED_BY(pendingDetectorMutex_);
    // Guards `detector_`, `intrinsics_` and the writes of `intrinsicsVersion_`:
    // every use of the detector goes through a copy taken under it, so no call
    // lands in a detector whose plugin another thread is unloading.
    mutable Mutex detectorMutex_;
    CameraIntrinsics intrinsics_ QUILO_GUARDED_BY(detectorMutex_);
    // Counts geometry changes; read without the lock by the frame step to see
    // whether the tracker's geometry is stale.
    std::atomic<uint64_t> intrinsicsVersion_{0};
    // The version the tracker has; written by a session start, then by the
    // delivery thread only.
    uint64_t trackerIntrinsicsVersion_ = 0;
    SharedCameraSink* sharedCameraSink_;
    // Serialises the session calls (StartTracking, StopTracking,
    // SetFaceDetectorBackend, the camera-rate calls) and guards `camera_` and
    // the making and destroying of `tracker_`. The frame step never takes it,
    // and calls from inside a frame skip it: a stop holds it while the
    // camera's stop waits for the frame in progress.
    mutable Mutex sessionMutex_;
    std::unique_ptr<Camera> camera_ QUILO_GUARDED_BY(sessionMutex_);
};

}  // namespace quilo::head
