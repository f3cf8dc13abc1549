// The replay sample generator: its ground truth matches its images, its
// output is the same on every run, and bad input is refused clearly.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "blinkDetectorCpu/support.h"
#include "support/process.h"
#include "support/tempFolder.h"
#include "tools/replay/sampleGenerator.h"

namespace quilo::replay {
namespace {

using quilo::test::TempFolder;
using ::testing::HasSubstr;

const std::filesystem::path kSampleFolder = std::filesystem::path(QUILO_SOURCE_DIR) / "tools/replay/sample";

struct Photo {
    GreyImage image;
    EyePixels eyes;
};

Photo CommittedPhoto() {
    return {ReadPhotoAsGrey(kSampleFolder / "astronaut.png"),
            ReadEyePixels(kSampleFolder / "astronaut-eyes.csv", "astronaut.png")};
}

cv::Mat AsMat(GreyImage& image) { return cv::Mat(image.height, image.width, CV_8UC1, image.pixels.data()); }

std::string Bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The real detector finds the eyes where the manifest says they are, over
// the whole path (12 frames, 12 path steps apart), right eye on right eye.
TEST(ReplaySampleTruth, TheDetectorFindsTheEyesWhereTheTruthProjects) {
    const Photo photo = CommittedPhoto();
    TempFolder folder;
    SampleOptions options;
    options.frameCount = 12;
    options.pathStep = 12;
    GenerateSample(photo.image, photo.eyes, options, folder.path());

    const Sequence sequence = ReadSequence(folder.path());
    ASSERT_EQ(sequence.frames.size(), 12u);
    const CameraIntrinsics& camera = sequence.intrinsics;
    EXPECT_EQ(camera.width, 848);
    EXPECT_EQ(camera.height, 480);
    EXPECT_NEAR(camera.fx, 424.0 / std::tan(glm::radians(43.5)), 1e-3);
    EXPECT_DOUBLE_EQ(sequence.frames[0].timestampMs, 1000.0);
    EXPECT_NEAR(sequence.frames[1].timestampMs, 1400.0, 1e-9);  // 12 frames at 30 fps

    std::vector<double> errors;
    for (const SequenceFrame& frame : sequence.frames) {
        SCOPED_TRACE(frame.image);
        ASSERT_TRUE(frame.truth.has_value());
        EXPECT_NEAR(glm::distance(frame.truth->rightEye, frame.truth->leftEye), 63.0, 1e-9);
        const glm::dvec2 right = ProjectToPixel(camera, frame.truth->rightEye);
        const glm::dvec2 left = ProjectToPixel(camera, frame.truth->leftEye);
        const double eyeDistance = glm::distance(right, left);
        EXPECT_GE(eyeDistance, 25.0);
        for (const glm::dvec2& eye : {right, left}) {
            EXPECT_GE(std::min(eye.x, camera.width - eye.x), 100.0);
            EXPECT_GE(std::min(eye.y, camera.height - eye.y), 100.0);
        }

        GreyImage image = ReadGreyImage(folder / frame.image);
        // A new detector for each frame: the frames lie too far apart to be
        // followed from one to the next, so each face is found afresh.
        auto detector = head::cpu::test::MakeDetector();
        detector->OnCameraIntrinsicsChange(camera);
        head::cpu::test::TestFrame cameraFrame(AsMat(image), nullptr, frame.timestampMs);
        const auto& faces = detector->DetectFaces(cameraFrame).detections;
        ASSERT_EQ(faces.size(), 1u);
        const double error =
            std::max(glm::distance(faces[0].rightEyePixel, right), glm::distance(faces[0].leftEyePixel, left)) /
            eyeDistance;
        std::cout << fmt::format("{}: eyes {:.1f} px apart, normalised eye error {:.3f}\n", frame.image, eyeDistance,
                                 error);
        errors.push_back(error);
    }
    const double largest = *std::max_element(errors.begin(), errors.end());
    std::cout << fmt::format("normalised eye error: median {:.3f}, largest {:.3f}\n", Median(errors), largest);
    EXPECT_LE(Median(errors), 0.06);
    EXPECT_LE(largest, 0.08);
}

// Geometry without the detector: a card with two soft bright spots for eyes
// at fractional pixels, rendered without noise. The spots' centroids in the
// frames lie on the projected truth to a fraction of a pixel, the person's
// right eye (the photo's left spot) on the image's left.
TEST(ReplaySampleTruth, SpotsOnTheCardLandOnTheProjectedTruth) {
    Photo photo;
    photo.image = {240, 180, std::vector<uint8_t>(240 * 180)};
    photo.eyes = {{90.3, 100.6}, {150.7, 99.2}};
    cv::Mat card = AsMat(photo.image);
    for (int y = 0; y < card.rows; ++y) {
        for (int x = 0; x < card.cols; ++x) {
            double value = 90.0;
            for (const glm::dvec2& eye : {photo.eyes.rightEye, photo.eyes.leftEye}) {
                const double d2 = (x - eye.x) * (x - eye.x) + (y - eye.y) * (y - eye.y);
                value += 160.0 * std::exp(-d2 / (2.0 * 3.0 * 3.0));
            }
            card.at<uint8_t>(y, x) = static_cast<uint8_t>(std::lround(value));
        }
    }
    TempFolder folder;
    SampleOptions options;
    options.frameCount = 6;
    options.pathStep = 25;
    options.noiseSigma = 0.0;
    const Sequence sequence = GenerateSample(photo.image, photo.eyes, options, folder.path());

    for (const SequenceFrame& frame : sequence.frames) {
        SCOPED_TRACE(frame.image);
        GreyImage image = ReadGreyImage(folder / frame.image);
        const cv::Mat pixels = AsMat(image);
        const glm::dvec2 right = ProjectToPixel(sequence.intrinsics, frame.truth->rightEye);
        const glm::dvec2 left = ProjectToPixel(sequence.intrinsics, frame.truth->leftEye);
        EXPECT_LT(right.x, left.x);
        const double split = (right.x + left.x) / 2.0;
        // Intensity-weighted centroids of the bright pixels on either side.
        glm::dvec2 sums[2] = {glm::dvec2(0.0), glm::dvec2(0.0)};
        double weights[2] = {0.0, 0.0};
        for (int y = 0; y < pixels.rows; ++y) {
            for (int x = 0; x < pixels.cols; ++x) {
                const double weight = pixels.at<uint8_t>(y, x) - 130.0;
                if (weight <= 0.0) continue;
                const int side = x < split ? 0 : 1;
                sums[side] += weight * glm::dvec2(x, y);
                weights[side] += weight;
            }
        }
        ASSERT_GT(weights[0], 0.0);
        ASSERT_GT(weights[1], 0.0);
        EXPECT_LT(glm::distance(sums[0] / weights[0], right), 0.25);
        EXPECT_LT(glm::distance(sums[1] / weights[1], left), 0.25);
    }
}

// Two runs give the same bytes; the noise is zero-mean with the asked sigma.
TEST(ReplaySampleOutput, IsTheSameOnEveryRunAndCarriesTheAskedNoise) {
    const Photo photo = CommittedPhoto();
    SampleOptions options;
    options.frameCount = 3;
    options.pathStep = 50;
    TempFolder first, second;
    GenerateSample(photo.image, photo.eyes, options, first.path());
    GenerateSample(photo.image, photo.eyes, options, second.path());
    for (const char* name : {"sequence.json", "00000.png", "00001.png", "00002.png"}) {
        SCOPED_TRACE(name);
        const std::string bytes = Bytes(first / name);
        EXPECT_FALSE(bytes.empty());
        EXPECT_TRUE(bytes == Bytes(second / name));
    }
    EXPECT_NE(Bytes(first / "00000.png"), Bytes(first / "00001.png"));

    TempFolder clean;
    options.frameCount = 1;
    options.noiseSigma = 0.0;
    GenerateSample(photo.image, photo.eyes, options, clean.path());
    GreyImage noisy = ReadGreyImage(first / "00000.png");
    GreyImage plain = ReadGreyImage(clean / "00000.png");
    cv::Mat difference;
    AsMat(noisy).convertTo(difference, CV_64F);
    difference -= [&] {
        cv::Mat p;
        AsMat(plain).convertTo(p, CV_64F);
        return p;
    }();
    cv::Scalar mean, deviation;
    cv::meanStdDev(difference, mean, deviation);
    EXPECT_NEAR(mean[0], 0.0, 0.02);
    EXPECT_NEAR(deviation[0], 2.0, 0.05);
}

// Bad input: a clear SequenceError naming the file or the fault, and no
// manifest left behind.
TEST(ReplaySampleInput, BadInputIsRefusedClearly) {
    TempFolder folder;
    try {
        ReadPhotoAsGrey(folder / "missing.png");
        FAIL() << "a missing photo was read";
    } catch (const SequenceError& e) {
        EXPECT_THAT(e.what(), HasSubstr("missing.png: no such image"));
    }

    const auto csv = folder / "eyes.csv";
    std::ofstream(csv) << "image,face_index,right_eye_x,right_eye_y,left_eye_x,left_eye_y\n"
                          "other.png,0,1,2,3,4\n"
                          "astronaut.png,1,1,2,3,4\n";
    try {
        ReadEyePixels(csv, "astronaut.png");
        FAIL() << "eyes were found for a photo without a row";
    } catch (const SequenceError& e) {
        EXPECT_THAT(e.what(), HasSubstr("has no eyes for face 0 of \"astronaut.png\""));
    }
    std::ofstream(csv, std::ios::app) << "astronaut.png,0,1,2,x,4\n";
    EXPECT_THROW(ReadEyePixels(csv, "astronaut.png"), SequenceError);
    EXPECT_THROW(ReadEyePixels(folder / "none.csv", "astronaut.png"), SequenceError);

    // Eyes outside the photo, swapped, or too close; options out of range.
    const Photo photo = CommittedPhoto();
    const auto refused = [&](EyePixels eyes, SampleOptions options) {
        try {
            GenerateSample(photo.image, eyes, options, folder / "out");
            return false;
        } catch (const SequenceError&) {
            return !std::filesystem::exists(folder / "out" / kManifestName);
        }
    };
    const SampleOptions defaults;
    EXPECT_TRUE(refused({{-1.0, 100.0}, photo.eyes.leftEye}, defaults));
    EXPECT_TRUE(refused({photo.eyes.leftEye, photo.eyes.rightEye}, defaults));
    EXPECT_TRUE(refused({{200.0, 100.0}, {202.0, 100.0}}, defaults));
    SampleOptions bad;
    bad.frameCount = 0;
    EXPECT_TRUE(refused(photo.eyes, bad));
    bad = {};
    bad.pathStep = 0;
    EXPECT_TRUE(refused(photo.eyes, bad));
    bad = {};
    bad.noiseSigma = std::nan("");
    EXPECT_TRUE(refused(photo.eyes, bad));
}

// The program exits non-zero on bad input and leaves no manifest; on good
// input it writes the frames asked for.
TEST(ReplaySampleInput, TheProgramReportsFailureByItsExitCode) {
    TempFolder folder;
    const std::string photo = (kSampleFolder / "astronaut.png").string();
    const std::string eyes = (kSampleFolder / "astronaut-eyes.csv").string();
    const std::string output = (folder / "out").string();
    const auto run = [](const std::vector<std::string>& arguments) {
        return quilo::test::RunProgram(QUILO_MAKE_SAMPLE_PROGRAM, arguments, {});
    };

    EXPECT_NE(run({(folder / "missing.png").string(), eyes, output}), 0);
    const auto csv = folder / "eyes.csv";
    std::ofstream(csv) << "image,face_index,right_eye_x,right_eye_y,left_eye_x,left_eye_y\n";
    EXPECT_NE(run({photo, csv.string(), output}), 0);
    EXPECT_NE(run({photo, eyes, output, "--frames", "0"}), 0);
    EXPECT_NE(run({photo, eyes}), 0);
    EXPECT_FALSE(std::filesystem::exists(folder / "out" / kManifestName));

    ASSERT_EQ(run({photo, eyes, output, "--frames", "2"}), 0);
    EXPECT_EQ(ReadSequence(output).frames.size(), 2u);
}

}  // namespace
}  // namespace quilo::replay
