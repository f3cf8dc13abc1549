/* Simulated librealsense2 for tests: streams, formats, sensors and stream
 * profiles (subset of librealsense2 2.50). */
#ifndef LIBREALSENSE_RS2_SENSOR_H
#define LIBREALSENSE_RS2_SENSOR_H

#ifdef __cplusplus
extern "C" {
#endif

#include "rs_types.h"

typedef enum rs2_stream {
    RS2_STREAM_ANY = 0,
    RS2_STREAM_DEPTH = 1,
    RS2_STREAM_COLOR = 2,
    RS2_STREAM_INFRARED = 3,
    RS2_STREAM_COUNT = 10
} rs2_stream;

typedef enum rs2_format { RS2_FORMAT_ANY = 0, RS2_FORMAT_Z16 = 1, RS2_FORMAT_Y8 = 9, RS2_FORMAT_COUNT = 31 } rs2_format;

void rs2_delete_sensor_list(rs2_sensor_list* info_list);
int rs2_get_sensors_count(const rs2_sensor_list* info_list, rs2_error** error);
void rs2_delete_sensor(rs2_sensor* sensor);
rs2_sensor* rs2_create_sensor(const rs2_sensor_list* list, int index, rs2_error** error);
int rs2_is_sensor_extendable_to(const rs2_sensor* sensor, rs2_extension extension, rs2_error** error);

const rs2_stream_profile* rs2_get_stream_profile(const rs2_stream_profile_list* list, int index, rs2_error** error);
void rs2_get_stream_profile_data(const rs2_stream_profile* mode, rs2_stream* stream, rs2_format* format, int* index,
                                 int* unique_id, int* framerate, rs2_error** error);
int rs2_stream_profile_is(const rs2_stream_profile* mode, rs2_extension type, rs2_error** error);
int rs2_get_stream_profiles_count(const rs2_stream_profile_list* list, rs2_error** error);
void rs2_delete_stream_profiles_list(rs2_stream_profile_list* list);
void rs2_get_video_stream_intrinsics(const rs2_stream_profile* mode, rs2_intrinsics* intrinsics, rs2_error** error);

#ifdef __cplusplus
}
#endif
#endif
