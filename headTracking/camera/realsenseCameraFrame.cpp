#include "headTracking/camera/realsenseCameraFrame.h"

#include <cstdint>
#include <limits>
#include <utility>

#include <glm/gtc/type_ptr.hpp>

namespace quilo::head {

RealsenseCameraFrame::RealsenseCameraFrame(const RealsenseCamera* camera, Rs2FrameHandle infraredFrame,
                                           Rs2FrameHandle depthFrame)
    : camera_(camera), infraredFrame_(std::move(infraredFrame)), depthFrame_(std::move(depthFrame)) {}

Slice<ImageDesc> RealsenseCameraFrame::imageDescs() const {
    if (!imageDescs_) {
        std::vector<ImageDesc> images;
        try {
            ImageDesc image;
            image.width = Rs2Call(rs2_get_frame_width, infraredFrame_.get());
            image.height = Rs2Call(rs2_get_frame_height, infraredFrame_.get());
            image.rotation = 0;
            image.data = static_cast<const uint8_t*>(Rs2Call(rs2_get_frame_data, infraredFrame_.get()));
            images.push_back(image);
        } catch (const rs2::error& e) {
            LogRealsenseError("Failed to query frame image desc", e);
        }
        imageDescs_ = std::move(images);
    }
    return {imageDescs_->data(), static_cast<int64_t>(imageDescs_->size())};
}

Timestamp RealsenseCameraFrame::timestamp() const {
    if (!timestamp_) {
        Timestamp result;
        try {
            const rs2_time_t ms = Rs2Call(rs2_get_frame_timestamp, infraredFrame_.get());
            const rs2_timestamp_domain domain = Rs2Call(rs2_get_frame_timestamp_domain, infraredFrame_.get());
            if (domain == RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME) {
                // Global time is the host clock; the metadata difference (in
                // microseconds) moves it from the frame's arrival to the sensor's
                // timestamp.
                const rs2_metadata_type sensorUs =
                    Rs2Call(rs2_get_frame_metadata, infraredFrame_.get(), RS2_FRAME_METADATA_SENSOR_TIMESTAMP);
                const rs2_metadata_type frameUs =
                    Rs2Call(rs2_get_frame_metadata, infraredFrame_.get(), RS2_FRAME_METADATA_FRAME_TIMESTAMP);
                result = {Timestamp::Space::System, ms + static_cast<double>(sensorUs - frameUs) * 0.001};
            } else {
                result = {Timestamp::Space::Unknown, ms};
            }
        } catch (const rs2::error& e) {
            LogRealsenseError("Failed to query frame timestamp", e);
            result = {Timestamp::Space::Unknown, Rs2Call(rs2_get_time)};
        }
        timestamp_ = result;
    }
    return *timestamp_;
}

bool RealsenseCameraFrame::GetDepth(glm::dvec2 pixel, float* depth) const {
    // Converting a NaN or a coordinate beyond the int range is undefined; such
    // a pixel is outside every image, so it fails as the library fails for one.
    const auto inIntRange = [](double v) {
        return v > static_cast<double>(std::numeric_limits<int>::min()) - 1.0 &&
               v < static_cast<double>(std::numeric_limits<int>::max()) + 1.0;
    };
    if (!inIntRange(pixel.x) || !inIntRange(pixel.y)) {
        throw rs2::error(fmt::format("pixel ({}, {}) is outside the depth image", pixel.x, pixel.y));
    }
    *depth =
        Rs2Call(rs2_depth_frame_get_distance, depthFrame_.get(), static_cast<int>(pixel.x), static_cast<int>(pixel.y));
    return true;
}

bool RealsenseCameraFrame::DeprojectPixelToPoint(glm::dvec2 pixel, float depth, glm::vec3* point) const {
    try {
        const float pixelF[2] = {static_cast<float>(pixel.x), static_cast<float>(pixel.y)};
        rs2_deproject_pixel_to_point(glm::value_ptr(*point), &camera_->streamIntrinsics(), pixelF, depth);
        return true;
    } catch (const rs2::error& e) {
        LogRealsenseError("Failed to deproject pixel to point", e);
        return false;
    }
}

bool RealsenseCameraFrame::ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const {
    try {
        *depth = point.z;
        float pixelF[2] = {0.0f, 0.0f};
        rs2_project_point_to_pixel(pixelF, &camera_->streamIntrinsics(), glm::value_ptr(point));
        *pixel = glm::dvec2(pixelF[0], pixelF[1]);
        return true;
    } catch (const rs2::error& e) {
        LogRealsenseError("Failed to roject pixel to point", e);
        return false;
    }
}

}  // namespace quilo::head
