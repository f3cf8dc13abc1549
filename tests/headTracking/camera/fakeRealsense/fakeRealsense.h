// Scripting and recording interface of the simulated RealSense device.
//
// The library quiloFakeRealsense2 implements the part of librealsense2's C
// interface that the engine's camera calls, with the real declarations (see
// include/librealsense2/), over one simulated device whose behaviour tests
// script here: the streams it offers, its sensors and their options, the
// results of successive frame waits (frame sets, time-outs, errors, a
// disconnect), failures of single calls and the library clock. It records what
// it receives: every call by name, the stream requests, the options written
// with their sensor and order, the waits' time-outs and threads, depth
// look-ups, projection inputs, and how many library objects are alive.
//
// Everything here is thread-safe: the capture thread calls the library while
// the test thread scripts and inspects it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <librealsense2/h/rs_config.h>
#include <librealsense2/h/rs_pipeline.h>
#include <librealsense2/rs.h>

namespace fakeRealsense {

// A stream the device offers and, once resolved, streams.
struct StreamProfile {
    rs2_stream stream = RS2_STREAM_INFRARED;
    rs2_format format = RS2_FORMAT_Y8;
    int index = 1;
    int width = 848;
    int height = 480;
    int framerate = 90;
    bool isVideo = true;  // answers RS2_EXTENSION_VIDEO_PROFILE
    rs2_intrinsics intrinsics{};
};

struct Sensor {
    bool isDepthSensor = false;       // answers RS2_EXTENSION_DEPTH_SENSOR
    std::vector<rs2_option> options;  // the options it supports
};

struct Device {
    // Offered streams, in the order a request is matched against them. No
    // streams: starting a pipeline fails with "No device connected".
    std::vector<StreamProfile> profiles;
    std::vector<Sensor> sensors;
    // When set, a started pipeline's profiles list these instead of the
    // streams resolved from the requests.
    std::optional<std::vector<StreamProfile>> activeStreams;
};

// A stereo depth camera: sensor 0 is the depth sensor with emitter, auto
// exposure, exposure, gain and global time; sensor 1 is a colour sensor.
// Offers depth (Z16, index 0) and infrared 1 and 2 (Y8) at 848 x 480 and
// 640 x 400, 90 and 30 fps; intrinsics with the Brown-Conrady model, distinct
// per stream, see IntrinsicsFor.
Device StandardDevice();
// The intrinsics StandardDevice gives a stream of this kind and size.
rs2_intrinsics IntrinsicsFor(rs2_stream stream, int index, int width, int height);

// One frame of a frame set.
struct Frame {
    StreamProfile profile;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;   // what rs2_get_frame_data points into
    std::vector<float> distances;  // depth frames: metres, row-major
    rs2_time_t timestamp = 0.0;
    rs2_timestamp_domain domain = RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME;
    std::map<rs2_frame_metadata_value, rs2_metadata_type> metadata;
    bool isVideoFrame = true;   // answers RS2_EXTENSION_VIDEO_FRAME
    bool isDepthFrame = false;  // answers RS2_EXTENSION_DEPTH_FRAME
};

// An 8-bit infrared frame (stream index 1) whose pixel (x, y) is PixelAt(x, y);
// metadata: sensor and frame timestamps (µs) equal to timestamp * 1000.
Frame InfraredFrame(int width, int height, rs2_time_t timestamp,
                    rs2_timestamp_domain domain = RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME);
// A Z16 depth frame whose distance at (x, y) is DepthAt(x, y).
Frame DepthFrame(int width, int height, rs2_time_t timestamp);
uint8_t PixelAt(int x, int y);
float DepthAt(int x, int y);

struct FrameSet {
    std::vector<Frame> frames;
    // false: the wait returns the first frame alone, not a composite frame.
    bool composite = true;
};
// Infrared and depth of one size and timestamp.
FrameSet InfraredAndDepth(int width, int height, rs2_time_t timestamp);

// Forgets every script and record and installs `device`. Live object counts
// are kept.
void Reset(Device device = StandardDevice());

// Results of successive rs2_pipeline_wait_for_frames calls, in order.
void PushFrameSet(FrameSet frameSet);
// A wait that times out at once: "Frame didn't arrive within <timeout_ms>".
void PushTimeout();
void PushError(rs2_exception_type type, const std::string& message);
// The device goes away: once the results pushed before are taken, every wait
// fails with a camera-disconnected error, and so do starts and option writes.
void Disconnect();
// With no scripted result, a wait blocks until one is pushed or its own
// time-out passes; after TimeOutIdleWaits(true) it times out at once instead.
void TimeOutIdleWaits(bool atOnce);
// Blocks until a wait is blocked on an empty script: everything pushed so far
// has been taken and handled. False when that does not happen within `limit`.
bool WaitUntilIdle(std::chrono::milliseconds limit = std::chrono::seconds(20));
// Scripted results not yet taken by a wait.
std::size_t PendingWaitResults();

// The next call of `function` (e.g. "rs2_set_option") fails with this error.
// Several failures of one function queue up.
void FailNextCall(const std::string& function, rs2_exception_type type, const std::string& message);
// What rs2_get_time returns from now on (otherwise the system clock).
void SetLibraryTime(rs2_time_t ms);

struct StreamRequest {
    rs2_stream stream;
    int index;
    int width;
    int height;
    rs2_format format;
    int framerate;
    bool operator==(const StreamRequest& o) const {
        return stream == o.stream && index == o.index && width == o.width && height == o.height && format == o.format &&
               framerate == o.framerate;
    }
};
struct OptionWrite {
    int sensor;  // index in the device's sensor list
    rs2_option option;
    float value;
    bool operator==(const OptionWrite& o) const { return sensor == o.sensor && option == o.option && value == o.value; }
};
struct PixelQuery {
    int x;
    int y;
};

// Every library function called, in order (deleters and releasers included).
std::vector<std::string> Calls();
int CallCount(const std::string& function);
std::vector<int> ContextApiVersions();
std::vector<StreamRequest> StreamRequests();
std::vector<OptionWrite> OptionWrites();
std::vector<unsigned> WaitTimeouts();
// Threads that called rs2_pipeline_wait_for_frames, without repeats.
std::vector<std::thread::id> WaitThreads();
std::vector<PixelQuery> DepthQueries();
// Pointers returned by rs2_get_frame_data, in order.
std::vector<const void*> FrameDataPointers();
// Intrinsics handed to rs2_project_point_to_pixel and rs2_deproject_pixel_to_point.
std::vector<rs2_intrinsics> ProjectionIntrinsics();
// Library objects (contexts, pipelines, configurations, profiles, lists,
// devices, sensors, frames, errors) created and not yet freed.
int LiveObjects();
int LiveFrames();

}  // namespace fakeRealsense
