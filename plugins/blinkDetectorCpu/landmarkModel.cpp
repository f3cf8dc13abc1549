#include "plugins/blinkDetectorCpu/landmarkModel.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <limits>
#include <stdexcept>
#include <streambuf>
#include <string>

#include <dlib/image_processing/shape_predictor.h>

namespace quilo::head::cpu {

namespace {

constexpr int kShapeSize = kLandmarkCount * 2;

// An input stream over bytes in memory, for dlib's deserialisers.
class MemoryBuffer : public std::streambuf {
public:
    MemoryBuffer(const void* data, size_t size) {
        char* begin = static_cast<char*>(const_cast<void*>(data));
        setg(begin, begin, begin + size);
    }
};

[[noreturn]] void Invalid(const std::string& what) { throw std::runtime_error("invalid face landmark model: " + what); }

// How the box of dlib's face detector relates to the landmarks the model
// places in it, fitted over the 43 faces of dlib's example landmark sets: the
// box centre lies (kBoxShiftX, kBoxShiftY) spreads from the landmarks'
// centroid and the box is kBoxSize spreads wide and high, where the spread is
// the root mean square distance of the landmarks from their centroid.
constexpr float kBoxSize = 2.852f;
constexpr float kBoxShiftX = -0.014f;
constexpr float kBoxShiftY = -0.116f;

}  // namespace

cv::Point2f EyeCentre(const Landmarks& landmarks, int first) {
    cv::Point2f sum(0.0f, 0.0f);
    for (int i = first; i < first + 6; ++i) sum += landmarks[i];
    return sum * (1.0f / 6.0f);
}

LandmarkModel::LandmarkModel(const void* data, size_t size) {
    if (data == nullptr || size == 0) Invalid("no data");
    MemoryBuffer buffer(data, size);
    std::istream in(&buffer);

    int version = 0;
    dlib::deserialize(version, in);
    if (version != 1) Invalid("unknown version " + std::to_string(version));
    dlib::matrix<float, 0, 1> meanShape;
    dlib::deserialize(meanShape, in);
    if (meanShape.size() != kShapeSize) {
        Invalid("expected 68 landmarks, found " + std::to_string(meanShape.size() / 2));
    }
    std::copy(meanShape.begin(), meanShape.end(), meanShape_.begin());

    ReadLevels(in);

    std::vector<std::vector<unsigned long>> anchors;
    std::vector<std::vector<dlib::vector<float, 2>>> deltas;
    dlib::deserialize(anchors, in);
    dlib::deserialize(deltas, in);
    if (anchors.size() != levels_.size() || deltas.size() != levels_.size()) {
        Invalid("feature pixels do not match the cascade");
    }
    for (size_t l = 0; l < levels_.size(); ++l) {
        Level& level = levels_[l];
        const size_t features = anchors[l].size();
        if (features == 0 || features > std::numeric_limits<uint16_t>::max() || deltas[l].size() != features) {
            Invalid("bad feature pixels at level " + std::to_string(l));
        }
        for (size_t i = 0; i < features; ++i) {
            if (anchors[l][i] >= static_cast<unsigned long>(kLandmarkCount)) Invalid("bad anchor landmark");
            level.anchor.push_back(static_cast<uint16_t>(anchors[l][i]));
            level.delta.emplace_back(deltas[l][i].x(), deltas[l][i].y());
        }
        auto tooLarge = [&](uint16_t index) { return index >= features; };
        if (std::any_of(level.splitFirst.begin(), level.splitFirst.end(), tooLarge) ||
            std::any_of(level.splitSecond.begin(), level.splitSecond.end(), tooLarge)) {
            Invalid("a split reads a missing feature at level " + std::to_string(l));
        }
    }
}

void LandmarkModel::ReadLevels(std::istream& in) {
    unsigned long levelCount = 0;
    dlib::deserialize(levelCount, in);
    if (levelCount == 0 || levelCount > 100) Invalid("bad cascade length " + std::to_string(levelCount));
    levels_.resize(levelCount);

    for (Level& level : levels_) {
        // One level at a time keeps dlib's bulky form of only one level in memory.
        std::vector<dlib::impl::regression_tree> trees;
        dlib::deserialize(trees, in);
        if (trees.empty()) Invalid("empty cascade level");
        const size_t splits = trees.front().splits.size();
        if (splits == 0 || splits > 1024) Invalid("bad tree depth");

        level.treeCount = static_cast<int32_t>(trees.size());
        level.splitsPerTree = static_cast<int32_t>(splits);
        level.splitFirst.reserve(trees.size() * splits);
        level.splitSecond.reserve(trees.size() * splits);
        level.splitThreshold.reserve(trees.size() * splits);
        level.leaves.reserve(trees.size() * (splits + 1) * kShapeSize);
        for (const auto& tree : trees) {
            if (tree.splits.size() != splits || tree.leaf_values.size() != splits + 1) Invalid("uneven trees");
            for (const auto& split : tree.splits) {
                if (split.idx1 > std::numeric_limits<uint16_t>::max() ||
                    split.idx2 > std::numeric_limits<uint16_t>::max()) {
                    Invalid("bad split");
                }
                level.splitFirst.push_back(static_cast<uint16_t>(split.idx1));
                level.splitSecond.push_back(static_cast<uint16_t>(split.idx2));
                level.splitThreshold.push_back(split.thresh);
            }
            for (const auto& leaf : tree.leaf_values) {
                if (leaf.size() != kShapeSize) Invalid("bad leaf size");
                for (float value : leaf) {
                    if (!std::isfinite(value)) Invalid("non-finite leaf value");
                    level.leaves.push_back(value);
                }
            }
        }
    }
}

void LandmarkModel::Predict(const cv::Mat& image, const FaceBox& box, Landmarks* landmarks, float roll) const {
    CV_Assert(image.type() == CV_8UC1);
    // Normalised shape coordinates to image pixels: the box, turned by the
    // roll about its centre. Upright, the box's own corner convention, so
    // that upright faces are placed exactly as dlib places them.
    const bool upright = roll == 0.0f;
    const double cosine = std::cos(static_cast<double>(roll)), sine = std::sin(static_cast<double>(roll));
    const double cx = box.x + 0.5 * box.width, cy = box.y + 0.5 * box.height;
    const auto toImage = [&](float u, float v) {
        if (upright) {
            return cv::Point2d(box.x + static_cast<double>(u) * box.width, box.y + static_cast<double>(v) * box.height);
        }
        const double x = (u - 0.5) * box.width, y = (v - 0.5) * box.height;
        return cv::Point2d(cx + cosine * x - sine * y, cy + sine * x + cosine * y);
    };
    std::array<float, kShapeSize> shape = meanShape_;
    std::vector<float> features;
    std::vector<int32_t> leafOf;

    for (const Level& level : levels_) {
        // The similarity transform from the mean shape to the current shape
        // (least squares, no reflection): [a -b; b a] about the centroids.
        float meanX = 0, meanY = 0, curX = 0, curY = 0;
        for (int k = 0; k < kLandmarkCount; ++k) {
            meanX += meanShape_[2 * k];
            meanY += meanShape_[2 * k + 1];
            curX += shape[2 * k];
            curY += shape[2 * k + 1];
        }
        meanX /= kLandmarkCount;
        meanY /= kLandmarkCount;
        curX /= kLandmarkCount;
        curY /= kLandmarkCount;
        float dot = 0, cross = 0, norm = 0;
        for (int k = 0; k < kLandmarkCount; ++k) {
            const float px = meanShape_[2 * k] - meanX, py = meanShape_[2 * k + 1] - meanY;
            const float qx = shape[2 * k] - curX, qy = shape[2 * k + 1] - curY;
            dot += px * qx + py * qy;
            cross += px * qy - py * qx;
            norm += px * px + py * py;
        }
        const float a = norm > 0 ? dot / norm : 1.0f;
        const float b = norm > 0 ? cross / norm : 0.0f;

        // Feature pixels: placed relative to their anchor landmarks, read at
        // the nearest pixel.
        const size_t featureCount = level.anchor.size();
        features.resize(featureCount);
        for (size_t i = 0; i < featureCount; ++i) {
            const cv::Point2f d = level.delta[i];
            const int k = level.anchor[i];
            const float u = a * d.x - b * d.y + shape[2 * k];
            const float v = b * d.x + a * d.y + shape[2 * k + 1];
            const cv::Point2d at = toImage(u, v);
            const double x = std::floor(at.x + 0.5);
            const double y = std::floor(at.y + 0.5);
            if (x >= 0 && y >= 0 && x < image.cols && y < image.rows) {
                features[i] = image.ptr<uint8_t>(static_cast<int>(y))[static_cast<int>(x)];
            } else {
                features[i] = 0.0f;
            }
        }

        // Walk every tree first, then add the leaves, tree after tree as dlib
        // adds them, while the next ones are fetched: the leaves are spread
        // over tens of megabytes, so waiting for each one in turn would
        // dominate the run time.
        const int32_t splits = level.splitsPerTree;
        leafOf.resize(level.treeCount);
        for (int32_t t = 0; t < level.treeCount; ++t) {
            const size_t base = static_cast<size_t>(t) * splits;
            int32_t node = 0;
            while (node < splits) {
                const bool left = features[level.splitFirst[base + node]] - features[level.splitSecond[base + node]] >
                                  level.splitThreshold[base + node];
                node = left ? 2 * node + 1 : 2 * node + 2;
            }
            leafOf[t] = static_cast<int32_t>(static_cast<size_t>(t) * (splits + 1) + (node - splits));
        }
        constexpr int32_t kAhead = 8;
        constexpr size_t kLeafBytes = kShapeSize * sizeof(float);
        for (int32_t t = 0; t < level.treeCount; ++t) {
            if (t + kAhead < level.treeCount) {
                const char* next =
                    reinterpret_cast<const char*>(&level.leaves[static_cast<size_t>(leafOf[t + kAhead]) * kShapeSize]);
                for (size_t offset = 0; offset < kLeafBytes; offset += 64) __builtin_prefetch(next + offset);
            }
            const float* leaf = &level.leaves[static_cast<size_t>(leafOf[t]) * kShapeSize];
            for (int k = 0; k < kShapeSize; ++k) shape[k] += leaf[k];
        }
    }

    for (int k = 0; k < kLandmarkCount; ++k) {
        if (upright) {
            (*landmarks)[k] = cv::Point2f(box.x + shape[2 * k] * box.width, box.y + shape[2 * k + 1] * box.height);
        } else {
            const cv::Point2d at = toImage(shape[2 * k], shape[2 * k + 1]);
            (*landmarks)[k] = cv::Point2f(static_cast<float>(at.x), static_cast<float>(at.y));
        }
    }
}

float LandmarkModel::Place(const cv::Mat& image, const FaceBox& box, float roll, Origin /*origin*/,
                           Landmarks* landmarks, FaceMemory* /*memory*/) const {
    Predict(image, box, landmarks, roll);
    return kNoPresence;
}

const char* LandmarkModel::Description() const {
    return "dlib's 68-point landmark model (shape_predictor_68_face_landmarks.dat, trained on iBUG 300-W: "
           "not for commercial use)";
}

FaceBox LandmarkModel::BoxAround(const Landmarks& landmarks, float roll) {
    cv::Point2f centre(0.0f, 0.0f);
    for (const auto& p : landmarks) centre += p;
    centre *= 1.0f / kLandmarkCount;
    float spread = 0.0f;
    for (const auto& p : landmarks) {
        const cv::Point2f d = p - centre;
        spread += d.dot(d);
    }
    spread = std::sqrt(spread / kLandmarkCount);
    const float size = kBoxSize * spread;
    const float c = std::cos(roll), s = std::sin(roll);
    centre += cv::Point2f(c * kBoxShiftX - s * kBoxShiftY, s * kBoxShiftX + c * kBoxShiftY) * spread;
    return FaceBox(centre.x - size / 2, centre.y - size / 2, size, size);
}

}  // namespace quilo::head::cpu
