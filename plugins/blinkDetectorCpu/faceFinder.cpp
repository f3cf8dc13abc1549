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
// Looking near a face: a region kConfirmRegion times the expected cascade
// box, scanned for faces kNearSmallest to kNearLargest times its size in
// steps of kConfirmScaleStep. Looking at a face: a region kAtRegion times
// the box, for faces kAtSmallest to kAtLargest times its size: the sizes
// and places that agree with the box, in about half the windows.
constexpr float kConfirmRegion = 1.7f;
constexpr float kNearSmallest = 0.8f;
constexpr float kNearLargest = 1.4f;
constexpr float kAtRegion = 1.45f;
constexpr float kAtSmallest = 0.8f;
constexpr float kAtLargest = 1.25f;
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

// Whether `region` (clipped to the image) is all of the square of `half` around `centre`.
bool WhollyInside(cv::Point2f centre, float half, const cv::Mat& image) {
    return centre.x - half >= 0.0f && centre.y - half >= 0.0f && centre.x + half <= static_cast<float>(image.cols) &&
           centre.y + half <= static_cast<float>(image.rows);
}

// A similarity from view pixels to image pixels: the view's centre lands on
// `centre`, one view pixel spans `scale` image pixels, and the view is turned
// by `roll` so that a face rolled by `roll` in the image stands upright in it.
cv::Matx23d ViewToImage(cv::Point2f centre, cv::Size view, double scale, double roll) {
    const double c = scale * std::cos(roll), s = scale * std::sin(roll);
    const double vx = 0.5 * view.width - 0.5, vy = 0.5 * view.height - 0.5;
    return {c, -s, centre.x - (c * vx - s * vy), s, c, centre.y - (s * vx + c * vy)};
}

cv::Point2f Apply(const cv::Matx23d& m, cv::Point2f p) {
    return {static_cast<float>(m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2)),
            static_cast<float>(m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2))};
}

