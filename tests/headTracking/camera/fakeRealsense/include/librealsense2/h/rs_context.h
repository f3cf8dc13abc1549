/* Simulated librealsense2 for tests: the context (subset of librealsense2 2.50). */
#ifndef LIBREALSENSE_RS2_CONTEXT_H
#define LIBREALSENSE_RS2_CONTEXT_H

#ifdef __cplusplus
extern "C" {
#endif

#include "rs_types.h"

rs2_context* rs2_create_context(int api_version, rs2_error** error);
void rs2_delete_context(rs2_context* context);

#ifdef __cplusplus
}
#endif
#endif
