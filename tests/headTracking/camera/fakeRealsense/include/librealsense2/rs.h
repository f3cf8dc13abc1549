/* Simulated librealsense2 for tests: the library's C interface, restricted to
 * what the engine's camera calls, with the declarations, values and layouts of
 * librealsense2 2.50. As in the real library, the pipeline and configuration
 * interfaces (h/rs_pipeline.h, h/rs_config.h) are included separately. */
#ifndef LIBREALSENSE_RS2_H
#define LIBREALSENSE_RS2_H

#ifdef __cplusplus
extern "C" {
#endif

#include "h/rs_context.h"
#include "h/rs_device.h"
#include "h/rs_frame.h"
#include "h/rs_option.h"
#include "h/rs_sensor.h"
#include "h/rs_types.h"

#define RS2_API_MAJOR_VERSION 2
#define RS2_API_MINOR_VERSION 50
#define RS2_API_PATCH_VERSION 0
#define RS2_API_BUILD_VERSION 0
#define RS2_API_VERSION (((RS2_API_MAJOR_VERSION)*10000) + ((RS2_API_MINOR_VERSION)*100) + (RS2_API_PATCH_VERSION))

int rs2_get_api_version(rs2_error** error);
float rs2_depth_frame_get_distance(const rs2_frame* frame_ref, int x, int y, rs2_error** error);
rs2_time_t rs2_get_time(rs2_error** error);

#ifdef __cplusplus
}
#endif

#include "rsutil.h"

#endif
