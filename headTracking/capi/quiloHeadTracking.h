/*
 * The head-tracking engine's C interface.
 *
 * Every function that returns a status catches every C++ exception inside: no
 * exception ever leaves this interface. Status 1 means a null handle was
 * passed (nothing happened); status 2 means the engine failed and the failure
 * has been logged at critical level, or that another pointer argument was
 * null or a pushed frame was refused (nothing happened; logged at error
 * level). Statuses 3 to 6 come only from quiloHeadTrackingFramePredictEyes:
 * a prediction it declined, with a defined answer. quiloHeadTrackingGetLastErrorMessage
 * tells the calling thread why its last call failed or declined.
 *
 * Threads: a host creates, configures, starts, stops and releases an engine
 * from its own threads. The frame callback and the virtual-face hook run on
 * the engine's processing thread (the camera's, or the pushing thread for a
 * host's own camera), one frame at a time. Every engine function except
 * quiloHeadTrackingEngineRelease may be called from any thread at any time,
 * concurrently with the others: starts and stops are serialised inside the
 * engine and end as if made one after the other in some order; the setters
 * may race a start or a stop, and their change reaches the next frame
 * processed. No engine lock is held while a frame is processed. An engine
 * must not be released while another thread still uses it or may start to:
 * a call racing the release uses a destroyed engine.
 *
 * Records are laid out with 4-byte packing: 8-byte members may sit at offsets
 * that are not multiples of 8. Define your own records with 4-byte packing
 * too, or use these.
 */
#ifndef QUILO_HEAD_TRACKING_H
#define QUILO_HEAD_TRACKING_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(QUILO_BUILDING_LIBRARY)
#define QUILO_CAPI __declspec(dllexport)
#else
#define QUILO_CAPI __declspec(dllimport)
#endif
#else
#define QUILO_CAPI __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define QUILO_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QUILO_STATIC_ASSERT(cond, name) _Static_assert(cond, #name)
#else
#define QUILO_STATIC_ASSERT(cond, name) typedef char quilo_static_assert_##name[(cond) ? 1 : -1]
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes; the values are stable. */
typedef enum quilo_head_tracking_status_e {
    kQuiloHeadTrackingStatusSuccess = 0,              /* the call did its work */
    kQuiloHeadTrackingStatusErrorInvalidInstance = 1, /* the handle passed was null */
    kQuiloHeadTrackingStatusErrorUnknown = 2,         /* the engine failed; logged */
    /* The refusals of quiloHeadTrackingFramePredictEyes, which alone returns
     * them. Each still fills the prediction, with the frame-time eyes and a
     * horizon of 0; none is logged. */
    kQuiloHeadTrackingStatusPredictionFaceCoasting = 3,      /* the face had no detection in the frame */
    kQuiloHeadTrackingStatusPredictionTargetBeforeFrame = 4, /* the target time precedes the frame */
    kQuiloHeadTrackingStatusPredictionBeyondHorizon = 5,     /* the target lies beyond the horizon limit */
    kQuiloHeadTrackingStatusPredictionUnknownClock = 6       /* the frame's clock is not the system clock */
} quilo_head_tracking_status_e;

/* Opaque handles. */
typedef struct quilo_head_tracking_engine quilo_head_tracking_engine;
typedef struct quilo_head_tracking_frame quilo_head_tracking_frame;

/* Capacity of every face array of the frame records below. */
#define QUILO_HEAD_TRACKING_MAX_FACES 3

#pragma pack(push, 4)

typedef struct quilo_head_tracking_vec3_t {
    float x;
    float y;
    float z;
} quilo_head_tracking_vec3_t;

typedef struct quilo_head_tracking_dvec2_t {
    double x;
    double y;
} quilo_head_tracking_dvec2_t;

typedef struct quilo_head_tracking_kalman_coeffs_t {
    quilo_head_tracking_vec3_t a; /* per-axis velocity scale, mm per ms */
    quilo_head_tracking_vec3_t b; /* per-axis gain at zero velocity */
} quilo_head_tracking_kalman_coeffs_t;

