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
    failures += quiloHeadTrackingFrameGetTrackingResult(frame, &result) != 1 || result.numFaces != 0x5a5a5a5a;
    failures += quiloHeadTrackingFrameGetRawFaces(frame, &raw) != 1;
    failures += quiloHeadTrackingFrameGetDetectedFaces(frame, &detected) != 1;
    failures += quiloHeadTrackingFrameGetProfiling(frame, &profiling) != 1;
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

    failures += quiloHeadTrackingEngineInitArgs(NULL, &untouched) != kQuiloHeadTrackingStatusErrorUnknown ||
                untouched != NULL;
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
