#include "headTracking/capi/quiloHeadTracking.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <typeinfo>
#include <vector>

#include "common/buildInfo.h"
#include "common/exception.h"
#include "common/log.h"
#include "common/platform.h"
#include "common/typeName.h"
#include "headTracking/common/frameAdapter.h"
#include "headTracking/engine/engine.h"

// The handle behind quilo_head_tracking_engine*. Members are destroyed in
// reverse order: the engine first, then the frame adapter, then the platform.
struct quilo_head_tracking_engine {
    std::unique_ptr<quilo::Platform> platform;
    std::unique_ptr<quilo::head::FrameAdapter> frameAdapter;
    std::optional<quilo::head::Engine> engine;
};

namespace {

using quilo::head::WrappedFrame;

// The one guard of the interface: runs `work` and turns every exception,
// standard or not, into status 2, logged at critical level.
template <typename Work>
int Guarded(Work&& work) {
    try {
        work();
        return kQuiloHeadTrackingStatusSuccess;
    } catch (const std::exception& e) {
        QUILO_LOG_CRITICAL("Unexpected exception: {} ({})", e.what(), quilo::TypeName(typeid(e)));
    } catch (...) {
        QUILO_LOG_CRITICAL("Unexpected exception of an unknown type");
    }
    return kQuiloHeadTrackingStatusErrorUnknown;
}

// Pointer arguments other than the handle: a null one is refused with
// status 2 and an error line naming the function and the argument.
struct Argument {
    const void* pointer;
    const char* name;
};

bool ArgumentsPresent(const char* function, std::initializer_list<Argument> arguments) {
    for (const auto& argument : arguments) {
        if (argument.pointer == nullptr) {
            QUILO_LOG_ERROR("{}: {} is null", function, argument.name);
            return false;
        }
    }
    return true;
}

template <typename Work>
int WithEngine(quilo_head_tracking_engine* handle, const char* function, std::initializer_list<Argument> arguments,
               Work&& work) {
    if (handle == nullptr) return kQuiloHeadTrackingStatusErrorInvalidInstance;
    if (!ArgumentsPresent(function, arguments)) return kQuiloHeadTrackingStatusErrorUnknown;
    return Guarded([&] { work(*handle->engine); });
}

template <typename Work>
int WithEngine(quilo_head_tracking_engine* handle, Work&& work) {
    return WithEngine(handle, "", {}, std::forward<Work>(work));
}

template <typename Work>
int WithFrame(quilo_head_tracking_frame* handle, const char* function, const void* out, Work&& work) {
    if (handle == nullptr) return kQuiloHeadTrackingStatusErrorInvalidInstance;
    if (!ArgumentsPresent(function, {{out, "the output record"}})) return kQuiloHeadTrackingStatusErrorUnknown;
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
    std::vector<quilo_head_tracking_virtual_face_t> faces(
        static_cast<size_t>(std::max(context->maxNumOfFaces, 0)), quilo_head_tracking_virtual_face_t{});
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

}  // namespace

extern "C" {

int quiloHeadTrackingEngineInitArgs(const quilo_head_tracking_engine_init_args_t* args,
                                    quilo_head_tracking_engine** out) {
    if (!ArgumentsPresent(__func__, {{args, "args"}, {out, "out"}})) {
        if (out != nullptr) *out = nullptr;
        return kQuiloHeadTrackingStatusErrorUnknown;
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
            onFrame = [callback = args->frameCallback, userData = args->frameCallbackUserData](
                          const quilo::head::Frame& frame) {
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

        handle->engine.emplace(engineArgs);
        *out = handle.release();
        return kQuiloHeadTrackingStatusSuccess;
    } catch (const std::exception& e) {
        QUILO_LOG_ERROR("Failed to initialize head tracking engine: {}", e.what());
    } catch (...) {
        QUILO_LOG_CRITICAL("Failed to initialize head tracking engine: an exception of an unknown type");
    }
    return kQuiloHeadTrackingStatusErrorUnknown;
}

void quiloHeadTrackingEngineRelease(quilo_head_tracking_engine* engine) { delete engine; }

int quiloHeadTrackingEngineStartTracking(quilo_head_tracking_engine* engine) {
    return WithEngine(engine, [](quilo::head::Engine& e) { e.StartTracking(); });
}

int quiloHeadTrackingEngineStopTracking(quilo_head_tracking_engine* engine) {
    return WithEngine(engine, [](quilo::head::Engine& e) { e.StopTracking(); });
}

int quiloHeadTrackingEngineGetLatestFrame(quilo_head_tracking_engine* engine, quilo_head_tracking_frame** out) {
    if (engine == nullptr) return kQuiloHeadTrackingStatusErrorInvalidInstance;
    if (!ArgumentsPresent(__func__, {{out, "out"}})) return kQuiloHeadTrackingStatusErrorUnknown;
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
    return WithEngine(engine, [&](quilo::head::Engine& e) { e.SetCameraPosition(glm::vec3(x, y, z)); });
}

int quiloHeadTrackingEngineSetCameraRotation(quilo_head_tracking_engine* engine, float m0, float m1, float m2,
                                             float m3, float m4, float m5, float m6, float m7, float m8) {
    return WithEngine(engine,
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
    return WithEngine(engine, [&](quilo::head::Engine& e) { e.SetMaxNumOfDetectedFaces(count); });
}

int quiloHeadTrackingEngineSetTrackedEyes(quilo_head_tracking_engine* engine, int trackLeftEye, int trackRightEye) {
    return WithEngine(engine,
                      [&](quilo::head::Engine& e) { e.SetTrackedEyes(trackLeftEye != 0, trackRightEye != 0); });
}

const char* quiloHeadTrackingGetVersion(void) { return QUILO_HEAD_TRACKING_VERSION; }

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

void quiloHeadTrackingFrameRelease(quilo_head_tracking_frame* frame) {
    delete reinterpret_cast<WrappedFrame*>(frame);
}

}  // extern "C"