/* Filter and selection parameters; the engine's defaults in brackets. */
typedef struct quilo_head_tracking_filter_properties_t {
    float restartThreshold;                   /* [0.5] */
    float maxTrackGap;                        /* [600] ms */
    float velDampingTime;                     /* [100] ms */
    float minFitDist;                         /* [40] exclusive bounds of the weighted distance */
    float maxFitDist;                         /* [2000] */
    float angleYMax;                          /* [pi/4] radians, half-width of the yaw window */
    float interocularDistanceMin;             /* [30] mm, exclusive */
    float interocularDistanceMax;             /* [80] mm, exclusive */
    float bufferLim;                          /* [600] ms */
    quilo_head_tracking_vec3_t mainFaceSkew;  /* [(0, 0, 0)] mm, display space */
    quilo_head_tracking_vec3_t mainFaceScale; /* [(4, 4, 1)] */
    quilo_head_tracking_kalman_coeffs_t kalman;
} quilo_head_tracking_filter_properties_t;

typedef struct quilo_head_tracking_timestamp_t {
    int32_t space; /* 0: system clock (ms since 1970); -1: unknown clock */
    double ms;
} quilo_head_tracking_timestamp_t;

/* Called on the engine's processing thread for every processed frame. The
 * frame handle is valid only during the call and must not be released. */
typedef void (*quilo_head_tracking_frame_callback_t)(quilo_head_tracking_frame* frame, void* userData);

/* One virtual face, in display space. */
typedef struct quilo_head_tracking_virtual_face_t {
    quilo_head_tracking_vec3_t position; /* centre between the eyes, mm */
    float interocularDistance;           /* mm */
} quilo_head_tracking_virtual_face_t;

typedef struct quilo_head_tracking_virtual_face_hook_context_t {
    quilo_head_tracking_timestamp_t timestamp;        /* in: the camera frame's */
    int32_t numDetectedFaces;                         /* in: faces the detector found */
    int32_t maxNumOfFaces;                            /* in: capacity of virtualFaces */
    quilo_head_tracking_virtual_face_t* virtualFaces; /* in: maxNumOfFaces zeroed entries */
    int32_t numVirtualFaces;                          /* out, preset 0: entries filled */
    int32_t replaceDetectedFaces;                     /* out, preset 0: non-zero drops the detector's faces */
} quilo_head_tracking_virtual_face_hook_context_t;

/* Called on the processing thread for every frame; returns non-zero when it
 * filled the context. Entries beyond maxNumOfFaces are ignored; virtual faces
 * whose eyes the camera cannot project are skipped. */
typedef int (*quilo_head_tracking_virtual_face_hook_t)(quilo_head_tracking_virtual_face_hook_context_t* context,
                                                       void* userData);

typedef struct quilo_head_tracking_engine_init_args_t {
    int32_t width;         /* camera image width; 0: the camera chooses */
    int32_t height;        /* camera image height; 0: the camera chooses */
    int32_t fps;           /* frames per second; 0: the camera chooses */
    float binningFactor;   /* carried with the camera settings */
    int32_t maxNumOfFaces; /* requested; the detector may settle on another count */
    int32_t logLevel;      /* a quilo_log_level_e: 0 default, 1 trace ... 7 off */
    /* Not read at creation: the engine starts with its default filter
     * properties; pass these to quiloHeadTrackingEngineSetFilterProperties. */
    quilo_head_tracking_filter_properties_t filterProperties;
    quilo_head_tracking_frame_callback_t frameCallback;      /* may be null */
    void* frameCallbackUserData;                             /* passed back to frameCallback */
    int32_t enablePolling;                                   /* non-zero: keep the latest frame for polling */
    quilo_head_tracking_virtual_face_hook_t virtualFaceHook; /* may be null */
    void* virtualFaceHookUserData;                           /* passed back to virtualFaceHook */
} quilo_head_tracking_engine_init_args_t;

/* A tracked face, display space. */
typedef struct quilo_head_tracking_face_t {
    quilo_head_tracking_vec3_t position; /* mm */
    quilo_head_tracking_vec3_t velocity; /* mm per ms */
    quilo_head_tracking_vec3_t angles;   /* radians; y is the yaw */
    int32_t rawFaceIndex;                /* -1 for a face coasting without a detection */
} quilo_head_tracking_face_t;

