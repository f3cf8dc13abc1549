// The CPU face detector on hard sequences of real faces with a known truth:
// faces that jump or sweep, roll, shrink, fade, are cut by a border or cross
// each other. A face counts as found in a frame when a report has both eyes
// within a tenth of the true eye distance of the true eyes, right and left
// the right way round.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "blinkDetectorCpu/hardSequences.h"
#include "blinkDetectorCpu/support.h"

namespace quilo::head::cpu::test {
namespace {

// Frames a new face may take to be reported: the frame a search starts on
// and the one that takes its candidates.
constexpr int kWarmUp = 2;
constexpr double kFoundWithin = 0.10;  // eye distances

struct HardCase {
    const char* name;
    std::function<ScenePath(double eyeDistance)> path;
    double eyeDistance;
    // At least this share of the faces of the frames after the warm-up found.
    double minFoundRate;
    // A face missed (or a report off every face) for at most this many frames in a row.
    int maxMissedRun;
    bool checkRoll = false;
    // A face followed at a steady pace is placed again (a wider, costlier
    // search) at most this often; negative: no bound.
    int maxRealigned = -1;
    // On the astronaut alone: below about 15 px between the eyes Grace
    // Hopper's glasses blur into her eyes, and the landmarks stray by more
    // than the tenth of an eye distance a found face is allowed.
    bool withoutGlasses = false;
};

struct Outcome {
    int faces = 0;  // truth faces after the warm-up
    int found = 0;
    int longestMissed = 0;        // frames in a row a face was not found
    int longestWrong = 0;         // frames in a row with a report on no face
    int swapped = 0;              // reports with the eyes swapped
    double worstRollError = 0.0;  // degrees, over found faces
    int64_t realigned = 0;
};

bool Near(const glm::dvec2& reported, const cv::Point2d& truth, double within) {
    return std::hypot(reported.x - truth.x, reported.y - truth.y) < within;
}

Outcome Replay(const ScenePath& path, const std::vector<CardPhoto>& cards) {
    const SceneRenderer renderer(cards);
    BlinkDetectorSettings settings = DeterministicSettings();
    settings.maxNumOfFaces = static_cast<int32_t>(path.frames.front().size());
    auto detector = MakeDetector(settings);
    detector->OnCameraIntrinsicsChange(CentredIntrinsics(848, 480, 446.8f));

    Outcome outcome;
    std::vector<int> missed(settings.maxNumOfFaces, 0);
    int wrong = 0;
    for (size_t i = 0; i < path.frames.size(); ++i) {
        const SceneFrame scene = renderer.Render(path.frames[i], path.brightness, 2.0, static_cast<uint32_t>(i + 1));
        TestFrame frame(scene.image);
        const auto& reports = detector->DetectFaces(frame).detections;
        if (static_cast<int>(i) < kWarmUp) continue;

        std::vector<bool> onFace(reports.size(), false);
        for (size_t f = 0; f < scene.truth.size(); ++f) {
            const EyeTruth& truth = scene.truth[f];
            const double within = kFoundWithin * truth.EyeDistance();
            bool found = false;
            for (size_t r = 0; r < reports.size(); ++r) {
                if (Near(reports[r].rightEyePixel, truth.rightEye, within) &&
                    Near(reports[r].leftEyePixel, truth.leftEye, within)) {
                    found = onFace[r] = true;
                    const double roll = path.frames[i][f].rollDegrees;
                    outcome.worstRollError =
                        std::max(outcome.worstRollError, std::abs(reports[r].angles.z * 180.0 / CV_PI - roll));
                }
                if (Near(reports[r].rightEyePixel, truth.leftEye, 0.3 * truth.EyeDistance()) &&
                    Near(reports[r].leftEyePixel, truth.rightEye, 0.3 * truth.EyeDistance())) {
                    ++outcome.swapped;
                }
            }
            ++outcome.faces;
            outcome.found += found ? 1 : 0;
            missed[f] = found ? 0 : missed[f] + 1;
            outcome.longestMissed = std::max(outcome.longestMissed, missed[f]);
        }
        wrong = std::all_of(onFace.begin(), onFace.end(), [](bool b) { return b; }) ? 0 : wrong + 1;
        outcome.longestWrong = std::max(outcome.longestWrong, wrong);
    }
    outcome.realigned = detector->statistics().realigned;
    return outcome;
}

class HardCaseTest : public ::testing::TestWithParam<HardCase> {};

// Every case on two people photographed with different cameras and light.
TEST_P(HardCaseTest, FindsAndFollowsTheFacesWithinBounds) {
    const HardCase& hard = GetParam();
    const std::vector<std::vector<CardPhoto>> casts = {{Astronaut(), Hopper()}, {Hopper(), Astronaut()}};
    for (const auto& cast : casts) {
        if (hard.withoutGlasses && &cast != &casts.front()) continue;
        for (const CardPhoto& card : cast) ASSERT_FALSE(card.grey.empty()) << card.name;
        const ScenePath path = hard.path(hard.eyeDistance);
        SCOPED_TRACE(fmt::format("{}, {}", path.name, cast[0].name));
        const Outcome outcome = Replay(path, cast);
        std::printf(
            "%-44s %-16s found %3d/%3d, longest miss %2d, longest wrong %2d, swapped %d, "
            "roll error %.1f, realigned %ld\n",
            path.name.c_str(), cast[0].name.c_str(), outcome.found, outcome.faces, outcome.longestMissed,
            outcome.longestWrong, outcome.swapped, outcome.worstRollError, static_cast<long>(outcome.realigned));
        ASSERT_GT(outcome.faces, 0);
        EXPECT_GE(outcome.found, hard.minFoundRate * outcome.faces);
        EXPECT_LE(outcome.longestMissed, hard.maxMissedRun);
        EXPECT_LE(outcome.longestWrong, 2);
        EXPECT_EQ(outcome.swapped, 0);
        if (hard.checkRoll) {
            EXPECT_LT(outcome.worstRollError, 8.0);
        }
        if (hard.maxRealigned >= 0) {
            EXPECT_LE(outcome.realigned, hard.maxRealigned);
        }
    }
}

const HardCase kHardCases[] = {
    {"Jump", [](double d) { return JumpPath(d, 8, 30); }, 40.0, 0.9, 2},
    {"Sweep", [](double d) { return SweepPath(d); }, 40.0, 0.9, 2, false, 6},
    {"Roll", [](double d) { return RollPath(d, 5.0); }, 40.0, 0.9, 2, true},
    // Found by the searches of turned copies, which come every other search.
    {"RolledEntry25", [](double d) { return RolledPath(d, 15, 25.0); }, 40.0, 0.75, 5, true},
    {"RolledEntry40", [](double d) { return RolledPath(d, 15, 40.0); }, 40.0, 0.75, 5, true},
    {"RolledEntry45", [](double d) { return RolledPath(d, 15, 45.0); }, 40.0, 0.75, 5, true},
    {"CutTop", [](double d) { return BorderPath(0, d, 12); }, 40.0, 0.9, 2},
    {"CutBottom", [](double d) { return BorderPath(1, d, 12); }, 40.0, 0.9, 2},
    {"CutLeft", [](double d) { return BorderPath(2, d, 12); }, 40.0, 0.9, 2},
    {"CutRight", [](double d) { return BorderPath(3, d, 12); }, 40.0, 0.9, 2},
    {"Dim", [](double d) { return DimPath(d, 20); }, 30.0, 0.9, 2},
    {"Shrink", [](double d) { return ShrinkPath(d, 20, 20); }, 30.0, 0.9, 2, false, -1, true},
    {"Crossing", [](double d) { return CrossingPath(d, 30); }, 36.0, 0.8, 4, false, 6},
};

INSTANTIATE_TEST_SUITE_P(BlinkDetectorCpu, HardCaseTest, ::testing::ValuesIn(kHardCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quilo::head::cpu::test
