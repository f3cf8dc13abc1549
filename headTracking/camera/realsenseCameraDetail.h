// The RealSense camera's class and its librealsense2 helpers. Internal: only
// the camera's own sources include it (it needs librealsense2's headers); the
// engine reaches the camera through realsenseCamera.h.
//
// librealsense2 is used through its C interface only. Every call reports a
// failure through an rs2_error, which Rs2Call turns into the rs2::error
// exception of its type, as the library's C++ wrapper does; library objects are
// held by RAII handles that free them with the matching rs2_delete_* call.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <type_traits>

#include <librealsense2/h/rs_config.h>
#include <librealsense2/h/rs_pipeline.h>
#include <librealsense2/hpp/rs_types.hpp>
#include <librealsense2/rs.h>
#include <librealsense2/rsutil.h>

#include "headTracking/camera/realsenseCamera.h"

namespace quilo::head {

// Calls `fn(args..., &error)` and throws the rs2::error of the reported type,
// if any; returns what `fn` returns.
template <typename Fn, typename... Args>
auto Rs2Call(Fn* fn, Args... args) {
    rs2_error* error = nullptr;
    if constexpr (std::is_void_v<std::invoke_result_t<Fn*, Args..., rs2_error**>>) {
        fn(args..., &error);
        rs2::error::handle(error);
    } else {
        auto result = fn(args..., &error);
        rs2::error::handle(error);
        return result;
    }
}

// Frees a library object with `Release` (rs2_delete_*, rs2_release_frame).
template <auto Release>
struct Rs2Releaser {
    template <typename T>
    void operator()(T* object) const {
        Release(object);
    }
};
template <typename T, auto Release>
using Rs2Handle = std::unique_ptr<T, Rs2Releaser<Release>>;

using Rs2ContextHandle = Rs2Handle<rs2_context, rs2_delete_context>;
using Rs2ConfigHandle = Rs2Handle<rs2_config, rs2_delete_config>;
using Rs2PipelineProfileHandle = Rs2Handle<rs2_pipeline_profile, rs2_delete_pipeline_profile>;
using Rs2StreamProfileListHandle = Rs2Handle<rs2_stream_profile_list, rs2_delete_stream_profiles_list>;
using Rs2DeviceHandle = Rs2Handle<rs2_device, rs2_delete_device>;
using Rs2SensorListHandle = Rs2Handle<rs2_sensor_list, rs2_delete_sensor_list>;
using Rs2SensorHandle = Rs2Handle<rs2_sensor, rs2_delete_sensor>;
// One reference to a library frame; empty when the frame is missing.
using Rs2FrameHandle = Rs2Handle<rs2_frame, rs2_release_frame>;

// Logs at error level "{context}: func=\"{function}\" args=\"{args}\" message=\"{message}\"".
void LogRealsenseError(const char* context, const rs2::error& error);

class RealsenseCamera final : public Camera {
public:
    // librealsense2 API version the camera is written against (2.50.0).
    static constexpr int kApiVersion = 25000;
    // How long the capture thread waits for one frame set.
    static constexpr unsigned kWaitTimeoutMs = 15000;

    // Opens the pipeline and reports the intrinsics; see CreateRealsenseCamera.
    RealsenseCamera(Listener* listener, const RealsenseCameraConfiguration& configuration);
    // Stops capture, then closes the pipeline.
    ~RealsenseCamera() override;

    RealsenseCamera(const RealsenseCamera&) = delete;
    RealsenseCamera& operator=(const RealsenseCamera&) = delete;

    // Starts the capture thread unless one was started and not yet joined.
    void StartCapture() override;
    // Asks the capture thread to finish and joins it. Throws std::system_error
    // (resource deadlock) when called on the capture thread.
    void StopCapture() override;
    int GetFps() override { return fps_; }
    bool SetFps(int) override { return false; }
    Slice<int> GetSupportedFps() override { return {}; }

    // See UpdateRealsenseCameraDynamicConfiguration.
    void UpdateDynamicConfiguration(const RealsenseCameraDynamicConfiguration& configuration);

    // The active infrared stream's intrinsics; fixed after construction.
    const rs2_intrinsics& streamIntrinsics() const { return streamIntrinsics_; }

private:
    // Applies the sensor settings to the depth sensor of `profile`'s device.
    static void ApplyDynamicConfiguration(rs2_pipeline_profile* profile,
                                          const RealsenseCameraDynamicConfiguration& configuration);
    void CaptureLoop();
    // Waits for one frame set and hands it to the listener.
    void CaptureOne();

    Listener* const listener_;
    // Joinable from StartCapture until StopCapture joins it, also when the
    // thread ended on its own. Touched only by the controlling thread.
    std::thread captureThread_;
    // Set by StopCapture, read by the capture thread between waits.
    std::atomic<bool> stopRequested_{false};
    std::shared_ptr<rs2_pipeline> pipeline_;
    rs2_intrinsics streamIntrinsics_{};
    int fps_ = 0;
};

}  // namespace quilo::head