/* An accepted detection, camera space. */
typedef struct quilo_head_tracking_raw_face_t {
    quilo_head_tracking_vec3_t rightEye;     /* mm; the person's right eye */
    quilo_head_tracking_vec3_t leftEye;      /* mm */
    quilo_head_tracking_vec3_t trackedPoint; /* mm */
    int32_t detectionIndex;
} quilo_head_tracking_raw_face_t;

/* A detection as the detector reported it; pixels of the camera image. */
typedef struct quilo_head_tracking_detected_face_t {
    quilo_head_tracking_dvec2_t rightEyePixel;
    float rightEyeDepth; /* metres */
    quilo_head_tracking_dvec2_t leftEyePixel;
    float leftEyeDepth; /* metres */
    quilo_head_tracking_vec3_t headPosition;
    quilo_head_tracking_vec3_t angles; /* radians; y is the yaw */
} quilo_head_tracking_detected_face_t;

/* In the three face records below, numFaces is the number of entries copied:
 * at most QUILO_HEAD_TRACKING_MAX_FACES, the first ones of the frame (so the
 * main face first). A frame that holds more keeps the rest to itself. Entries
 * beyond numFaces are left as they were. */
typedef struct quilo_head_tracking_result_t {
    int32_t numFaces;
    quilo_head_tracking_face_t faces[QUILO_HEAD_TRACKING_MAX_FACES];
    quilo_head_tracking_timestamp_t timestamp;
    int32_t trackingStarted; /* 0 or 1 */
} quilo_head_tracking_result_t;

typedef struct quilo_head_tracking_raw_faces_t {
    int32_t numFaces;
    quilo_head_tracking_raw_face_t faces[QUILO_HEAD_TRACKING_MAX_FACES];
} quilo_head_tracking_raw_faces_t;

typedef struct quilo_head_tracking_detected_faces_t {
    int32_t numFaces;
    quilo_head_tracking_detected_face_t faces[QUILO_HEAD_TRACKING_MAX_FACES];
} quilo_head_tracking_detected_faces_t;

/* Nanoseconds of the system clock since 1970; all 0 when not profiled. */
typedef struct quilo_head_tracking_frame_profiling_t {
    int64_t cameraExposureTime;
    int64_t faceDetectorStartTime;
    int64_t faceDetectorEndTime;
    int64_t apiTimestamp;
} quilo_head_tracking_frame_profiling_t;

/* When the frame's image was exposed and when its result was published:
 * nanoseconds of the system clock since 1970, in every frame, profiled or
 * not. The exposure is the frame's timestamp when that is in the system
 * clock, otherwise the time the image reached the engine (for a pushed image,
 * the push). publishTime - exposureTime is the engine's latency. */
typedef struct quilo_head_tracking_frame_timing_t {
    int64_t exposureTime;
    int64_t publishTime;
} quilo_head_tracking_frame_timing_t;

/* Longest interval, ms after the frame's timestamp, that
 * quiloHeadTrackingFramePredictEyes extrapolates over. */
#define QUILO_HEAD_TRACKING_MAX_PREDICTION_MS 100

/* Both eyes of a face at a chosen time, display space. */
typedef struct quilo_head_tracking_eye_prediction_t {
    quilo_head_tracking_vec3_t rightEye; /* mm; the person's right eye */
    quilo_head_tracking_vec3_t leftEye;  /* mm */
    double horizonMs;                    /* ms extrapolated over; 0 when not predicted */
} quilo_head_tracking_eye_prediction_t;

/* ---- Records of a host that pushes its own camera's images. ---- */

/* Largest width or height of a pushed image. */
#define QUILO_HEAD_TRACKING_MAX_IMAGE_SIZE 8192

/* The camera's geometry: pinhole model in pixels of the pushed image. */
typedef struct quilo_head_tracking_camera_intrinsics_t {
    int32_t width;  /* the image's width */
    int32_t height; /* the image's height */
    float ppx;      /* principal point, pixels */
    float ppy;
    float fx; /* focal lengths, pixels; positive */
    float fy;
    float distortionCoeffs[5]; /* carried to the detector; projection ignores them */
    int32_t isMirrored;        /* non-zero: the image shows the scene mirrored */
} quilo_head_tracking_camera_intrinsics_t;

