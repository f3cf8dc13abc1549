#include "tools/replay/sampleGenerator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include <fmt/format.h>
#include <glm/gtc/constants.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace quilo::replay {

namespace {

constexpr int32_t kWidth = 848;
constexpr int32_t kHeight = 480;
constexpr double kHorizontalFieldOfViewDegrees = 87.0;
constexpr double kFramesPerSecond = 30.0;
constexpr double kFirstTimestampMs = 1000.0;
constexpr int32_t kMaxFrameCount = 100000;
constexpr double kMaxNoiseSigma = 50.0;

[[noreturn]] void Fail(const std::filesystem::path& file, const std::string& what) {
    throw SequenceError(fmt::format("{}: {}", file.string(), what));
}

// Where the card is at one point of the path: its origin (the eye midpoint)
// in camera space, mm, and its orientation.
struct CardPose {
    glm::dvec3 position{0.0};
    glm::dmat3 rotation{1.0};
};

// The smooth, closed path: one round every kSamplePathFrames frames. Sideways
// and depth motion trace an ellipse, the vertical motion and the rotations
// run at other rates and phases so that the poses do not repeat within the
// round.
CardPose PathPoseAt(double pathFrame) {
    const double t = glm::two_pi<double>() * std::fmod(pathFrame, double{kSamplePathFrames}) / kSamplePathFrames;
    CardPose pose;
    pose.position = {190.0 * std::sin(t), 50.0 * std::sin(2.0 * t + 0.5), 825.0 - 225.0 * std::cos(t)};
    const double roll = glm::radians(6.0) * std::sin(3.0 * t);
    const double yaw = glm::radians(12.0) * std::sin(t + 0.8);
    const double pitch = glm::radians(4.0) * std::sin(2.0 * t + 1.7);
    glm::dmat4 rotation(1.0);
    rotation = glm::rotate(rotation, roll, glm::dvec3(0.0, 0.0, 1.0));
    rotation = glm::rotate(rotation, yaw, glm::dvec3(0.0, 1.0, 0.0));
    rotation = glm::rotate(rotation, pitch, glm::dvec3(1.0, 0.0, 0.0));
    pose.rotation = glm::dmat3(rotation);
    return pose;
}

// A card turned by `yaw` about the vertical axis at `position`.
CardPose Turned(glm::dvec3 position, double yaw) {
    CardPose pose;
    pose.position = position;
    pose.rotation = glm::dmat3(glm::rotate(glm::dmat4(1.0), yaw, glm::dvec3(0.0, 1.0, 0.0)));
    return pose;
}

constexpr double kStandingDistanceMm = 650.0;

// The quick move of the turn-and-stop motion: 0.3 s at constant speed, then
// 0.7 s still, alternately right and left.
constexpr double kTurnMoveSeconds = 0.3;
constexpr double kTurnHoldSeconds = 0.7;
constexpr double kTurnWidthMm = 150.0;
constexpr double kTurnYawRadians = 0.3;  // about 17 degrees over the move

// The card's pose `seconds` after the first frame.
CardPose PoseAt(const SampleOptions& options, double seconds) {
    switch (options.motion) {
        // One round in 5 s at any rate.
        case SampleMotion::Path: return PathPoseAt(seconds * kFramesPerSecond);
        case SampleMotion::Sway: {
            const double x = options.swayMm / 2.0 * std::sin(glm::two_pi<double>() * options.swayHz * seconds);
            return Turned({x, 0.0, kStandingDistanceMm}, 0.0);
        }
        case SampleMotion::Lean: {
            const double z = kStandingDistanceMm - 100.0 * std::sin(glm::two_pi<double>() * 0.5 * seconds);
            return Turned({0.0, 0.0, z}, 0.0);
        }
        case SampleMotion::Still: return Turned({0.0, 0.0, kStandingDistanceMm}, 0.0);
        case SampleMotion::TurnAndStop: {
            // Held still at the left first, so the filter settles before the
            // first move; then right and back, one move a second.
            const double period = kTurnHoldSeconds + kTurnMoveSeconds;
            const double cycle = std::fmod(seconds, 2.0 * period);
            const double inHalf = std::fmod(cycle, period);
            const double progress = std::clamp((inHalf - kTurnHoldSeconds) / kTurnMoveSeconds, 0.0, 1.0);
            const double fraction = cycle < period ? progress : 1.0 - progress;  // 0: left, 1: right
            return Turned({kTurnWidthMm * (fraction - 0.5), 0.0, kStandingDistanceMm},
                          kTurnYawRadians * (fraction - 0.5));
        }
    }
    return PathPoseAt(0.0);
}

double FramesPerSecond(const SampleOptions& options) {
    if (options.framesPerSecond > 0.0) return options.framesPerSecond;
    return options.motion == SampleMotion::Path ? kFramesPerSecond : 90.0;
}

// The card: photo pixels to card millimetres, origin at the eye midpoint.
struct Card {
    glm::dvec2 origin;  // the eye midpoint in the photo, pixels
    double mmPerPixel;

