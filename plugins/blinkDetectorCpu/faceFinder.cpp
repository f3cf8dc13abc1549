#include "plugins/blinkDetectorCpu/faceFinder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <dlib/opencv/cv_image.h>
#include <opencv2/imgproc.hpp>

namespace quilo::head::cpu {

namespace {

// A cascade box is about this many eye distances wide (measured over the
// annotated faces of the test photographs).
constexpr float kCascadeBoxPerEyeDistance = 2.9f;
// Step between the scales of a full search, and the neighbours a candidate
// needs (OpenCV keeps groups of more than this many raw hits). Coarse steps
// with a lenient grouping find more faces in less time than fine steps with
// a strict one, and dlib's detector drops the false candidates: over the
// portrait at 32 sizes between 16 and 43 px eye distance, step 1.25 with one
// neighbour finds 31, step 1.2 with three 22.
constexpr double kSearchScaleStep = 1.25;
constexpr int kSearchNeighbours = 1;
// Confirmation: the expected face appears at kConfirmFaceScale times the
// cascade window, in a region kConfirmRegion times its size, searched in
// steps of kConfirmScaleStep.
constexpr float kConfirmFaceScale = 1.25f;
constexpr float kConfirmRegion = 1.7f;
constexpr double kConfirmScaleStep = 1.08;
constexpr int kConfirmNeighbours = 1;

// dlib's detector looks at the region around a candidate, kPlaceRegion times
// the expected box wide, scaled as one level of the image pyramid it scans
// in dlib's own examples (the image enlarged twice, then shrunk in steps of
// 5/6), the first level at which the box is at most kPlaceFaceSize pixels
// wide (the detector's smallest window is 80 pixels). Matching those levels
// matters: the landmark model follows small shifts of the box.
constexpr float kPlaceRegion = 1.8f;
constexpr float kPlaceFaceSize = 100.0f;

// Landmark model box from a cascade box: a little lower and smaller (fitted
// over the faces of dlib's example landmark sets).
constexpr float kModelShiftX = -0.015f;
constexpr float kModelShiftY = 0.066f;
constexpr float kModelSize = 0.828f;

// The pixels within `half` of `centre` that lie in the image; empty for
// centres or sizes that are not finite.
cv::Rect Region(cv::Point2f centre, float half, const cv::Mat& image) {
    if (!std::isfinite(centre.x) || !std::isfinite(centre.y) || !std::isfinite(half)) return {};
    const auto clampTo = [](float value, int high) {
        return static_cast<int>(std::clamp(value, 0.0f, static_cast<float>(high)));
    };
    const int x0 = clampTo(std::floor(centre.x - half), image.cols),
              x1 = clampTo(std::ceil(centre.x + half), image.cols);
    const int y0 = clampTo(std::floor(centre.y - half), image.rows),
              y1 = clampTo(std::ceil(centre.y + half), image.rows);
    return cv::Rect(x0, y0, x1 - x0, y1 - y0);
}

}  // namespace

FaceFinder::FaceFinder(const std::string& cascadeXml) {
    try {
        cv::FileStorage storage(cascadeXml, cv::FileStorage::READ | cv::FileStorage::MEMORY);
        if (!storage.isOpened() || !cascade_.read(storage.getFirstTopLevelNode()) ||
            cascade_.empty()) {
            throw std::runtime_error("not a cascade");
        }
    } catch (const cv::Exception& e) {
        throw std::runtime_error(std::string("invalid face cascade: ") + e.what());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(std::string("invalid face cascade: ") + e.what());
    }
    window_ = cascade_.getOriginalWindowSize();
    if (window_.width <= 0 || window_.height <= 0)
        throw std::runtime_error("invalid face cascade: no window size");
    // dlib builds its detector from text compiled into its header, which
    // takes a while; later finders copy the first one.
    static const dlib::frontal_face_detector prototype = dlib::get_frontal_face_detector();
    hog_ = prototype;
}

FaceBox FaceFinder::ToModelBox(const cv::Rect2f& c) {
    const float size = c.width * kModelSize;
    const float cx = c.x + c.width / 2 + kModelShiftX * c.width;
    const float cy = c.y + c.height / 2 + kModelShiftY * c.width;
    return FaceBox(cx - size / 2, cy - size / 2, size, size);
}

cv::Rect2f FaceFinder::ToCascadeBox(const FaceBox& m) {
    const float size = m.width / kModelSize;
    const float cx = m.x + m.width / 2 - kModelShiftX * size;
    const float cy = m.y + m.height / 2 - kModelShiftY * size;
    return cv::Rect2f(cx - size / 2, cy - size / 2, size, size);
}

std::vector<FaceBox> FaceFinder::FindCandidates(const cv::Mat& image, float minEyeDistance,
                                                bool inBetween) {
    const float minFace = std::max(minEyeDistance, 1.0f) * kCascadeBoxPerEyeDistance;
    const double scale = std::max(1.0, static_cast<double>(minFace) / window_.width) *
                         (inBetween ? std::sqrt(kSearchScaleStep) : 1.0);
    const cv::Mat* searched = &image;
    if (scale > 1.01) {
        cv::resize(image, scaled_, cv::Size(), 1.0 / scale, 1.0 / scale, cv::INTER_AREA);
        searched = &scaled_;
    }
    found_.clear();
    if (searched->cols >= window_.width && searched->rows >= window_.height) {
        cascade_.detectMultiScale(*searched, found_, kSearchScaleStep, kSearchNeighbours, 0,
                                  window_);
    }
    std::vector<FaceBox> candidates;
    candidates.reserve(found_.size());
    for (const cv::Rect& r : found_) {
        candidates.push_back(ToModelBox(
            cv::Rect2f(static_cast<float>(r.x * scale), static_cast<float>(r.y * scale),
                       static_cast<float>(r.width * scale), static_cast<float>(r.height * scale))));
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const FaceBox& a, const FaceBox& b) { return a.width > b.width; });
    return candidates;
}