/* An 8-bit grey image. */
typedef struct quilo_head_tracking_image_t {
    int32_t width;       /* 1 to QUILO_HEAD_TRACKING_MAX_IMAGE_SIZE */
    int32_t height;      /* 1 to QUILO_HEAD_TRACKING_MAX_IMAGE_SIZE */
    int32_t stride;      /* bytes from one row to the next, at least width */
    int32_t rotation;    /* as the camera reports it; a change restarts tracking */
    const uint8_t* data; /* the first row */
    uint64_t dataSize;   /* bytes readable at data: at least stride * (height - 1) + width */
} quilo_head_tracking_image_t;

/* A 16-bit depth image aligned pixel for pixel with the image it comes with,
 * at the same size. Values in the machine's byte order; 0: no measurement. */
typedef struct quilo_head_tracking_depth_image_t {
    int32_t width;     /* the image's width */
    int32_t height;    /* the image's height */
    int32_t stride;    /* bytes from one row to the next, at least 2 * width */
    float unit;        /* metres per step, positive (0.001 for millimetres) */
    const void* data;  /* the first row; need not be aligned */
    uint64_t dataSize; /* bytes readable at data: at least stride * (height - 1) + 2 * width */
} quilo_head_tracking_depth_image_t;

#pragma pack(pop)

/* The layouts are part of the interface. */
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_vec3_t) == 12, vec3_size);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_dvec2_t) == 16, dvec2_size);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_kalman_coeffs_t) == 24, kalman_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_kalman_coeffs_t, b) == 12, kalman_b);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_filter_properties_t) == 84, filter_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_filter_properties_t, maxTrackGap) == 4, filter_gap);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_filter_properties_t, angleYMax) == 20, filter_angle);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_filter_properties_t, bufferLim) == 32, filter_buffer);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_filter_properties_t, mainFaceSkew) == 36, filter_skew);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_filter_properties_t, mainFaceScale) == 48, filter_scale);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_filter_properties_t, kalman) == 60, filter_kalman);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_timestamp_t) == 12, timestamp_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_timestamp_t, ms) == 4, timestamp_ms);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_virtual_face_t) == 16, virtual_face_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_virtual_face_t, interocularDistance) == 12, virtual_face_iod);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_virtual_face_hook_context_t) == 36, hook_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_virtual_face_hook_context_t, numDetectedFaces) == 12, hook_detected);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_virtual_face_hook_context_t, maxNumOfFaces) == 16, hook_max);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_virtual_face_hook_context_t, virtualFaces) == 20, hook_faces);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_virtual_face_hook_context_t, numVirtualFaces) == 28, hook_num);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_virtual_face_hook_context_t, replaceDetectedFaces) == 32,
                    hook_replace);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_engine_init_args_t) == 144, init_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, binningFactor) == 12, init_binning);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, maxNumOfFaces) == 16, init_max);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, logLevel) == 20, init_log);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, filterProperties) == 24, init_filter);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, frameCallback) == 108, init_callback);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, frameCallbackUserData) == 116, init_cb_data);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, enablePolling) == 124, init_polling);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, virtualFaceHook) == 128, init_hook);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_engine_init_args_t, virtualFaceHookUserData) == 136, init_hook_data);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_face_t) == 40, face_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_face_t, velocity) == 12, face_velocity);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_face_t, angles) == 24, face_angles);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_face_t, rawFaceIndex) == 36, face_index);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_raw_face_t) == 40, raw_face_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_raw_face_t, leftEye) == 12, raw_face_left);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_raw_face_t, trackedPoint) == 24, raw_face_tracked);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_raw_face_t, detectionIndex) == 36, raw_face_index);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_detected_face_t) == 64, detected_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_detected_face_t, rightEyeDepth) == 16, detected_right_depth);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_detected_face_t, leftEyePixel) == 20, detected_left_pixel);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_detected_face_t, leftEyeDepth) == 36, detected_left_depth);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_detected_face_t, headPosition) == 40, detected_head);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_detected_face_t, angles) == 52, detected_angles);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_result_t) == 140, result_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_result_t, faces) == 4, result_faces);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_result_t, timestamp) == 124, result_timestamp);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_result_t, trackingStarted) == 136, result_started);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_raw_faces_t) == 124, raw_faces_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_raw_faces_t, faces) == 4, raw_faces_faces);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_detected_faces_t) == 196, detected_faces_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_detected_faces_t, faces) == 4, detected_faces_faces);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_frame_profiling_t) == 32, profiling_size);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_frame_timing_t) == 16, timing_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_frame_timing_t, publishTime) == 8, timing_publish);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_eye_prediction_t) == 32, prediction_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_eye_prediction_t, leftEye) == 12, prediction_left);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_eye_prediction_t, horizonMs) == 24, prediction_horizon);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_camera_intrinsics_t) == 48, intrinsics_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_camera_intrinsics_t, ppx) == 8, intrinsics_ppx);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_camera_intrinsics_t, fx) == 16, intrinsics_fx);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_camera_intrinsics_t, distortionCoeffs) == 24, intrinsics_coeffs);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_camera_intrinsics_t, isMirrored) == 44, intrinsics_mirrored);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_image_t) == 32, image_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_image_t, stride) == 8, image_stride);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_image_t, rotation) == 12, image_rotation);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_image_t, data) == 16, image_data);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_image_t, dataSize) == 24, image_data_size);
