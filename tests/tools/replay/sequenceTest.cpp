// The sequence format: what a manifest must hold, and the clear errors for
// everything else.
#include "tools/replay/sequence.h"

#include <fstream>
#include <functional>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/tempFolder.h"

namespace quilo::replay {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Manifest(const std::string& frames, const std::string& intrinsics =
                                                    R"({"width": 4, "height": 3, "fx": 5, "fy": 5,
                                                        "ppx": 2, "ppy": 1.5})") {
    return R"({"format": "quiloHeadTrackingSequence", "version": 1, "intrinsics": )" + intrinsics + R"(, "frames": [)" +
           frames + "]}";
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
    written.frames.push_back({"a.png", 1000.0, EyeTruth{{-31.5, 2, 700}, {31.5, 2.5, 701}}, std::nullopt});
    written.frames.push_back({"sub/b.pgm", 1033.25, std::nullopt, std::nullopt});
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

TEST(Sequence, MinimalManifestReads) { EXPECT_EQ(ErrorFor(Manifest(R"({"image": "a.png", "timestamp": 0})")), ""); }

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
        {R"({"format": "quiloHeadTrackingSequence", "version": 1, "frames": []})", "\"intrinsics\" is missing"},
        {Manifest(frame, R"({"width": 4, "height": 3, "fx": 5, "ppx": 2, "ppy": 1})"), "\"intrinsics\" has no \"fy\""},
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
    // Anything but a regular file, a FIFO as much as a folder, would block
    // or never end.
    std::filesystem::create_directory(folder.path() / kManifestName);
    try {
        ReadSequence(folder.path());
        FAIL() << "no error";
    } catch (const SequenceError& e) {
        EXPECT_THAT(e.what(), HasSubstr("sequence.json: not a regular file"));
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

    WriteFile(folder.path() / "b.pgm",
              std::string("P5\n3 2\n255\n") + std::string(image.pixels.begin(), image.pixels.end()));
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
    EXPECT_THROW(WriteGreyPng(folder.path() / "no-such-folder" / "a.png", GreyImage{1, 1, {7}}), SequenceError);
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A whole 4 x 3 grey PNG, as the writer makes it: signature, IHDR (width at
// byte 16, height at 20), one IDAT (its zlib header at bytes 41 and 42), IEND.
std::string SmallPng(const std::filesystem::path& scratch, int32_t width = 4) {
    GreyImage image{width, 3, std::vector<uint8_t>(static_cast<size_t>(width) * 3, 99)};
    WriteGreyPng(scratch / "whole.png", image);
    return ReadBytes(scratch / "whole.png");
}

std::string BigEndian(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

TEST(Sequence, DamagedImagesStopWithTheirNameBeforeOrWhileDecoding) {
    // The sequence is 4 x 3; every image is named "frame" plus an extension.
    // `header` says whether the quick check before the replay finds the
    // fault already (true) or only the decoder does (false).
    const std::string pgm = "P5\n4 3\n255\n";
    const std::string pixels(12, '\x40');
    test::TempFolder scratch, outside;
    const std::string png = SmallPng(scratch.path());
    const std::string wide = SmallPng(scratch.path(), 5);
    WriteFile(outside.path() / "secret.png", png);
    struct Case {
        const char* image;
        std::function<void(const std::filesystem::path& file)> write;
        std::string message;  // "" when the image reads
        bool header;
    };
    const auto bytes = [](std::string content) {
        return [content](const std::filesystem::path& file) { WriteFile(file, content); };
    };
    const Case cases[] = {
        {"frame.pgm", bytes(pgm + pixels), "", true},
        {"frame.pgm", bytes("P5\n# comment\n4 3\n255\n" + pixels + "trailing"), "", true},
        {"frame.png", bytes(png), "", true},
        {"frame.pgm", bytes(pgm + pixels.substr(0, 6)), "truncated: the header declares 4 x 3", true},
        {"frame.pgm", bytes(pgm), "truncated: the header declares 4 x 3 pixels, 12 bytes, the file holds 0", true},
        {"frame.pgm", bytes("P5\n4 3\n0\n" + pixels), "maximum value 0 is not from 1 to 65535", true},
        // Above 255 every value takes two bytes.
        {"frame.pgm", bytes("P5\n4 3\n65535\n" + pixels), "24 bytes, the file holds 12", true},
        {"frame.pgm", bytes("P5\n46000 46000\n255\n0"), "truncated", true},
        {"frame.pgm", bytes("P5\n4\n"), "damaged PGM header (no height)", true},
        {"frame.pgm", bytes("P5\n0 3\n255\n"), "declares no pixels", true},
        {"frame.pgm", bytes("P5\n99999999999 3\n255\n"), "the width is too large", true},
        {"frame.pgm", bytes("P5\n5 3\n255\n" + pixels + "xxx"),
         "the image is 5 x 3 pixels, the sequence's intrinsics say 4 x 3", true},
        {"frame.png", bytes(wide), "the image is 5 x 3 pixels", true},
        // 46000 x 46000 declared in a small file: refused before 2 GB are allocated.
        {"frame.png", bytes(png.substr(0, 16) + BigEndian(46000) + BigEndian(46000) + png.substr(24)),
         "the image is 46000 x 46000 pixels", true},
        {"frame.png", bytes(png.substr(0, 16) + BigEndian(0) + png.substr(20)), "damaged PNG header: 0 x 3 pixels",
         true},
        {"frame.png", bytes(png.substr(0, png.size() / 2)), "truncated PNG", false},
        {"frame.png", bytes(png.substr(0, 41) + "\xff\xff" + png.substr(43)), "not a readable PNG or PGM image (",
         false},
        {"frame.png", bytes("\x89PNG\r\n\x1a\n"), "damaged PNG header", true},
        {"frame.png", bytes("GIF89a not ours"), "neither signature", true},
        {"frame.png", bytes(""), "neither signature", true},
        {"frame.png", [](const std::filesystem::path&) {}, "no such image", true},
        // A folder (like a FIFO or a device) would block or never end.
        {"frame.png", [](const std::filesystem::path& file) { std::filesystem::create_directory(file); },
         "not a regular file", true},
        {"frame.png",
         [&](const std::filesystem::path& file) {
             std::filesystem::create_symlink(outside.path() / "secret.png", file);
         },
         "leads outside the sequence folder through a symbolic link", true},
        {"sub/frame.png",
         [&](const std::filesystem::path& file) {
             std::filesystem::create_directory_symlink(outside.path(), file.parent_path());
         },
         "leads outside the sequence folder", true},
        {"frame.png",
         [&](const std::filesystem::path& file) {
             WriteFile(file.parent_path() / "real.png", png);
             std::filesystem::create_symlink("real.png", file);
         },
         "", true},
    };
    Sequence sequence;
    sequence.intrinsics.width = 4;
    sequence.intrinsics.height = 3;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        test::TempFolder folder;
        const SequenceFrame frame{c.image, 0.0, std::nullopt, std::nullopt};
        c.write(folder.path() / c.image);
        const std::string name = (folder.path() / c.image).string();
        const auto messageOf = [&](auto read) -> std::string {
            try {
                read();
            } catch (const SequenceError& e) {
                return e.what();
            }
            return "";
        };
        const std::string checked = messageOf([&] { CheckFrameImage(folder.path(), sequence, frame); });
        const std::string decoded = messageOf([&] {
            const GreyImage image = ReadFrameImage(folder.path(), sequence, frame);
            EXPECT_EQ(image.pixels.size(), 12u);
        });
        if (c.message.empty()) {
            EXPECT_EQ(checked, "") << "case " << i;
            EXPECT_EQ(decoded, "") << "case " << i;
            continue;
        }
        EXPECT_THAT(decoded, AllOf(StartsWith(name + ": "), HasSubstr(c.message))) << "case " << i;
        if (c.header) {
            EXPECT_THAT(checked, AllOf(StartsWith(name + ": "), HasSubstr(c.message))) << "case " << i;
        } else {
            EXPECT_EQ(checked, "") << "case " << i;
        }
    }
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
