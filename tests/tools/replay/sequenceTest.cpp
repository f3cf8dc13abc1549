// The sequence format: what a manifest must hold, and the clear errors for
// everything else.
#include "tools/replay/sequence.h"

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/tempFolder.h"

namespace quilo::replay {
namespace {

using ::testing::HasSubstr;

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Manifest(const std::string& frames, const std::string& intrinsics =
                                                    R"({"width": 4, "height": 3, "fx": 5, "fy": 5,
                                                        "ppx": 2, "ppy": 1.5})") {
    return R"({"format": "quiloHeadTrackingSequence", "version": 1, "intrinsics": )" + intrinsics +
           R"(, "frames": [)" + frames + "]}";
}

// The message ReadSequence throws for `manifest`, or "" when it reads it.
std::string ErrorFor(const std::string& manifest) {
    test::TempFolder folder;
    WriteFile(folder.path() / kManifestName, manifest);
    try {
        ReadSequence(folder.path());
    } catch (const SequenceError& e) {
        return e.what();
    }
    return "";
}

TEST(Sequence, WrittenSequencesReadBackWhole) {
    test::TempFolder folder;
    Sequence written;
    written.description = "two frames";
    written.intrinsics.width = 848;
    written.intrinsics.height = 480;
    written.intrinsics.fx = 430.5f;
    written.intrinsics.fy = 431.25f;
    written.intrinsics.ppx = 424.0f;
    written.intrinsics.ppy = 239.5f;
    written.intrinsics.isMirrored = true;
    written.frames.push_back({"a.png", 1000.0, EyeTruth{{-31.5, 2, 700}, {31.5, 2.5, 701}}});
    written.frames.push_back({"sub/b.pgm", 1033.25, std::nullopt});
    WriteSequence(folder.path(), written);

    const Sequence read = ReadSequence(folder.path());
    EXPECT_EQ(read.description, "two frames");
    EXPECT_EQ(read.intrinsics.width, 848);
    EXPECT_EQ(read.intrinsics.height, 480);
    EXPECT_EQ(read.intrinsics.fx, 430.5f);
    EXPECT_EQ(read.intrinsics.fy, 431.25f);
    EXPECT_EQ(read.intrinsics.ppx, 424.0f);
    EXPECT_EQ(read.intrinsics.ppy, 239.5f);
    EXPECT_TRUE(read.intrinsics.isMirrored);
    ASSERT_EQ(read.frames.size(), 2u);
    EXPECT_EQ(read.frames[0].image, "a.png");
    EXPECT_EQ(read.frames[0].timestampMs, 1000.0);
    ASSERT_TRUE(read.frames[0].truth);
    EXPECT_EQ(read.frames[0].truth->rightEye, glm::dvec3(-31.5, 2, 700));
    EXPECT_EQ(read.frames[0].truth->leftEye, glm::dvec3(31.5, 2.5, 701));
    EXPECT_EQ(read.frames[1].image, "sub/b.pgm");
    EXPECT_EQ(read.frames[1].timestampMs, 1033.25);
    EXPECT_FALSE(read.frames[1].truth);
}

TEST(Sequence, MinimalManifestReads) {
    EXPECT_EQ(ErrorFor(Manifest(R"({"image": "a.png", "timestamp": 0})")), "");
}

TEST(Sequence, BadManifestsAreRefusedWithTheirFault) {
    const std::string frame = R"({"image": "a.png", "timestamp": 0})";
    struct Case {
        std::string manifest;
        std::string message;
    };
    const Case cases[] = {
        {"{", "not valid JSON"},
        {"[]", "not a JSON object"},
        {R"({"format": "other", "version": 1})", "\"format\" is not"},
        {R"({"format": "quiloHeadTrackingSequence", "version": 2})", "version 2 is not supported"},
        {R"({"format": "quiloHeadTrackingSequence", "version": 1, "frames": []})",
         "\"intrinsics\" is missing"},
        {Manifest(frame, R"({"width": 4, "height": 3, "fx": 5, "ppx": 2, "ppy": 1})"),
         "\"intrinsics\" has no \"fy\""},
        {Manifest(frame, R"({"width": 0, "height": 3, "fx": 5, "fy": 5, "ppx": 2, "ppy": 1})"),
         "width and height must be whole numbers"},
        {Manifest(frame, R"({"width": 4.5, "height": 3, "fx": 5, "fy": 5, "ppx": 2, "ppy": 1})"),
         "width and height must be whole numbers"},
        {Manifest(frame, R"({"width": 4, "height": 3, "fx": -5, "fy": 5, "ppx": 2, "ppy": 1})"),
         "focal lengths must be positive"},
        {Manifest(frame, R"({"width": "4", "height": 3, "fx": 5, "fy": 5, "ppx": 2, "ppy": 1})"),
         "\"width\" is not a number"},
        {Manifest(""), "the sequence has no frames"},
        {Manifest(R"({"image": "a.png"})"), "frame 0 has no \"timestamp\""},
        {Manifest(R"({"timestamp": 0})"), "frame 0 has no \"image\""},
        {Manifest(R"({"image": "a.png", "timestamp": "soon"})"), "\"timestamp\" is not a number"},
        {Manifest(frame + R"(, {"image": "b.png", "timestamp": 0})"),
         "frame 1: timestamp 0 ms does not come after 0 ms"},
        {Manifest(frame + R"(, {"image": "b.png", "timestamp": -40})"),
         "frame 1: timestamp -40 ms does not come after 0 ms"},
        {Manifest(R"({"image": "../a.png", "timestamp": 0})"), "is not a file inside the folder"},
        {Manifest(R"({"image": "/etc/passwd", "timestamp": 0})"), "is not a file inside the folder"},
        {Manifest(R"({"image": "", "timestamp": 0})"), "is not a file inside the folder"},
        {Manifest(R"({"image": "a.png", "timestamp": 0, "truth": {"rightEye": [1, 2, 3]}})"),
         "frame 0 truth has no \"leftEye\""},
        {Manifest(R"({"image": "a.png", "timestamp": 0,
                      "truth": {"rightEye": [1, 2], "leftEye": [1, 2, 3]}})"),
         "\"rightEye\" is not a list of three numbers"},
    };
    for (const Case& c : cases) {
        EXPECT_THAT(ErrorFor(c.manifest), HasSubstr(c.message)) << c.manifest;
    }
}