std::vector<FaceBox> FaceFinder::FindFaces(const cv::Mat& image, float minEyeDistance,
                                           bool inBetween) {
    std::vector<FaceBox> faces;
    for (const FaceBox& candidate : FindCandidates(image, minEyeDistance, inBetween)) {
        FaceBox placed;
        if (PlaceFace(image, candidate, &placed)) faces.push_back(placed);
    }
    std::stable_sort(faces.begin(), faces.end(),
                     [](const FaceBox& a, const FaceBox& b) { return a.width > b.width; });
    return faces;
}

bool FaceFinder::PlaceFace(const cv::Mat& image, const FaceBox& box, FaceBox* placed) {
    if (!(box.width > 1.0f) || box.width > 4.0f * std::max(image.cols, image.rows)) return false;
    const cv::Point2f centre(box.x + box.width / 2, box.y + box.height / 2);
    const cv::Rect region = Region(centre, kPlaceRegion * box.width / 2, image);
    if (region.width < 2 || region.height < 2) return false;
    double scale = 2.0;
    while (box.width * scale > kPlaceFaceSize) scale *= 5.0 / 6.0;
    cv::resize(image(region), scaled_, cv::Size(), scale, scale,
               scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    const std::vector<dlib::rectangle> found = hog_(dlib::cv_image<uint8_t>(scaled_));

    // The detection nearest the expected centre, back in image pixels (pixel
    // centres map as cv::resize maps them).
    const double sx = static_cast<double>(scaled_.cols) / region.width;
    const double sy = static_cast<double>(scaled_.rows) / region.height;
    double nearest = 0.5 * box.width;
    bool any = false;
    for (const dlib::rectangle& r : found) {
        const FaceBox candidate(static_cast<float>(region.x + (r.left() + 0.5) / sx - 0.5),
                                static_cast<float>(region.y + (r.top() + 0.5) / sy - 0.5),
                                static_cast<float>((r.width() - 1) / sx),
                                static_cast<float>((r.height() - 1) / sy));
        const double distance = std::hypot(candidate.x + candidate.width / 2 - centre.x,
                                           candidate.y + candidate.height / 2 - centre.y);
        if (distance < nearest) {
            nearest = distance;
            *placed = candidate;
            any = true;
        }
    }
    return any;
}

bool FaceFinder::ConfirmFace(const cv::Mat& image, const FaceBox& box) {
    const cv::Rect2f expected = ToCascadeBox(box);
    if (!(expected.width > 1.0f)) return false;
    // Scale the region so that the expected face is a little larger than the window.
    const double scale = expected.width / (kConfirmFaceScale * window_.width);
    const cv::Point2f centre(expected.x + expected.width / 2, expected.y + expected.height / 2);
    const cv::Rect region = Region(centre, kConfirmRegion * expected.width / 2, image);
    const cv::Size scaledSize(static_cast<int>(std::lround(region.width / scale)),
                              static_cast<int>(std::lround(region.height / scale)));
    if (scaledSize.width < window_.width || scaledSize.height < window_.height) return false;
    cv::resize(image(region), scaled_, scaledSize, 0, 0,
               scale > 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);

    const cv::Size largest(static_cast<int>(std::ceil(window_.width * kConfirmFaceScale * 1.4f)),
                           static_cast<int>(std::ceil(window_.height * kConfirmFaceScale * 1.4f)));
    found_.clear();
    cascade_.detectMultiScale(scaled_, found_, kConfirmScaleStep, kConfirmNeighbours, 0, window_,
                              largest);
    const float sx = static_cast<float>(region.width) / scaledSize.width;
    const float sy = static_cast<float>(region.height) / scaledSize.height;
    for (const cv::Rect& r : found_) {
        const cv::Point2f c(region.x + (r.x + r.width / 2.0f) * sx,
                            region.y + (r.y + r.height / 2.0f) * sy);
        const float size = r.width * sx;
        const cv::Point2f offset = c - centre;
        if (std::hypot(offset.x, offset.y) < 0.35f * expected.width &&
            size > 0.6f * expected.width && size < 1.6f * expected.width) {
            return true;
        }
    }
    return false;
}

}  // namespace quilo::head::cpu