    glm::dvec3 PointOf(const glm::dvec2& photoPixel) const {
        const glm::dvec2 p = (photoPixel - origin) * mmPerPixel;
        return {p.x, p.y, 0.0};
    }
};

// The homography taking photo pixels to image pixels for the card at `pose`:
// K [s r1, s r2, T - s (ox r1 + oy r2)].
cv::Matx33d CardHomography(const CameraIntrinsics& camera, const Card& card, const CardPose& pose) {
    const glm::dvec3 r1 = pose.rotation[0] * card.mmPerPixel;
    const glm::dvec3 r2 = pose.rotation[1] * card.mmPerPixel;
    const glm::dvec3 t = pose.position - card.origin.x * r1 - card.origin.y * r2;
    const cv::Matx33d k(camera.fx, 0.0, camera.ppx, 0.0, camera.fy, camera.ppy, 0.0, 0.0, 1.0);
    const cv::Matx33d columns(r1.x, r2.x, t.x, r1.y, r2.y, t.y, r1.z, r2.z, t.z);
    return k * columns;
}

// The card's distance along the camera's axis at every pixel it covers (mm,
// the ray's meeting with the card's plane), 0 elsewhere; `covered` marks the
// pixels of the card.
DepthImage CardDepth(const CameraIntrinsics& camera, const CardPose& pose, const cv::Mat& covered) {
    DepthImage depth{kWidth, kHeight, std::vector<uint16_t>(static_cast<size_t>(kWidth) * kHeight, 0)};
    const glm::dvec3 normal = pose.rotation[2];
    const double reach = glm::dot(normal, pose.position);
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* mask = covered.ptr<uint8_t>(y);
        for (int x = 0; x < kWidth; ++x) {
            if (mask[x] == 0) continue;
            const glm::dvec3 ray((x - camera.ppx) / camera.fx, (y - camera.ppy) / camera.fy, 1.0);
            const double along = reach / glm::dot(normal, ray);
            depth.values[static_cast<size_t>(y) * kWidth + x] =
                static_cast<uint16_t>(std::clamp(std::lround(along), 0L, 65535L));
        }
    }
    return depth;
}

// A dark background with soft blotches and a gentle vertical gradient, in
// integer arithmetic from a fixed seed: levels drawn on a grid of 32-px cells
// and interpolated bilinearly between the grid points.
cv::Mat Background() {
    constexpr int cell = 32;
    constexpr int columns = kWidth / cell + 2, rows = kHeight / cell + 2;
    std::mt19937 random(7);
    std::array<std::array<int, columns>, rows> level{};
    for (auto& row : level) {
        for (int& value : row) value = 22 + static_cast<int>(random() % 37);  // 22..58
    }
    cv::Mat image(kHeight, kWidth, CV_8UC1);
    for (int y = 0; y < kHeight; ++y) {
        const int gy = y / cell, fy = y % cell;
        uint8_t* row = image.ptr<uint8_t>(y);
        for (int x = 0; x < kWidth; ++x) {
            const int gx = x / cell, fx = x % cell;
            const int top = level[gy][gx] * (cell - fx) + level[gy][gx + 1] * fx;
            const int bottom = level[gy + 1][gx] * (cell - fx) + level[gy + 1][gx + 1] * fx;
            const int blotch = (top * (cell - fy) + bottom * fy + cell * cell / 2) / (cell * cell);
            row[x] = static_cast<uint8_t>(blotch + y / 24);
        }
    }
    return image;
}

// Standard normal numbers by the Box-Muller transform over std::mt19937, whose
// output the standard fixes (std::normal_distribution's is not).
class GaussianNoise {
public:
    explicit GaussianNoise(uint32_t seed) : random_(seed) {}

    double Next() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        constexpr double kRange = 4294967296.0;                             // 2^32
        const double u1 = (static_cast<double>(random_()) + 1.0) / kRange;  // (0, 1]: log is finite
        const double u2 = static_cast<double>(random_()) / kRange;
        const double radius = std::sqrt(-2.0 * std::log(u1));
        const double angle = glm::two_pi<double>() * u2;
        spare_ = radius * std::sin(angle);
        hasSpare_ = true;
        return radius * std::cos(angle);
    }

private:
    std::mt19937 random_;
    double spare_ = 0.0;
    bool hasSpare_ = false;
};

