/* Simulated librealsense2 for tests: projection helpers, library functions
 * since librealsense2 2.49. */
#ifndef LIBREALSENSE_RSUTIL2_H
#define LIBREALSENSE_RSUTIL2_H

#include "h/rs_types.h"

#ifdef __cplusplus
extern "C" {
#endif

void rs2_project_point_to_pixel(float pixel[2], const struct rs2_intrinsics* intrin, const float point[3]);
void rs2_deproject_pixel_to_point(float point[3], const struct rs2_intrinsics* intrin, const float pixel[2],
                                  float depth);

#ifdef __cplusplus
}
#endif
#endif
