/* Simulated librealsense2 for tests: the common types, the error records and
 * the intrinsics record, with the names, values and layouts of librealsense2
 * 2.50. Only what the engine's camera uses is declared. */
#ifndef LIBREALSENSE_RS2_TYPES_H
#define LIBREALSENSE_RS2_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum rs2_exception_type {
    RS2_EXCEPTION_TYPE_UNKNOWN = 0,
    RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED = 1,
    RS2_EXCEPTION_TYPE_BACKEND = 2,
    RS2_EXCEPTION_TYPE_INVALID_VALUE = 3,
    RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE = 4,
    RS2_EXCEPTION_TYPE_NOT_IMPLEMENTED = 5,
    RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE = 6,
    RS2_EXCEPTION_TYPE_IO = 7,
    RS2_EXCEPTION_TYPE_COUNT = 8
} rs2_exception_type;

typedef enum rs2_distortion {
    RS2_DISTORTION_NONE = 0,
    RS2_DISTORTION_MODIFIED_BROWN_CONRADY = 1,
    RS2_DISTORTION_INVERSE_BROWN_CONRADY = 2,
    RS2_DISTORTION_FTHETA = 3,
    RS2_DISTORTION_BROWN_CONRADY = 4,
    RS2_DISTORTION_KANNALA_BRANDT4 = 5,
    RS2_DISTORTION_COUNT = 6
} rs2_distortion;

/* 48 bytes, no padding. */
typedef struct rs2_intrinsics {
    int width;
    int height;
    float ppx;
    float ppy;
    float fx;
    float fy;
    rs2_distortion model;
    float coeffs[5];
} rs2_intrinsics;

typedef enum rs2_extension {
    RS2_EXTENSION_DEPTH_SENSOR = 7,
    RS2_EXTENSION_VIDEO_FRAME = 8,
    RS2_EXTENSION_COMPOSITE_FRAME = 10,
    RS2_EXTENSION_DEPTH_FRAME = 12,
    RS2_EXTENSION_VIDEO_PROFILE = 15,
    RS2_EXTENSION_COUNT = 56
} rs2_extension;

typedef struct rs2_context rs2_context;
typedef struct rs2_pipeline rs2_pipeline;
typedef struct rs2_config rs2_config;
typedef struct rs2_pipeline_profile rs2_pipeline_profile;
typedef struct rs2_device rs2_device;
typedef struct rs2_error rs2_error;
typedef struct rs2_frame rs2_frame;
typedef struct rs2_options rs2_options;
typedef struct rs2_sensor rs2_sensor;
typedef struct rs2_sensor_list rs2_sensor_list;
typedef struct rs2_stream_profile rs2_stream_profile;
typedef struct rs2_stream_profile_list rs2_stream_profile_list;

typedef double rs2_time_t;           /* milliseconds */
typedef long long rs2_metadata_type; /* 64-bit signed */

rs2_error* rs2_create_error(const char* what, const char* name, const char* args, rs2_exception_type type);
rs2_exception_type rs2_get_librealsense_exception_type(const rs2_error* error);
const char* rs2_get_failed_function(const rs2_error* error);
const char* rs2_get_failed_args(const rs2_error* error);
const char* rs2_get_error_message(const rs2_error* error);
void rs2_free_error(rs2_error* error);

#ifdef __cplusplus
}
#endif
#endif
