#include "plugins/blinkDetectorCpu/blinkDetectorCpu.h"

#include <algorithm>
#include <optional>
#include <cmath>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>
#include <opencv2/imgproc.hpp>

#include "common/log.h"
#include "headTracking/common/transforms.h"
#include "plugins/blinkDetectorCpu/depthSampling.h"

namespace quilo::head::cpu {

namespace {

// A face region whose grey values spread less than this is no face (a black,
// covered or saturated image).
constexpr double kFlatRegionDeviation = 2.0;

// A face region whose grey values spread less than this is dim: the
// landmarks are placed on a copy stretched to this spread.
constexpr double kDimDeviation = 24.0;

// Images darker than this on average are searched with their contrast
// equalised every time.
constexpr double kDimImageMean = 50.0;

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

// The roll of the line from the person's right eye to the left eye.
float EyeRoll(const Landmarks& landmarks) {
    const cv::Point2f d = EyeCentre(landmarks, kLeftEyeFirst) - EyeCentre(landmarks, kRightEyeFirst);
    return std::atan2(d.y, d.x);
}

// Eyes rolled further than this (or swapped: about 180 degrees) are no fit.
constexpr float kMaxRoll = 70.0f * static_cast<float>(CV_PI) / 180.0f;

// Whether the landmarks and a face found at `found` tell the same place and
// size: centres within an eighth of the box (about a third of an eye
// distance) and sizes within a quarter.
bool Agree(const FaceBox& landmarksBox, const FaceBox& found) {
    const cv::Point2f d = (landmarksBox.tl() + landmarksBox.br()) * 0.5f - (found.tl() + found.br()) * 0.5f;
    const float ratio = landmarksBox.width / found.width;
    return std::hypot(d.x, d.y) < 0.125f * landmarksBox.width && ratio > 0.8f && ratio < 1.25f;
}

// Turned copies are scanned for faces this many times the smallest eye
// distance of the upright scan.
constexpr float kTurnedMinEyeDistance = 1.5f;

// How far around a face the cascade looks for it when it is not where it
// was expected (see FaceFinder::FindNear).
constexpr float kFarReach = 2.0f;

// Whether two boxes show the same face: centres close and sizes alike.
bool SameFace(const FaceBox& a, const FaceBox& b) {
    const cv::Point2f d = (a.tl() + a.br()) * 0.5f - (b.tl() + b.br()) * 0.5f;
    const float size = std::max(a.width, b.width);
    const float ratio = a.width / b.width;
    return std::hypot(d.x, d.y) < 0.5f * size && ratio > 0.5f && ratio < 2.0f;
}

}  // namespace

BlinkDetectorCpu::BlinkDetectorCpu(const BlinkDetectorSettings& settings,
                                   std::shared_ptr<const LandmarkModel> model, FaceFinder finder,
                                   FaceFinder searchFinder)
    : settings_(settings),
      model_(std::move(model)),
      finder_(std::move(finder)),
      maxNumOfFaces_(std::clamp(settings.maxNumOfFaces, 1, kMaxNumOfFacesLimit)),
      searchFinder_(std::move(searchFinder)) {
    if (!model_) throw std::invalid_argument("BlinkDetectorCpu needs a landmark model");
    tracks_.reserve(kMaxNumOfFacesLimit * 2);
    output_.detections.reserve(kMaxNumOfFacesLimit);
    if (settings_.searchInBackground) worker_ = std::thread([this] { SearchLoop(); });
    QUILO_LOG_INFO(
        "[BlinkDetectorCpu] created: maxNumOfFaces={}, minEyeDistance={}, detectionInterval={}, "
        "maxMisses={}, searchInBackground={}, backgroundInterval={}",
        maxNumOfFaces_.load(), settings_.minEyeDistance, settings_.detectionInterval,
        settings_.maxMisses, settings_.searchInBackground, settings_.backgroundInterval);
}

BlinkDetectorCpu::~BlinkDetectorCpu() {
    if (worker_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    QUILO_LOG_INFO("[BlinkDetectorCpu] destroyed");
}

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
        ++generation_;
    }
    const cv::Mat image(desc.height, desc.width, CV_8UC1, const_cast<uint8_t*>(desc.data));

    const bool lost = FollowTracks(image);

    // The faces of a search that has ended. While no face is followed there
    // is nothing a wait could delay: the frame waits for the search in
    // progress, or for a new one, and reports what it finds.
    if (worker_.joinable()) {
        TakeSearchResult(image, settings_.awaitSearch || tracks_.empty());
        if (tracks_.empty()) {
            StartSearch(image);
            TakeSearchResult(image, true);
        }
    }

    const int32_t interval =
        worker_.joinable() ? settings_.backgroundInterval : settings_.detectionInterval;
    if (tracks_.empty() || lost || ++framesSinceSearch_ >= interval) StartSearch(image);

    // The largest faces first; the others are no longer followed.
    std::stable_sort(tracks_.begin(), tracks_.end(),
                     [](const Track& a, const Track& b) { return a.box.width > b.box.width; });
    const size_t keep = static_cast<size_t>(maxNumOfFaces_.load());
    if (tracks_.size() > keep) tracks_.resize(keep);

