// quiloHeadTrackingReplay: replays an image sequence through the engine with
// the CPU face detector and reports what the engine tracked. Without a
// sequence it replays the sample built beside it.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/std.h>

#include "common/log.h"
#include "common/paths.h"
#include "tools/replay/commandLine.h"
#include "tools/replay/options.h"
#include "tools/replay/progressBar.h"
#include "tools/replay/replay.h"
#include "tools/replay/report.h"
#include "tools/replay/sequence.h"

namespace fs = std::filesystem;
using namespace quilo::replay;

namespace {

// The sample the build generates beside the executable.
fs::path SamplePath() { return quilo::GetExecutablePath().parent_path() / "replaySample"; }

int Run(const fs::path& sequenceFolder, const fs::path& output, const ReplayOptions& options, size_t overlayEvery) {
    // Refused before the replay rather than after it.
    std::error_code error;
    if (fs::exists(output, error) && !fs::is_directory(output, error)) {
        throw SequenceError(fmt::format("{}: exists and is not a folder", output.string()));
    }
    const Sequence sequence = ReadSequence(sequenceFolder);
    fmt::print("Replaying {} frames of {}{}\n", sequence.frames.size(), sequenceFolder.string(),
               sequence.description.empty() ? "" : fmt::format("\n  ({})", sequence.description));
    std::fflush(stdout);

    ReplayResult result;
    {
        ProgressBar bar(stderr, "replay");
        result =
            Replay(sequenceFolder, sequence, options, [&bar](size_t done, size_t total) { bar.Update(done, total); });
    }

    fs::create_directories(output, error);
    if (error) {
        throw SequenceError(fmt::format("{}: cannot create the folder ({})", output, error.message()));
    }
    const fs::path table = output / "frames.csv";
    WriteFrameTable(table, result);
    const fs::path plot = output / "trajectory.svg";
    WriteTrajectoryPlot(plot, result,
                        sequence.description.empty() ? sequenceFolder.filename().string() : sequence.description);
    size_t pictures = 0;
    const fs::path overlays = output / "overlays";
    if (overlayEvery > 0) {
        fs::create_directories(overlays, error);
        if (error) {
            throw SequenceError(fmt::format("{}: cannot create the folder ({})", overlays, error.message()));
        }
        ProgressBar bar(stderr, "pictures");
        pictures = WriteOverlays(overlays, sequenceFolder, sequence, result, overlayEvery);
    }

    ReplayStatistics statistics = ComputeStatistics(result);
    AddStillFigures(sequence, result, statistics);
    fmt::print("\n{}\n", FormatSummary(statistics));
    fmt::print("per-frame table:    {}\n", table.string());
    fmt::print("trajectory plot:    {}\n", plot.string());
    if (pictures > 0) fmt::print("frame pictures:     {} ({} PNG files)\n", overlays.string(), pictures);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Replays an image sequence through the head-tracking engine with the CPU face detector\n"
        "and writes a per-frame table, pictures of the frames and a trajectory plot.\n"
        "Without a sequence it replays the sample built beside this program."};

    std::string sequenceFolder;
    std::string output = "replay-output";
    int maxFaces = 1;
    std::string eyes = "both";
    std::vector<float> cameraPosition;
    std::vector<float> cameraRotation;
    std::vector<std::string> filterSettings;
    size_t overlayEvery = 1;
    bool verbose = false;
    std::optional<double> predictMs;

    app.add_option("sequence", sequenceFolder,
                   "Folder with sequence.json and the images (default: the bundled sample)");
    app.add_option("-o,--output", output, "Folder for the table, the plot and the pictures")->capture_default_str();
    app.add_option("--max-faces", maxFaces, "Faces to track, 1 to the detector's limit (3)")->capture_default_str();
    app.add_option("--eyes", eyes, "Eyes to track: left, right or both (their midpoint)")
        ->check(CLI::IsMember({"left", "right", "both"}))
        ->capture_default_str();
    app.add_option("--camera-position", cameraPosition, "Camera position in the display's space, mm: X Y Z")
        ->expected(3)
        ->delimiter(',');
    app.add_option("--camera-rotation", cameraRotation,
                   "Camera rotation: a rotation vector in degrees (3 numbers) or a matrix, column "
                   "by column (9 numbers)")
        ->expected(3, 9)
        ->delimiter(',');
    app.add_option("--filter", filterSettings, "Filter setting KEY=VALUE, repeatable; keys: " + FilterSettingKeys())
        ->take_all();
    app.add_option("--overlay-every", overlayEvery, "Draw a picture of every Nth frame (0: none)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--predict-ms", predictMs,
                   "Predict the main face's eyes this many ms past each frame (0 to 100) and report their "
                   "error against the truth then")
        ->check(CLI::Range(0.0, 100.0));
    app.add_flag("-v,--verbose", verbose, "Show the engine's information log lines");
    if (const auto exitCode = ParseCommandLine(app, argc, argv)) return *exitCode;

    try {
        ReplayOptions options;
        options.maxFaces = maxFaces;
        options.logLevel = verbose ? kQuiloLogLevelInfo : kQuiloLogLevelWarn;
        options.predictMs = predictMs;
        options.tracker.trackLeftEye = eyes != "right";
        options.tracker.trackRightEye = eyes != "left";
        if (!cameraPosition.empty()) {
            options.tracker.cameraPosition = CameraPositionFromValues(cameraPosition);
        }
        if (!cameraRotation.empty()) {
            options.tracker.cameraRotation = CameraRotationFromValues(cameraRotation);
        }
        for (const std::string& setting : filterSettings) {
            ApplyFilterSetting(options.tracker.filterProperties, setting);
        }
        const fs::path folder = sequenceFolder.empty() ? SamplePath() : fs::path(sequenceFolder);
        return Run(folder, output, options, overlayEvery);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        fmt::print(stderr, "error: {}\n", e.what());
        return 1;
    }
}
