#include "headTracking/capi/quiloHeadTracking.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "common/buildInfo.h"
#include "common/exception.h"
#include "common/log.h"
#include "common/platform.h"
#include "common/threadSafety.h"
#include "common/threadScope.h"
#include "common/typeName.h"
#include "headTracking/camera/sharedCamera.h"
#include "headTracking/common/eyePrediction.h"
#include "headTracking/common/frameAdapter.h"
#include "headTracking/engine/engine.h"

// What an engine fed by its host keeps between pushes. Guarded by `mutex`,
// which also serialises the pushes; it is held while the engine processes a
// pushed frame, so a push from inside that processing is refused before it
// would wait for itself.
struct OwnCamera {
    // Filled and emptied by the engine's SharedCamera as the engine is made
    // and destroyed, when no push can run; called only with `mutex` held.
    quilo::SharedCameraSink sink;
    quilo::Mutex mutex;
    std::optional<quilo_head_tracking_camera_intrinsics_t> intrinsics QUILO_GUARDED_BY(mutex);  // the last pushed
    std::optional<double> timestampMs QUILO_GUARDED_BY(mutex);                                  // the last pushed
    // The image without row padding, when it has some.
    std::vector<uint8_t> rows QUILO_GUARDED_BY(mutex);
};

// The handle behind quilo_head_tracking_engine*. Members are destroyed in
// reverse order: the engine first (which empties the sink), then the host's
// camera state, the frame adapter and the platform.
struct quilo_head_tracking_engine {
    std::unique_ptr<quilo::Platform> platform;
    std::unique_ptr<quilo::head::FrameAdapter> frameAdapter;
    std::unique_ptr<OwnCamera> ownCamera;  // only for an engine fed by its host
    std::optional<quilo::head::Engine> engine;
};