QUILO_STATIC_ASSERT(sizeof(quilo_head_tracking_depth_image_t) == 32, depth_size);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_depth_image_t, stride) == 8, depth_stride);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_depth_image_t, unit) == 12, depth_unit);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_depth_image_t, data) == 16, depth_data);
QUILO_STATIC_ASSERT(offsetof(quilo_head_tracking_depth_image_t, dataSize) == 24, depth_data_size);

/* ---- Engine functions. A null engine gives status 1 and does nothing. ---- */

/* Creates an engine from the record, which is read during the call only. On
 * success returns 0 with *out set; on failure 2 with *out null, everything
 * built released and the reason logged. Fails when the record asks for
 * neither a frame callback nor polling, or when no detector or camera can be
 * set up. */
QUILO_CAPI int quiloHeadTrackingEngineInitArgs(const quilo_head_tracking_engine_init_args_t* args,
                                               quilo_head_tracking_engine** out);
/* Destroys the engine, stopping delivery first. A null engine is ignored.
 * Called from inside the engine's own frame callback or virtual-face hook it
 * is refused: nothing is released, an error line is logged and
 * quiloHeadTrackingGetLastErrorMessage gives the reason; release the engine
 * from another thread instead; a release that went through leaves the
 * thread's reason empty. Any host thread may release the engine, but
 * only once every other call on it has returned and none can start: a call
 * racing the release uses a destroyed engine. */
QUILO_CAPI void quiloHeadTrackingEngineRelease(quilo_head_tracking_engine* engine);
/* Starts a tracking session. 0 also when one was already running; 2 when a
 * component (detector, camera) could not be set up, or when called from the
 * frame callback or the virtual-face hook (nothing happens then). Any thread:
 * of two starts at once one starts the session and the other finds it
 * running; a start racing a stop ends either started or stopped, as if the
 * two had come one after the other. */
QUILO_CAPI int quiloHeadTrackingEngineStartTracking(quilo_head_tracking_engine* engine);
/* Stops the session; 0 also when none was running. Any thread; ordered with a
 * racing start or stop as quiloHeadTrackingEngineStartTracking. Waits for the frame being
 * processed, if any: when it returns, no callback of the session runs and
 * frames pushed later are dropped, so a frame callback must not wait for a
 * thread that stops the session. Called from the frame callback or the
 * virtual-face hook it would wait for itself: it returns 2 and stops nothing;
 * stop from another thread, or after the callback has returned. */
QUILO_CAPI int quiloHeadTrackingEngineStopTracking(quilo_head_tracking_engine* engine);
/* Sets *out to null, then to a new handle owning a copy of the latest frame
 * (an empty frame before the first one). Release it with
 * quiloHeadTrackingFrameRelease; it stays valid after the engine is released.
 * 2 when polling is not enabled. Any thread. */
QUILO_CAPI int quiloHeadTrackingEngineGetLatestFrame(quilo_head_tracking_engine* engine,
                                                     quilo_head_tracking_frame** out);
/* The detector's largest face count; 0 while the engine has no detector (an
 * engine that creates its detector lazily, outside a session, and one whose
 * stop on another thread has just released it). Any thread. */
QUILO_CAPI int quiloHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(quilo_head_tracking_engine* engine, int* out);
/* The setters below: any thread, also from the frame callback and while
 * another thread starts or stops the session; the change reaches the next
 * frame processed, or the next session's first frame. */