// The pixels of `image` seen through `toImage` into a view of `size`, the
// image's border repeated beyond it. A view much coarser than the image is
// drawn from a copy of the region shrunk by area averaging, so that it shows
// what a camera of that resolution would.
void Look(const cv::Mat& image, const cv::Matx23d& toImage, cv::Size size, cv::Mat* view, cv::Mat* scratch) {
    const double scale = std::hypot(toImage(0, 0), toImage(1, 0));
    if (scale < 1.3) {
        cv::warpAffine(image, *view, toImage, size, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
        return;
    }
    float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
    for (const cv::Point2f corner : {cv::Point2f(0, 0), cv::Point2f(size.width, 0), cv::Point2f(0, size.height),
                                     cv::Point2f(size.width, size.height)}) {
        const cv::Point2f p = Apply(toImage, corner - cv::Point2f(0.5f, 0.5f));
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
    const cv::Rect region =
        cv::Rect(cv::Point(static_cast<int>(std::floor(x0)) - 2, static_cast<int>(std::floor(y0)) - 2),
                 cv::Point(static_cast<int>(std::ceil(x1)) + 3, static_cast<int>(std::ceil(y1)) + 3)) &
        cv::Rect(0, 0, image.cols, image.rows);
    if (region.width < 2 || region.height < 2) {
        view->create(size, CV_8UC1);
        view->setTo(cv::Scalar(0));
        return;
    }
    cv::resize(image(region), *scratch,
               cv::Size(std::max(1, static_cast<int>(std::lround(region.width / scale))),
                        std::max(1, static_cast<int>(std::lround(region.height / scale)))),
               0, 0, cv::INTER_AREA);
    const double fx = static_cast<double>(scratch->cols) / region.width;
    const double fy = static_cast<double>(scratch->rows) / region.height;
    const cv::Matx23d toScratch(fx * toImage(0, 0), fx * toImage(0, 1), fx * (toImage(0, 2) - region.x + 0.5) - 0.5,
                                fy * toImage(1, 0), fy * toImage(1, 1), fy * (toImage(1, 2) - region.y + 0.5) - 0.5);
    cv::warpAffine(*scratch, *view, toScratch, size, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
}

// Continuous coordinates (pixel i covers [i, i + 1)) are pixel centres plus this.
const cv::Point2f kHalf(0.5f, 0.5f);

// A view whose grey levels spread less than this (a dim face) has its
// histogram equalised before it is scanned.
constexpr double kDimDeviation = 20.0;

void BrightenIfDim(cv::Mat* view, cv::Mat* scratch) {
    cv::Scalar mean, deviation;
    cv::meanStdDev(*view, mean, deviation);
    if (deviation[0] >= kDimDeviation) return;
    cv::equalizeHist(*view, *scratch);
    std::swap(*view, *scratch);
}

// A box of `size` centred on `centre`.
FaceBox Centred(cv::Point2f centre, float size) {
    return FaceBox(centre.x - size / 2, centre.y - size / 2, size, size);
}

cv::Point2f CentreOf(const cv::Rect2f& box) { return {box.x + box.width / 2, box.y + box.height / 2}; }

}  // namespace

FaceFinder::FaceFinder(const std::string& cascadeXml) {
    try {
        cv::FileStorage storage(cascadeXml, cv::FileStorage::READ | cv::FileStorage::MEMORY);
        if (!storage.isOpened() || !cascade_.read(storage.getFirstTopLevelNode()) || cascade_.empty()) {
            throw std::runtime_error("not a cascade");
        }
    } catch (const cv::Exception& e) {
        throw std::runtime_error(std::string("invalid face cascade: ") + e.what());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(std::string("invalid face cascade: ") + e.what());
    }
    window_ = cascade_.getOriginalWindowSize();
    if (window_.width <= 0 || window_.height <= 0) throw std::runtime_error("invalid face cascade: no window size");
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

std::vector<FaceBox> FaceFinder::FindCandidates(const cv::Mat& image, float minEyeDistance, bool inBetween, float roll,
                                                bool normalise) {
    const float minFace = std::max(minEyeDistance, 1.0f) * kCascadeBoxPerEyeDistance;
    const double scale =
        std::max(1.0, static_cast<double>(minFace) / window_.width) * (inBetween ? std::sqrt(kSearchScaleStep) : 1.0);
    // The scanned view: the image at the search's resolution, widened by
    // half a window on every side, turned by the roll.
    const int pad = window_.width / 2;
    const cv::Size shrunk(static_cast<int>(std::lround(image.cols / scale)),
                          static_cast<int>(std::lround(image.rows / scale)));
    const int side = roll == 0.0f ? 0 : static_cast<int>(std::ceil(std::hypot(shrunk.width, shrunk.height)));
    const cv::Size viewSize =
        roll == 0.0f ? cv::Size(shrunk.width + 2 * pad, shrunk.height + 2 * pad) : cv::Size(side, side);
    const cv::Point2f middle(0.5f * image.cols - 0.5f, 0.5f * image.rows - 0.5f);
    cv::Matx23d toImage = ViewToImage(middle, viewSize, scale, roll);
    if (roll == 0.0f) {
        // Upright: the image shrunk as a whole, then widened.
        const cv::Mat* shrunkImage = &image;
        if (scale > 1.01) {
            cv::resize(image, scaled_, cv::Size(), 1.0 / scale, 1.0 / scale, cv::INTER_AREA);
            shrunkImage = &scaled_;
        }
        cv::copyMakeBorder(*shrunkImage, turned_, pad, pad, pad, pad, cv::BORDER_REPLICATE);
        const double fx = static_cast<double>(image.cols) / shrunkImage->cols;
        const double fy = static_cast<double>(image.rows) / shrunkImage->rows;
        toImage = cv::Matx23d(fx, 0.0, (0.5 - pad) * fx - 0.5, 0.0, fy, (0.5 - pad) * fy - 0.5);
    } else {
        Look(image, toImage, viewSize, &turned_, &scaled_);
    }
    if (normalise) {
        if (clahe_.empty()) clahe_ = cv::createCLAHE(2.0, cv::Size(8, 8));
        clahe_->apply(turned_, scaled_);
        std::swap(turned_, scaled_);
    }
    found_.clear();
    if (turned_.cols >= window_.width && turned_.rows >= window_.height) {
        cascade_.detectMultiScale(turned_, found_, kSearchScaleStep, kSearchNeighbours, 0, window_);
    }
    std::vector<FaceBox> candidates;
    candidates.reserve(found_.size());
    for (const cv::Rect& r : found_) {
        // The model box in the view, then its centre in the image.
        const FaceBox inView = ToModelBox(cv::Rect2f(r));
        candidates.push_back(
            Centred(Apply(toImage, CentreOf(inView) - kHalf) + kHalf, inView.width * static_cast<float>(scale)));
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const FaceBox& a, const FaceBox& b) { return a.width > b.width; });
    return candidates;
}

std::vector<FaceBox> FaceFinder::FindFaces(const cv::Mat& image, float minEyeDistance, bool inBetween) {
    std::vector<FaceBox> faces;
    for (const FaceBox& candidate : FindCandidates(image, minEyeDistance, inBetween)) {
        FaceBox placed;
        if (PlaceFace(image, candidate, &placed)) faces.push_back(placed);
    }
    std::stable_sort(faces.begin(), faces.end(), [](const FaceBox& a, const FaceBox& b) { return a.width > b.width; });
    return faces;
}

bool FaceFinder::PlaceFace(const cv::Mat& image, const FaceBox& box, FaceBox* placed, float roll) {
    if (!(box.width > 1.0f) || box.width > 4.0f * std::max(image.cols, image.rows)) return false;
    const cv::Point2f centre(box.x + box.width / 2, box.y + box.height / 2);
    double scale = 2.0;
    while (box.width * scale > kPlaceFaceSize) scale *= 5.0 / 6.0;
    const float half = kPlaceRegion * box.width / 2;
    if (roll != 0.0f || !WhollyInside(centre, half, image)) {
        // A rolled face, or one by the border: a turned view of the region
        // with the border repeated beyond the image.
        const int side = static_cast<int>(std::lround(2.0 * half * scale));
        if (side < 2) return false;
        const cv::Matx23d toImage = ViewToImage(centre, cv::Size(side, side), 1.0 / scale, roll);
        Look(image, toImage, cv::Size(side, side), &turned_, &scaled_);
        BrightenIfDim(&turned_, &scaled_);
        const std::vector<dlib::rectangle> found = hog_(dlib::cv_image<uint8_t>(turned_));
        double nearest = 0.5 * box.width;
        bool any = false;
        for (const dlib::rectangle& r : found) {
            const cv::Point2f inView(static_cast<float>((r.left() + r.right()) / 2.0),
                                     static_cast<float>((r.top() + r.bottom()) / 2.0));
            const cv::Point2f at = Apply(toImage, inView);
            const double distance = std::hypot(at.x - centre.x, at.y - centre.y);
            if (distance < nearest) {
                nearest = distance;
                *placed = Centred(at, static_cast<float>((r.width() - 1) / scale));
                any = true;
            }
        }
        return any;
    }
    const cv::Rect region = Region(centre, half, image);
    if (region.width < 2 || region.height < 2) return false;
    cv::resize(image(region), scaled_, cv::Size(), scale, scale, scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    BrightenIfDim(&scaled_, &turned_);
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
                                static_cast<float>((r.width() - 1) / sx), static_cast<float>((r.height() - 1) / sy));
        const double distance =
            std::hypot(candidate.x + candidate.width / 2 - centre.x, candidate.y + candidate.height / 2 - centre.y);
        if (distance < nearest) {
            nearest = distance;
            *placed = candidate;
            any = true;
        }
    }
    return any;
}

bool FaceFinder::FindNear(const cv::Mat& image, const FaceBox& box, float roll, FaceBox* result, float reach) {
    return Scan(image, box, roll, kConfirmRegion + 2.0f * (reach - 1.0f), kNearSmallest, kNearLargest, result);
}

bool FaceFinder::FindAt(const cv::Mat& image, const FaceBox& box, float roll, FaceBox* result) {
    return Scan(image, box, roll, kAtRegion, kAtSmallest, kAtLargest, result);
}

bool FaceFinder::Scan(const cv::Mat& image, const FaceBox& box, float roll, float region, float smallest, float largest,
                      FaceBox* result) {
    const cv::Rect2f expected = ToCascadeBox(box);
    if (!(expected.width > 1.0f) || !(expected.width < 4.0f * std::max(image.cols, image.rows))) return false;
    // Scale the region so that the smallest face scanned fills the window.
    const double scale = smallest * expected.width / window_.width;
    // The cascade box's centre in a rolled face lies off the model box's
    // centre along the face's own axes.
    const cv::Point2f modelCentre = CentreOf(box);
    const cv::Point2f shift = CentreOf(expected) - modelCentre;
    const float c = std::cos(roll), s = std::sin(roll);
    const cv::Point2f centre = modelCentre + cv::Point2f(c * shift.x - s * shift.y, s * shift.x + c * shift.y);
    const float half = region * expected.width / 2;
    const int side = static_cast<int>(std::lround(2.0 * half / scale));
    if (side < window_.width || side < window_.height) return false;
    const cv::Size viewSize(side, side);
    const cv::Matx23d toImage = ViewToImage(centre, viewSize, scale, roll);
    Look(image, toImage, viewSize, &turned_, &scaled_);
    BrightenIfDim(&turned_, &scaled_);

    const float grow = largest / smallest;
    const cv::Size biggest(static_cast<int>(std::ceil(window_.width * grow)),
                           static_cast<int>(std::ceil(window_.height * grow)));
    found_.clear();
    cascade_.detectMultiScale(turned_, found_, kConfirmScaleStep, kConfirmNeighbours, 0, window_, biggest);
    float nearest = half;
    bool any = false;
    for (const cv::Rect& r : found_) {
        const FaceBox inView = ToModelBox(cv::Rect2f(r));
        const float size = inView.width * static_cast<float>(scale);
        const cv::Point2f at = Apply(toImage, CentreOf(inView) - kHalf) + kHalf;
        const float distance = static_cast<float>(cv::norm(at - modelCentre));
        if (distance < nearest && size > 0.6f * box.width && size < 1.6f * box.width) {
            nearest = distance;
            *result = Centred(at, size);
            any = true;
        }
    }
    return any;
}

}  // namespace quilo::head::cpu