void AddNoise(cv::Mat& image, double sigma, GaussianNoise& noise) {
    if (sigma <= 0.0) return;
    for (int y = 0; y < image.rows; ++y) {
        uint8_t* row = image.ptr<uint8_t>(y);
        for (int x = 0; x < image.cols; ++x) {
            const long value = std::lround(row[x] + sigma * noise.Next());
            row[x] = static_cast<uint8_t>(std::clamp(value, 0L, 255L));
        }
    }
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool ParseNumber(const std::string& text, double* value) {
    std::istringstream in(text);
    in >> *value;
    return !in.fail() && in.eof() && std::isfinite(*value);
}

bool Inside(const GreyImage& photo, const glm::dvec2& pixel) {
    return pixel.x >= 0.0 && pixel.y >= 0.0 && pixel.x <= photo.width - 1.0 && pixel.y <= photo.height - 1.0;
}

}  // namespace

GreyImage ReadPhotoAsGrey(const std::filesystem::path& path) { return ReadGreyImage(path, ColourToGrey::ChannelMean); }

EyePixels ReadEyePixels(const std::filesystem::path& csv, const std::string& imageName) {
    std::ifstream in(csv);
    if (!in) Fail(csv, "cannot be opened");
    std::string line;
    if (!std::getline(in, line)) Fail(csv, "is empty (no header line)");
    for (int number = 2; std::getline(in, line); ++number) {
        if (Trimmed(line).empty()) continue;
        std::vector<std::string> fields;
        std::istringstream row(line);
        for (std::string field; std::getline(row, field, ',');) fields.push_back(Trimmed(field));
        if (fields.size() != 6) {
            Fail(csv, fmt::format("line {} has {} fields instead of 6", number, fields.size()));
        }
        std::array<double, 5> values{};
        for (size_t i = 0; i < values.size(); ++i) {
            if (!ParseNumber(fields[i + 1], &values[i])) {
                Fail(csv, fmt::format("line {}: \"{}\" is not a number", number, fields[i + 1]));
            }
        }
        if (fields[0] == imageName && values[0] == 0.0) {
            return {{values[1], values[2]}, {values[3], values[4]}};
        }
    }
    Fail(csv, fmt::format("has no eyes for face 0 of \"{}\"", imageName));
}

std::optional<SampleMotion> SampleMotionFromName(const std::string& name) {
    for (const SampleMotion motion :
         {SampleMotion::Path, SampleMotion::Sway, SampleMotion::Lean, SampleMotion::Still, SampleMotion::TurnAndStop}) {
        if (name == SampleMotionName(motion)) return motion;
    }
    return std::nullopt;
}

const char* SampleMotionName(SampleMotion motion) {
    switch (motion) {
        case SampleMotion::Path: return "path";
        case SampleMotion::Sway: return "sway";
        case SampleMotion::Lean: return "lean";
        case SampleMotion::Still: return "still";
        case SampleMotion::TurnAndStop: return "turnAndStop";
    }
    return "path";
}

EyeTruth SampleTruthAt(const SampleOptions& options, const EyePixels& eyes, double ms) {
    const Card card{(eyes.rightEye + eyes.leftEye) * 0.5,
                    kSampleEyeDistanceMm / glm::distance(eyes.rightEye, eyes.leftEye)};
    const CardPose pose = PoseAt(options, (ms - kFirstTimestampMs) / 1000.0);
    return EyeTruth{pose.position + pose.rotation * card.PointOf(eyes.rightEye),
                    pose.position + pose.rotation * card.PointOf(eyes.leftEye)};
}

CameraIntrinsics SampleIntrinsics() {
    CameraIntrinsics camera;
    camera.width = kWidth;
    camera.height = kHeight;
    camera.ppx = kWidth / 2.0f;
    camera.ppy = kHeight / 2.0f;
    const double focal = (kWidth / 2.0) / std::tan(glm::radians(kHorizontalFieldOfViewDegrees / 2.0));
    camera.fx = camera.fy = static_cast<float>(focal);
    camera.isMirrored = false;
    return camera;
}