    Report(frame, desc, PinholeFor(intrinsics_, desc.width, desc.height));
    return output_;
}

void BlinkDetectorCpu::TakeSearchResult(const cv::Mat& image, bool wait) {
    std::vector<Found> found;
    bool taken = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wait) done_.wait(lock, [&] { return !searching_ || resultReady_; });
        if (!resultReady_) return;
        taken = resultGeneration_ == generation_;
        found.swap(result_);
        resultReady_ = false;
        searching_ = false;
    }
    if (taken) {
        TakeFound(image, found, statistics_.frames - searchedFrame_);
        framesSinceSearch_ = 0;
    }
}

bool BlinkDetectorCpu::Seat(const cv::Mat& image, const FaceBox& from, float roll,
                            Track* track) const {
    Landmarks landmarks;
    // The landmark model compares differences of grey levels with fixed
    // thresholds: a dim face is placed on a copy of its region with the
    // contrast stretched.
    const cv::Point2f centre = (from.tl() + from.br()) * 0.5f;
    const cv::Rect region = cv::Rect(cv::Point(static_cast<int>(centre.x - from.width),
                                               static_cast<int>(centre.y - from.height)),
                                     cv::Size(static_cast<int>(2 * from.width),
                                              static_cast<int>(2 * from.height))) &
                            cv::Rect(0, 0, image.cols, image.rows);
    cv::Scalar mean, deviation;
    if (region.area() > 0) cv::meanStdDev(image(cv::Rect(from) & region), mean, deviation);
    if (region.area() > 0 && deviation[0] > kFlatRegionDeviation &&
        deviation[0] < kDimDeviation) {
        const double gain = kDimDeviation / deviation[0];
        cv::Mat stretched;
        image(region).convertTo(stretched, CV_8U, gain, 110.0 - gain * mean[0]);
        FaceBox inRegion = from;
        inRegion.x -= static_cast<float>(region.x);
        inRegion.y -= static_cast<float>(region.y);
        model_->Predict(stretched, inRegion, &landmarks, roll);
        for (cv::Point2f& p : landmarks) p += cv::Point2f(region.tl());
    } else {
        model_->Predict(image, from, &landmarks, roll);
    }
    const float placedRoll = EyeRoll(landmarks);
    if (std::abs(placedRoll) > kMaxRoll || !EyesInside(landmarks, image.cols, image.rows))
        return false;
    track->landmarks = landmarks;
    track->roll = placedRoll;
    track->box = LandmarkModel::BoxAround(landmarks, placedRoll);
    return true;
}

bool BlinkDetectorCpu::Follow(const cv::Mat& image, Track* track) {
    FaceBox predicted = track->box;
    predicted.x += track->motion.x;
    predicted.y += track->motion.y;
    Track next = *track;
    const bool seated = Seat(image, predicted, track->roll, &next) && !IsFlat(image, next.box);

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
    // The cascade where the landmarks are: a face there that agrees with
    // them confirms them.
    FaceBox found;
    if (seated && finder_.FindAt(image, next.box, next.roll, &found) && Agree(next.box, found))
        return confirm(next);
    // A face placed again in the last frame is not assumed to move on (it
    // may have jumped and stayed), but it may: its landmarks placed one more
    // such step along, confirmed there, spare the searches around it.
    if (track->step != cv::Point2f()) {
        FaceBox stepped = track->box;
        stepped.x += track->step.x;
        stepped.y += track->step.y;
        Track moved = *track;
        FaceBox seen;
        if (Seat(image, stepped, track->roll, &moved) && !IsFlat(image, moved.box) &&
            finder_.FindAt(image, moved.box, moved.roll, &seen) && Agree(moved.box, seen)) {
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
    if (finder_.FindNear(image, predicted, track->roll, &found, kFarReach) && realign(found))
        return true;
    if (!seated) return false;
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
    // Every search scans the upright image, alternating the sizes it scans
    // and, every fourth time (or always, in a dim image), with its contrast
    // equalised; every other search also scans a copy turned for rolled
    // heads. The cascade sees faces within about 12 degrees of upright, so
    // the copies turn by 30 and by 45 degrees, each way in turn: together
    // with the upright image they cover rolls up to about 55 degrees.
    constexpr float kDegree = static_cast<float>(CV_PI) / 180.0f;
    constexpr float kTurns[] = {30.0f * kDegree, -30.0f * kDegree, 45.0f * kDegree,
                                -45.0f * kDegree};
    SearchJob job;
    job.inBetween = searchCount_ % 2 == 1;
    job.roll = searchCount_ % 2 == 1 ? kTurns[(searchCount_ / 2) % 4] : 0.0f;
    job.normalise = searchCount_ % 4 == 2 || cv::mean(image)[0] < kDimImageMean;
    job.generation = generation_;

    if (!worker_.joinable()) {
        ++searchCount_;
        framesSinceSearch_ = 0;
        ++statistics_.fullSearches;
        job.image = image;
        for (const Track& track : tracks_) job.followed.push_back(track.box);
        for (Track& track : tracks_) {
            track.searched = track.box;
            track.inSearch = true;
        }
        const std::vector<Found> found = Search(searchFinder_, job);
        TakeFound(image, found, 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (searching_) return;  // the worker is busy: the next frame asks again
        image.copyTo(job_.image);
        job_.inBetween = job.inBetween;
        job_.roll = job.roll;
        job_.normalise = job.normalise;
        job_.generation = job.generation;
        job_.followed.clear();
        for (const Track& track : tracks_) job_.followed.push_back(track.box);
        jobPosted_ = true;
        searching_ = true;
    }
    wake_.notify_one();
    searchedFrame_ = statistics_.frames;
    ++searchCount_;
    framesSinceSearch_ = 0;
    ++statistics_.fullSearches;
    for (Track& track : tracks_) {
        track.searched = track.box;
        track.inSearch = true;
    }
}

void BlinkDetectorCpu::SearchLoop() {
    SearchJob job;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || jobPosted_; });
        if (stop_) return;
        std::swap(job, job_);
        jobPosted_ = false;
        lock.unlock();
        std::vector<Found> found = Search(searchFinder_, job);
        lock.lock();
        result_ = std::move(found);
        resultGeneration_ = job.generation;
        resultReady_ = true;
        done_.notify_all();
    }
}

