#include "tools/live/tracker.h"

#include <algorithm>

#include "common/platform.h"
#include "headTracking/camera/sharedCamera.h"
#include "headTracking/common/engineConfiguration.h"
#include "headTracking/common/frameAdapter.h"
#include "headTracking/engine/engine.h"

namespace quilo::live {

using Clock = std::chrono::steady_clock;

namespace {

double SystemNowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

struct LiveTracker::Engine {
    std::unique_ptr<Platform> platform;
    head::FrameAdapter adapter;
    SharedCameraSink sink;
    std::unique_ptr<head::Engine> engine;

    explicit Engine(LiveTracker* owner)
        : adapter([owner](const head::Frame& frame) { owner->OnFrame(frame); }, false) {}
};

LiveTracker::LiveTracker(const TrackerOptions& options, Output output) : options_(options), output_(std::move(output)) {
    engine_ = std::make_unique<Engine>(this);
    PlatformInitArgs platformArgs;
    platformArgs.logLevel = options.logLevel;
    engine_->platform = Platform::Create(platformArgs);

    head::EngineInitArgs args;
    args.configuration.faceTracker = options.tracker;
    args.configuration.faceDetector.backend = kQuiloFaceDetectorBackendCPU;
    args.configuration.faceDetector.maxNumOfFaces = options.maxFaces;
    args.platform = engine_->platform.get();
    args.frameAdapter = &engine_->adapter;
    if (!options.realsense) args.sharedCameraSink = &engine_->sink;
    engine_->engine = std::make_unique<head::Engine>(args);
    engine_->engine->SetMaxNumOfDetectedFaces(options.maxFaces);
    engine_->engine->StartTracking();
}

LiveTracker::~LiveTracker() {
    if (engine_ && engine_->engine) engine_->engine->StopTracking();
}

void LiveTracker::SetIntrinsics(const CameraIntrinsics& intrinsics) { engine_->sink.onIntrinsicsChange(intrinsics); }

void LiveTracker::Push(const CapturedImage& image) {
    ImageDesc desc;
    desc.width = image.width;
    desc.height = image.height;
    desc.data = image.grey.data();
    const Timestamp timestamp{Timestamp::Space::System, image.timestampMs};
    pushing_ = &image;
    try {
        if (!image.depth.empty()) {
            DepthImageDesc depth;
            depth.width = image.width;
            depth.height = image.height;
            depth.stride = image.width * static_cast<int32_t>(sizeof(uint16_t));
            depth.unit = static_cast<float>(image.depthUnit);
            depth.data = reinterpret_cast<const uint8_t*>(image.depth.data());
            engine_->sink.onDepthFrameAvailable(desc, &depth, timestamp);
        } else {
            engine_->sink.onFrameAvailable(desc, timestamp);
        }
    } catch (...) {
        pushing_ = nullptr;
        throw;
    }
    pushing_ = nullptr;
}

void LiveTracker::OnFrame(const head::Frame& frame) {
    const head::FaceTrackerConfiguration& configuration = options_.tracker;
    LiveFrame live;
    live.index = index_++;
    live.faces =
        FacesOfFrame(frame, configuration.cameraRotation, configuration.trackLeftEye, configuration.trackRightEye);
    const Clock::time_point now = Clock::now();
    if (pushing_ != nullptr) {
        live.captureTimeMs = pushing_->captureTimeMs;
        live.latencyMs = std::chrono::duration<double, std::milli>(now - pushing_->captured).count();
    } else {
        // The RealSense camera's exposure time, system clock, nanoseconds.
        const double exposureMs = static_cast<double>(frame.timing().exposureTime) / 1e6;
        live.captureTimeMs = exposureMs > 0.0 ? exposureMs : SystemNowMs();
        live.latencyMs = std::max(SystemNowMs() - live.captureTimeMs, 0.0);
    }
    if (output_) output_(live);

    const std::lock_guard<std::mutex> lock(statusMutex_);
    ++status_.frames;
    recent_.push_back(now);
    recentLatencies_.push_back(live.latencyMs);
    const auto old = std::find_if(recent_.begin(), recent_.end(),
                                  [&](Clock::time_point t) { return now - t <= std::chrono::seconds(1); });
    recentLatencies_.erase(recentLatencies_.begin(), recentLatencies_.begin() + (old - recent_.begin()));
    recent_.erase(recent_.begin(), old);
    std::vector<double> sorted = recentLatencies_;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&sorted](double q) {
        return sorted.empty() ? 0.0 : sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5)];
    };
    status_.latencyMedianMs = at(0.5);
    status_.latencyP99Ms = at(0.99);
    status_.framesPerSecond = recent_.size() > 1
                                  ? static_cast<double>(recent_.size() - 1) /
                                        std::chrono::duration<double>(recent_.back() - recent_.front()).count()
                                  : 0.0;
    status_.faces = live.faces.size();
    status_.mainHead = live.faces.empty() ? std::nullopt : std::optional<glm::dvec3>(live.faces[0].head);
    status_.latencyMs = live.latencyMs;
}

TrackerStatus LiveTracker::Status() const {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

}  // namespace quilo::live