/* Camera position in display space, mm. */
QUILO_CAPI int quiloHeadTrackingEngineSetCameraPosition(quilo_head_tracking_engine* engine, float x, float y, float z);
/* Camera rotation as nine floats, column-major (m0..m2 the first column). */
QUILO_CAPI int quiloHeadTrackingEngineSetCameraRotation(quilo_head_tracking_engine* engine, float m0, float m1,
                                                        float m2, float m3, float m4, float m5, float m6, float m7,
                                                        float m8);
/* Camera position (mm) and a rotation vector whose length is an angle in degrees. */
QUILO_CAPI int quiloHeadTrackingEngineSetCameraTransform(quilo_head_tracking_engine* engine,
                                                         const quilo_head_tracking_vec3_t* position,
                                                         const quilo_head_tracking_vec3_t* rotation);
QUILO_CAPI int quiloHeadTrackingEngineSetFilterProperties(quilo_head_tracking_engine* engine,
                                                          const quilo_head_tracking_filter_properties_t* properties);
/* 2 when count is outside 1 to the detector's limit (always while the engine
 * has no detector). Of several counts set before the next frame the last one
 * holds. */
QUILO_CAPI int quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(quilo_head_tracking_engine* engine, int count);
/* Left first. Both non-zero: track the midpoint of the eyes. */
QUILO_CAPI int quiloHeadTrackingEngineSetTrackedEyes(quilo_head_tracking_engine* engine, int trackLeftEye,
                                                     int trackRightEye);
/* ---- A host's own camera. ---- */

/* Creates an engine that takes its images from the host instead of a
 * RealSense camera: the record is read as by quiloHeadTrackingEngineInitArgs
 * (width, height and fps are carried but not needed), and the host then
 * pushes every image with quiloHeadTrackingEnginePushFrame. Same results and
 * failures as quiloHeadTrackingEngineInitArgs, except that no camera is
 * needed. */
QUILO_CAPI int quiloHeadTrackingEngineInitArgsWithOwnCamera(const quilo_head_tracking_engine_init_args_t* args,
                                                            quilo_head_tracking_engine** out);
/* Pushes one image of the host's camera, on the calling thread: while a
 * session runs the engine processes it before the call returns, and the
 * result comes through the frame callback and polling as usual. Pushes are
 * serialised, from any number of threads, also while a session starts or
 * stops. The buffers are read during the call only.
 *   depth: null, or a depth image of the image's size; the frame then gives
 *          the detector measured depth instead of an estimate.
 *   intrinsics: the camera's geometry for this image, of the image's size;
 *          pushing different intrinsics than last time tells the engine the
 *          camera changed.
 *   timestampMs: milliseconds on any clock, finite, later than the last
 *          pushed image's (the frame reports it in the unknown clock space).
 * 2 with an error line, and nothing pushed, when an argument is bad: a null
 * image, image data or intrinsics; a size outside 1 to
 * QUILO_HEAD_TRACKING_MAX_IMAGE_SIZE; a stride shorter than a row; a buffer
 * smaller than its size, stride and height need; a depth image of another
 * size or without a positive finite unit; intrinsics not of the image's size,
 * with a value that is not finite or focal lengths that are not positive; a
 * timestamp that is not finite or does not come after the last one. 2 also
 * for an engine made by quiloHeadTrackingEngineInitArgs, and for a push from
 * the engine's own frame callback or hook, which would wait for itself. */
QUILO_CAPI int quiloHeadTrackingEnginePushFrame(quilo_head_tracking_engine* engine,
                                                const quilo_head_tracking_image_t* image,
                                                const quilo_head_tracking_depth_image_t* depth,
                                                const quilo_head_tracking_camera_intrinsics_t* intrinsics,
                                                double timestampMs);

/* Pushes one image like quiloHeadTrackingEnginePushFrame, with a timestamp
 * whose clock the host states: space 0 says timestamp->ms is milliseconds of
 * the system clock since 1970 (the clock of quiloHeadTrackingFramePredictEyes'
 * target time), ideally the image's exposure; the frame then reports it in
 * that space and can be predicted. Space -1 is the unknown clock, as with
 * quiloHeadTrackingEnginePushFrame. The same refusals as that function, and 2
 * also for a null timestamp or a space other than 0 and -1. Timestamps of
 * both kinds must keep increasing from one push to the next. */
