// Recording frames into a sequence folder, and what is refused on the way.
#include "tools/replay/recorder.h"

#include <csignal>
#include <fstream>

#include <fmt/format.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/tempFolder.h"

namespace quilo::replay {
namespace {

using ::testing::HasSubstr;

CameraIntrinsics Intrinsics(int width, int height) {
    CameraIntrinsics intrinsics;
    intrinsics.width = width;
    intrinsics.height = height;
    intrinsics.fx = intrinsics.fy = 300.0f;
    intrinsics.ppx = width / 2.0f;
    intrinsics.ppy = height / 2.0f;
    return intrinsics;
}

struct Image {
    std::vector<uint8_t> pixels;
    ImageDesc desc;
    Image(int width, int height, uint8_t seed) : pixels(static_cast<size_t>(width) * height) {
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + seed);
        desc.width = width;
        desc.height = height;
        desc.data = pixels.data();
    }
    head::TrivialCameraFrame At(double ms) const {
        return head::TrivialCameraFrame(desc, Timestamp{Timestamp::Space::System, ms});
    }
};

TEST(SequenceRecorder, RecordsFramesThatReplayAsTheyCame) {
    test::TempFolder folder;
    const auto target = folder.path() / "session";
    SequenceRecorder recorder(target, "a test session");
    const Image first(8, 6, 1), second(8, 6, 2), wrongSize(6, 8, 3);

    // Until the camera's geometry is known nothing can be recorded.
    EXPECT_FALSE(recorder.Record(first.At(990.0), CameraIntrinsics{}));
    EXPECT_TRUE(recorder.Record(first.At(1000.0), Intrinsics(8, 6)));
    EXPECT_FALSE(recorder.Record(second.At(1000.0), Intrinsics(8, 6)));  // not later
    EXPECT_FALSE(recorder.Record(wrongSize.At(1010.0), Intrinsics(6, 8)));
    EXPECT_TRUE(recorder.Record(second.At(1033.5), Intrinsics(8, 6)));
    EXPECT_EQ(recorder.frames(), 2u);
    EXPECT_EQ(recorder.dropped(), 3u);
    recorder.Finish();

    const Sequence sequence = ReadSequence(target);
    EXPECT_EQ(sequence.description, "a test session");
    EXPECT_EQ(sequence.intrinsics.width, 8);
    EXPECT_EQ(sequence.intrinsics.fx, 300.0f);
    ASSERT_EQ(sequence.frames.size(), 2u);
    EXPECT_EQ(sequence.frames[0].timestampMs, 1000.0);
    EXPECT_EQ(sequence.frames[1].timestampMs, 1033.5);
    EXPECT_EQ(ReadGreyImage(target / sequence.frames[0].image).pixels, first.pixels);
    EXPECT_EQ(ReadGreyImage(target / sequence.frames[1].image).pixels, second.pixels);
}

TEST(SequenceRecorder, RefusesFoldersWithASequenceAndEmptyRecordings) {
    test::TempFolder folder;
    {
        SequenceRecorder recorder(folder.path(), "");
        try {
            recorder.Finish();
            FAIL() << "no error";
        } catch (const SequenceError& e) {
            EXPECT_THAT(e.what(), HasSubstr("no frame was recorded"));
        }
        const Image image(4, 4, 0);
        ASSERT_TRUE(recorder.Record(image.At(1.0), Intrinsics(4, 4)));
        recorder.Finish();
    }
    // A second recording would overwrite the frames of the first, and
    // images alone (a recording stopped before its manifest, or a copy) too.
    try {
        SequenceRecorder again(folder.path(), "");
        FAIL() << "no error";
    } catch (const SequenceError& e) {
        EXPECT_THAT(e.what(), HasSubstr("already holds a sequence"));
    }
    for (const char* name : {"00000.png", "old.PGM"}) {
        test::TempFolder images;
        std::ofstream(images.path() / name) << "x";
        std::ofstream(images.path() / "notes.txt") << "x";
        try {
            SequenceRecorder again(images.path(), "");
            ADD_FAILURE() << name << " was not seen";
        } catch (const SequenceError& e) {
            EXPECT_THAT(e.what(), HasSubstr(fmt::format("already holds images ({})", name)));
        }
    }
    // Other files do not matter.
    test::TempFolder notes;
    std::ofstream(notes.path() / "notes.txt") << "x";
    EXPECT_NO_THROW(SequenceRecorder(notes.path(), ""));
}

TEST(SequenceRecorder, CtrlCAndTerminationAskTheRecordingToStop) {
    for (const int signal : {SIGINT, SIGTERM}) {
        CatchStopSignals();
        EXPECT_FALSE(StopRequested());
        std::raise(signal);
        EXPECT_TRUE(StopRequested()) << signal;
        RestoreStopSignals();
    }
}

}  // namespace
}  // namespace quilo::replay
