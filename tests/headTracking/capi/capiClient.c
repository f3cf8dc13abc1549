/* A client of the C interface written in plain C: the header must compile as
 * C99, and its records and handles must be usable by their bare names. */
#include "headTracking/capi/quiloHeadTracking.h"

#include <string.h>

int quiloTestCClientNullHandles(void) {
    quilo_head_tracking_engine* engine = NULL;
    quilo_head_tracking_frame* frame = NULL;
    quilo_head_tracking_result_t result;
    quilo_head_tracking_raw_faces_t raw;
    quilo_head_tracking_detected_faces_t detected;
    quilo_head_tracking_frame_profiling_t profiling;
    quilo_head_tracking_frame_timing_t timing;
    quilo_head_tracking_eye_prediction_t prediction;
    quilo_head_tracking_timestamp_t stamp = {0, 1.0};
    quilo_head_tracking_vec3_t zero = {0.0f, 0.0f, 0.0f};
    quilo_head_tracking_filter_properties_t properties;
    int limit = -5;
    int failures = 0;

    memset(&properties, 0, sizeof properties);
    memset(&result, 0x5a, sizeof result);
    failures += quiloHeadTrackingEngineStartTracking(engine) != kQuiloHeadTrackingStatusErrorInvalidInstance;
    failures += quiloHeadTrackingEngineStopTracking(engine) != 1;
    failures += quiloHeadTrackingEngineGetLatestFrame(engine, &frame) != 1;
    failures += quiloHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(engine, &limit) != 1 || limit != -5;
    failures += quiloHeadTrackingEngineSetCameraPosition(engine, 1.0f, 2.0f, 3.0f) != 1;
    failures += quiloHeadTrackingEngineSetCameraRotation(engine, 1, 0, 0, 0, 1, 0, 0, 0, 1) != 1;
    failures += quiloHeadTrackingEngineSetCameraTransform(engine, &zero, &zero) != 1;
    failures += quiloHeadTrackingEngineSetFilterProperties(engine, &properties) != 1;
    failures += quiloHeadTrackingEngineSetMaxNumOfDetectedFaces(engine, 1) != 1;
    failures += quiloHeadTrackingEngineSetTrackedEyes(engine, 1, 1) != 1;
    failures += strcmp(quiloHeadTrackingGetLastErrorMessage(),
                       "quiloHeadTrackingEngineSetTrackedEyes: the engine is null") != 0;
    failures += quiloHeadTrackingFrameGetTrackingResult(frame, &result) != 1 || result.numFaces != 0x5a5a5a5a;
    failures += quiloHeadTrackingFrameGetRawFaces(frame, &raw) != 1;
    failures += quiloHeadTrackingFrameGetDetectedFaces(frame, &detected) != 1;
    failures += quiloHeadTrackingFrameGetProfiling(frame, &profiling) != 1;
    failures += quiloHeadTrackingFrameGetTiming(frame, &timing) != 1;
    prediction.horizonMs = -7.0;
    failures += quiloHeadTrackingFramePredictEyes(frame, 0, 0, &prediction) != 1 || prediction.horizonMs != -7.0;
    failures += quiloHeadTrackingEnginePushFrameWithTimestamp(engine, NULL, NULL, NULL, &stamp) != 1;
    failures += kQuiloHeadTrackingStatusPredictionUnknownClock != 6 || QUILO_HEAD_TRACKING_MAX_PREDICTION_MS != 100;
    quiloHeadTrackingEngineRelease(engine);
    quiloHeadTrackingFrameRelease(frame);
    failures += strcmp(quiloHeadTrackingGetVersion(), "0.6.74") != 0;
    return failures;
}

/* Every pointer argument other than the handle, null in turn, on a live
 * engine and frame: each call answers status 2 and touches nothing. Returns
 * the number of calls that answered otherwise. */
