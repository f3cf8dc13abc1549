/* A host with its own camera, in C: reads a recorded sequence folder (its
 * sequence.json and images, and depth images where the sequence has them),
 * pushes every frame into the engine and prints each frame's main face.
 *
 *   quiloPushSequence <sequence folder>
 *
 * The manifest is read just enough for this: the intrinsics' six numbers,
 * the depth unit, and each frame's "image", "depth" and "timestamp". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <stb_image.h>

#include "headTracking/capi/quiloHeadTracking.h"

static char* ReadText(const char* path) {
    FILE* file = fopen(path, "rb");
    char* text = NULL;
    long size = 0;
    if (file == NULL) return NULL;
    if (fseek(file, 0, SEEK_END) == 0 && (size = ftell(file)) >= 0 && fseek(file, 0, SEEK_SET) == 0) {
        text = (char*)malloc((size_t)size + 1);
        if (text != NULL && fread(text, 1, (size_t)size, file) == (size_t)size) {
            text[size] = '\0';
        } else {
            free(text);
            text = NULL;
        }
    }
    fclose(file);
    return text;
}

/* The number after "key": in [begin, end), or `fallback`. */
static double Number(const char* begin, const char* end, const char* key, double fallback) {
    char quoted[64];
    const char* at;
    snprintf(quoted, sizeof quoted, "\"%s\"", key);
    at = strstr(begin, quoted);
    if (at == NULL || at >= end) return fallback;
    at = strchr(at + strlen(quoted), ':');
    return at != NULL && at < end ? strtod(at + 1, NULL) : fallback;
}

/* Copies the text after "key": in [begin, end) into `out`; 0 when absent. */
static int Text(const char* begin, const char* end, const char* key, char* out, size_t size) {
    char quoted[64];
    const char* at;
    const char* close;
    snprintf(quoted, sizeof quoted, "\"%s\"", key);
    at = strstr(begin, quoted);
    if (at == NULL || at >= end) return 0;
    at = strchr(at + strlen(quoted), '"');
    if (at == NULL || at >= end) return 0;
    close = strchr(at + 1, '"');
    if (close == NULL || close >= end || (size_t)(close - at - 1) >= size) return 0;
    memcpy(out, at + 1, (size_t)(close - at - 1));
    out[close - at - 1] = '\0';
    return 1;
}

/* The end of the JSON object that opens at `open` ('{'); strings hold no braces here. */
static const char* ObjectEnd(const char* open) {
    int depth = 0;
    for (; *open != '\0'; ++open) {
        if (*open == '{') ++depth;
        if (*open == '}' && --depth == 0) return open + 1;
    }
    return NULL;
}