namespace {

using quilo::head::WrappedFrame;
using PushScope = quilo::ThreadScope<OwnCamera>;

// The text of the calling thread's last failed call; empty after a success.
thread_local std::string tLastError;

// Every status-returning function ends through one of these three.
int Succeeded() {
    tLastError.clear();
    return kQuiloHeadTrackingStatusSuccess;
}

// Logs `text` at `level` and keeps it as the thread's last failure.
int Failed(spdlog::level::level_enum level, std::string text) {
    if (auto logger = quilo::GetDefaultLogger()) logger->log(level, "{}", text);
    tLastError = std::move(text);
    return kQuiloHeadTrackingStatusErrorUnknown;
}

// A refusal that is an answer, not a failure (a prediction not made): its
// own status, the reason kept, nothing logged, since hosts meet it per frame.
int Declined(int status, std::string text) {
    tLastError = std::move(text);
    return status;
}

// A null handle is not logged: the caller's own mistake, told by the status.
int NullHandle(const char* function, const char* what) {
    tLastError = fmt::format("{}: the {} is null", function, what);
    return kQuiloHeadTrackingStatusErrorInvalidInstance;
}

// The one guard of the interface: runs `work` and turns every exception,
// standard or not, into status 2, logged at critical level.
template <typename Work>
int Guarded(Work&& work) {
    try {
        work();
        return Succeeded();
    } catch (const std::exception& e) {
        return Failed(spdlog::level::critical,
                      fmt::format("Unexpected exception: {} ({})", e.what(), quilo::TypeName(typeid(e))));
    } catch (...) {
        return Failed(spdlog::level::critical, "Unexpected exception of an unknown type");
    }
}

// Pointer arguments other than the handle: a null one is refused with
// status 2 and an error line naming the function and the argument.
struct Argument {
    const void* pointer;
    const char* name;
};

// The first null argument's failure text, or an empty text.
std::string NullArgument(const char* function, std::initializer_list<Argument> arguments) {
    for (const auto& argument : arguments) {
        if (argument.pointer == nullptr) return fmt::format("{}: {} is null", function, argument.name);
    }
    return {};
}

template <typename Work>
int WithEngine(quilo_head_tracking_engine* handle, const char* function, std::initializer_list<Argument> arguments,
               Work&& work) {
    if (handle == nullptr) return NullHandle(function, "engine");
    if (auto failure = NullArgument(function, arguments); !failure.empty()) {
        return Failed(spdlog::level::err, std::move(failure));
    }
    return Guarded([&] { work(*handle->engine); });
}

template <typename Work>
int WithEngine(quilo_head_tracking_engine* handle, const char* function, Work&& work) {
    return WithEngine(handle, function, {}, std::forward<Work>(work));
}

template <typename Work>
int WithFrame(quilo_head_tracking_frame* handle, const char* function, const void* out, Work&& work) {
    if (handle == nullptr) return NullHandle(function, "frame");
    if (auto failure = NullArgument(function, {{out, "the output record"}}); !failure.empty()) {
        return Failed(spdlog::level::err, std::move(failure));
    }
    return Guarded([&] { work(*reinterpret_cast<WrappedFrame*>(handle)->frame()); });
}

glm::vec3 ToGlm(const quilo_head_tracking_vec3_t& v) { return {v.x, v.y, v.z}; }

quilo_head_tracking_vec3_t ToC(const glm::vec3& v) { return {v.x, v.y, v.z}; }

quilo_head_tracking_dvec2_t ToC(const glm::dvec2& v) { return {v.x, v.y}; }

quilo_head_tracking_timestamp_t ToC(const quilo::Timestamp& t) {
    quilo_head_tracking_timestamp_t out;
    out.space = static_cast<int32_t>(t.space);
    out.ms = t.ms;
    return out;
}

quilo::head::FilterProperties ToFilterProperties(const quilo_head_tracking_filter_properties_t& p) {
    quilo::head::FilterProperties out;
    out.restartThreshold = p.restartThreshold;
    out.maxTrackGap = p.maxTrackGap;
    out.velDampingTime = p.velDampingTime;
    out.minFitDist = p.minFitDist;
    out.maxFitDist = p.maxFitDist;
    out.angleYMax = p.angleYMax;
    out.interocularDistanceMin = p.interocularDistanceMin;
    out.interocularDistanceMax = p.interocularDistanceMax;
    out.bufferLim = p.bufferLim;
    out.mainFaceSkew = ToGlm(p.mainFaceSkew);
    out.mainFaceScale = ToGlm(p.mainFaceScale);
    out.kalman.a = ToGlm(p.kalman.a);
    out.kalman.b = ToGlm(p.kalman.b);
    return out;
}

// The C records hold QUILO_HEAD_TRACKING_MAX_FACES entries: copy at most
// that many and report the number copied.
int32_t CopiedCount(int64_t available) {
    return static_cast<int32_t>(std::min<int64_t>(available, QUILO_HEAD_TRACKING_MAX_FACES));
}

// Hands the engine's hook context to a C hook through a zeroed C array.
bool CallVirtualFaceHook(quilo_head_tracking_virtual_face_hook_t hook, void* userData,
                         quilo::head::VirtualFaceHookContext* context) {
    std::vector<quilo_head_tracking_virtual_face_t> faces(static_cast<size_t>(std::max(context->maxNumOfFaces, 0)),
                                                          quilo_head_tracking_virtual_face_t{});
    quilo_head_tracking_virtual_face_hook_context_t c{};
    c.timestamp = ToC(context->timestamp);
    c.numDetectedFaces = context->numDetectedFaces;
    c.maxNumOfFaces = context->maxNumOfFaces;
    c.virtualFaces = faces.empty() ? nullptr : faces.data();
    c.numVirtualFaces = 0;
    c.replaceDetectedFaces = 0;
    if (hook(&c, userData) == 0) return false;

    context->numVirtualFaces = c.numVirtualFaces;
    context->replaceDetectedFaces = c.replaceDetectedFaces != 0;
    const int count = std::max(std::min(c.numVirtualFaces, context->maxNumOfFaces), 0);
    for (int i = 0; i < count; ++i) {
        const auto& face = faces[static_cast<size_t>(i)];
        context->virtualFaces[i] =
            glm::vec4(face.position.x, face.position.y, face.position.z, face.interocularDistance);
    }
    return true;
}

int CreateEngine(const char* function, const quilo_head_tracking_engine_init_args_t* args,
                 quilo_head_tracking_engine** out, bool ownCamera) {
    if (auto failure = NullArgument(function, {{args, "args"}, {out, "out"}}); !failure.empty()) {
        if (out != nullptr) *out = nullptr;
        return Failed(spdlog::level::err, std::move(failure));
    }
    *out = nullptr;
    try {
        auto handle = std::make_unique<quilo_head_tracking_engine>();
        quilo::PlatformInitArgs platformArgs;
        platformArgs.logLevel = args->logLevel;
        handle->platform = quilo::Platform::Create(platformArgs);

        quilo::head::EngineInitArgs engineArgs;
        std::function<void(const quilo::head::Frame&)> onFrame;
        if (args->frameCallback != nullptr) {
            onFrame = [callback = args->frameCallback,
                       userData = args->frameCallbackUserData](const quilo::head::Frame& frame) {
                const auto wrapped = quilo::head::WrapFrame(frame);
                callback(reinterpret_cast<quilo_head_tracking_frame*>(wrapped.get()), userData);
            };
        }
        handle->frameAdapter =
            std::make_unique<quilo::head::FrameAdapter>(std::move(onFrame), args->enablePolling != 0);
        engineArgs.frameAdapter = handle->frameAdapter.get();

        if (args->virtualFaceHook != nullptr) {
            engineArgs.virtualFaceHook = [hook = args->virtualFaceHook, userData = args->virtualFaceHookUserData](
                                             quilo::head::VirtualFaceHookContext* context) {
                return CallVirtualFaceHook(hook, userData, context);
            };
        }

        engineArgs.configuration.camera.width = args->width;
        engineArgs.configuration.camera.height = args->height;
        engineArgs.configuration.camera.fps = args->fps;
        engineArgs.configuration.camera.binningFactor = args->binningFactor;
        engineArgs.configuration.faceDetector.maxNumOfFaces = args->maxNumOfFaces;
        engineArgs.platform = handle->platform.get();
        if (ownCamera) {
            handle->ownCamera = std::make_unique<OwnCamera>();
            engineArgs.sharedCameraSink = &handle->ownCamera->sink;
        }

        handle->engine.emplace(engineArgs);
        *out = handle.release();
        return Succeeded();
    } catch (const std::exception& e) {
        return Failed(spdlog::level::err, fmt::format("Failed to initialize head tracking engine: {}", e.what()));
    } catch (...) {
        return Failed(spdlog::level::critical,
                      "Failed to initialize head tracking engine: an exception of an unknown type");
    }
}

// Checks of a pushed frame. Each returns the reason it refuses the argument,
// or an empty text.
constexpr int32_t kMaxImageSize = QUILO_HEAD_TRACKING_MAX_IMAGE_SIZE;

// Bytes a buffer of `height` rows `stride` apart, the last `rowBytes` long, needs.
uint64_t NeededBytes(int32_t stride, int32_t height, uint64_t rowBytes) {
    return static_cast<uint64_t>(stride) * static_cast<uint64_t>(height - 1) + rowBytes;
}

std::string CheckImage(const quilo_head_tracking_image_t& image) {
    if (image.data == nullptr) return "the image's data is null";
    if (image.width < 1 || image.width > kMaxImageSize || image.height < 1 || image.height > kMaxImageSize) {
        return fmt::format("the image is {} x {} pixels; each side must be from 1 to {}", image.width, image.height,
                           kMaxImageSize);
    }
    if (image.stride < image.width) {
        return fmt::format("the image's stride {} is shorter than its width {}", image.stride, image.width);
    }
    const uint64_t needed = NeededBytes(image.stride, image.height, static_cast<uint64_t>(image.width));
    if (image.dataSize < needed) {
        return fmt::format("the image's buffer holds {} bytes, {} x {} pixels with stride {} need {}", image.dataSize,
                           image.width, image.height, image.stride, needed);
    }
    return {};
}

std::string CheckDepth(const quilo_head_tracking_depth_image_t& depth, const quilo_head_tracking_image_t& image) {
    if (depth.data == nullptr) return "the depth image's data is null";
    if (depth.width != image.width || depth.height != image.height) {
        return fmt::format("the depth image is {} x {} pixels, the image {} x {}", depth.width, depth.height,
                           image.width, image.height);
    }
    if (depth.stride < 2 * depth.width) {
        return fmt::format("the depth image's stride {} is shorter than a row of {} bytes", depth.stride,
                           2 * depth.width);
    }
    if (!(depth.unit > 0.0f) || !std::isfinite(depth.unit)) {
        return fmt::format("the depth unit {} is not a positive finite number of metres", depth.unit);
    }
    const uint64_t needed = NeededBytes(depth.stride, depth.height, 2 * static_cast<uint64_t>(depth.width));
    if (depth.dataSize < needed) {
        return fmt::format("the depth image's buffer holds {} bytes, {} x {} pixels with stride {} need {}",
                           depth.dataSize, depth.width, depth.height, depth.stride, needed);
    }
    return {};
}

std::string CheckIntrinsics(const quilo_head_tracking_camera_intrinsics_t& intrinsics,
                            const quilo_head_tracking_image_t& image) {
    if (intrinsics.width != image.width || intrinsics.height != image.height) {
        return fmt::format("the intrinsics are for {} x {} pixels, the image is {} x {}", intrinsics.width,
                           intrinsics.height, image.width, image.height);
    }
    const float values[] = {intrinsics.ppx,
                            intrinsics.ppy,
                            intrinsics.fx,
                            intrinsics.fy,
                            intrinsics.distortionCoeffs[0],
                            intrinsics.distortionCoeffs[1],
                            intrinsics.distortionCoeffs[2],
                            intrinsics.distortionCoeffs[3],
                            intrinsics.distortionCoeffs[4]};
    if (!std::all_of(std::begin(values), std::end(values), [](float v) { return std::isfinite(v); })) {
        return "the intrinsics hold a value that is not finite";
    }
    if (!(intrinsics.fx > 0.0f && intrinsics.fy > 0.0f)) {
        return fmt::format("the focal lengths {} and {} are not positive", intrinsics.fx, intrinsics.fy);
    }
    return {};
}

bool SameIntrinsics(const quilo_head_tracking_camera_intrinsics_t& a,
                    const quilo_head_tracking_camera_intrinsics_t& b) {
    return a.width == b.width && a.height == b.height && a.ppx == b.ppx && a.ppy == b.ppy && a.fx == b.fx &&
           a.fy == b.fy &&
           std::equal(std::begin(a.distortionCoeffs), std::end(a.distortionCoeffs), std::begin(b.distortionCoeffs)) &&
           (a.isMirrored != 0) == (b.isMirrored != 0);
}

quilo::CameraIntrinsics ToIntrinsics(const quilo_head_tracking_camera_intrinsics_t& c) {
    quilo::CameraIntrinsics out;
    out.width = c.width;
    out.height = c.height;
    out.ppx = c.ppx;
    out.ppy = c.ppy;
    out.fx = c.fx;
    out.fy = c.fy;
    std::copy(std::begin(c.distortionCoeffs), std::end(c.distortionCoeffs), std::begin(out.distortionCoeffs));
    out.isMirrored = c.isMirrored != 0;
    return out;
}

// Hands one checked image to the engine fed by its host, unless its timestamp
// does not come after the last one pushed: then nothing is pushed and the
// reason is returned.
std::string Push(OwnCamera& own, const quilo_head_tracking_image_t* image,
                 const quilo_head_tracking_depth_image_t* depth,
                 const quilo_head_tracking_camera_intrinsics_t* intrinsics, quilo::Timestamp timestamp)
    QUILO_REQUIRES(own.mutex) {
    const double timestampMs = timestamp.ms;
    if (own.timestampMs && !(timestampMs > *own.timestampMs)) {
        return fmt::format("the timestamp {} ms does not come after the last one, {} ms", timestampMs,
                           *own.timestampMs);
    }
    own.timestampMs = timestampMs;
    if (!own.intrinsics || !SameIntrinsics(*own.intrinsics, *intrinsics)) {
        own.intrinsics = *intrinsics;
        own.sink.onIntrinsicsChange(ToIntrinsics(*intrinsics));
    }
    // The engine reads rows of `width` bytes: an image with padded rows
    // is packed first.
    quilo::ImageDesc desc;
    desc.width = image->width;
    desc.height = image->height;
    desc.rotation = image->rotation;
    desc.data = image->data;
    if (image->stride != image->width) {
        const auto width = static_cast<size_t>(image->width);
        own.rows.resize(width * static_cast<size_t>(image->height));
        for (int32_t y = 0; y < image->height; ++y) {
            std::memcpy(own.rows.data() + width * static_cast<size_t>(y),
                        image->data + static_cast<size_t>(y) * static_cast<size_t>(image->stride), width);
        }
        desc.data = own.rows.data();
    }
    quilo::DepthImageDesc depthDesc;
    if (depth != nullptr) {
        depthDesc.width = depth->width;
        depthDesc.height = depth->height;
        depthDesc.stride = depth->stride;
        depthDesc.unit = depth->unit;
        depthDesc.data = static_cast<const uint8_t*>(depth->data);
    }
    own.sink.onDepthFrameAvailable(desc, depth != nullptr ? &depthDesc : nullptr, timestamp);
    return {};
}

// Both push functions after their own checks of the handle and timestamp.
int PushFrame(const char* function, quilo_head_tracking_engine* engine, const quilo_head_tracking_image_t* image,
              const quilo_head_tracking_depth_image_t* depth, const quilo_head_tracking_camera_intrinsics_t* intrinsics,
              quilo::Timestamp timestamp) {
    if (auto failure = NullArgument(function, {{image, "image"}, {intrinsics, "intrinsics"}}); !failure.empty()) {
        return Failed(spdlog::level::err, std::move(failure));
    }
    const auto refuse = [function](const std::string& reason) {
        return Failed(spdlog::level::err, fmt::format("{}: {}", function, reason));
    };
    if (!engine->ownCamera) return refuse("the engine takes its images from its RealSense camera");
    if (PushScope::IsInside(engine->ownCamera.get())) {
        return refuse(
            "called from inside the engine's processing of a pushed image (its frame callback or hook); push the "
            "next image after the callback has returned, or from another thread");
    }
    std::string reason = CheckImage(*image);
    if (reason.empty() && depth != nullptr) reason = CheckDepth(*depth, *image);
    if (reason.empty()) reason = CheckIntrinsics(*intrinsics, *image);
    if (!reason.empty()) return refuse(reason);

    const double timestampMs = timestamp.ms;
    if (!std::isfinite(timestampMs)) return refuse(fmt::format("the timestamp {} ms is not finite", timestampMs));
    // The lock is taken inside the guarded call, where the analysis can see
    // it held while the camera's state is used.
    OwnCamera& own = *engine->ownCamera;
    std::string refusal;
    const int status = Guarded([&] {
        const quilo::MutexLock lock(own.mutex);
        const PushScope scope(&own);
        refusal = Push(own, image, depth, intrinsics, timestamp);
    });
    return refusal.empty() ? status : refuse(refusal);
}

}  // namespace

