#include "plugins/blinkDetectorCpu/blinkDetectorCpu.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "common/log.h"
#include "headTracking/common/transforms.h"
#include "plugins/blinkDetectorCpu/depthSampling.h"
#if QUILO_HAVE_MEDIAPIPE
#include "plugins/blinkDetectorCpu/mediapipeLandmarks.h"
#endif
#include "plugins/blinkDetectorCpu/searchWorker.h"

namespace quilo::head::cpu {

namespace {

// How far around a face the cascade looks for it when it is not where it
// was expected (see FaceFinder::FindNear).
constexpr float kFarReach = 2.0f;

// A placer's confidence from which a face is there: such a face is followed
// on its landmarks alone, turned or behind glasses where the cascade no
// longer sees it.
constexpr float kFacePresence = 0.5f;

}  // namespace

BlinkDetectorCpu::BlinkDetectorCpu(const BlinkDetectorSettings& settings, std::shared_ptr<const LandmarkPlacer> model,
                                   FaceFinder finder, FaceFinder searchFinder,
                                   std::shared_ptr<const LandmarkPlacer> searchModel)
    : settings_(settings),
      model_(std::move(model)),
      finder_(std::move(finder)),
      maxNumOfFaces_(std::clamp(settings.maxNumOfFaces, 1, kMaxNumOfFacesLimit)),
      search_(searchModel ? std::move(searchModel) : model_, std::move(searchFinder), settings.minEyeDistance,
              2 * static_cast<size_t>(kMaxNumOfFacesLimit)) {
    if (!model_) throw std::invalid_argument("BlinkDetectorCpu needs a landmark model");
    tracks_.reserve(kMaxNumOfFacesLimit * 2);
    output_.detections.reserve(kMaxNumOfFacesLimit);
    if (settings_.searchInBackground) worker_ = std::make_unique<SearchWorker>(search_);
    QUILO_LOG_INFO(
        "[BlinkDetectorCpu] created: maxNumOfFaces={}, minEyeDistance={}, detectionInterval={}, "
        "maxMisses={}, searchInBackground={}, backgroundInterval={}",
        maxNumOfFaces_.load(), settings_.minEyeDistance, settings_.detectionInterval, settings_.maxMisses,
        settings_.searchInBackground, settings_.backgroundInterval);
    QUILO_LOG_INFO("[BlinkDetectorCpu] landmarks: {}; faces found by OpenCV's cascade and dlib's HOG detector",
                   model_->Description());
}

BlinkDetectorCpu::~BlinkDetectorCpu() {
    worker_.reset();
    QUILO_LOG_INFO("[BlinkDetectorCpu] destroyed");
}

int32_t BlinkDetectorCpu::GetMaxNumOfDetectedFacesLimit() const { return kMaxNumOfFacesLimit; }

int32_t BlinkDetectorCpu::GetMaxNumOfDetectedFaces() const { return maxNumOfFaces_.load(); }

void BlinkDetectorCpu::SetMaxNumOfDetectedFaces(int32_t n) {
    maxNumOfFaces_.store(std::clamp(n, 1, kMaxNumOfFacesLimit));
}

quilo_face_detector_backend_e BlinkDetectorCpu::GetBackend() const { return kQuiloFaceDetectorBackendCPU; }

void BlinkDetectorCpu::OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) {
    QUILO_LOG_DEBUG("[BlinkDetectorCpu] OnCameraIntrinsicsChange: {}", intrinsics);
    intrinsics_ = intrinsics;
}

FaceDetector::Output& BlinkDetectorCpu::DetectFaces(const CameraFrame& frame) {
    output_.detections.clear();
    ++statistics_.frames;
    const ImageDesc* desc = UsableImage(frame);
    if (desc == nullptr) {
        tracks_.clear();
        return output_;
    }
    const cv::Mat image = ImageOf(*desc);
    const bool lost = FollowTracks(image);
    if (worker_) TakeBackgroundSearch(image);
    if (SearchDue(lost)) StartSearch(image);
    KeepLargestFaces();
    Report(frame, *desc, PinholeFor(intrinsics_, desc->width, desc->height));
    return output_;
}

const ImageDesc* BlinkDetectorCpu::UsableImage(const CameraFrame& frame) {
    const Slice<ImageDesc> images = frame.imageDescs();
    const char* problem = nullptr;
    if (images.size < 1) {
        problem = "no image";
    } else if (images[0].data == nullptr) {
        problem = "no pixels";
    } else if (images[0].width < kMinImageSide || images[0].height < kMinImageSide || images[0].width > kMaxImageSide ||
               images[0].height > kMaxImageSide) {
        problem = "unsupported image size";
    }
    if (problem == nullptr) return &images[0];
    QUILO_LOG_DEBUG("[BlinkDetectorCpu] frame skipped: {}", problem);
    return nullptr;
}