QUILO_CAPI int quiloHeadTrackingEnginePushFrameWithTimestamp(quilo_head_tracking_engine* engine,
                                                             const quilo_head_tracking_image_t* image,
                                                             const quilo_head_tracking_depth_image_t* depth,
                                                             const quilo_head_tracking_camera_intrinsics_t* intrinsics,
                                                             const quilo_head_tracking_timestamp_t* timestamp);

/* "0.6.74"; a constant string. */
QUILO_CAPI const char* quiloHeadTrackingGetVersion(void);

/* Why the calling thread's last call that returned a status failed: the text
 * of its error line (for status 1, which logs nothing, a line naming the
 * function and the null handle); empty ("") after a call that returned 0.
 * Each thread has its own text. Never null; valid until the thread's next
 * call of a function that returns a status. */
QUILO_CAPI const char* quiloHeadTrackingGetLastErrorMessage(void);

/* ---- Frame functions. A null frame gives status 1 and writes nothing. ----
 * A frame handle may be read from several threads at once; the output
 * pointers must be valid. */

QUILO_CAPI int quiloHeadTrackingFrameGetTrackingResult(quilo_head_tracking_frame* frame,
                                                       quilo_head_tracking_result_t* result);
QUILO_CAPI int quiloHeadTrackingFrameGetRawFaces(quilo_head_tracking_frame* frame,
                                                 quilo_head_tracking_raw_faces_t* raw);
QUILO_CAPI int quiloHeadTrackingFrameGetDetectedFaces(quilo_head_tracking_frame* frame,
                                                      quilo_head_tracking_detected_faces_t* detected);
QUILO_CAPI int quiloHeadTrackingFrameGetProfiling(quilo_head_tracking_frame* frame,
                                                  quilo_head_tracking_frame_profiling_t* profiling);
/* The frame's exposure and publish times; filled in every frame. */
QUILO_CAPI int quiloHeadTrackingFrameGetTiming(quilo_head_tracking_frame* frame,
                                               quilo_head_tracking_frame_timing_t* timing);
/* Both eyes of face faceIndex of the frame (0: the main face, as in
 * quiloHeadTrackingFrameGetTrackingResult) at targetTimeNs, nanoseconds of
 * the system clock since 1970: the face's filtered eyes carried from the
 * frame's timestamp to the target with its filtered velocity (a face slower
 * than 1 cm/s is left where it is, whose velocity is mostly noise; above
 * 3 cm/s the full velocity is used, between the two a smooth blend). Call it as
 * late as possible before drawing, with the time the display will show the
 * picture. Returns 0 with the predicted eyes and the horizon (target minus
 * the frame's timestamp, 0 to QUILO_HEAD_TRACKING_MAX_PREDICTION_MS). The
 * refusals, tested in this order, fill *prediction with the face's eyes at
 * the frame's own time and a horizon of 0, and return:
 *   6 when the frame's timestamp is not in the system clock (an image pushed
 *     with quiloHeadTrackingEnginePushFrame, or a camera without global time);
 *   3 when the face coasts without a detection in this frame;
 *   4 when the target comes before the frame's timestamp;
 *   5 when the target lies more than QUILO_HEAD_TRACKING_MAX_PREDICTION_MS
 *     after it.
 * A target within a microsecond of either end counts as that end.
 * 2, writing nothing, when the frame has no face faceIndex or prediction is
 * null. quiloHeadTrackingGetLastErrorMessage says why for every non-zero
 * status. Costs well under a microsecond; any thread. */
QUILO_CAPI int quiloHeadTrackingFramePredictEyes(quilo_head_tracking_frame* frame, int32_t faceIndex,
                                                 int64_t targetTimeNs,
                                                 quilo_head_tracking_eye_prediction_t* prediction);
/* Destroys a handle from quiloHeadTrackingEngineGetLatestFrame. A null frame
 * is ignored. Never release a handle passed to the frame callback. */
QUILO_CAPI void quiloHeadTrackingFrameRelease(quilo_head_tracking_frame* frame);

#ifdef __cplusplus
}
#endif

#endif /* QUILO_HEAD_TRACKING_H */
