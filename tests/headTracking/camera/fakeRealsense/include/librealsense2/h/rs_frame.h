/* Simulated librealsense2 for tests: frames, timestamps and metadata (subset
 * of librealsense2 2.50). */
#ifndef LIBREALSENSE_RS2_FRAME_H
#define LIBREALSENSE_RS2_FRAME_H

#ifdef __cplusplus
extern "C" {
#endif

#include "rs_types.h"

typedef enum rs2_timestamp_domain {
    RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK = 0,
    RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME = 1,
    RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME = 2,
    RS2_TIMESTAMP_DOMAIN_COUNT = 3
} rs2_timestamp_domain;

typedef enum rs2_frame_metadata_value {
    RS2_FRAME_METADATA_FRAME_COUNTER = 0,
    RS2_FRAME_METADATA_FRAME_TIMESTAMP = 1,  /* usec */
    RS2_FRAME_METADATA_SENSOR_TIMESTAMP = 2, /* usec */
    RS2_FRAME_METADATA_COUNT = 36
} rs2_frame_metadata_value;

rs2_metadata_type rs2_get_frame_metadata(const rs2_frame* frame, rs2_frame_metadata_value frame_metadata,
                                         rs2_error** error);
int rs2_supports_frame_metadata(const rs2_frame* frame, rs2_frame_metadata_value frame_metadata, rs2_error** error);
rs2_timestamp_domain rs2_get_frame_timestamp_domain(const rs2_frame* frameset, rs2_error** error);
rs2_time_t rs2_get_frame_timestamp(const rs2_frame* frame, rs2_error** error);
const void* rs2_get_frame_data(const rs2_frame* frame, rs2_error** error);
int rs2_get_frame_width(const rs2_frame* frame, rs2_error** error);
int rs2_get_frame_height(const rs2_frame* frame, rs2_error** error);
void rs2_frame_add_ref(rs2_frame* frame, rs2_error** error);
void rs2_release_frame(rs2_frame* frame);
const rs2_stream_profile* rs2_get_frame_stream_profile(const rs2_frame* frame, rs2_error** error);
int rs2_is_frame_extendable_to(const rs2_frame* frame, rs2_extension extension_type, rs2_error** error);
rs2_frame* rs2_extract_frame(rs2_frame* composite, int index, rs2_error** error);
int rs2_embedded_frames_count(rs2_frame* composite, rs2_error** error);

#ifdef __cplusplus
}
#endif
#endif