TEST(Sequence, MissingFolderOrManifestIsNamed) {
    test::TempFolder folder;
    try {
        ReadSequence(folder.path() / "nothing");
        FAIL() << "no error";
    } catch (const SequenceError& e) {
        EXPECT_THAT(e.what(), HasSubstr("nothing: no such folder"));
    }
    try {
        ReadSequence(folder.path());
        FAIL() << "no error";
    } catch (const SequenceError& e) {
        EXPECT_THAT(e.what(), HasSubstr("sequence.json: cannot be opened"));
    }
}

TEST(Sequence, ImagesReadAsGreyFromPngAndPgm) {
    test::TempFolder folder;
    GreyImage image;
    image.width = 3;
    image.height = 2;
    image.pixels = {0, 10, 20, 200, 250, 255};
    WriteGreyPng(folder.path() / "a.png", image);
    const GreyImage png = ReadGreyImage(folder.path() / "a.png");
    EXPECT_EQ(png.width, 3);
    EXPECT_EQ(png.height, 2);
    EXPECT_EQ(png.pixels, image.pixels);

    WriteFile(folder.path() / "b.pgm", std::string("P5\n3 2\n255\n") +
                                           std::string(image.pixels.begin(), image.pixels.end()));
    EXPECT_EQ(ReadGreyImage(folder.path() / "b.pgm").pixels, image.pixels);

    const uint8_t rgb[] = {255, 255, 255, 0, 0, 0};
    WriteRgbPng(folder.path() / "c.png", 2, 1, rgb);
    EXPECT_EQ(ReadGreyImage(folder.path() / "c.png").pixels, (std::vector<uint8_t>{255, 0}));
}

TEST(Sequence, UnreadableImagesAreNamed) {
    test::TempFolder folder;
    WriteFile(folder.path() / "broken.png", "\x89PNG not really");
    EXPECT_THROW(
        {
            try {
                ReadGreyImage(folder.path() / "broken.png");
            } catch (const SequenceError& e) {
                EXPECT_THAT(e.what(), HasSubstr("broken.png: not a readable PNG or PGM image"));
                throw;
            }
        },
        SequenceError);
    EXPECT_THROW(
        {
            try {
                ReadGreyImage(folder.path() / "missing.png");
            } catch (const SequenceError& e) {
                EXPECT_THAT(e.what(), HasSubstr("missing.png: no such image"));
                throw;
            }
        },
        SequenceError);
    GreyImage wrong;
    wrong.width = 2;
    wrong.height = 2;
    wrong.pixels = {1, 2, 3};
    EXPECT_THROW(WriteGreyPng(folder.path() / "wrong.png", wrong), SequenceError);
    EXPECT_THROW(WriteGreyPng(folder.path() / "no-such-folder" / "a.png", GreyImage{1, 1, {7}}),
                 SequenceError);
}

TEST(Sequence, ProjectionUsesFocalLengthsAndPrincipalPoint) {
    CameraIntrinsics intrinsics;
    intrinsics.fx = 400.0f;
    intrinsics.fy = 500.0f;
    intrinsics.ppx = 320.0f;
    intrinsics.ppy = 240.0f;
    const glm::dvec2 pixel = ProjectToPixel(intrinsics, {100.0, -50.0, 1000.0});
    EXPECT_DOUBLE_EQ(pixel.x, 360.0);
    EXPECT_DOUBLE_EQ(pixel.y, 215.0);
}

}  // namespace
}  // namespace quilo::replay
