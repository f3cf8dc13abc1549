// Depth in sequences: 16-bit PNG depth images beside the frames, checked as
// carefully as the images, and the recorder saving the depth a frame gives.
#include <fstream>
#include <functional>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headTracking/camera/pinholeCameraFrame.h"
#include "support/tempFolder.h"
#include "tools/replay/recorder.h"
#include "tools/replay/sequence.h"

namespace quilo::replay {
namespace {

using ::testing::HasSubstr;

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

DepthImage Ramp(int32_t width, int32_t height) {
    DepthImage depth{width, height, {}};
    for (int32_t i = 0; i < width * height; ++i) depth.values.push_back(static_cast<uint16_t>(i * 997 + 3));
    return depth;
}

// A 4 x 3 sequence of one frame whose depth image is "depth.png".
Sequence OneFrame() {
    Sequence sequence;
    sequence.intrinsics.width = 4;
    sequence.intrinsics.height = 3;
    sequence.intrinsics.fx = sequence.intrinsics.fy = 5.0f;
    sequence.depthUnit = 0.0005;
    SequenceFrame frame;
    frame.image = "image.png";
    frame.depth = "depth.png";
    sequence.frames.push_back(frame);
    return sequence;
}

TEST(DepthSequence, DepthImagesAndTheirUnitReadBackWhole) {
    test::TempFolder folder;
    const Sequence sequence = OneFrame();
    WriteGreyPng(folder.path() / "image.png", GreyImage{4, 3, std::vector<uint8_t>(12, 9)});
    const DepthImage ramp = Ramp(4, 3);  // values above 255 and above 32767
    WriteDepthPng(folder.path() / "depth.png", ramp);
    WriteSequence(folder.path(), sequence);

    const Sequence read = ReadSequence(folder.path());
    EXPECT_EQ(read.depthUnit, 0.0005);
    ASSERT_TRUE(read.frames[0].depth);
    EXPECT_EQ(*read.frames[0].depth, "depth.png");
    EXPECT_NO_THROW(CheckFrameImage(folder.path(), read, read.frames[0]));
    EXPECT_EQ(ReadFrameDepth(folder.path(), read, read.frames[0]).values, ramp.values);

    // Old manifests: no depth, the default unit.
    WriteFile(folder.path() / kManifestName,
              R"({"format": "quiloHeadTrackingSequence", "version": 1, "intrinsics": {"width": 4,
                  "height": 3, "fx": 5, "fy": 5, "ppx": 2, "ppy": 1.5},
                  "frames": [{"image": "image.png", "timestamp": 0}]})");
    const Sequence old = ReadSequence(folder.path());
    EXPECT_FALSE(old.frames[0].depth);
    EXPECT_EQ(old.depthUnit, kDefaultDepthUnit);
}

TEST(DepthSequence, BadUnitsAndNamesAreRefused) {
    const auto errorFor = [](const std::string& extra, const std::string& frameExtra) {
        test::TempFolder folder;
        WriteFile(folder.path() / kManifestName,
                  R"({"format": "quiloHeadTrackingSequence", "version": 1, "intrinsics": {"width": 4,
                      "height": 3, "fx": 5, "fy": 5, "ppx": 2, "ppy": 1.5})" +
                      extra + R"(, "frames": [{"image": "a.png", "timestamp": 0)" + frameExtra + "}]}");
        try {
            ReadSequence(folder.path());
        } catch (const SequenceError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(errorFor(R"(, "depthUnit": 0.001)", R"(, "depth": "a-depth.png")"), "");
    EXPECT_THAT(errorFor(R"(, "depthUnit": 0)", ""), HasSubstr("\"depthUnit\" must be a positive finite"));
    EXPECT_THAT(errorFor(R"(, "depthUnit": -1)", ""), HasSubstr("\"depthUnit\" must be a positive finite"));
    EXPECT_THAT(errorFor(R"(, "depthUnit": "mm")", ""), HasSubstr("\"depthUnit\" is not a number"));
    EXPECT_THAT(errorFor("", R"(, "depth": "../d.png")"),
                HasSubstr("depth image \"../d.png\" is not a file inside the folder"));
    EXPECT_THAT(errorFor("", R"(, "depth": 5)"), HasSubstr("\"depth\" is not a text"));
}

