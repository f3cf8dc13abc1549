/* Simulated librealsense2 for tests: sensor options (subset of librealsense2 2.50). */
#ifndef LIBREALSENSE_RS2_OPTION_H
#define LIBREALSENSE_RS2_OPTION_H

#ifdef __cplusplus
extern "C" {
#endif

#include "rs_types.h"

typedef enum rs2_option {
    RS2_OPTION_EXPOSURE = 3,
    RS2_OPTION_GAIN = 4,
    RS2_OPTION_ENABLE_AUTO_EXPOSURE = 10,
    RS2_OPTION_EMITTER_ENABLED = 18,
    RS2_OPTION_GLOBAL_TIME_ENABLED = 53,
    RS2_OPTION_COUNT = 93
} rs2_option;

int rs2_supports_option(const rs2_options* options, rs2_option option, rs2_error** error);
void rs2_set_option(const rs2_options* options, rs2_option option, float value, rs2_error** error);

#ifdef __cplusplus
}
#endif
#endif
