// Image sources and the frames they deliver.
//
// Ownership: a camera belongs to its creator (the engine) and holds a plain,
// non-owning pointer to its listener, which must outlive it. Frames belong to
// the camera: a frame and the pixels and depth it refers to are valid only
// during the OnCameraFrameAvailable call that hands it over.
#pragma once

#include <cstdint>

#include <fmt/format.h>
#include <glm/glm.hpp>

#include "common/export.h"
#include "headTracking/common/format.h"
#include "headTracking/common/types.h"

namespace quilo::head {

class CameraFrame;

class QUILO_API Camera {
public:
    using Configuration = CameraConfiguration;

    // Receives a camera's events. Calls come from the camera's delivery thread
    // (its own capture thread, or the host thread feeding a shared camera),
    // one at a time per camera.
    struct Listener {
        // One new frame; valid only during the call.
        virtual void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) = 0;
        // The geometry of the images that follow.
        virtual void OnCameraIntrinsicsChange(Camera* camera, const CameraIntrinsics& intrinsics) = 0;

    protected:
        ~Listener() = default;
    };

    // Stops delivery before the camera goes.
    virtual ~Camera();
    // Begins delivering frames to the listener.
    virtual void StartCapture() = 0;
    // Stops delivering frames; when it returns no frame callback of this
    // camera's own capture machinery is running.
    virtual void StopCapture() = 0;
    // Current capture rate; 0 when unknown.
    virtual int GetFps() = 0;
    // Asks for a new rate; true when accepted.
    virtual bool SetFps(int fps) = 0;
    // The rates SetFps accepts; valid as long as the camera lives.
    virtual Slice<int> GetSupportedFps() = 0;
};

// One delivered frame. The first image is the main one. The three geometric
// operations return false when the frame cannot answer; callers then ignore
// the outputs and fall back to their own means.
class QUILO_API CameraFrame {
public:
    virtual ~CameraFrame();
    virtual Timestamp timestamp() const = 0;
    virtual Slice<ImageDesc> imageDescs() const = 0;
    // Depth in metres at an image pixel.
    virtual bool GetDepth(glm::dvec2 pixel, float* depth) const = 0;
    // Image pixel and depth (metres) to a camera-space point (metres).
    virtual bool DeprojectPixelToPoint(glm::dvec2 pixel, float depth, glm::vec3* point) const = 0;
    // Camera-space point (metres) to an image pixel and its depth.
    virtual bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const = 0;
};

// A frame of one image and a timestamp, without depth or projection.
class QUILO_API TrivialCameraFrame final : public CameraFrame {
public:
    TrivialCameraFrame(const ImageDesc& image, Timestamp time) : image_(image), time_(time) {}

    Timestamp timestamp() const override { return time_; }
    Slice<ImageDesc> imageDescs() const override { return {&image_, 1}; }
    bool GetDepth(glm::dvec2, float*) const override { return false; }
    bool DeprojectPixelToPoint(glm::dvec2, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

private:
    ImageDesc image_;
    Timestamp time_;
};

}  // namespace quilo::head

// "{{image}, {timestamp}}" with the first image; "{(no image), {timestamp}}"
// for a frame without images.
template <>
struct fmt::formatter<quilo::head::CameraFrame> : quilo::detail::PlainFormatter {
    template <typename FormatContext>
    auto format(const quilo::head::CameraFrame& frame, FormatContext& ctx) const {
        auto images = frame.imageDescs();
        if (images.size == 0) return fmt::format_to(ctx.out(), "{{(no image), {}}}", frame.timestamp());
        return fmt::format_to(ctx.out(), "{{{}, {}}}", images[0], frame.timestamp());
    }
};