extern "C" {

int quiloHeadTrackingEngineInitArgs(const quilo_head_tracking_engine_init_args_t* args,
                                    quilo_head_tracking_engine** out) {
    return CreateEngine(__func__, args, out, false);
}

int quiloHeadTrackingEngineInitArgsWithOwnCamera(const quilo_head_tracking_engine_init_args_t* args,
                                                 quilo_head_tracking_engine** out) {
    return CreateEngine(__func__, args, out, true);
}

int quiloHeadTrackingEnginePushFrame(quilo_head_tracking_engine* engine, const quilo_head_tracking_image_t* image,
                                     const quilo_head_tracking_depth_image_t* depth,
                                     const quilo_head_tracking_camera_intrinsics_t* intrinsics, double timestampMs) {
    const char* function = __func__;
    if (engine == nullptr) return NullHandle(function, "engine");
    return PushFrame(function, engine, image, depth, intrinsics, {quilo::Timestamp::Space::Unknown, timestampMs});
}

int quiloHeadTrackingEnginePushFrameWithTimestamp(quilo_head_tracking_engine* engine,
                                                  const quilo_head_tracking_image_t* image,
                                                  const quilo_head_tracking_depth_image_t* depth,
                                                  const quilo_head_tracking_camera_intrinsics_t* intrinsics,
                                                  const quilo_head_tracking_timestamp_t* timestamp) {
    const char* function = __func__;
    if (engine == nullptr) return NullHandle(function, "engine");
    if (auto failure = NullArgument(function, {{timestamp, "timestamp"}}); !failure.empty()) {
        return Failed(spdlog::level::err, std::move(failure));
    }
    if (timestamp->space != 0 && timestamp->space != -1) {
        return Failed(spdlog::level::err,
                      fmt::format("{}: the timestamp's space {} is neither 0 (system clock) nor -1 (unknown)", function,
                                  timestamp->space));
    }
    return PushFrame(function, engine, image, depth, intrinsics,
                     {static_cast<quilo::Timestamp::Space>(timestamp->space), timestamp->ms});
}

void quiloHeadTrackingEngineRelease(quilo_head_tracking_engine* engine) {
    if (engine == nullptr) return;
    // From its own frame callback or hook the engine would destroy the very
    // call that is running (or wait for it, with the RealSense camera). The
    // function returns nothing, so the refusal is a leak the host can see
    // in the log and in the thread's reason, not a crash.
    if (engine->engine && engine->engine->IsProcessingFrameOnThisThread()) {
        Failed(spdlog::level::err,
               "quiloHeadTrackingEngineRelease: called from inside the engine's processing of a frame (its frame "
               "callback or hook); nothing was released: release the engine from another thread");
        return;
    }
    tLastError.clear();
    delete engine;
}

int quiloHeadTrackingEngineStartTracking(quilo_head_tracking_engine* engine) {
    return WithEngine(engine, __func__, [](quilo::head::Engine& e) { e.StartTracking(); });
}

int quiloHeadTrackingEngineStopTracking(quilo_head_tracking_engine* engine) {
    return WithEngine(engine, __func__, [](quilo::head::Engine& e) { e.StopTracking(); });
}

int quiloHeadTrackingEngineGetLatestFrame(quilo_head_tracking_engine* engine, quilo_head_tracking_frame** out) {
    if (engine == nullptr) return NullHandle(__func__, "engine");
    if (auto failure = NullArgument(__func__, {{out, "out"}}); !failure.empty()) {
        return Failed(spdlog::level::err, std::move(failure));
    }
    *out = nullptr;
    return Guarded([&] {
        auto wrapped = quilo::head::WrapFrame(engine->frameAdapter->GetFrame());
        *out = reinterpret_cast<quilo_head_tracking_frame*>(wrapped.release());
    });
}

int quiloHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(quilo_head_tracking_engine* engine, int* out) {
    return WithEngine(engine, __func__, {{out, "out"}},
                      [&](quilo::head::Engine& e) { *out = e.GetMaxNumOfDetectedFacesLimit(); });
}

int quiloHeadTrackingEngineSetCameraPosition(quilo_head_tracking_engine* engine, float x, float y, float z) {
    return WithEngine(engine, __func__, [&](quilo::head::Engine& e) { e.SetCameraPosition(glm::vec3(x, y, z)); });
}

int quiloHeadTrackingEngineSetCameraRotation(quilo_head_tracking_engine* engine, float m0, float m1, float m2, float m3,
                                             float m4, float m5, float m6, float m7, float m8) {
    return WithEngine(engine, __func__,
                      [&](quilo::head::Engine& e) { e.SetCameraRotation(m0, m1, m2, m3, m4, m5, m6, m7, m8); });
}

int quiloHeadTrackingEngineSetCameraTransform(quilo_head_tracking_engine* engine,
                                              const quilo_head_tracking_vec3_t* position,
                                              const quilo_head_tracking_vec3_t* rotation) {
    return WithEngine(engine, __func__, {{position, "position"}, {rotation, "rotation"}},
                      [&](quilo::head::Engine& e) { e.SetCameraTransform(ToGlm(*position), ToGlm(*rotation)); });
}

int quiloHeadTrackingEngineSetFilterProperties(quilo_head_tracking_engine* engine,
                                               const quilo_head_tracking_filter_properties_t* properties) {
    return WithEngine(engine, __func__, {{properties, "properties"}},
                      [&](quilo::head::Engine& e) { e.SetFilterProperties(ToFilterProperties(*properties)); });
}

int quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(quilo_head_tracking_engine* engine, int count) {
    return WithEngine(engine, __func__, [&](quilo::head::Engine& e) { e.SetMaxNumOfDetectedFaces(count); });
}

int quiloHeadTrackingEngineSetTrackedEyes(quilo_head_tracking_engine* engine, int trackLeftEye, int trackRightEye) {
    return WithEngine(engine, __func__,
                      [&](quilo::head::Engine& e) { e.SetTrackedEyes(trackLeftEye != 0, trackRightEye != 0); });
}

const char* quiloHeadTrackingGetVersion(void) { return QUILO_HEAD_TRACKING_VERSION; }

const char* quiloHeadTrackingGetLastErrorMessage(void) { return tLastError.c_str(); }

int quiloHeadTrackingFrameGetTrackingResult(quilo_head_tracking_frame* frame, quilo_head_tracking_result_t* result) {
    return WithFrame(frame, __func__, result, [&](const quilo::head::Frame& f) {
        result->timestamp = ToC(f.timestamp());
        result->trackingStarted = f.trackingStarted() ? 1 : 0;
        const auto faces = f.faces();
        result->numFaces = CopiedCount(faces.size);
        for (int32_t i = 0; i < result->numFaces; ++i) {
            auto& out = result->faces[i];
            out.position = ToC(faces[i].position);
            out.velocity = ToC(faces[i].velocity);
            out.angles = ToC(faces[i].angles);
            out.rawFaceIndex = faces[i].rawFaceIndex;
        }
    });
}

int quiloHeadTrackingFrameGetRawFaces(quilo_head_tracking_frame* frame, quilo_head_tracking_raw_faces_t* raw) {
    return WithFrame(frame, __func__, raw, [&](const quilo::head::Frame& f) {
        const auto faces = f.rawFaces();
        raw->numFaces = CopiedCount(faces.size);
        for (int32_t i = 0; i < raw->numFaces; ++i) {
            auto& out = raw->faces[i];
            out.rightEye = ToC(faces[i].rightEye);
            out.leftEye = ToC(faces[i].leftEye);
            out.trackedPoint = ToC(faces[i].trackedPoint);
            out.detectionIndex = faces[i].detectionIndex;
        }
    });
}

int quiloHeadTrackingFrameGetDetectedFaces(quilo_head_tracking_frame* frame,
                                           quilo_head_tracking_detected_faces_t* detected) {
    return WithFrame(frame, __func__, detected, [&](const quilo::head::Frame& f) {
        const auto detections = f.detections();
        detected->numFaces = CopiedCount(detections.size);
        for (int32_t i = 0; i < detected->numFaces; ++i) {
            auto& out = detected->faces[i];
            out.rightEyePixel = ToC(detections[i].rightEyePixel);
            out.rightEyeDepth = detections[i].rightEyeDepth;
            out.leftEyePixel = ToC(detections[i].leftEyePixel);
            out.leftEyeDepth = detections[i].leftEyeDepth;
            out.headPosition = ToC(detections[i].headPosition);
            out.angles = ToC(detections[i].angles);
        }
    });
}

int quiloHeadTrackingFrameGetProfiling(quilo_head_tracking_frame* frame,
                                       quilo_head_tracking_frame_profiling_t* profiling) {
    return WithFrame(frame, __func__, profiling, [&](const quilo::head::Frame& f) {
        const auto p = f.profiling();
        profiling->cameraExposureTime = p.cameraExposureTime;
        profiling->faceDetectorStartTime = p.faceDetectorStartTime;
        profiling->faceDetectorEndTime = p.faceDetectorEndTime;
        profiling->apiTimestamp = p.apiTimestamp;
    });
}

int quiloHeadTrackingFrameGetTiming(quilo_head_tracking_frame* frame, quilo_head_tracking_frame_timing_t* timing) {
    return WithFrame(frame, __func__, timing, [&](const quilo::head::Frame& f) {
        const auto t = f.timing();
        timing->exposureTime = t.exposureTime;
        timing->publishTime = t.publishTime;
    });
}

int quiloHeadTrackingFramePredictEyes(quilo_head_tracking_frame* frame, int32_t faceIndex, int64_t targetTimeNs,
                                      quilo_head_tracking_eye_prediction_t* prediction) {
    const char* function = __func__;
    quilo::head::EyePrediction result;
    std::string badIndex;
    const int status = WithFrame(frame, function, prediction, [&](const quilo::head::Frame& f) {
        const int64_t count = f.faces().size;
        if (faceIndex < 0 || faceIndex >= count) {
            badIndex = fmt::format("{}: the frame has no face {}; it has {}", function, faceIndex, count);
            return;
        }
        result = quilo::head::PredictEyes(f, faceIndex, targetTimeNs);
        prediction->rightEye = ToC(result.rightEye);
        prediction->leftEye = ToC(result.leftEye);
        prediction->horizonMs = result.horizonMs;
    });
    if (status != kQuiloHeadTrackingStatusSuccess) return status;
    if (!badIndex.empty()) return Failed(spdlog::level::err, std::move(badIndex));
    if (result.status == quilo::head::PredictionStatus::Predicted) return status;
    return Declined(static_cast<int>(result.status),
                    fmt::format("{}: not predicted to {} ns: {}", function, targetTimeNs, ToString(result.status)));
}

void quiloHeadTrackingFrameRelease(quilo_head_tracking_frame* frame) { delete reinterpret_cast<WrappedFrame*>(frame); }

}  // extern "C"