int quiloTestCClientNullArguments(const quilo_head_tracking_engine_init_args_t* args) {
    quilo_head_tracking_engine* engine = NULL;
    quilo_head_tracking_engine* untouched = (quilo_head_tracking_engine*)&engine;
    quilo_head_tracking_frame* frame = NULL;
    quilo_head_tracking_vec3_t zero = {0.0f, 0.0f, 0.0f};
    int failures = 0;

    failures +=
        quiloHeadTrackingEngineInitArgs(NULL, &untouched) != kQuiloHeadTrackingStatusErrorUnknown || untouched != NULL;
    failures += quiloHeadTrackingEngineInitArgs(args, NULL) != 2;
    if (quiloHeadTrackingEngineInitArgs(args, &engine) != 0) return failures + 100;

    failures += quiloHeadTrackingEngineGetLatestFrame(engine, NULL) != 2;
    failures += quiloHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(engine, NULL) != 2;
    failures += quiloHeadTrackingEngineSetCameraTransform(engine, NULL, &zero) != 2;
    failures += quiloHeadTrackingEngineSetCameraTransform(engine, &zero, NULL) != 2;
    failures += quiloHeadTrackingEngineSetFilterProperties(engine, NULL) != 2;

    /* With polling on, a frame handle exists from creation on (empty until
     * the first frame arrives). */
    if (quiloHeadTrackingEngineGetLatestFrame(engine, &frame) == 0) {
        failures += quiloHeadTrackingFrameGetTrackingResult(frame, NULL) != 2;
        failures += quiloHeadTrackingFrameGetRawFaces(frame, NULL) != 2;
        failures += quiloHeadTrackingFrameGetDetectedFaces(frame, NULL) != 2;
        failures += quiloHeadTrackingFrameGetProfiling(frame, NULL) != 2;
        quiloHeadTrackingFrameRelease(frame);
    } else {
        failures += 1000;
    }
    quiloHeadTrackingEngineRelease(engine);
    return failures;
}

/* The functions of a host's own camera, in C: null handles give 1, null
 * arguments 2, and a failed creation leaves *out null. Returns the number of
 * calls that answered otherwise. */
int quiloTestCClientOwnCamera(void) {
    quilo_head_tracking_engine* engine = NULL;
    quilo_head_tracking_engine* untouched = (quilo_head_tracking_engine*)&engine;
    quilo_head_tracking_engine_init_args_t args;
    quilo_head_tracking_image_t image;
    quilo_head_tracking_camera_intrinsics_t intrinsics;
    unsigned char pixels[16];
    int failures = 0;

    memset(&args, 0, sizeof args);
    memset(&intrinsics, 0, sizeof intrinsics);
    memset(pixels, 0, sizeof pixels);
    image.width = 4;
    image.height = 4;
    image.stride = 4;
    image.rotation = 0;
    image.data = pixels;
    image.dataSize = sizeof pixels;
    intrinsics.width = 4;
    intrinsics.height = 4;
    intrinsics.fx = intrinsics.fy = 4.0f;

    failures += quiloHeadTrackingEnginePushFrame(NULL, &image, NULL, &intrinsics, 0.0) != 1;
    failures += quiloHeadTrackingEngineInitArgsWithOwnCamera(NULL, &untouched) != 2 || untouched != NULL;
    failures += quiloHeadTrackingEngineInitArgsWithOwnCamera(&args, NULL) != 2;
    /* Neither callback nor polling. */
    failures += quiloHeadTrackingEngineInitArgsWithOwnCamera(&args, &engine) != 2 || engine != NULL;

    args.enablePolling = 1;
    args.maxNumOfFaces = 1;
    if (quiloHeadTrackingEngineInitArgsWithOwnCamera(&args, &engine) != 0) return failures + 100;
    failures += quiloHeadTrackingEnginePushFrame(engine, NULL, NULL, &intrinsics, 0.0) != 2;
    failures += quiloHeadTrackingEnginePushFrame(engine, &image, NULL, NULL, 0.0) != 2;
    failures += quiloHeadTrackingEnginePushFrame(engine, &image, NULL, &intrinsics, 0.0) != 0;
    quiloHeadTrackingEngineRelease(engine);
    return failures;
}
