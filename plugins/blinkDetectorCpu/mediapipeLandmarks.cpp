#include "plugins/blinkDetectorCpu/mediapipeLandmarks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <opencv2/imgproc.hpp>

#include "plugins/blinkDetectorCpu/landmarkModel.h"

namespace quilo::head::cpu {

namespace {

constexpr int kMeshSize = 192;
constexpr int kMeshPoints = 468;
constexpr int kIrisSize = 64;
constexpr int kContourPoints = 71;
constexpr int kIrisPoints = 5;

// The face mesh point nearest to each of the 68 points, in their order (jaw,
// brows, nose, eyes, mouth). The eyes' twelve are replaced by the iris
// model's contour.
constexpr std::array<int, kLandmarkCount> kMeshOf68 = {
    162, 234, 93,  58,  172, 136, 149, 148, 152, 377, 378, 365, 397, 288, 323, 454, 389,  // jaw
    71,  63,  105, 66,  107, 336, 296, 334, 293, 301,                                     // brows
    168, 197, 5,   4,   75,  97,  2,   326, 305,                                          // nose
    33,  160, 158, 133, 153, 144, 362, 385, 387, 263, 373, 380,                           // eyes
    61,  39,  37,  0,   267, 269, 291, 405, 314, 17,  84,  181,                           // lips, outside
    78,  82,  13,  312, 308, 317, 14,  87,                                                // lips, inside
};

// The face mesh's eye corners: the person's right eye's outer and inner
// corner, the left eye's inner and outer one.
constexpr int kRightOuter = 33, kRightInner = 133, kLeftInner = 362, kLeftOuter = 263;

// The iris model sees a person's right eye (outer corner on the crop's
// left); the left eye is mirrored to look like one. Its contour starts with
// the lower lid from the outer to the inner corner (0 to 8), then the upper
// lid back (9 to 15). The six points of the 68-point scheme, in its order
// for the right eye (outer corner, upper lid, inner corner, lower lid) and
// for the left eye (inner corner, upper lid, outer corner, lower lid).
constexpr std::array<int, 6> kRightEyeContour = {0, 11, 13, 8, 5, 3};
constexpr std::array<int, 6> kLeftEyeContour = {8, 13, 11, 0, 3, 5};

// The region the face mesh looks at: the landmarks' box turned upright,
// square, half as large again (as MediaPipe crops a face it follows).
constexpr float kMeshRegionScale = 1.5f;
// From a box in dlib's convention (brows to chin, about the width of the
// jaw), measured against the region its landmarks give: a larger square,
// raised a little for the forehead.
constexpr float kMeshSidePerBox = 1.75f;
constexpr float kMeshRaisePerBox = 0.08f;
// The iris model's region: 2.3 times the distance between the eye's corners.
constexpr float kIrisRegionScale = 2.3f;

// A followed face's iris model looks at one eye every this many placements
// in turn (the other eye half-way): it takes about 2.5 times as long as the
// face mesh, and the eye's offset from the face mesh's changes slowly. Once
// in a hundred frames (about a second at 90 fps) keeps the frames with an
// iris call under 1 %: the 99th percentile of a frame's time is the face
// mesh's. Every fourth frame gave the same accuracy on real head motion.
constexpr int32_t kIrisEvery = 200;
// A followed face's crop stays where it was while the face's box moves by
// less than this share of the crop (and its roll by less than this many
// radians, about 1.7 degrees): the face mesh's own noise, fed back through
// the crop, would double its jitter.
constexpr float kRegionHold = 0.03f;
// How much of the difference to each new measurement a followed face's
// offset takes.
constexpr float kOffsetGain = 0.5f;

// Crops much larger than the model's input are first shrunk by area
// averaging: bilinear resampling alone aliases and halves a face's score.
constexpr float kShrinkFirst = 1.5f;

float Sigmoid(float x) { return 1.0f / (1.0f + std::exp(-x)); }

// Grey crops as the models' RGB input, the grey replicated to the three
// channels: NCHW, values 0 to 1.
cv::Mat InputOf(const std::vector<cv::Mat>& crops, int size) {
    const int shape[] = {static_cast<int>(crops.size()), 3, size, size};
    cv::Mat blob(4, shape, CV_32F);
    for (size_t n = 0; n < crops.size(); ++n) {
        cv::Mat plane(size, size, CV_32F, blob.ptr<float>(static_cast<int>(n), 0));
        crops[n].convertTo(plane, CV_32F, 1.0 / 255.0);
        for (int channel = 1; channel < 3; ++channel) {
            plane.copyTo(cv::Mat(size, size, CV_32F, blob.ptr<float>(static_cast<int>(n), channel)));
        }
    }
    return blob;
}

cv::dnn::Net ReadNet(const OnnxModel& model) {
    try {
        cv::dnn::Net net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(model.data), model.size);
        if (net.empty()) throw std::runtime_error("no network");
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        return net;
    } catch (const std::exception& e) {
        throw std::runtime_error(fmt::format("asset \"{}\": not a usable ONNX network: {}", model.name, e.what()));
    }
}

// Throws unless `net` has exactly the outputs `names`. Checked before any
// forward pass: OpenCV runs a network on an input of another size than its
// own, and a model of another kind in a file's place (the iris model where
// the face mesh should be) then asks for an allocation of absurd size.
void CheckOutputNames(const cv::dnn::Net& net, std::vector<std::string> names, const std::string& model) {
    std::vector<std::string> found = net.getUnconnectedOutLayersNames();
    std::sort(found.begin(), found.end());
    std::sort(names.begin(), names.end());
    if (found != names) {
        throw std::runtime_error(fmt::format("asset \"{}\": outputs {}, expected {}", model, fmt::join(found, ", "),
                                             fmt::join(names, ", ")));
    }
}

// The outputs of one forward pass, by name, checked for their sizes.
std::vector<cv::Mat> Run(cv::dnn::Net& net, const cv::Mat& input, const std::vector<size_t>& sizes, const char* name) {
    net.setInput(input);
    std::vector<cv::Mat> outputs;
    net.forward(outputs, net.getUnconnectedOutLayersNames());
    if (outputs.size() != sizes.size()) {
        throw std::runtime_error(
            fmt::format("asset \"{}\": {} outputs, expected {}", name, outputs.size(), sizes.size()));
    }
    // The outputs in the order of their sizes, whatever the file's order.
    std::vector<cv::Mat> sorted(sizes.size());
    for (cv::Mat& output : outputs) {
        const size_t total = output.total();
        size_t slot = 0;
        while (slot < sizes.size() &&
               (total != sizes[slot] * static_cast<size_t>(input.size[0]) || !sorted[slot].empty())) {
            ++slot;
        }
        if (slot == sizes.size()) {
            throw std::runtime_error(fmt::format("asset \"{}\": an output of {} values is not expected", name, total));
        }
        sorted[slot] = output.reshape(1, input.size[0]);
    }
    return sorted;
}

const std::vector<size_t> kMeshOutputs = {kMeshPoints * 3, 1};
// The iris model's one output: the contour's points, then the iris's.
const std::vector<size_t> kIrisOutputs = {(kContourPoints + kIrisPoints) * 3};

// The region a face mesh's points give: their box in their own upright
// frame, square, scaled by kMeshRegionScale.
MediaPipeLandmarks::Region RegionOfMesh(const std::vector<cv::Point2f>& points) {
    const cv::Point2f eyes = points[kLeftOuter] - points[kRightOuter];
    const float roll = std::atan2(eyes.y, eyes.x);
    const float c = std::cos(roll), s = std::sin(roll);
    float left = 1e9f, right = -1e9f, top = 1e9f, bottom = -1e9f;
    for (const cv::Point2f& p : points) {
        const float u = c * p.x + s * p.y, v = -s * p.x + c * p.y;
        left = std::min(left, u);
        right = std::max(right, u);
        top = std::min(top, v);
        bottom = std::max(bottom, v);
    }
    const float u = 0.5f * (left + right), v = 0.5f * (top + bottom);
    return {cv::Point2f(c * u - s * v, s * u + c * v), kMeshRegionScale * std::max(right - left, bottom - top), roll};
}

// The iris model's region for the eye with corners `a` and `b`.
MediaPipeLandmarks::Region EyeRegion(const std::vector<cv::Point2f>& mesh, int a, int b, float roll) {
    return {
        (mesh[static_cast<size_t>(a)] + mesh[static_cast<size_t>(b)]) * 0.5f,
        kIrisRegionScale * static_cast<float>(cv::norm(mesh[static_cast<size_t>(a)] - mesh[static_cast<size_t>(b)])),
        roll};
}

}  // namespace

