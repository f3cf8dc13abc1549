#include "headTracking/engine/engine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/assetManager.h"
#include "common/exception.h"
#include "common/log.h"
#include "common/platform.h"
#include "common/rotation.h"
#include "common/threadScope.h"
#include "headTracking/camera/realsenseCamera.h"
#include "headTracking/camera/sharedCamera.h"
#include "headTracking/common/glmFormat.h"
#include "headTracking/common/transforms.h"
#include "headTracking/engine/blinkDetector.h"
#include "headTracking/engine/core/faceTracker.h"
#include "headTracking/engine/engineFrame.h"

namespace quilo::head {

namespace {

// Nanoseconds of a frame time in milliseconds, to the nearest; 0 when the
// value does not fit. Whole milliseconds are converted apart from the rest:
// today's times in nanoseconds are 256 ns coarse as a double.
int64_t MillisecondsToNanoseconds(double ms) {
    if (!(std::fabs(ms) < 9.2e12)) return 0;
    const double whole = std::floor(ms);
    return static_cast<int64_t>(whole) * 1000000 + std::llround((ms - whole) * 1000000.0);
}

// Marks the threads inside an engine's frame step, with its detector, hook and
// callbacks: a session is never started or stopped from there, since the stop
// would wait for the very frame that asks for it.
using ProcessingScope = ThreadScope<Engine>;

}  // namespace

Engine::Engine(const EngineInitArgs& args)
    : platform_(args.platform),
      assetManager_(args.assetManager),
      configuration_(args.configuration),
      frameCallback_(args.frameCallback),
      frameAdapter_(args.frameAdapter),
      virtualFaceHook_(args.virtualFaceHook),
      profiling_(args.configuration.profiling),
      sharedCameraSink_(args.sharedCameraSink) {
    if (platform_ == nullptr) QUILO_THROW("Unexpected EngineInitArgs arguments: platform is not set.");
    if (!frameCallback_ && frameAdapter_ == nullptr) {
        QUILO_THROW(
            "Unexpected EngineInitArgs arguments: neither frameCallback nor frameAdapter are specified. At least "
            "one should be.");
    }

    if (configuration_.faceDetector.backend == kQuiloFaceDetectorBackendUnknown) {
        for (auto backend : {kQuiloFaceDetectorBackendCPU, kQuiloFaceDetectorBackendGPU}) {
            if (IsBlinkDetectorBackendSupported(backend)) {
                configuration_.faceDetector.backend = backend;
                break;
            }
        }
        if (configuration_.faceDetector.backend == kQuiloFaceDetectorBackendUnknown) {
            QUILO_THROW("No supported face detector backends has been found. Check package integrity.");
        }
    }

    if (sharedCameraSink_ != nullptr) camera_ = std::make_unique<SharedCamera>(this, sharedCameraSink_);

    if (!configuration_.initializeFaceDetectorLazily) {
        auto created = CreateDetector(configuration_.faceDetector);
        if (!created) QUILO_THROW("Failed to create face detector");
        configuration_.faceDetector.maxNumOfFaces = created->GetMaxNumOfDetectedFaces();
        ReplaceDetector(std::move(created));
        RaiseChange(kFaceCountChanged);
        if (!camera_) camera_ = CreateRealsenseCamera();
    }

    QUILO_LOG_INFO("[Engine] Initialized: {} shared camera", args.sharedCameraSink ? "with" : "without");
    QUILO_LOG_INFO("[Engine] configuration: {}", args.configuration);
}

Engine::~Engine() = default;

std::shared_ptr<FaceDetector> Engine::CreateDetector(const FaceDetector::Configuration& settings) const {
    const BlinkDetectorConfiguration config{settings, std::string()};
    if (assetManager_ != nullptr) return CreateBlinkDetector(config, assetManager_);
    const auto temporary = AssetManager::Create(platform_);
    return CreateBlinkDetector(config, temporary.get());
}

std::unique_ptr<Camera> Engine::CreateRealsenseCamera() {
    RealsenseCameraConfiguration settings;
    {
        const MutexLock lock(configMutex_);
        settings.width = configuration_.camera.width;
        settings.height = configuration_.camera.height;
        settings.fps = configuration_.camera.fps;
        settings.binningFactor = configuration_.camera.binningFactor;
    }
    settings.dynamicConfiguration.emitter = false;
    settings.dynamicConfiguration.autoExposure = true;
    settings.dynamicConfiguration.exposure = 9000.0f;
    settings.dynamicConfiguration.gain = 50.0f;
    return quilo::head::CreateRealsenseCamera(this, settings);
}

std::shared_ptr<FaceDetector> Engine::CurrentDetector() const {
    const MutexLock lock(detectorMutex_);
    return detector_;
}

void Engine::ReplaceDetector(std::shared_ptr<FaceDetector> next) {
    {
        const MutexLock lock(detectorMutex_);
        detector_.swap(next);
    }
    // `next` now holds the previous detector, released here, outside the lock.
}

CameraIntrinsics Engine::CurrentIntrinsics(uint64_t* version) const {
    const MutexLock lock(detectorMutex_);
    if (version != nullptr) *version = intrinsicsVersion_.load();
    return intrinsics_;
}

bool Engine::IsProcessingFrameOnThisThread() const { return ProcessingScope::IsInside(this); }

// A call from inside this engine's frame processing does not take the session
// lock: a stop holding it waits for that very frame, and the camera is neither
// made nor destroyed before the frame ends.
Camera* Engine::CameraOfRunningFrame() const QUILO_NO_THREAD_SAFETY_ANALYSIS { return camera_.get(); }

template <typename Call, typename Result>
Result Engine::WithCamera(Call&& call, Result none) const {
    if (IsProcessingFrameOnThisThread()) {
        Camera* camera = CameraOfRunningFrame();
        return camera != nullptr ? call(*camera) : none;
    }
    const MutexLock lock(sessionMutex_);
    return camera_ ? call(*camera_) : none;
}

// ---- Getters ----

int Engine::GetCameraFps() const {
    return WithCamera([](Camera& camera) { return camera.GetFps(); }, 0);
}

bool Engine::SetCameraFps(int fps) {
    return WithCamera([fps](Camera& camera) { return camera.SetFps(fps); }, false);
}

Slice<int> Engine::GetSupportedCameraFps() {
    return WithCamera([](Camera& camera) { return camera.GetSupportedFps(); }, Slice<int>{});
}

quilo_face_detector_backend_e Engine::GetFaceDetectorBackend() {
    const auto current = CurrentDetector();
    return current ? current->GetBackend() : kQuiloFaceDetectorBackendUnknown;
}

int Engine::GetMaxNumOfDetectedFacesLimit() const {
    const auto current = CurrentDetector();
    return current ? current->GetMaxNumOfDetectedFacesLimit() : 0;
}

// ---- Setters ----

void Engine::SetTrackedEyes(bool left, bool right) {
    QUILO_LOG_TRACE("[Engine] SetTrackedEyes(.l={}, .r={})", left, right);
    const MutexLock lock(configMutex_);
    configuration_.faceTracker.trackLeftEye = left;
    configuration_.faceTracker.trackRightEye = right;
    RaiseChange(kTrackerConfigurationChanged);
}

void Engine::SetFilterProperties(const FilterProperties& properties) {
    QUILO_LOG_TRACE("[Engine] SetFilterProperties({})", properties);
    const MutexLock lock(configMutex_);
    configuration_.faceTracker.filterProperties = properties;
    RaiseChange(kTrackerConfigurationChanged);
}

void Engine::SetCameraPosition(const glm::vec3& position) {
    QUILO_LOG_TRACE("[Engine] SetCameraPosition({})", position);
    const MutexLock lock(configMutex_);
    configuration_.faceTracker.cameraPosition = position;
    RaiseChange(kTrackerConfigurationChanged);
}

void Engine::SetCameraRotation(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
                               float m8) {
    const glm::mat3 rotation(m0, m1, m2, m3, m4, m5, m6, m7, m8);
    QUILO_LOG_TRACE("[Engine] SetCameraRotation({})", rotation);
    const MutexLock lock(configMutex_);
    configuration_.faceTracker.cameraRotation = rotation;
    RaiseChange(kTrackerConfigurationChanged);
}

void Engine::SetCameraTransform(const glm::vec3& position, const glm::vec3& rotation) {
    QUILO_LOG_TRACE("[Engine] SetCameraTransform(position={}, rotation={})", position, rotation);
    const glm::mat3 matrix = GetRotationMatFromRodriguesNotation(rotation);
    const MutexLock lock(configMutex_);
    configuration_.faceTracker.cameraPosition = position;
    configuration_.faceTracker.cameraRotation = matrix;
    RaiseChange(kTrackerConfigurationChanged);
}

void Engine::SetMaxNumOfDetectedFaces(int n) {
    QUILO_LOG_TRACE("[Engine] SetMaxNumOfDetectedFaces({})", n);
    const auto current = CurrentDetector();
    const int limit = current ? current->GetMaxNumOfDetectedFacesLimit() : 0;
    if (n < 1 || !current || n > limit) {
        QUILO_THROW("Invalid max num of detected faces: must be in [1; {}] range, got {}", limit, n);
    }
    // Compared with the count still waiting for the next frame, not the one
    // the detector has: 3 then 2 before a frame must end at 2.
    const MutexLock lock(configMutex_);
    if (n == configuration_.faceDetector.maxNumOfFaces) return;
    configuration_.faceDetector.maxNumOfFaces = n;
    RaiseChange(kFaceCountChanged);
}

bool Engine::SetFaceDetectorBackend(quilo_face_detector_backend_e backend) {
    QUILO_LOG_TRACE("[Engine] SetFaceDetectorBackend({})", quilo_face_detector_backend_to_string(backend));
    if (backend == kQuiloFaceDetectorBackendUnknown) return false;
    // Ordered with the session calls, so that a detector is never installed
    // into an engine a stop has just emptied; from inside a frame the session
    // cannot end meanwhile, and the lock would wait for that frame.
    if (IsProcessingFrameOnThisThread()) return SwitchDetector(backend);
    const MutexLock lock(sessionMutex_);
    return SwitchDetector(backend);
}

bool Engine::SwitchDetector(quilo_face_detector_backend_e backend) {
    FaceDetector::Configuration settings;
    {
        const MutexLock lock(configMutex_);
        configuration_.faceDetector.backend = backend;
        settings = configuration_.faceDetector;
    }
    const auto current = CurrentDetector();
    if (!current || current->GetBackend() == backend) return true;

    auto created = CreateDetector(settings);
    if (!created) return false;
    if (tracking_.load()) {
        const MutexLock lock(pendingDetectorMutex_);
        pendingDetector_ = std::move(created);
        return true;
    }
    // Idle: the new detector takes the camera's geometry and is installed at
    // once. Geometry that arrives while it is being installed is passed on
    // again, so the detector never keeps stale intrinsics.
    uint64_t givenVersion = 0;
    created->OnCameraIntrinsicsChange(CurrentIntrinsics(&givenVersion));
    const auto installed = created;
    ReplaceDetector(std::move(created));
    uint64_t latestVersion = 0;
    const CameraIntrinsics latest = CurrentIntrinsics(&latestVersion);
    if (latestVersion != givenVersion) installed->OnCameraIntrinsicsChange(latest);
    return true;
}

void Engine::SetProfiling(bool enabled) { profiling_.store(enabled); }

// ---- Sessions ----

bool Engine::StartTracking() {
    QUILO_LOG_DEBUG("[Engine] StartTracking");
    return StartTracking(TrackingSessionInitArgs{});
}

bool Engine::StartTracking(const TrackingSessionInitArgs& args) {
    QUILO_LOG_DEBUG("[Engine] StartTracking({})", args);
    if (ProcessingScope::IsInside(this)) {
        QUILO_THROW("StartTracking was called from inside the processing of a frame; call it from another thread");
    }
    const MutexLock lock(sessionMutex_);
    if (tracking_.load()) return false;
    try {
        auto current = CurrentDetector();
        if (!current) {
            FaceDetector::Configuration settings;
            {
                const MutexLock lock(configMutex_);
                settings = configuration_.faceDetector;
            }
            current = CreateDetector(settings);
            if (!current) QUILO_THROW("Failed to create face detector");
            {
                const MutexLock lock(configMutex_);
                configuration_.faceDetector.maxNumOfFaces = current->GetMaxNumOfDetectedFaces();
                RaiseChange(kFaceCountChanged);
            }
            ReplaceDetector(current);
        }
        // The tracker starts from the configuration as it is now; clearing the
        // change bit under the same lock means a setter that lands later is
        // applied at the first frame instead of being lost.
        FaceTracker::Configuration trackerConfiguration;
        {
            const MutexLock lock(configMutex_);
            trackerConfiguration = configuration_.faceTracker;
            configDirty_.fetch_and(~kTrackerConfigurationChanged);
        }
        tracker_ = std::make_unique<FaceTracker>(*current, trackerConfiguration);
        tracker_->CameraDidChange(CurrentIntrinsics(&trackerIntrinsicsVersion_));
        if (!camera_) camera_ = CreateRealsenseCamera();
        camera_->StartCapture();
        tracking_.store(true);
        return true;
    } catch (const std::exception& e) {
        QUILO_LOG_ERROR("Failed to start tracking: one of components is corrupted - {}", e.what());
        QUILO_LOG_DEBUG("[Engine] StopTracking");
        EndSession();
        throw;
    } catch (...) {
        QUILO_LOG_ERROR("Failed to start tracking: one of components is corrupted - unknown exception");
        QUILO_LOG_DEBUG("[Engine] StopTracking");
        EndSession();
        throw;
    }
}

bool Engine::StopTracking() {
    QUILO_LOG_DEBUG("[Engine] StopTracking");
    if (ProcessingScope::IsInside(this)) {
        QUILO_THROW("StopTracking was called from inside the processing of a frame; call it from another thread");
    }
    const MutexLock lock(sessionMutex_);
    if (!tracking_.load()) return false;
    // Frames that begin from here on see no session; the camera's stop waits
    // for the one in progress, so the tracker goes only when nothing uses it.
    tracking_.store(false);
    EndSession();
    return true;
}

void Engine::EndSession() {
    bool lazy = false;
    {
        const MutexLock lock(configMutex_);
        lazy = configuration_.initializeFaceDetectorLazily;
    }
    if (camera_) {
        try {
            camera_->StopCapture();
        } catch (const std::exception& e) {
            QUILO_LOG_ERROR("[Engine] Failed to stop capture: {}", e.what());
        }
        // The host's own camera stays: the host gave its sink once, at
        // construction, and keeps pushing into it for the next session.
        if (lazy && sharedCameraSink_ == nullptr) camera_.reset();
    }
    tracker_.reset();
    if (lazy) ReplaceDetector(nullptr);
    QUILO_LOG_TRACE("[Engine] Tracking has been stopped");
}

// ---- Frames ----

void Engine::OnCameraIntrinsicsChange(Camera*, const CameraIntrinsics& intr) {
    QUILO_LOG_TRACE("[Engine] OnCameraIntrinsicsChange({})", intr);
    // The tracker takes the new geometry at the start of the next frame: a
    // session may be starting or stopping on a host thread right now.
    std::shared_ptr<FaceDetector> current;
    {
        const MutexLock lock(detectorMutex_);
        intrinsics_ = intr;
        intrinsicsVersion_.fetch_add(1);
        current = detector_;
    }
    if (current) current->OnCameraIntrinsicsChange(intr);
}

void Engine::OnCameraFrameAvailable(Camera*, const CameraFrame& frame) {
    QUILO_LOG_TRACE("[Engine] OnCameraFrameAvailable({})", frame);
    // Frames pushed while no session runs, and frames without an image, never
    // reach the detector or the tracker.
    if (!tracking_.load()) return;
    if (frame.imageDescs().size == 0) {
        QUILO_LOG_DEBUG("[Engine] Skipping a frame without image");
        return;
    }
    // Taken first: for a frame without a system-clock timestamp this is the
    // nearest the engine knows to its exposure.
    const int64_t arrivalTime = platform_->GetSystemTimeNs();
    try {
        const ProcessingScope scope(this);
        ProcessFrame(frame, arrivalTime);
    } catch (const std::exception& e) {
        QUILO_LOG_ERROR("Failed to process frame: {}", e.what());
    } catch (...) {
        QUILO_LOG_ERROR("Failed to process frame: unknown exception");
    }
}

void Engine::ProcessFrame(const CameraFrame& frame, int64_t arrivalTime) {
    // 0. Camera geometry that changed since the tracker last had it.
    if (intrinsicsVersion_.load() != trackerIntrinsicsVersion_) {
        tracker_->CameraDidChange(CurrentIntrinsics(&trackerIntrinsicsVersion_));
    }

    // 1. Configuration changes made since the last frame. The values are
    // copied under the lock and applied after it is dropped.
    if (configDirty_.load() != 0) {
        int changes = 0;
        FaceTracker::Configuration trackerConfiguration;
        int maxNumOfFaces = 0;
        {
            const MutexLock lock(configMutex_);
            changes = configDirty_.exchange(0);
            if (changes & kTrackerConfigurationChanged) trackerConfiguration = configuration_.faceTracker;
            maxNumOfFaces = configuration_.faceDetector.maxNumOfFaces;
        }
        if (changes & kTrackerConfigurationChanged) tracker_->UpdateConfiguration(trackerConfiguration);
        if (changes & kFaceCountChanged) {
            if (const auto current = CurrentDetector()) current->SetMaxNumOfDetectedFaces(maxNumOfFaces);
            tracker_->OnMaxNumOfDetectedFacesChange(maxNumOfFaces);
            appliedMaxNumOfFaces_ = maxNumOfFaces;
        }
    }

    // 2. A detector the host switched to while tracking.
    std::shared_ptr<FaceDetector> switched;
    {
        const MutexLock lock(pendingDetectorMutex_);
        switched.swap(pendingDetector_);
    }
    if (switched) {
        switched->OnCameraIntrinsicsChange(tracker_->intrinsics());
        ReplaceDetector(switched);
    }
    // The frame keeps its own reference, so a detector replaced by a host
    // thread meanwhile stays loaded until the frame is done with it.
    const auto active = switched ? std::move(switched) : CurrentDetector();
    if (!active) return;

    // 3. Detection, timed when profiling.
    FrameTiming timing;
    const Timestamp stamp = frame.timestamp();
    timing.exposureTime = stamp.space == Timestamp::Space::System ? MillisecondsToNanoseconds(stamp.ms) : arrivalTime;
    FrameProfiling timings;
    const bool profiled = profiling_.load() && frameAdapter_ != nullptr;
    FaceDetector::Output* output = nullptr;
    if (profiled) {
        // A timestamp of an unknown clock is no time of the system clock.
        timings.cameraExposureTime = timing.exposureTime;
        timings.faceDetectorStartTime = platform_->GetSystemTimeNs();
        output = &active->DetectFaces(frame);
        timings.faceDetectorEndTime = platform_->GetSystemTimeNs();
    } else {
        output = &active->DetectFaces(frame);
    }

    // 4. Virtual faces.
    if (virtualFaceHook_) AddVirtualFaces(frame, *output, appliedMaxNumOfFaces_);

    // 5. Tracking.
    tracker_->Update(*output, frame, 0.0f);

    // 6. The host's frame callback.
    if (frameCallback_) frameCallback_(*tracker_, *output, frame);

    // 7. The frame adapter.
    if (frameAdapter_ != nullptr) {
        timing.publishTime = platform_->GetSystemTimeNs();
        if (profiled) {
            timings.apiTimestamp = timing.publishTime;
            QUILO_LOG_DEBUG("[Engine] profiling={}", timings);
        }
        const EngineFrame engineFrame(tracker_.get(), output, timings, timing);
        frameAdapter_->OnFrame(engineFrame);
    }
}

void Engine::AddVirtualFaces(const CameraFrame& frame, FaceDetector::Output& output, int maxNumOfFaces) {
    // The hook gets maxNumOfFaces real, zeroed entries to write into.
    const size_t capacity = static_cast<size_t>(std::max(maxNumOfFaces, 0));
    if (virtualFaces_.size() < capacity) virtualFaces_.resize(capacity);
    std::fill_n(virtualFaces_.begin(), capacity, glm::vec4(0.0f));

    VirtualFaceHookContext context;
    context.timestamp = frame.timestamp();
    context.numDetectedFaces = static_cast<int32_t>(output.detections.size());
    context.maxNumOfFaces = maxNumOfFaces;
    context.virtualFaces = virtualFaces_.data();
    context.numVirtualFaces = 0;
    context.replaceDetectedFaces = false;
    if (!virtualFaceHook_(&context)) return;

    const int count = std::max(std::min(context.numVirtualFaces, maxNumOfFaces), 0);
    auto& detections = output.detections;
    if (context.replaceDetectedFaces) {
        detections.clear();
    } else if (static_cast<int>(detections.size()) + count > maxNumOfFaces) {
        detections.resize(static_cast<size_t>(std::max(maxNumOfFaces - count, 0)));
    }

    // Display space back to camera space, then the camera's own projection
    // of both eyes.
    const auto& pose = tracker_->configuration();
    for (int i = 0; i < count; ++i) {
        glm::vec4& entry = virtualFaces_[static_cast<size_t>(i)];
        const glm::vec3 d = DisplayToCamera(pose.cameraRotation, pose.cameraPosition, glm::vec3(entry)) / 1000.0f;
        const float w = entry.w / 1000.0f;
        entry = glm::vec4(d, w);

        const glm::vec3 leftEye = d + glm::vec3(w * 0.5f, 0.0f, 0.0f);
        const glm::vec3 rightEye = d - glm::vec3(w * 0.5f, 0.0f, 0.0f);
        DetectedFace detection;
        if (!frame.ProjectPointToPixel(leftEye, &detection.leftEyePixel, &detection.leftEyeDepth)) continue;
        if (!frame.ProjectPointToPixel(rightEye, &detection.rightEyePixel, &detection.rightEyeDepth)) continue;
        detections.push_back(detection);
    }
}

}  // namespace quilo::head
