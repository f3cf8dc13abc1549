// quiloHeadTrackingMakeSample: renders the replay sample (see
// sampleGenerator.h) from a face photograph and its eye annotation file.
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/std.h>

#include "tools/replay/sampleGenerator.h"

int main(int argc, char** argv) {
    using namespace quilo::replay;

    CLI::App app{
        "Renders an image sequence of a face photograph moving along a known path in front of "
        "a simulated 848 x 480 camera, with the true eye positions in its manifest."};
    std::string photo, eyes, output;
    SampleOptions options;
    app.add_option("photo", photo, "The face photograph (PNG or PGM)")->required();
    app.add_option("eyes", eyes,
                   "Eye annotation file (image,face_index,right_eye_x,right_eye_y,left_eye_x,"
                   "left_eye_y) with a row for the photograph")
        ->required();
    app.add_option("output", output, "Folder for the frames and sequence.json (created when missing)")->required();
    app.add_option("--frames", options.frameCount, "Frames to render")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));
    app.add_option("--step", options.pathStep, "Steps along the path between two frames")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    std::string motion = "path";
    app.add_option("--motion", motion, "path, sway, lean, still or turnAndStop")
        ->capture_default_str()
        ->check([](const std::string& name) {
            return SampleMotionFromName(name) ? std::string() : "not a motion: " + name;
        });
    app.add_option("--fps", options.framesPerSecond, "Frames per second (0: 30 for the path, 90 for the other motions)")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 1000.0));
    app.add_option("--sway-mm", options.swayMm, "Sway width peak to peak, mm")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 400.0));
    app.add_option("--sway-hz", options.swayHz, "Sway rate, Hz")->capture_default_str()->check(CLI::Range(0.05, 5.0));
    app.add_flag("--depth", options.depth, "Write a depth image of the card beside every frame");
    CLI11_PARSE(app, argc, argv);
    options.motion = *SampleMotionFromName(motion);

    try {
        const GreyImage image = ReadPhotoAsGrey(photo);
        const std::filesystem::path photoPath(photo);
        const EyePixels eyePixels = ReadEyePixels(eyes, photoPath.filename().string());
        const Sequence sequence = GenerateSample(image, eyePixels, options, output);
        fmt::print("wrote {} frames and {} to {}\n", sequence.frames.size(), kManifestName, output);
        return 0;
    } catch (const std::exception& e) {
        fmt::print(stderr, "quiloHeadTrackingMakeSample: {}\n", e.what());
        return 1;
    }
}