// One rule: a damaged, foreign or wrongly sized depth image stops the
// replay with its name, before decoding where its start shows the fault.
TEST(DepthSequence, DamagedDepthImagesAreNamed) {
    test::TempFolder scratch;
    WriteDepthPng(scratch.path() / "whole.png", Ramp(4, 3));
    const std::string whole = ReadBytes(scratch.path() / "whole.png");
    WriteDepthPng(scratch.path() / "wide.png", Ramp(5, 3));
    WriteGreyPng(scratch.path() / "grey.png", GreyImage{4, 3, std::vector<uint8_t>(12, 9)});
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> write;
        const char* message;
        bool header;  // found by the quick check before the replay
    };
    const auto bytes = [](std::string content) {
        return [content](const std::filesystem::path& file) { WriteFile(file, content); };
    };
    const std::vector<Case> cases = {
        {"missing", [](const std::filesystem::path&) {}, "no such image", true},
        {"a folder", [](const std::filesystem::path& file) { std::filesystem::create_directory(file); },
         "not a regular file", true},
        {"8-bit grey",
         [&](const std::filesystem::path& file) { std::filesystem::copy_file(scratch.path() / "grey.png", file); },
         "not a 16-bit grey PNG depth image", true},
        {"a PGM", bytes("P5\n4 3\n65535\n" + std::string(24, '\x10')), "not a 16-bit grey PNG depth image", true},
        {"other size",
         [&](const std::filesystem::path& file) { std::filesystem::copy_file(scratch.path() / "wide.png", file); },
         "the image is 5 x 3 pixels, the sequence's intrinsics say 4 x 3", true},
        {"no signature", bytes("hello"), "neither signature", true},
        {"truncated", bytes(whole.substr(0, whole.size() - 20)), "truncated PNG: no end chunk", false},
        {"damaged pixels", bytes(whole.substr(0, 41) + std::string(8, '\xff') + whole.substr(49)),
         "not a readable PNG depth image", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder folder;
        const Sequence sequence = OneFrame();
        WriteGreyPng(folder.path() / "image.png", GreyImage{4, 3, std::vector<uint8_t>(12, 9)});
        c.write(folder.path() / "depth.png");
        std::string checked, read;
        try {
            CheckFrameImage(folder.path(), sequence, sequence.frames[0]);
        } catch (const SequenceError& e) {
            checked = e.what();
        }
        try {
            ReadFrameDepth(folder.path(), sequence, sequence.frames[0]);
        } catch (const SequenceError& e) {
            read = e.what();
        }
        EXPECT_THAT(read, HasSubstr("depth.png"));
        EXPECT_THAT(read, HasSubstr(c.message));
        if (c.header) {
            EXPECT_EQ(checked, read);
        } else {
            EXPECT_EQ(checked, "");
        }
    }
}

TEST(DepthSequence, TheRecorderSavesTheDepthAFrameGives) {
    test::TempFolder folder;
    const auto target = folder.path() / "session";
    SequenceRecorder recorder(target, "with depth");
    CameraIntrinsics intrinsics;
    intrinsics.width = 4;
    intrinsics.height = 3;
    intrinsics.fx = intrinsics.fy = 5.0f;
    std::vector<uint8_t> pixels(12, 50);
    ImageDesc image{4, 3, 0, pixels.data()};
    // Depth in steps of 0.25 mm: 1000 steps are 250 mm; one pixel unmeasured,
    // one beyond what 16 bits of millimetres hold.
    std::vector<uint16_t> values(12, 1000);
    values[5] = 0;
    values[6] = 65535;
    DepthImageDesc depth{4, 3, 8, 0.00025f, reinterpret_cast<const uint8_t*>(values.data())};
    const DepthImageDesc beyond{4, 3, 8, 2.0f, reinterpret_cast<const uint8_t*>(values.data())};

    EXPECT_TRUE(recorder.Record(head::PinholeCameraFrame(image, &depth, {Timestamp::Space::System, 10.0}, intrinsics),
                                intrinsics));
    EXPECT_TRUE(recorder.Record(head::PinholeCameraFrame(image, nullptr, {Timestamp::Space::System, 20.0}, intrinsics),
                                intrinsics));
    EXPECT_TRUE(recorder.Record(head::PinholeCameraFrame(image, &beyond, {Timestamp::Space::System, 30.0}, intrinsics),
                                intrinsics));
    recorder.Finish();

    const Sequence sequence = ReadSequence(target);
    ASSERT_EQ(sequence.frames.size(), 3u);
    EXPECT_EQ(sequence.depthUnit, 0.001);
    ASSERT_TRUE(sequence.frames[0].depth);
    EXPECT_FALSE(sequence.frames[1].depth);
    const DepthImage saved = ReadFrameDepth(target, sequence, sequence.frames[0]);
    EXPECT_EQ(saved.values[0], 250);
    EXPECT_EQ(saved.values[5], 0);
    EXPECT_EQ(saved.values[6], 16384);  // 65535 · 0.25 mm, rounded
    const DepthImage far = ReadFrameDepth(target, sequence, sequence.frames[2]);
    EXPECT_EQ(far.values[0], 0);  // 2000 m is beyond 16 bits of millimetres: unmeasured
}

}  // namespace
}  // namespace quilo::replay
