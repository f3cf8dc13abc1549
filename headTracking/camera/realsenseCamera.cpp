#include "headTracking/camera/realsenseCamera.h"

#include <stdexcept>
#include <system_error>
#include <utility>

#include "common/exception.h"
#include "common/log.h"
#include "headTracking/camera/realsenseCameraDetail.h"
#include "headTracking/camera/realsenseCameraFrame.h"

namespace quilo::head {

namespace {

constexpr int kDefaultWidth = 848;
constexpr int kDefaultHeight = 480;
constexpr int kDefaultFps = 90;

float OnOff(bool on) { return on ? 1.0f : 0.0f; }

bool IsFrameExtendableTo(const rs2_frame* frame, rs2_extension extension) {
    return Rs2Call(rs2_is_frame_extendable_to, frame, extension) != 0;
}

// The first frame of `frameSet` of stream `stream` (and format `format` unless
// RS2_FORMAT_ANY), as a new reference; empty when there is none.
Rs2FrameHandle FirstFrameOf(rs2_frame* frameSet, rs2_stream stream, rs2_format format) {
    const int count = Rs2Call(rs2_embedded_frames_count, frameSet);
    for (int i = 0; i < count; ++i) {
        Rs2FrameHandle frame(Rs2Call(rs2_extract_frame, frameSet, i));
        rs2_stream frameStream = RS2_STREAM_ANY;
        rs2_format frameFormat = RS2_FORMAT_ANY;
        int index = 0;
        int uniqueId = 0;
        int framerate = 0;
        const rs2_stream_profile* profile = Rs2Call(rs2_get_frame_stream_profile, frame.get());
        Rs2Call(rs2_get_stream_profile_data, profile, &frameStream, &frameFormat, &index, &uniqueId, &framerate);
        if (frameStream == stream && (format == RS2_FORMAT_ANY || frameFormat == format)) {
            return frame;
        }
    }
    return {};
}

// The intrinsics of the first infrared stream of `profile`.
rs2_intrinsics InfraredIntrinsicsOf(rs2_pipeline_profile* profile) {
    Rs2StreamProfileListHandle streams(Rs2Call(rs2_pipeline_profile_get_streams, profile));
    const int count = Rs2Call(rs2_get_stream_profiles_count, streams.get());
    for (int i = 0; i < count; ++i) {
        const rs2_stream_profile* stream = Rs2Call(rs2_get_stream_profile, streams.get(), i);
        rs2_stream type = RS2_STREAM_ANY;
        rs2_format format = RS2_FORMAT_ANY;
        int index = 0;
        int uniqueId = 0;
        int framerate = 0;
        Rs2Call(rs2_get_stream_profile_data, stream, &type, &format, &index, &uniqueId, &framerate);
        if (type != RS2_STREAM_INFRARED) continue;
        if (!Rs2Call(rs2_stream_profile_is, stream, RS2_EXTENSION_VIDEO_PROFILE)) {
            throw rs2::error("The infrared stream profile is not a video stream profile");
        }
        rs2_intrinsics intrinsics{};
        Rs2Call(rs2_get_video_stream_intrinsics, stream, &intrinsics);
        return intrinsics;
    }
    throw std::runtime_error("Profile does not contain the requested stream");
}

CameraIntrinsics ToCameraIntrinsics(const rs2_intrinsics& in) {
    CameraIntrinsics out;
    out.width = in.width;
    out.height = in.height;
    out.ppx = in.ppx;
    out.ppy = in.ppy;
    out.fx = in.fx;
    out.fy = in.fy;
    for (int i = 0; i < 5; ++i) out.distortionCoeffs[i] = in.coeffs[i];
    out.isMirrored = true;
    return out;
}

}  // namespace

void LogRealsenseError(const char* context, const rs2::error& error) {
    QUILO_LOG_ERROR("{}: func=\"{}\" args=\"{}\" message=\"{}\"", context, error.get_failed_function(),
                    error.get_failed_args(), error.what());
}

RealsenseCamera::RealsenseCamera(Listener* listener, const RealsenseCameraConfiguration& configuration)
    : listener_(listener) {
    {
        // The pipeline keeps what it needs of the context.
        Rs2ContextHandle context(Rs2Call(rs2_create_context, kApiVersion));
        pipeline_.reset(Rs2Call(rs2_create_pipeline, context.get()), Rs2Releaser<rs2_delete_pipeline>());
    }

    const int width = configuration.width != 0 ? configuration.width : kDefaultWidth;
    const int height = configuration.height != 0 ? configuration.height : kDefaultHeight;
    fps_ = configuration.fps != 0 ? configuration.fps : kDefaultFps;
    QUILO_LOG_DEBUG("[RealsenseCamera] Initializing: w={}, h={}, fps={}", width, height, fps_);

    try {
        Rs2ConfigHandle config(Rs2Call(rs2_create_config));
        Rs2Call(rs2_config_enable_stream, config.get(), RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0);
        Rs2Call(rs2_config_enable_stream, config.get(), RS2_STREAM_INFRARED, -1, width, height, RS2_FORMAT_Y8, fps_);
        Rs2PipelineProfileHandle started(Rs2Call(rs2_pipeline_start_with_config, pipeline_.get(), config.get()));
        ApplyDynamicConfiguration(started.get(), configuration.dynamicConfiguration);
        Rs2PipelineProfileHandle active(Rs2Call(rs2_pipeline_get_active_profile, pipeline_.get()));
        streamIntrinsics_ = InfraredIntrinsicsOf(active.get());
    } catch (const rs2::error& e) {
        LogRealsenseError("Failed to start realsense pipe", e);
        throw;
    }

    listener_->OnCameraIntrinsicsChange(this, ToCameraIntrinsics(streamIntrinsics_));
}

RealsenseCamera::~RealsenseCamera() { StopCapture(); }

void RealsenseCamera::ApplyDynamicConfiguration(rs2_pipeline_profile* profile,
                                                const RealsenseCameraDynamicConfiguration& configuration) {
    QUILO_LOG_DEBUG("[RealsenseCamera] Dynamic config: emitter={}, autoExposure={}, exposure={}, gain={}",
                    configuration.emitter, configuration.autoExposure, configuration.exposure, configuration.gain);

    Rs2DeviceHandle device(Rs2Call(rs2_pipeline_profile_get_device, profile));
    Rs2SensorListHandle sensors(Rs2Call(rs2_query_sensors, device.get()));
    const int count = Rs2Call(rs2_get_sensors_count, sensors.get());
    Rs2SensorHandle depthSensor;
    for (int i = 0; i < count && !depthSensor; ++i) {
        Rs2SensorHandle sensor(Rs2Call(rs2_create_sensor, sensors.get(), i));
        if (Rs2Call(rs2_is_sensor_extendable_to, sensor.get(), RS2_EXTENSION_DEPTH_SENSOR)) {
            depthSensor = std::move(sensor);
        }
    }
    if (!depthSensor) throw rs2::error("Could not find requested sensor type!");

    // A sensor is an options object of the library.
    const auto* options = reinterpret_cast<const rs2_options*>(depthSensor.get());
    if (Rs2Call(rs2_supports_option, options, RS2_OPTION_EMITTER_ENABLED) > 0) {
        Rs2Call(rs2_set_option, options, RS2_OPTION_EMITTER_ENABLED, OnOff(configuration.emitter));
    }
    Rs2Call(rs2_set_option, options, RS2_OPTION_ENABLE_AUTO_EXPOSURE, OnOff(configuration.autoExposure));
    if (!configuration.autoExposure) {
        Rs2Call(rs2_set_option, options, RS2_OPTION_EXPOSURE, configuration.exposure);
        Rs2Call(rs2_set_option, options, RS2_OPTION_GAIN, configuration.gain);
    }
    // Frames then carry host-clock (global) timestamps.
    Rs2Call(rs2_set_option, options, RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f);
}

void RealsenseCamera::StartCapture() {
    QUILO_LOG_TRACE("[RealsenseCamera] StartCapture");
    if (captureThread_.joinable()) return;
    stopRequested_.store(false);
    captureThread_ = std::thread(&RealsenseCamera::CaptureLoop, this);
}

void RealsenseCamera::StopCapture() {
    QUILO_LOG_TRACE("[RealsenseCamera] StopCapture");
    if (!captureThread_.joinable()) return;
    stopRequested_.exchange(true);
    // The capture thread cannot join itself (a listener stopping capture from
    // inside its callback). Raise the standard would-deadlock error here rather
    // than relying on the thread library to detect the self-join; the request
    // stands, so the thread ends after the current frame.
    if (captureThread_.get_id() == std::this_thread::get_id()) {
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                "StopCapture called from the capture thread");
    }
    captureThread_.join();
}

