/* Simulated librealsense2 for tests: devices (subset of librealsense2 2.50). */
#ifndef LIBREALSENSE_RS2_DEVICE_H
#define LIBREALSENSE_RS2_DEVICE_H

#ifdef __cplusplus
extern "C" {
#endif

#include "rs_sensor.h"
#include "rs_types.h"

void rs2_delete_device(rs2_device* device);
rs2_sensor_list* rs2_query_sensors(const rs2_device* device, rs2_error** error);

#ifdef __cplusplus
}
#endif
#endif