int main(int argc, char** argv) {
    char path[4096], name[1024];
    char* manifest;
    const char* intrinsicsAt;
    const char* intrinsicsEnd;
    const char* at;
    quilo_head_tracking_engine_init_args_t args;
    quilo_head_tracking_engine* engine = NULL;
    quilo_head_tracking_camera_intrinsics_t intrinsics;
    double depthUnit;
    int frame = 0, failures = 0;

    if (argc != 2) {
        fprintf(stderr, "usage: %s <sequence folder>\n", argv[0]);
        return 2;
    }
    snprintf(path, sizeof path, "%s/sequence.json", argv[1]);
    manifest = ReadText(path);
    intrinsicsAt = manifest != NULL ? strstr(manifest, "\"intrinsics\"") : NULL;
    at = manifest != NULL ? strstr(manifest, "\"frames\"") : NULL;
    if (intrinsicsAt == NULL || at == NULL) {
        fprintf(stderr, "%s: not a sequence manifest\n", path);
        free(manifest);
        return 1;
    }
    intrinsicsEnd = strchr(intrinsicsAt, '{') != NULL ? ObjectEnd(strchr(intrinsicsAt, '{')) : NULL;
    if (intrinsicsEnd == NULL) intrinsicsEnd = intrinsicsAt;
    memset(&intrinsics, 0, sizeof intrinsics);
    intrinsics.width = (int32_t)Number(intrinsicsAt, intrinsicsEnd, "width", 0);
    intrinsics.height = (int32_t)Number(intrinsicsAt, intrinsicsEnd, "height", 0);
    intrinsics.fx = (float)Number(intrinsicsAt, intrinsicsEnd, "fx", 0);
    intrinsics.fy = (float)Number(intrinsicsAt, intrinsicsEnd, "fy", 0);
    intrinsics.ppx = (float)Number(intrinsicsAt, intrinsicsEnd, "ppx", 0);
    intrinsics.ppy = (float)Number(intrinsicsAt, intrinsicsEnd, "ppy", 0);
    depthUnit = Number(manifest, manifest + strlen(manifest), "depthUnit", 0.001);

    memset(&args, 0, sizeof args);
    args.maxNumOfFaces = 1;
    args.logLevel = 4; /* warnings and errors */
    args.enablePolling = 1;
    if (quiloHeadTrackingEngineInitArgsWithOwnCamera(&args, &engine) != 0 ||
        quiloHeadTrackingEngineStartTracking(engine) != 0) {
        fprintf(stderr, "the engine could not be created or started: %s\n", quiloHeadTrackingGetLastErrorMessage());
        quiloHeadTrackingEngineRelease(engine);
        free(manifest);
        return 1;
    }

    /* Each frame object of the "frames" list in turn. */
    for (at = strchr(at, '['); at != NULL && (at = strchr(at, '{')) != NULL; ++frame) {
        const char* end = ObjectEnd(at);
        double timestampMs = Number(at, end, "timestamp", 0.0);
        int width = 0, height = 0, channels = 0, status;
        unsigned char* pixels;
        stbi_us* depthValues = NULL;
        quilo_head_tracking_image_t image;
        quilo_head_tracking_depth_image_t depth;
        quilo_head_tracking_frame* result = NULL;
        quilo_head_tracking_result_t tracking;

        if (end == NULL || !Text(at, end, "image", name, sizeof name)) break;
        snprintf(path, sizeof path, "%s/%s", argv[1], name);
        pixels = stbi_load(path, &width, &height, &channels, 1);
        if (pixels == NULL) {
            fprintf(stderr, "%s: cannot be read (%s)\n", path, stbi_failure_reason());
            ++failures;
            at = end;
            continue;
        }
        image.width = width;
        image.height = height;
        image.stride = width;
        image.rotation = 0;
        image.data = pixels;
        image.dataSize = (uint64_t)width * (uint64_t)height;
        if (Text(at, end, "depth", name, sizeof name)) {
            int depthWidth = 0, depthHeight = 0;
            snprintf(path, sizeof path, "%s/%s", argv[1], name);
            depthValues = stbi_load_16(path, &depthWidth, &depthHeight, &channels, 1);
            depth.width = depthWidth;
            depth.height = depthHeight;
            depth.stride = 2 * depthWidth;
            depth.unit = (float)depthUnit;
            depth.data = depthValues;
            depth.dataSize = 2 * (uint64_t)depthWidth * (uint64_t)depthHeight;
        }

        /* The engine checks everything; a bad frame is refused with status 2. */
        status = quiloHeadTrackingEnginePushFrame(engine, &image, depthValues != NULL ? &depth : NULL, &intrinsics,
                                                  timestampMs);
        if (status != 0) {
            /* The engine says why, on this thread, until its next call. */
            fprintf(stderr, "frame %d: the push failed with status %d: %s\n", frame, status,
                    quiloHeadTrackingGetLastErrorMessage());
            ++failures;
        } else if (quiloHeadTrackingEngineGetLatestFrame(engine, &result) != 0 ||
                   quiloHeadTrackingFrameGetTrackingResult(result, &tracking) != 0) {
            fprintf(stderr, "frame %d: the result cannot be read: %s\n", frame, quiloHeadTrackingGetLastErrorMessage());
            ++failures;
        } else if (tracking.numFaces > 0) {
            printf("frame %d (%.1f ms): main face at (%.1f, %.1f, %.1f) mm%s\n", frame, timestampMs,
                   tracking.faces[0].position.x, tracking.faces[0].position.y, tracking.faces[0].position.z,
                   depthValues != NULL ? ", measured depth" : "");
        } else {
            printf("frame %d (%.1f ms): no face\n", frame, timestampMs);
        }
        quiloHeadTrackingFrameRelease(result);
        stbi_image_free(pixels);
        stbi_image_free(depthValues);
        at = end;
    }

    quiloHeadTrackingEngineStopTracking(engine);
    quiloHeadTrackingEngineRelease(engine);
    free(manifest);
    return failures == 0 ? 0 : 1;
}
