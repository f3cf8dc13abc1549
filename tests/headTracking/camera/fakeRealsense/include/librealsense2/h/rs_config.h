/* Simulated librealsense2 for tests: pipeline configurations (subset of
 * librealsense2 2.50). */
#ifndef LIBREALSENSE_RS2_CONFIG_H
#define LIBREALSENSE_RS2_CONFIG_H

#define RS2_DEFAULT_TIMEOUT 15000

#ifdef __cplusplus
extern "C" {
#endif

#include "rs_sensor.h"
#include "rs_types.h"

rs2_config* rs2_create_config(rs2_error** error);
void rs2_delete_config(rs2_config* config);
void rs2_config_enable_stream(rs2_config* config, rs2_stream stream, int index, int width, int height,
                              rs2_format format, int framerate, rs2_error** error);

#ifdef __cplusplus
}
#endif
#endif