MediaPipeLandmarks::MediaPipeLandmarks(const OnnxModel& faceMesh, const OnnxModel& iris)
    : mesh_(ReadNet(faceMesh)), iris_(ReadNet(iris)) {
    CheckOutputNames(mesh_, {"landmarks", "face_flag"}, faceMesh.name);
    CheckOutputNames(iris_, {"landmarks"}, iris.name);
    try {
        Run(mesh_, InputOf({cv::Mat(kMeshSize, kMeshSize, CV_8U, cv::Scalar(128))}, kMeshSize), kMeshOutputs,
            faceMesh.name.c_str());
    } catch (const cv::Exception& e) {
        throw std::runtime_error(fmt::format("asset \"{}\": {}", faceMesh.name, e.what()));
    }
    try {
        const cv::Mat blank(kIrisSize, kIrisSize, CV_8U, cv::Scalar(128));
        Run(iris_, InputOf({blank, blank}, kIrisSize), kIrisOutputs, iris.name.c_str());
    } catch (const cv::Exception& e) {
        throw std::runtime_error(fmt::format("asset \"{}\": {}", iris.name, e.what()));
    }
}

const char* MediaPipeLandmarks::Description() const { return "MediaPipe's face mesh and iris models (Apache-2.0)"; }

cv::Mat MediaPipeLandmarks::Crop(const cv::Mat& image, const Region& region, int size, bool mirror) {
    const float scale = region.side / static_cast<float>(size);
    const float c = std::cos(region.roll), s = std::sin(region.roll);
    // Crop pixel (u, v) -> image: centre + R * (m * (u + 0.5 - size / 2), v + 0.5 - size / 2) * scale.
    const float m = mirror ? -1.0f : 1.0f;
    const float half = 0.5f * static_cast<float>(size) - 0.5f;
    cv::Matx23f toImage(m * c * scale, -s * scale, 0.0f, m * s * scale, c * scale, 0.0f);
    toImage(0, 2) = region.centre.x - toImage(0, 0) * half - toImage(0, 1) * half;
    toImage(1, 2) = region.centre.y - toImage(1, 0) * half - toImage(1, 1) * half;

    cv::Mat source = image;
    if (scale > kShrinkFirst) {
        // Only the part of the image the turned square covers, shrunk to about
        // the crop's resolution.
        const float reach = 0.5f * region.side * (std::abs(c) + std::abs(s)) + 2.0f * scale;
        const cv::Rect part = cv::Rect(cv::Point(static_cast<int>(std::floor(region.centre.x - reach)),
                                                 static_cast<int>(std::floor(region.centre.y - reach))),
                                       cv::Point(static_cast<int>(std::ceil(region.centre.x + reach)),
                                                 static_cast<int>(std::ceil(region.centre.y + reach)))) &
                              cv::Rect(0, 0, image.cols, image.rows);
        if (part.area() > 0) {
            const cv::Size shrunk(std::max(1, static_cast<int>(std::lround(part.width / scale))),
                                  std::max(1, static_cast<int>(std::lround(part.height / scale))));
            cv::resize(image(part), source, shrunk, 0.0, 0.0, cv::INTER_AREA);
            // Image (x, y) -> shrunk: (x - part.x + 0.5) / fx - 0.5.
            const float fx = static_cast<float>(part.width) / static_cast<float>(shrunk.width);
            const float fy = static_cast<float>(part.height) / static_cast<float>(shrunk.height);
            for (int k = 0; k < 3; ++k) {
                toImage(0, k) /= fx;
                toImage(1, k) /= fy;
            }
            toImage(0, 2) += (0.5f - static_cast<float>(part.x)) / fx - 0.5f;
            toImage(1, 2) += (0.5f - static_cast<float>(part.y)) / fy - 0.5f;
        }
    }
    cv::Mat crop;
    cv::warpAffine(source, crop, toImage, cv::Size(size, size), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   cv::BORDER_REPLICATE);
    return crop;
}

