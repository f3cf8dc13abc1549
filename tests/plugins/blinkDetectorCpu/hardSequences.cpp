#include "blinkDetectorCpu/hardSequences.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <fmt/format.h>
#include <opencv2/imgproc.hpp>

#include "blinkDetectorCpu/support.h"

namespace quilo::head::cpu::test {

namespace {

// The card around a face, in eye distances from the midpoint of its eyes:
// the hair above, the chin below, the ears beside.
constexpr double kCardHalfWidth = 2.0;
constexpr double kCardAbove = 1.8;
constexpr double kCardBelow = 2.6;

CardPhoto Annotated(const std::filesystem::path& photo, const std::filesystem::path& csv) {
    CardPhoto card;
    card.name = photo.filename().string();
    card.grey = LoadGrey(photo);
    for (const EyeAnnotation& row : LoadEyeAnnotations(csv)) {
        if (row.image == card.name && row.faceIndex == 0) {
            card.rightEye = row.rightEye;
            card.leftEye = row.leftEye;
            return card;
        }
    }
    card.grey = cv::Mat();
    return card;
}

cv::Mat Background() {
    cv::Mat levels(SceneRenderer::kHeight / 32 + 2, SceneRenderer::kWidth / 32 + 2, CV_8UC1);
    cv::RNG random(7);
    random.fill(levels, cv::RNG::UNIFORM, 22, 59);
    cv::Mat background;
    cv::resize(levels, background, cv::Size(SceneRenderer::kWidth, SceneRenderer::kHeight), 0, 0, cv::INTER_LINEAR);
    for (int y = 0; y < background.rows; ++y) background.row(y) += cv::Scalar(y / 24);
    return background;
}

ScenePlacement At(double x, double y, double eyeDistance, double roll = 0.0, int card = 0) {
    return {card, {x, y}, eyeDistance, roll};
}

}  // namespace

CardPhoto Astronaut() { return Annotated(ProjectData(kAstronautPhoto), ProjectData(kAstronautEyes)); }

CardPhoto Hopper() {
    return Annotated(ProjectData("tests/data/grace_hopper.jpg"), ProjectData("tests/data/grace_hopper-eyes.csv"));
}

SceneRenderer::SceneRenderer(std::vector<CardPhoto> cards) : cards_(std::move(cards)), background_(Background()) {}

SceneFrame SceneRenderer::Render(const std::vector<ScenePlacement>& faces, double brightness, double noiseSigma,
                                 uint32_t seed) const {
    SceneFrame frame;
    frame.image = background_.clone();
    for (const ScenePlacement& face : faces) {
        const CardPhoto& card = cards_.at(static_cast<size_t>(face.card));
        const double distance = cv::norm(card.leftEye - card.rightEye);
        const cv::Point2d middle = (card.rightEye + card.leftEye) * 0.5;
        const cv::Rect cut = cv::Rect(cv::Point(static_cast<int>(middle.x - kCardHalfWidth * distance),
                                                static_cast<int>(middle.y - kCardAbove * distance)),
                                      cv::Point(static_cast<int>(middle.x + kCardHalfWidth * distance),
                                                static_cast<int>(middle.y + kCardBelow * distance))) &
                             cv::Rect(0, 0, card.grey.cols, card.grey.rows);
        const double scale = face.eyeDistance / distance;

        // Shrinking is done first by area averaging, as a camera's pixels
        // integrate light; the warp then only turns and moves the card.
        cv::Mat piece = card.grey(cut);
        double sx = 1.0, sy = 1.0;
        if (scale < 1.0) {
            cv::Mat shrunk;
            cv::resize(piece, shrunk,
                       cv::Size(std::max(1, static_cast<int>(std::lround(cut.width * scale))),
                                std::max(1, static_cast<int>(std::lround(cut.height * scale)))),
                       0, 0, cv::INTER_AREA);
            sx = static_cast<double>(shrunk.cols) / cut.width;
            sy = static_cast<double>(shrunk.rows) / cut.height;
            piece = shrunk;
        }
        // Card pixel of a photo pixel (pixel centres map as cv::resize maps them).
        const auto onCard = [&](cv::Point2d p) {
            return cv::Point2d((p.x - cut.x + 0.5) * sx - 0.5, (p.y - cut.y + 0.5) * sy - 0.5);
        };
        const cv::Point2d right = onCard(card.rightEye), left = onCard(card.leftEye);
        const cv::Point2d centre = (right + left) * 0.5;
        const double remaining = face.eyeDistance / cv::norm(left - right);
        const double angle = face.rollDegrees * CV_PI / 180.0 - std::atan2(left.y - right.y, left.x - right.x);
        const double c = remaining * std::cos(angle), s = remaining * std::sin(angle);
        const cv::Matx23d warp(c, -s, face.eyeMiddle.x - (c * centre.x - s * centre.y), s, c,
                               face.eyeMiddle.y - (s * centre.x + c * centre.y));
        cv::warpAffine(piece, frame.image, warp, frame.image.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
        const auto place = [&](cv::Point2d p) {
            return cv::Point2d(warp(0, 0) * p.x + warp(0, 1) * p.y + warp(0, 2),
                               warp(1, 0) * p.x + warp(1, 1) * p.y + warp(1, 2));
        };
        frame.truth.push_back({place(right), place(left)});
    }
    cv::Mat light;
    frame.image.convertTo(light, CV_32F, brightness);
    if (noiseSigma > 0.0) {
        cv::Mat noise(light.size(), CV_32F);
        cv::RNG random(seed);
        random.fill(noise, cv::RNG::NORMAL, 0.0, noiseSigma);
        light += noise;
    }
    light.convertTo(frame.image, CV_8U);
    return frame;
}

ScenePath JumpPath(double eyeDistance, int settle, int after) {
    ScenePath path{"jump of one eye distance", {}};
    for (int i = 0; i < settle + after; ++i) {
        const double x = 400.0 + (i < settle ? 0.0 : eyeDistance);
        path.frames.push_back({At(x, 220.0, eyeDistance)});
    }
    return path;
}

ScenePath SweepPath(double eyeDistance) {
    ScenePath path{"sweep of 30 px a frame", {}};
    const double left = 2.5 * eyeDistance, right = SceneRenderer::kWidth - 2.5 * eyeDistance;
    for (double x = left; x <= right; x += 30.0) path.frames.push_back({At(x, 220.0, eyeDistance)});
    for (double x = right; x >= left; x -= 30.0) path.frames.push_back({At(x, 230.0, eyeDistance)});
    return path;
}

ScenePath RollPath(double eyeDistance, double step) {
    ScenePath path{"roll sweep to 45 degrees", {}};
    const auto add = [&](double roll) { path.frames.push_back({At(424.0, 220.0, eyeDistance, roll)}); };
    for (double roll = 0.0; roll < 45.0; roll += step) add(roll);
    for (double roll = 45.0; roll > -45.0; roll -= step) add(roll);
    for (double roll = -45.0; roll <= 0.0; roll += step) add(roll);
    return path;
}

ScenePath RolledPath(double eyeDistance, int frames, double degrees) {
    ScenePath path{fmt::format("face appearing rolled by {} degrees", degrees), {}};
    for (int i = 0; i < 2 * frames; ++i)
        path.frames.push_back({At(424.0, 220.0, eyeDistance, i < frames ? degrees : -degrees)});
    return path;
}

ScenePath BorderPath(int border, double eyeDistance, int frames) {
    static const char* const kNames[] = {"face cut by the top border", "face cut by the bottom border",
                                         "face cut by the left border", "face cut by the right border"};
    ScenePath path{kNames[border], {}};
    // The forehead cut above the eyes; the mouth and chin cut below them; the
    // ear and temple beyond the outer eye.
    const double w = SceneRenderer::kWidth, h = SceneRenderer::kHeight;
    const cv::Point2d middle[] = {{w / 2, 0.35 * eyeDistance},
                                  {w / 2, h - 1.0 * eyeDistance},
                                  {0.85 * eyeDistance, h / 2},
                                  {w - 0.85 * eyeDistance, h / 2}};
    for (int i = 0; i < frames; ++i) path.frames.push_back({At(middle[border].x, middle[border].y, eyeDistance)});
    return path;
}

ScenePath DimPath(double eyeDistance, int frames) {
    ScenePath path{"face at 25 % brightness", {}, 0.25};
    for (int i = 0; i < frames; ++i) path.frames.push_back({At(424.0, 220.0, eyeDistance)});
    return path;
}

ScenePath ShrinkPath(double from, int frames, int still) {
    ScenePath path{"face shrinking to 12 px between the eyes", {}};
    for (int i = 0; i < frames + still; ++i) {
        const double t = std::min(1.0, static_cast<double>(i) / std::max(frames - 1, 1));
        path.frames.push_back({At(424.0, 240.0, from * std::pow(12.0 / from, t))});
    }
    return path;
}

ScenePath CrossingPath(double eyeDistance, int frames) {
    ScenePath path{"two faces crossing", {}};
    const double from = 3.0 * eyeDistance, to = SceneRenderer::kWidth - 3.0 * eyeDistance;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / std::max(frames - 1, 1);
        path.frames.push_back({At(from + (to - from) * t, 180.0, eyeDistance, 0.0, 0),
                               At(to + (from - to) * t, 310.0, 0.9 * eyeDistance, 0.0, 1)});
    }
    return path;
}

}  // namespace quilo::head::cpu::test
