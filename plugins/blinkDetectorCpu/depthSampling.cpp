#include "plugins/blinkDetectorCpu/depthSampling.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace quilo::head::cpu {

namespace {

// Depths beyond this are taken as invalid readings, metres.
constexpr float kMaxDepth = 100.0f;

// The median of the valid depths the frame gives at the pixels of `pixels`;
// false when there are too few of them. `answered` tells whether the frame
// gave any depth at all, valid or not.
template <typename Pixels>
bool MedianDepth(const CameraFrame& frame, const Pixels& pixels, size_t count, float* depth, bool* answered) {
    std::vector<float> valid;
    valid.reserve(count);
    pixels([&](double x, double y) {
        float d = 0.0f;
        if (!frame.GetDepth(glm::dvec2(x, y), &d)) return;
        *answered = true;
        if (std::isfinite(d) && d > 0.0f && d < kMaxDepth) valid.push_back(d);
    });
    if (valid.empty() || valid.size() * 4 < count) return false;
    auto middle = valid.begin() + static_cast<std::ptrdiff_t>(valid.size() / 2);
    std::nth_element(valid.begin(), middle, valid.end());
    *depth = *middle;
    return true;
}

// Depth at an eye: the window around it, `radius` pixels each way, clipped to the image.
bool EyeDepth(const CameraFrame& frame, cv::Point2f eye, int radius, int width, int height, float* depth,
              bool* answered) {
    const int cx = static_cast<int>(eye.x), cy = static_cast<int>(eye.y);
    const int x0 = std::max(cx - radius, 0), x1 = std::min(cx + radius, width - 1);
    const int y0 = std::max(cy - radius, 0), y1 = std::min(cy + radius, height - 1);
    if (x0 > x1 || y0 > y1) return false;
    const size_t count = static_cast<size_t>(x1 - x0 + 1) * static_cast<size_t>(y1 - y0 + 1);
    return MedianDepth(
        frame,
        [&](auto&& visit) {
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) visit(x, y);
        },
        count, depth, answered);
}

// Depth of the face's middle (between the eyes and the mouth, inside the
// cheeks) on a grid of 9 x 9 pixels within the image.
bool FaceDepth(const CameraFrame& frame, const FaceBox& box, int width, int height, float* depth, bool* answered) {
    constexpr int kGrid = 9;
    std::vector<std::pair<double, double>> points;
    for (int j = 0; j < kGrid; ++j) {
        for (int i = 0; i < kGrid; ++i) {
            const double x = std::floor(box.x + box.width * (0.25 + 0.5 * i / (kGrid - 1)));
            const double y = std::floor(box.y + box.height * (0.35 + 0.45 * j / (kGrid - 1)));
            if (x >= 0 && y >= 0 && x < width && y < height) points.emplace_back(x, y);
        }
    }
    if (points.empty()) return false;
    return MedianDepth(
        frame,
        [&](auto&& visit) {
            for (const auto& [x, y] : points) visit(x, y);
        },
        points.size(), depth, answered);
}

}  // namespace

EyeDepths MeasureEyeDepths(const CameraFrame& frame, cv::Point2f first, cv::Point2f second, const FaceBox& box,
                           int width, int height) {
    const float apart = std::hypot(first.x - second.x, first.y - second.y);
    const int radius = std::clamp(static_cast<int>(std::lround(apart * 0.1f)), 1, 8);
    bool answered = false;
    EyeDepths depths;
    float faceDepth = 0.0f;
    const bool firstMeasured = EyeDepth(frame, first, radius, width, height, &depths.first, &answered);
    const bool secondMeasured = EyeDepth(frame, second, radius, width, height, &depths.second, &answered);
    if ((!firstMeasured || !secondMeasured) && answered &&
        FaceDepth(frame, box, width, height, &faceDepth, &answered)) {
        if (!firstMeasured) depths.first = faceDepth;
        if (!secondMeasured) depths.second = faceDepth;
    }
    return depths;
}

}  // namespace quilo::head::cpu
