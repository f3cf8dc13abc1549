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