void RealsenseCamera::UpdateDynamicConfiguration(const RealsenseCameraDynamicConfiguration& configuration) {
    const bool wasCapturing = captureThread_.joinable();
    if (wasCapturing) StopCapture();
    try {
        Rs2PipelineProfileHandle active(Rs2Call(rs2_pipeline_get_active_profile, pipeline_.get()));
        ApplyDynamicConfiguration(active.get(), configuration);
    } catch (const rs2::error& e) {
        LogRealsenseError("Failed to update dynamic configuration", e);
        throw;
    }
    if (wasCapturing) StartCapture();
}

void RealsenseCamera::CaptureLoop() {
    while (!stopRequested_.load()) {
        try {
            CaptureOne();
        } catch (const rs2::unrecoverable_error& e) {
            // The device is gone or broken: end the thread; StopCapture joins it.
            QUILO_LOG_CRITICAL("[RealsenseCamera.background] {}", e.what());
            return;
        } catch (const std::exception& e) {
            QUILO_LOG_ERROR("[RealsenseCamera.background] {}", e.what());
        } catch (...) {
            // An exception of no standard type from the listener must not end
            // the process through the thread's edge.
            QUILO_LOG_ERROR("[RealsenseCamera.background] {}", "unknown exception");
        }
    }
}

void RealsenseCamera::CaptureOne() {
    Rs2FrameHandle frameSet(Rs2Call(rs2_pipeline_wait_for_frames, pipeline_.get(), kWaitTimeoutMs));
    if (frameSet && !IsFrameExtendableTo(frameSet.get(), RS2_EXTENSION_COMPOSITE_FRAME)) {
        frameSet.reset();
    }

    Rs2FrameHandle infrared;
    Rs2FrameHandle depth;
    if (frameSet) {
        infrared = FirstFrameOf(frameSet.get(), RS2_STREAM_INFRARED, RS2_FORMAT_ANY);
        if (infrared && !IsFrameExtendableTo(infrared.get(), RS2_EXTENSION_VIDEO_FRAME)) {
            infrared.reset();
        }
        depth = FirstFrameOf(frameSet.get(), RS2_STREAM_DEPTH, RS2_FORMAT_Z16);
        if (depth && !(IsFrameExtendableTo(depth.get(), RS2_EXTENSION_VIDEO_FRAME) &&
                       IsFrameExtendableTo(depth.get(), RS2_EXTENSION_DEPTH_FRAME))) {
            depth.reset();
        }
    }
    frameSet.reset();

    // A set without infrared is delivered all the same, with no image.
    const RealsenseCameraFrame frame(this, std::move(infrared), std::move(depth));
    listener_->OnCameraFrameAvailable(this, frame);
}

std::unique_ptr<Camera> CreateRealsenseCamera(Camera::Listener* listener,
                                              const RealsenseCameraConfiguration& configuration) {
    if (!listener) QUILO_THROW("The RealSense camera needs a listener");
    return std::make_unique<RealsenseCamera>(listener, configuration);
}

void UpdateRealsenseCameraDynamicConfiguration(Camera* camera,
                                               const RealsenseCameraDynamicConfiguration& configuration) {
    if (!camera) QUILO_THROW("No camera to update");
    static_cast<RealsenseCamera*>(camera)->UpdateDynamicConfiguration(configuration);
}

}  // namespace quilo::head
