/* Simulated librealsense2 for tests: pipelines and their profiles (subset of
 * librealsense2 2.50). */
#ifndef LIBREALSENSE_RS2_PIPELINE_H
#define LIBREALSENSE_RS2_PIPELINE_H

#ifdef __cplusplus
extern "C" {
#endif

#include "rs_config.h"
#include "rs_sensor.h"
#include "rs_types.h"

rs2_pipeline* rs2_create_pipeline(rs2_context* ctx, rs2_error** error);
void rs2_delete_pipeline(rs2_pipeline* pipe);
rs2_frame* rs2_pipeline_wait_for_frames(rs2_pipeline* pipe, unsigned int timeout_ms, rs2_error** error);
rs2_pipeline_profile* rs2_pipeline_start_with_config(rs2_pipeline* pipe, rs2_config* config, rs2_error** error);
rs2_pipeline_profile* rs2_pipeline_get_active_profile(rs2_pipeline* pipe, rs2_error** error);
rs2_device* rs2_pipeline_profile_get_device(rs2_pipeline_profile* profile, rs2_error** error);
rs2_stream_profile_list* rs2_pipeline_profile_get_streams(rs2_pipeline_profile* profile, rs2_error** error);
void rs2_delete_pipeline_profile(rs2_pipeline_profile* profile);

#ifdef __cplusplus
}
#endif
#endif
