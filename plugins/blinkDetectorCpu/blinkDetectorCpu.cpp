#include "plugins/blinkDetectorCpu/blinkDetectorCpu.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <cmath>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>
#include <opencv2/imgproc.hpp>

#include "common/log.h"

namespace quilo::head::cpu {

namespace {

// A face region whose grey values spread less than this is no face (a black,
// covered or saturated image).
constexpr double kFlatRegionDeviation = 2.0;

// Depths beyond this are taken as invalid readings, metres.
constexpr float kMaxDepth = 100.0f;

bool Inside(cv::Point2f p, int width, int height) {
    return p.x >= 0.0f && p.y >= 0.0f && p.x < static_cast<float>(width) &&
           p.y < static_cast<float>(height);
}

bool EyesInside(const Landmarks& landmarks, int width, int height) {
    return Inside(EyeCentre(landmarks, kRightEyeFirst), width, height) &&
           Inside(EyeCentre(landmarks, kLeftEyeFirst), width, height);
}

bool IsFlat(const cv::Mat& image, const FaceBox& box) {
    const cv::Rect region = cv::Rect(box) & cv::Rect(0, 0, image.cols, image.rows);
    if (region.area() <= 0) return true;
    cv::Scalar mean, deviation;
    cv::meanStdDev(image(region), mean, deviation);
    return deviation[0] < kFlatRegionDeviation;
}

// Whether two boxes show the same face: centres close and sizes alike.
bool SameFace(const FaceBox& a, const FaceBox& b) {
    const cv::Point2f d = (a.tl() + a.br()) * 0.5f - (b.tl() + b.br()) * 0.5f;
    const float size = std::max(a.width, b.width);
    const float ratio = a.width / b.width;
    return std::hypot(d.x, d.y) < 0.5f * size && ratio > 0.5f && ratio < 2.0f;
}

// The median of the valid depths the frame gives at the pixels of `pixels`;
// false when there are too few of them. `answered` tells whether the frame
// gave any depth at all, valid or not.
template <typename Pixels>
bool MedianDepth(const CameraFrame& frame, const Pixels& pixels, size_t count, float* depth,
                 bool* answered) {
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
bool EyeDepth(const CameraFrame& frame, cv::Point2f eye, int radius, int width, int height,
              float* depth, bool* answered) {
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
bool FaceDepth(const CameraFrame& frame, const FaceBox& box, int width, int height, float* depth,
               bool* answered) {
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

template <typename T>
T ParseNumber(const std::string& pair, const std::string& value, T low, T high) {
    T number{};
    const char* end = value.data() + value.size();
    const auto [rest, error] = std::from_chars(value.data(), end, number);
    if (error != std::errc() || rest != end || !(number >= low && number <= high)) {
        throw std::invalid_argument(fmt::format(
            "detector option \"{}\": expected a number from {} to {}", pair, low, high));
    }
    return number;
}

}  // namespace

BlinkDetectorSettings ParseDetectorOptions(const std::string& text,
                                           BlinkDetectorSettings settings) {
    size_t position = 0;
    while (position < text.size()) {
        const size_t start = text.find_first_not_of(",; \t\r\n", position);
        if (start == std::string::npos) break;
        size_t stop = text.find_first_of(",; \t\r\n", start);
        if (stop == std::string::npos) stop = text.size();
        const std::string pair = text.substr(start, stop - start);
        position = stop;

        const size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            throw std::invalid_argument(
                fmt::format("detector option \"{}\": expected name=value", pair));
        }
        const std::string name = pair.substr(0, equals);
        const std::string value = pair.substr(equals + 1);
        if (name == "minEyeDistance") {
            settings.minEyeDistance = ParseNumber(pair, value, 4.0f, 1000.0f);
        } else if (name == "detectionInterval") {
            settings.detectionInterval = ParseNumber(pair, value, 1, 1000);
        } else if (name == "maxMisses") {
            settings.maxMisses = ParseNumber(pair, value, 0, 1000);
        } else {
            throw std::invalid_argument(fmt::format("unknown detector option \"{}\"", pair));
        }
    }
    return settings;
}

BlinkDetectorCpu::BlinkDetectorCpu(const BlinkDetectorSettings& settings,
                                   std::shared_ptr<const LandmarkModel> model, FaceFinder finder)
    : settings_(settings),
      model_(std::move(model)),
      finder_(std::move(finder)),
      maxNumOfFaces_(std::clamp(settings.maxNumOfFaces, 1, kMaxNumOfFacesLimit)) {
    if (!model_) throw std::invalid_argument("BlinkDetectorCpu needs a landmark model");
    tracks_.reserve(kMaxNumOfFacesLimit * 2);
    output_.detections.reserve(kMaxNumOfFacesLimit);
    QUILO_LOG_INFO(
        "[BlinkDetectorCpu] created: maxNumOfFaces={}, minEyeDistance={}, detectionInterval={}, "
        "maxMisses={}",
        maxNumOfFaces_.load(), settings_.minEyeDistance, settings_.detectionInterval,
        settings_.maxMisses);
}

BlinkDetectorCpu::~BlinkDetectorCpu() { QUILO_LOG_INFO("[BlinkDetectorCpu] destroyed"); }

int32_t BlinkDetectorCpu::GetMaxNumOfDetectedFacesLimit() const { return kMaxNumOfFacesLimit; }

int32_t BlinkDetectorCpu::GetMaxNumOfDetectedFaces() const { return maxNumOfFaces_.load(); }

void BlinkDetectorCpu::SetMaxNumOfDetectedFaces(int32_t n) {
    maxNumOfFaces_.store(std::clamp(n, 1, kMaxNumOfFacesLimit));
}

quilo_face_detector_backend_e BlinkDetectorCpu::GetBackend() const {
    return kQuiloFaceDetectorBackendCPU;
}

void BlinkDetectorCpu::OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) {
    QUILO_LOG_DEBUG("[BlinkDetectorCpu] OnCameraIntrinsicsChange: {}", intrinsics);
    intrinsics_ = intrinsics;
}

FaceDetector::Output& BlinkDetectorCpu::DetectFaces(const CameraFrame& frame) {
    output_.detections.clear();
    ++statistics_.frames;

    const Slice<ImageDesc> images = frame.imageDescs();
    const char* problem = nullptr;
    if (images.size < 1) {
        problem = "no image";
    } else if (images[0].data == nullptr) {
        problem = "no pixels";
    } else if (images[0].width < kMinImageSide || images[0].height < kMinImageSide ||
               images[0].width > kMaxImageSide || images[0].height > kMaxImageSide) {
        problem = "unsupported image size";
    }
    if (problem != nullptr) {
        QUILO_LOG_DEBUG("[BlinkDetectorCpu] frame skipped: {}", problem);
        tracks_.clear();
        return output_;
    }

    const ImageDesc& desc = images[0];
    if (desc.width != imageWidth_ || desc.height != imageHeight_) {
        tracks_.clear();
        imageWidth_ = desc.width;
        imageHeight_ = desc.height;
    }
    const cv::Mat image(desc.height, desc.width, CV_8UC1, const_cast<uint8_t*>(desc.data));

    const bool lost = FollowTracks(image);
    if (tracks_.empty() || lost || ++framesSinceSearch_ >= settings_.detectionInterval) {
        SearchFaces(image);
        framesSinceSearch_ = 0;
        ++statistics_.fullSearches;
    }

    // The largest faces first; the others are no longer followed.
    std::stable_sort(tracks_.begin(), tracks_.end(),
                     [](const Track& a, const Track& b) { return a.box.width > b.box.width; });
    const size_t keep = static_cast<size_t>(maxNumOfFaces_.load());
    if (tracks_.size() > keep) tracks_.resize(keep);

    Report(frame, desc, PinholeFor(intrinsics_, desc.width, desc.height));
    return output_;
}

bool BlinkDetectorCpu::FollowTracks(const cv::Mat& image) {
    bool lost = false;
    for (auto track = tracks_.begin(); track != tracks_.end();) {
        Landmarks next;
        model_->Predict(image, track->box, &next);
        const FaceBox box = LandmarkModel::BoxAround(next);
        bool keep = EyesInside(next, image.cols, image.rows) && !IsFlat(image, box);
        ++statistics_.followed;
        if (keep) {
            const bool confirmed = finder_.ConfirmFace(image, box);
            track->misses = confirmed ? 0 : track->misses + 1;
            statistics_.unconfirmed += confirmed ? 0 : 1;
            keep = track->misses <= settings_.maxMisses;
        }
        if (!keep) {
            track = tracks_.erase(track);
            ++statistics_.lost;
            lost = true;
            continue;
        }
        track->landmarks = next;
        track->box = box;
        ++track;
    }
    // Two tracks that drifted onto one face: the older one stays.
    for (size_t i = 0; i < tracks_.size(); ++i) {
        for (size_t j = tracks_.size() - 1; j > i; --j) {
            if (SameFace(tracks_[i].box, tracks_[j].box))
                tracks_.erase(tracks_.begin() + static_cast<std::ptrdiff_t>(j));
        }
    }
    return lost;
}

void BlinkDetectorCpu::SearchFaces(const cv::Mat& image) {
    const std::vector<FaceBox> candidates =
        finder_.FindCandidates(image, settings_.minEyeDistance, searchInBetween_);
    searchInBetween_ = !searchInBetween_;
    const size_t wanted = static_cast<size_t>(maxNumOfFaces_.load());
    for (const FaceBox& candidate : candidates) {
        auto followed = std::find_if(tracks_.begin(), tracks_.end(), [&](const Track& t) {
            return SameFace(t.box, candidate);
        });
        if (followed != tracks_.end()) {
            followed->misses = 0;
            continue;
        }
        // Candidates come largest first: once enough faces are followed, a
        // smaller one than all of them would be dropped again.
        if (tracks_.size() >= wanted &&
            std::all_of(tracks_.begin(), tracks_.end(),
                        [&](const Track& t) { return t.box.width >= candidate.width; })) {
            break;
        }
        FaceBox box;
        if (!finder_.PlaceFace(image, candidate, &box)) continue;
        Track track;
        model_->Predict(image, box, &track.landmarks);
        track.box = LandmarkModel::BoxAround(track.landmarks);
        if (!EyesInside(track.landmarks, image.cols, image.rows)) continue;
        if (std::any_of(tracks_.begin(), tracks_.end(),
                        [&](const Track& t) { return SameFace(t.box, track.box); })) {
            continue;
        }
        tracks_.push_back(track);
    }
}

std::vector<Landmarks> BlinkDetectorCpu::FindAllFaces(const cv::Mat& image) {
    const std::vector<FaceBox> found = finder_.FindFaces(image, settings_.minEyeDistance);
    std::vector<Landmarks> faces;
    std::vector<FaceBox> boxes;
    for (const FaceBox& box : found) {
        Landmarks landmarks;
        model_->Predict(image, box, &landmarks);
        const FaceBox placed = LandmarkModel::BoxAround(landmarks);
        if (std::any_of(boxes.begin(), boxes.end(),
                        [&](const FaceBox& b) { return SameFace(b, placed); }))
            continue;
        boxes.push_back(placed);
        faces.push_back(landmarks);
    }
    return faces;
}

void BlinkDetectorCpu::Report(const CameraFrame& frame, const ImageDesc& image,
                              const Pinhole& camera) {
    for (Track& track : tracks_) {
        const cv::Point2f first = EyeCentre(track.landmarks, kRightEyeFirst);
        const cv::Point2f second = EyeCentre(track.landmarks, kLeftEyeFirst);
        if (!Inside(first, image.width, image.height) || !Inside(second, image.width, image.height))
            continue;

        const glm::vec3 angles = FitHeadPose(track.landmarks, camera, &track.pose)
                                     ? HeadAngles(track.pose)
                                     : FrontalAngles(track.landmarks, camera);

        // Measured depths where the frame has them, else the estimate.
        const float apart = std::hypot(first.x - second.x, first.y - second.y);
        const int radius = std::clamp(static_cast<int>(std::lround(apart * 0.1f)), 1, 8);
        bool answered = false;
        float firstDepth = 0.0f, secondDepth = 0.0f, faceDepth = 0.0f;
        const bool firstMeasured =
            EyeDepth(frame, first, radius, image.width, image.height, &firstDepth, &answered);
        const bool secondMeasured =
            EyeDepth(frame, second, radius, image.width, image.height, &secondDepth, &answered);
        if ((!firstMeasured || !secondMeasured) && answered &&
            FaceDepth(frame, track.box, image.width, image.height, &faceDepth, &answered)) {
            if (!firstMeasured) firstDepth = faceDepth;
            if (!secondMeasured) secondDepth = faceDepth;
        }
        if (!(firstDepth > 0.0f) || !(secondDepth > 0.0f)) {
            const float estimate =
                static_cast<float>(EstimateEyeDepth(track.landmarks, camera, angles.y));
            if (!(firstDepth > 0.0f)) firstDepth = estimate;
            if (!(secondDepth > 0.0f)) secondDepth = estimate;
        }
        if (!(firstDepth > 0.0f) || !(secondDepth > 0.0f) || !std::isfinite(firstDepth) ||
            !std::isfinite(secondDepth)) {
            continue;
        }

        DetectedFace face;
        // Landmarks 36-41 lie around the person's right eye unless the image is mirrored.
        const bool mirrored = intrinsics_.isMirrored;
        face.rightEyePixel =
            mirrored ? glm::dvec2(second.x, second.y) : glm::dvec2(first.x, first.y);
        face.rightEyeDepth = mirrored ? secondDepth : firstDepth;
        face.leftEyePixel =
            mirrored ? glm::dvec2(first.x, first.y) : glm::dvec2(second.x, second.y);
        face.leftEyeDepth = mirrored ? firstDepth : secondDepth;
        face.angles = angles;

        const glm::dvec2 middle = (face.rightEyePixel + face.leftEyePixel) * 0.5;
        const float middleDepth = 0.5f * (firstDepth + secondDepth);
        glm::vec3 point(0.0f);
        if (!frame.DeprojectPixelToPoint(middle, middleDepth, &point)) {
            point = glm::vec3(static_cast<float>((middle.x - camera.ppx) / camera.fx * middleDepth),
                              static_cast<float>((middle.y - camera.ppy) / camera.fy * middleDepth),
                              middleDepth);
        }
        face.headPosition = point;
        output_.detections.push_back(face);
    }
}

std::unique_ptr<BlinkDetectorCpu> CreateBlinkDetectorCpu(
    const BlinkDetectorConfiguration& configuration, AssetManager& assets) {
    BlinkDetectorSettings settings;
    settings.maxNumOfFaces = configuration.settings.maxNumOfFaces;
    settings = ParseDetectorOptions(configuration.detectorOptions, settings);

    // The cascade first: it is quick to read, the landmark model takes seconds.
    std::optional<FaceFinder> finder;
    try {
        finder.emplace(assets.ReadText(kFaceCascadeAsset, nullptr));
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(fmt::format("asset \"{}\": {}", kFaceCascadeAsset, e.what()));
    }
    std::shared_ptr<const LandmarkModel> model;
    {
        const AssetBuffer bytes = assets.ReadBytes(kLandmarkModelAsset, nullptr);
        try {
            model = std::make_shared<const LandmarkModel>(bytes.data.get(),
                                                          static_cast<size_t>(bytes.size));
        } catch (const std::exception& e) {
            throw std::runtime_error(
                fmt::format("asset \"{}\": {}", kLandmarkModelAsset, e.what()));
        }
    }
    return std::make_unique<BlinkDetectorCpu>(settings, std::move(model), std::move(*finder));
}

}  // namespace quilo::head::cpu