cv::Mat BlinkDetectorCpu::ImageOf(const ImageDesc& desc) {
    if (desc.width != frameSize_.width || desc.height != frameSize_.height) {
        tracks_.clear();
        frameSize_.width = desc.width;
        frameSize_.height = desc.height;
        ++frameSize_.generation;
    }
    return cv::Mat(desc.height, desc.width, CV_8UC1, const_cast<uint8_t*>(desc.data));
}

void BlinkDetectorCpu::TakeBackgroundSearch(const cv::Mat& image) {
    TakeSearchResult(image, settings_.awaitSearch || tracks_.empty());
    if (tracks_.empty()) {
        StartSearch(image);
        TakeSearchResult(image, true);
    }
}

void BlinkDetectorCpu::TakeSearchResult(const cv::Mat& image, bool wait) {
    const std::optional<SearchWorker::Result> result = worker_->Take(wait);
    if (!result || result->generation != frameSize_.generation) return;
    TakeFound(image, result->faces, statistics_.frames - schedule_.searchedFrame);
    schedule_.framesSince = 0;
}

bool BlinkDetectorCpu::SearchDue(bool lost) {
    const int32_t interval = worker_ ? settings_.backgroundInterval : settings_.detectionInterval;
    return tracks_.empty() || lost || ++schedule_.framesSince >= interval;
}

void BlinkDetectorCpu::KeepLargestFaces() {
    std::stable_sort(tracks_.begin(), tracks_.end(),
                     [](const Track& a, const Track& b) { return a.box.width > b.box.width; });
    const size_t keep = static_cast<size_t>(maxNumOfFaces_.load());
    if (tracks_.size() > keep) tracks_.resize(keep);
}

bool BlinkDetectorCpu::Seat(const cv::Mat& image, const FaceBox& from, float roll, Track* track,
                            LandmarkPlacer::Origin origin) const {
    return PlaceLandmarks(*model_, image, from, roll, track, origin);
}

bool BlinkDetectorCpu::Follow(const cv::Mat& image, Track* track) {
    FaceBox predicted = track->box;
    predicted.x += track->motion.x;
    predicted.y += track->motion.y;
    Track next = *track;
    const bool seated =
        Seat(image, predicted, track->roll, &next, LandmarkPlacer::Origin::kLandmarks) && !IsFlat(image, next.box);

    const auto stepOf = [&](const Track& to) {
        return (to.box.tl() + to.box.br() - track->box.tl() - track->box.br()) * 0.5f;
    };
    const auto confirm = [&](Track confirmed) {
        confirmed.motion = stepOf(confirmed);
        confirmed.step = cv::Point2f();
        confirmed.fresh = false;
        confirmed.misses = 0;
        *track = confirmed;
        return true;
    };
    // A placer that tells whether a face is there follows it on its own, as
    // MediaPipe does: the landmarks give the region of the next frame.
    if (seated && next.presence >= kFacePresence) return confirm(next);
    // The cascade where the landmarks are: a face there that agrees with
    // them confirms them.
    FaceBox found;
    if (seated && finder_.FindAt(image, next.box, next.roll, &found) && Agree(next.box, found)) return confirm(next);
    // A face placed again in the last frame is not assumed to move on (it
    // may have jumped and stayed), but it may: its landmarks placed one more
    // such step along, confirmed there, spare the searches around it.
    if (track->step != cv::Point2f()) {
        FaceBox stepped = track->box;
        stepped.x += track->step.x;
        stepped.y += track->step.y;
        Track moved = *track;
        FaceBox seen;
        if (Seat(image, stepped, track->roll, &moved, LandmarkPlacer::Origin::kLandmarks) &&
            !IsFlat(image, moved.box) && finder_.FindAt(image, moved.box, moved.roll, &seen) &&
            Agree(moved.box, seen)) {
            return confirm(moved);
        }
    }
    // The cascade around the landmarks, for a face that stayed but was not
    // seen where expected.
    const bool nearLandmarks = seated && finder_.FindNear(image, next.box, next.roll, &found);
    if (nearLandmarks && Agree(next.box, found)) return confirm(next);
    // Otherwise the landmarks slipped, or the face moved faster than its
    // last motion told: placed again from a face found there, or else
    // further around the face's expected place and size, the landmarks must
    // agree with it.
    const auto realign = [&](const FaceBox& found) {
        Track again = *track;
        if (!Seat(image, found, track->roll, &again) || !Agree(again.box, found)) return false;
        ++statistics_.realigned;
        // A face just found has no past to jump from: what it moved since
        // is its motion.
        const cv::Point2f moved = stepOf(again);
        again.motion = track->fresh ? moved : cv::Point2f();
        again.step = track->fresh ? cv::Point2f() : moved;
        again.fresh = false;
        again.misses = 0;
        again.pose.valid = false;
        *track = again;
        return true;
    };
    if (nearLandmarks && realign(found)) return true;
    if (finder_.FindNear(image, predicted, track->roll, &found, kFarReach) && realign(found)) return true;
    if (!seated) return false;
    // Neither the placer nor the cascade sees a face there.
    if (next.presence != kNoPresence) return false;
    ++statistics_.unconfirmed;
    next.misses = track->misses + 1;
    next.motion = cv::Point2f();
    next.step = cv::Point2f();
    next.fresh = false;
    if (next.misses > settings_.maxMisses) return false;
    if (next.misses >= 2) {
        // Two frames without the cascade: dlib's detector (which sees more
        // turned heads) must find the face where the landmarks are, or they
        // sit on no face.
        FaceBox placed;
        ++statistics_.doubleChecked;
        if (!finder_.PlaceFace(image, next.box, &placed, next.roll)) return false;
        if (!Agree(next.box, placed)) {
            Track again = next;
            if (!Seat(image, placed, next.roll, &again)) return false;
            again.pose.valid = false;
            next = again;
        }
    }
    *track = next;
    return true;
}