std::vector<BlinkDetectorCpu::Found> BlinkDetectorCpu::Search(FaceFinder& finder,
                                                              const SearchJob& job) const {
    std::vector<Found> candidates;
    for (const FaceBox& box : finder.FindCandidates(job.image, settings_.minEyeDistance,
                                                    job.inBetween, 0.0f, job.normalise)) {
        candidates.push_back({box, 0.0f});
    }
    if (job.roll != 0.0f) {
        // Rolled heads from a slightly larger size: the turned copy is the
        // larger image to scan.
        for (const FaceBox& box :
             finder.FindCandidates(job.image, kTurnedMinEyeDistance * settings_.minEyeDistance,
                                   job.inBetween, job.roll, job.normalise)) {
            candidates.push_back({box, job.roll});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Found& a, const Found& b) { return a.box.width > b.box.width; });
    std::vector<Found> found;
    for (const Found& candidate : candidates) {
        // Enough faces placed for any face count: the rest are smaller.
        if (found.size() >= static_cast<size_t>(2 * kMaxNumOfFacesLimit)) break;
        if (std::any_of(found.begin(), found.end(),
                        [&](const Found& f) { return SameFace(f.box, candidate.box); })) {
            continue;
        }
        // A followed face where the cascade sees it needs no placing: it is
        // confirmed by the frame that takes the result.
        const auto agrees = std::find_if(job.followed.begin(), job.followed.end(),
                                         [&](const FaceBox& b) { return Agree(b, candidate.box); });
        if (agrees != job.followed.end()) {
            found.push_back({*agrees, candidate.roll});
            continue;
        }
        FaceBox box;
        if (!finder.PlaceFace(job.image, candidate.box, &box, candidate.roll)) continue;
        Track track;
        if (!Seat(job.image, box, candidate.roll, &track)) continue;
        if (std::any_of(found.begin(), found.end(),
                        [&](const Found& f) { return SameFace(f.box, track.box); })) {
            continue;
        }
        found.push_back({track.box, track.roll});
    }
    return found;
}

void BlinkDetectorCpu::TakeFound(const cv::Mat& image, const std::vector<Found>& searched,
                                 int64_t framesAgo) {
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
        if (tracks_.size() >= wanted &&
            std::all_of(tracks_.begin(), tracks_.end(),
                        [&](const Track& t) { return t.box.width >= face.box.width; })) {
            break;
        }
        Track track;
        const FaceBox now = locate();
        if (!Seat(image, now, face.roll, &track)) continue;
        if (std::any_of(tracks_.begin(), tracks_.end(),
                        [&](const Track& t) { return SameFace(t.box, track.box); })) {
            continue;
        }
        // A face that moved while it was searched for keeps moving: the next
        // frame looks for it further along, not where it was.
        if (located && framesAgo > 0) {
            track.motion = (now.tl() + now.br() - face.box.tl() - face.box.br()) *
                           (0.5f / static_cast<float>(framesAgo));
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
        const EyeDepths measured =
            MeasureEyeDepths(frame, first, second, track.box, image.width, image.height);
        float firstDepth = measured.first, secondDepth = measured.second;
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
            point = glm::vec3(DeprojectPinhole(middle, middleDepth, {camera.fx, camera.fy},
                                               {camera.ppx, camera.ppy}));
            point.z = middleDepth;
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
    FaceFinder searchFinder(assets.ReadText(kFaceCascadeAsset, nullptr));
    return std::make_unique<BlinkDetectorCpu>(settings, std::move(model), std::move(*finder),
                                              std::move(searchFinder));
}

}  // namespace quilo::head::cpu