Sequence GenerateSample(const GreyImage& photo, const EyePixels& eyes, const SampleOptions& options,
                        const std::filesystem::path& outputFolder) {
    if (photo.width <= 0 || photo.height <= 0 ||
        photo.pixels.size() != static_cast<size_t>(photo.width) * photo.height) {
        Fail(outputFolder, "the sample's photograph has no pixels or the wrong number of them");
    }
    if (!Inside(photo, eyes.rightEye) || !Inside(photo, eyes.leftEye)) {
        Fail(outputFolder, "the eyes lie outside the sample's photograph");
    }
    if (glm::distance(eyes.rightEye, eyes.leftEye) < 4.0) {
        Fail(outputFolder, "the eyes in the sample's photograph are less than 4 px apart");
    }
    if (!(eyes.rightEye.x < eyes.leftEye.x)) {
        Fail(outputFolder,
             "the person's right eye must lie on the photograph's left (the "
             "photograph must not be mirrored)");
    }
    if (options.frameCount < 1 || options.frameCount > kMaxFrameCount) {
        Fail(outputFolder, fmt::format("the frame count {} is not from 1 to {}", options.frameCount, kMaxFrameCount));
    }
    if (options.pathStep < 1) {
        Fail(outputFolder, fmt::format("the path step {} is not positive", options.pathStep));
    }
    if (!(options.framesPerSecond >= 0.0 && options.framesPerSecond <= 1000.0)) {
        Fail(outputFolder, fmt::format("the rate {} is not from 0 to 1000 frames per second", options.framesPerSecond));
    }
    if (!(options.swayMm >= 0.0 && options.swayMm <= 400.0) || !(options.swayHz >= 0.05 && options.swayHz <= 5.0)) {
        Fail(outputFolder, fmt::format("the sway of {} mm at {} Hz is not 0 to 400 mm at 0.05 to 5 Hz", options.swayMm,
                                       options.swayHz));
    }
    if (!(options.noiseSigma >= 0.0 && options.noiseSigma <= kMaxNoiseSigma)) {
        Fail(outputFolder, fmt::format("the noise sigma {} is not from 0 to {}", options.noiseSigma, kMaxNoiseSigma));
    }

    std::error_code error;
    std::filesystem::create_directories(outputFolder, error);
    if (!std::filesystem::is_directory(outputFolder, error)) {
        Fail(outputFolder, "the output folder cannot be created");
    }
    std::filesystem::remove(outputFolder / kManifestName, error);
    if (error) Fail(outputFolder / kManifestName, "the old manifest cannot be removed");

    const CameraIntrinsics camera = SampleIntrinsics();
    const Card card{(eyes.rightEye + eyes.leftEye) * 0.5,
                    kSampleEyeDistanceMm / glm::distance(eyes.rightEye, eyes.leftEye)};
    const cv::Mat source(photo.height, photo.width, CV_8UC1, const_cast<uint8_t*>(photo.pixels.data()));
    const cv::Mat background = Background();
    GaussianNoise noise(options.noiseSeed);

    const double fps = FramesPerSecond(options);
    const cv::Mat opaque(photo.height, photo.width, CV_8UC1, cv::Scalar(255));
    Sequence sequence;
    sequence.description =
        options.motion == SampleMotion::Path
            ? fmt::format(
                  "Generated sample: a face photograph as a flat card moving 600 to 1050 mm in front of "
                  "an 848 x 480 camera (87 degrees wide) at {} frames per second, {} frames, with the "
                  "true eye centres",
                  fps, options.frameCount)
            : fmt::format(
                  "Generated sample: a face photograph as a flat card, motion \"{}\", in front of an "
                  "848 x 480 camera (87 degrees wide) at {} frames per second, {} frames{}, with the "
                  "true eye centres",
                  SampleMotionName(options.motion), fps, options.frameCount, options.depth ? " and depth" : "");
    sequence.intrinsics = camera;
    GreyImage frame{kWidth, kHeight, std::vector<uint8_t>(static_cast<size_t>(kWidth) * kHeight)};
    for (int32_t i = 0; i < options.frameCount; ++i) {
        const int64_t pathFrame = static_cast<int64_t>(i) * options.pathStep;
        SequenceFrame entry;
        entry.image = fmt::format("{:05d}.png", i);
        entry.timestampMs = kFirstTimestampMs + static_cast<double>(pathFrame) * 1000.0 / fps;
        // The path by its whole step, so that its frames stay what they were.
        const CardPose pose = options.motion == SampleMotion::Path
                                  ? PathPoseAt(static_cast<double>(pathFrame))
                                  : PoseAt(options, (entry.timestampMs - kFirstTimestampMs) / 1000.0);

        cv::Mat image(kHeight, kWidth, CV_8UC1, frame.pixels.data());
        background.copyTo(image);
        const cv::Matx33d homography = CardHomography(camera, card, pose);
        cv::warpPerspective(source, image, homography, image.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
        AddNoise(image, options.noiseSigma, noise);

        entry.truth = EyeTruth{pose.position + pose.rotation * card.PointOf(eyes.rightEye),
                               pose.position + pose.rotation * card.PointOf(eyes.leftEye)};
        WriteGreyPng(outputFolder / entry.image, frame);
        if (options.depth) {
            cv::Mat covered(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
            cv::warpPerspective(opaque, covered, homography, covered.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT);
            entry.depth = fmt::format("{:05d}-depth.png", i);
            WriteDepthPng(outputFolder / *entry.depth, CardDepth(camera, pose, covered));
        }
        sequence.frames.push_back(std::move(entry));
    }
    WriteSequence(outputFolder, sequence);
    return sequence;
}

}  // namespace quilo::replay