cv::Point2f MediaPipeLandmarks::ToImage(const Region& region, int size, bool mirror, cv::Point2f inCrop) {
    const float scale = region.side / static_cast<float>(size);
    const float half = 0.5f * static_cast<float>(size);
    const float u = (mirror ? half - inCrop.x : inCrop.x - half) * scale, v = (inCrop.y - half) * scale;
    const float c = std::cos(region.roll), s = std::sin(region.roll);
    // Pixel edges at whole numbers in the crop, pixel centres in the image.
    return region.centre + cv::Point2f(c * u - s * v, s * u + c * v);
}

float MediaPipeLandmarks::Mesh(const cv::Mat& image, const Region& region, std::vector<cv::Point2f>* points) const {
    const std::vector<cv::Mat> out =
        Run(mesh_, InputOf({Crop(image, region, kMeshSize)}, kMeshSize), kMeshOutputs, "face mesh");
    const float* xyz = out[0].ptr<float>();
    points->resize(kMeshPoints);
    for (int k = 0; k < kMeshPoints; ++k) {
        (*points)[static_cast<size_t>(k)] = ToImage(region, kMeshSize, false, {xyz[3 * k], xyz[3 * k + 1]});
    }
    return Sigmoid(out[1].at<float>(0));
}

float MediaPipeLandmarks::Place(const cv::Mat& image, const FaceBox& box, float roll, Origin origin,
                                Landmarks* landmarks, FaceMemory* memory) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    // The region from the box, turned with the face and raised for the forehead.
    const float c = std::cos(roll), s = std::sin(roll);
    const float raise = kMeshRaisePerBox * box.width;
    Region region{(box.tl() + box.br()) * 0.5f + cv::Point2f(s * raise, -c * raise), kMeshSidePerBox * box.width, roll};
    const bool following = memory != nullptr && memory->valid && origin == Origin::kLandmarks;
    // A followed face: the square its last landmarks gave, moved with the box.
    if (following) {
        region = {(box.tl() + box.br()) * 0.5f + memory->nextOffset, memory->nextSide, memory->nextRoll};
    }
    if (following && cv::norm(region.centre - memory->regionCentre) < kRegionHold * region.side &&
        std::abs(region.side / memory->regionSide - 1.0f) < kRegionHold &&
        std::abs(region.roll - memory->regionRoll) < kRegionHold) {
        region = {memory->regionCentre, memory->regionSide, memory->regionRoll};
    }
    std::vector<cv::Point2f> mesh;
    float presence = Mesh(image, region, &mesh);
    // A detector's box may sit off the face: the landmarks of a first pass
    // give the region MediaPipe would follow the face with.
    if (origin == Origin::kDetector) presence = Mesh(image, RegionOfMesh(mesh), &mesh);

    for (int k = 0; k < kLandmarkCount; ++k) (*landmarks)[static_cast<size_t>(k)] = mesh[kMeshOf68[k]];

    // The face mesh's own eye centres, and the face's upright frame.
    const float eyeRoll = RegionOfMesh(mesh).roll;
    const cv::Point2f meshRight = EyeCentre(*landmarks, kRightEyeFirst),
                      meshLeft = EyeCentre(*landmarks, kLeftEyeFirst);
    const float apart = std::max(1.0f, static_cast<float>(cv::norm(meshLeft - meshRight)));
    const float ec = std::cos(eyeRoll), es = std::sin(eyeRoll);
    const auto toFace = [&](cv::Point2f d) { return cv::Point2f(ec * d.x + es * d.y, -es * d.x + ec * d.y) / apart; };
    const auto fromFace = [&](cv::Point2f d) { return cv::Point2f(ec * d.x - es * d.y, es * d.x + ec * d.y) * apart; };

    // The iris model on the eyes due: both for a face without offsets (or
    // without memory), else one eye every kIrisEvery placements, in turn.
    const bool followed = memory != nullptr && memory->valid && origin == Origin::kLandmarks;
    const int32_t frame = followed ? memory->frames : 0;
    const Region eyes[2] = {EyeRegion(mesh, kRightOuter, kRightInner, eyeRoll),
                            EyeRegion(mesh, kLeftInner, kLeftOuter, eyeRoll)};
    // An eye whose square reaches past the image's border is looked at every
    // time: the face mesh, which sees less of a cut face, strays there.
    const auto cut = [&](const Region& eye) {
        const float reach = 0.5f * eye.side;
        return eye.centre.x < reach || eye.centre.y < reach || eye.centre.x + reach > static_cast<float>(image.cols) ||
               eye.centre.y + reach > static_cast<float>(image.rows);
    };
    const bool due[2] = {!followed || frame % kIrisEvery == 0 || cut(eyes[0]),
                         !followed || frame % kIrisEvery == kIrisEvery / 2 || cut(eyes[1])};
    std::vector<cv::Mat> crops;
    for (int eye = 0; eye < 2; ++eye) {
        if (due[eye]) crops.push_back(Crop(image, eyes[eye], kIrisSize, eye == 1));
    }
    std::array<cv::Point2f, 2> offset = followed ? memory->eyeOffset : std::array<cv::Point2f, 2>{};
    if (!crops.empty()) {
        const cv::Mat out = Run(iris_, InputOf(crops, kIrisSize), kIrisOutputs, "iris")[0];
        int row = 0;
        for (int eye = 0; eye < 2; ++eye) {
            if (!due[eye]) continue;
            const float* xyz = out.ptr<float>(row++);
            const std::array<int, 6>& contour = eye == 0 ? kRightEyeContour : kLeftEyeContour;
            cv::Point2f centre;
            for (const int p : contour) centre += ToImage(eyes[eye], kIrisSize, eye == 1, {xyz[3 * p], xyz[3 * p + 1]});
            const cv::Point2f measured = toFace(centre * (1.0f / 6.0f) - (eye == 0 ? meshRight : meshLeft));
            // A followed face's offset moves slowly towards each measurement:
            // a step of its whole would show as jitter.
            offset[static_cast<size_t>(eye)] =
                followed
                    ? offset[static_cast<size_t>(eye)] + kOffsetGain * (measured - offset[static_cast<size_t>(eye)])
                    : measured;
        }
    }
    // The six points of each eye moved together: their mean is the iris
    // model's contour centre.
    for (int eye = 0; eye < 2; ++eye) {
        const cv::Point2f shift = fromFace(offset[static_cast<size_t>(eye)]);
        const int first = eye == 0 ? kRightEyeFirst : kLeftEyeFirst;
        for (int k = 0; k < 6; ++k) (*landmarks)[static_cast<size_t>(first + k)] += shift;
    }
    if (memory != nullptr) {
        // Relative to the box the next frame gets: the one around these landmarks.
        const cv::Point2f eyeLine = EyeCentre(*landmarks, kLeftEyeFirst) - EyeCentre(*landmarks, kRightEyeFirst);
        const FaceBox around = LandmarkModel::BoxAround(*landmarks, std::atan2(eyeLine.y, eyeLine.x));
        const Region next = RegionOfMesh(mesh);
        memory->nextOffset = next.centre - (around.tl() + around.br()) * 0.5f;
        memory->nextSide = next.side;
        memory->nextRoll = next.roll;
        memory->regionCentre = region.centre;
        memory->regionSide = region.side;
        memory->regionRoll = region.roll;
        memory->eyeOffset = offset;
        memory->valid = true;
        // Faces placed one after another look at their eyes in different
        // frames: three faces' iris calls in one frame would triple its time.
        memory->frames = followed ? memory->frames + 1 : 1 + (newFaces_++ % (kIrisEvery / 2));
    }
    return presence;
}

}  // namespace quilo::head::cpu