bool BlinkDetectorCpu::FollowTracks(const cv::Mat& image) {
    bool lost = false;
    for (auto track = tracks_.begin(); track != tracks_.end();) {
        ++statistics_.followed;
        if (!Follow(image, &*track)) {
            track = tracks_.erase(track);
            ++statistics_.lost;
            lost = true;
            continue;
        }
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

void BlinkDetectorCpu::StartSearch(const cv::Mat& image) {
    SearchJob job;
    ChooseView(schedule_.count, image, &job);
    job.image = image;
    job.generation = frameSize_.generation;
    for (const Track& track : tracks_) job.followed.push_back(track.box);
    // A worker still busy with its last search: the next frame asks again.
    if (worker_ && !worker_->Post(job)) return;
    schedule_.searchedFrame = statistics_.frames;
    ++schedule_.count;
    schedule_.framesSince = 0;
    ++statistics_.fullSearches;
    for (Track& track : tracks_) {
        track.searched = track.box;
        track.inSearch = true;
    }
    if (!worker_) TakeFound(image, search_.Run(job), 0);
}

void BlinkDetectorCpu::TakeFound(const cv::Mat& image, const std::vector<Found>& searched, int64_t framesAgo) {
    const size_t wanted = static_cast<size_t>(maxNumOfFaces_.load());
    for (const Found& face : searched) {
        // Where the face is now: the search looked at an earlier frame.
        bool located = false;
        const auto locate = [&] {
            FaceBox now = face.box;
            located = finder_.FindNear(image, face.box, face.roll, &now, kFarReach);
            return located ? now : face.box;
        };
        auto followed = std::find_if(tracks_.begin(), tracks_.end(), [&](const Track& t) {
            return SameFace(t.inSearch ? t.searched : t.box, face.box);
        });
        if (followed != tracks_.end()) {
            // Where the search saw the face, the followed face must have been.
            if (Agree(followed->inSearch ? followed->searched : followed->box, face.box)) {
                followed->misses = 0;
                continue;
            }
            Track again = *followed;
            if (Seat(image, locate(), face.roll, &again)) {
                ++statistics_.realigned;
                again.motion = cv::Point2f();
                again.misses = 0;
                again.pose.valid = false;
                again.inSearch = false;
                *followed = again;
            }
            continue;
        }
        // Faces come largest first: once enough faces are followed, a
        // smaller one than all of them would be dropped again.
        if (tracks_.size() >= wanted && std::all_of(tracks_.begin(), tracks_.end(),
                                                    [&](const Track& t) { return t.box.width >= face.box.width; })) {
            break;
        }
        Track track;
        const FaceBox now = locate();
        if (!Seat(image, now, face.roll, &track)) continue;
        if (std::any_of(tracks_.begin(), tracks_.end(), [&](const Track& t) { return SameFace(t.box, track.box); })) {
            continue;
        }
        // A face that moved while it was searched for keeps moving: the next
        // frame looks for it further along, not where it was.
        if (located && framesAgo > 0) {
            track.motion =
                (now.tl() + now.br() - face.box.tl() - face.box.br()) * (0.5f / static_cast<float>(framesAgo));
        } else {
            track.fresh = true;
        }
        tracks_.push_back(track);
    }
    for (Track& track : tracks_) track.inSearch = false;
}

std::vector<Landmarks> BlinkDetectorCpu::FindAllFaces(const cv::Mat& image) {
    const std::vector<FaceBox> found = finder_.FindFaces(image, settings_.minEyeDistance);
    std::vector<Landmarks> faces;
    std::vector<FaceBox> boxes;
    for (const FaceBox& box : found) {
        Landmarks landmarks;
        model_->Place(image, box, 0.0f, LandmarkPlacer::Origin::kDetector, &landmarks);
        const FaceBox placed = LandmarkModel::BoxAround(landmarks);
        if (std::any_of(boxes.begin(), boxes.end(), [&](const FaceBox& b) { return SameFace(b, placed); })) continue;
        boxes.push_back(placed);
        faces.push_back(landmarks);
    }
    return faces;
}

void BlinkDetectorCpu::Report(const CameraFrame& frame, const ImageDesc& image, const Pinhole& camera) {
    for (Track& track : tracks_) {
        const cv::Point2f first = EyeCentre(track.landmarks, kRightEyeFirst);
        const cv::Point2f second = EyeCentre(track.landmarks, kLeftEyeFirst);
        if (!Inside(first, image.width, image.height) || !Inside(second, image.width, image.height)) continue;

        const glm::vec3 angles = FitHeadPose(track.landmarks, camera, &track.pose)
                                     ? HeadAngles(track.pose)
                                     : FrontalAngles(track.landmarks, camera);

        // Measured depths where the frame has them, else the estimate.
        const EyeDepths measured = MeasureEyeDepths(frame, first, second, track.box, image.width, image.height);
        float firstDepth = measured.first, secondDepth = measured.second;
        if (!(firstDepth > 0.0f) || !(secondDepth > 0.0f)) {
            const float estimate = static_cast<float>(EstimateEyeDepth(track.landmarks, camera, angles.y));
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
        face.rightEyePixel = mirrored ? glm::dvec2(second.x, second.y) : glm::dvec2(first.x, first.y);
        face.rightEyeDepth = mirrored ? secondDepth : firstDepth;
        face.leftEyePixel = mirrored ? glm::dvec2(first.x, first.y) : glm::dvec2(second.x, second.y);
        face.leftEyeDepth = mirrored ? firstDepth : secondDepth;
        face.angles = angles;

        const glm::dvec2 middle = (face.rightEyePixel + face.leftEyePixel) * 0.5;
        const float middleDepth = 0.5f * (firstDepth + secondDepth);
        glm::vec3 point(0.0f);
        if (!frame.DeprojectPixelToPoint(middle, middleDepth, &point)) {
            point = glm::vec3(DeprojectPinhole(middle, middleDepth, {camera.fx, camera.fy}, {camera.ppx, camera.ppy}));
            point.z = middleDepth;
        }
        face.headPosition = point;
        output_.detections.push_back(face);
    }
}

std::unique_ptr<BlinkDetectorCpu> CreateBlinkDetectorCpu(const BlinkDetectorConfiguration& configuration,
                                                         AssetManager& assets) {
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
    std::shared_ptr<const LandmarkPlacer> model, searchModel;
#if QUILO_HAVE_MEDIAPIPE
    if (settings.landmarks == LandmarkScheme::kMediaPipe) {
        const AssetBuffer mesh = assets.ReadBytes(kFaceMeshAsset, nullptr);
        const AssetBuffer iris = assets.ReadBytes(kIrisAsset, nullptr);
        const OnnxModel meshModel{kFaceMeshAsset, mesh.data.get(), static_cast<size_t>(mesh.size)};
        const OnnxModel irisModel{kIrisAsset, iris.data.get(), static_cast<size_t>(iris.size)};
        // One for the frames, one for the searches: each serialises its callers.
        model = std::make_shared<const MediaPipeLandmarks>(meshModel, irisModel);
        searchModel = std::make_shared<const MediaPipeLandmarks>(meshModel, irisModel);
    }
#endif
    if (settings.landmarks == LandmarkScheme::kDlib68) {
        const AssetBuffer bytes = assets.ReadBytes(kLandmarkModelAsset, nullptr);
        try {
            model = std::make_shared<const LandmarkModel>(bytes.data.get(), static_cast<size_t>(bytes.size));
        } catch (const std::exception& e) {
            throw std::runtime_error(fmt::format("asset \"{}\": {}", kLandmarkModelAsset, e.what()));
        }
    }
    FaceFinder searchFinder(assets.ReadText(kFaceCascadeAsset, nullptr));
    return std::make_unique<BlinkDetectorCpu>(settings, std::move(model), std::move(*finder), std::move(searchFinder),
                                              std::move(searchModel));
}

}  // namespace quilo::head::cpu
