// Buffered frames, the frame adapter's delivery and polling, and frame handles.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "common/exception.h"
#include "headTracking/common/frameAdapter.h"
#include "support/frameFill.h"

using quilo::head::BufferedFrame;
using quilo::head::Frame;
using quilo::head::FrameAdapter;
using quilo::test::FilledFrame;
using quilo::test::IsFilledWith;

namespace {

TEST(BufferedFrame, ADefaultFrameIsEmpty) {
    const BufferedFrame frame;
    EXPECT_TRUE(frame.faces().empty());
    EXPECT_TRUE(frame.rawFaces().empty());
    EXPECT_TRUE(frame.detections().empty());
    EXPECT_EQ(frame.timestamp().space, quilo::Timestamp::Space::System);
    EXPECT_EQ(frame.timestamp().ms, 0.0);
    EXPECT_FALSE(frame.trackingStarted());
    EXPECT_EQ(frame.signalValue(), 0.0f);
    EXPECT_EQ(frame.profiling().cameraExposureTime, 0);
    EXPECT_EQ(frame.profiling().apiTimestamp, 0);
}

TEST(BufferedFrame, ACopyOutlivesTheSourcesArrays) {
    auto source = std::make_unique<FilledFrame>(7);
    const BufferedFrame copy(*source);
    source->faceList[0].position.x = -1.0f;
    source->rawFaceList.clear();
    EXPECT_TRUE(IsFilledWith(copy, 7));
    source.reset();
    EXPECT_TRUE(IsFilledWith(copy, 7));
    EXPECT_TRUE(IsFilledWith(BufferedFrame(copy), 7));
}

TEST(BufferedFrame, MovingTakesTheArraysAndCopiesTheScalars) {
    BufferedFrame source{FilledFrame(4)};
    BufferedFrame moved(std::move(source));
    EXPECT_TRUE(IsFilledWith(moved, 4));
    EXPECT_TRUE(source.faces().empty());
    EXPECT_TRUE(source.rawFaces().empty());
    EXPECT_TRUE(source.detections().empty());
    EXPECT_EQ(source.timestamp().ms, 4.0);

    BufferedFrame assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(IsFilledWith(assigned, 4));
    EXPECT_TRUE(moved.faces().empty());
}

TEST(FrameAdapter, NeedsACallbackOrPolling) {
    try {
        FrameAdapter adapter(nullptr, false);
        FAIL() << "an adapter that delivers nothing was made";
    } catch (const quilo::Exception& e) {
        EXPECT_THAT(e.what(),
                    ::testing::StartsWith("FrameAdapter incorrect configuration: neither callback set nor polling "
                                          "enabled. What's the point then? in quilo::head::FrameAdapter::FrameAdapter "
                                          "headTracking/common/frameAdapter.cpp:"));
    }
}

TEST(FrameAdapter, ACallbackSeesEveryFrameItselfAndPollingIsRefused) {
    std::vector<const Frame*> seen;
    FrameAdapter adapter([&](const Frame& frame) { seen.push_back(&frame); }, false);
    const FilledFrame first(1);
    const FilledFrame second(2);
    adapter.OnFrame(first);
    adapter.OnFrame(second);
    EXPECT_EQ(seen, (std::vector<const Frame*>{&first, &second}));
    try {
        adapter.GetFrame();
        FAIL() << "polled without polling";
    } catch (const quilo::Exception& e) {
        EXPECT_THAT(e.what(), ::testing::StartsWith("FrameAdapter::GetFrame: polling API is not enabled in "
                                                    "quilo::head::FrameAdapter::GetFrame"));
    }
}

TEST(FrameAdapter, PollingReturnsTheLatestFrame) {
    FrameAdapter adapter(nullptr, true);
    EXPECT_TRUE(adapter.GetFrame().faces().empty());
    EXPECT_EQ(adapter.GetFrame().timestamp().ms, 0.0);

    for (int sequence = 1; sequence <= 5; ++sequence) {
        auto frame = std::make_unique<FilledFrame>(sequence);
        adapter.OnFrame(*frame);
        frame.reset();  // the adapter keeps its own copy
        EXPECT_TRUE(IsFilledWith(adapter.GetFrame(), sequence));
    }
    // Polling does not consume the frame.
    EXPECT_TRUE(IsFilledWith(adapter.GetFrame(), 5));
}

TEST(FrameAdapter, ACallbackThatThrowsKeepsTheFrameFromPublication) {
    bool fail = false;
    FrameAdapter adapter(
        [&](const Frame&) {
            if (fail) throw std::runtime_error("host failure");
        },
        true);
    adapter.OnFrame(FilledFrame(1));
    fail = true;
    EXPECT_THROW(adapter.OnFrame(FilledFrame(2)), std::runtime_error);
    EXPECT_TRUE(IsFilledWith(adapter.GetFrame(), 1));
    fail = false;
    adapter.OnFrame(FilledFrame(3));
    EXPECT_TRUE(IsFilledWith(adapter.GetFrame(), 3));
}

TEST(WrapFrame, AnOwningHandleTakesTheFramesContents) {
    BufferedFrame frame{FilledFrame(9)};
    const auto handle = quilo::head::WrapFrame(std::move(frame));
    EXPECT_TRUE(frame.faces().empty());
    EXPECT_TRUE(frame.detections().empty());
    ASSERT_NE(handle->frame(), nullptr);
    EXPECT_TRUE(IsFilledWith(*handle->frame(), 9));
}

TEST(WrapFrame, AReferenceHandleShowsTheFrameItself) {
    const FilledFrame frame(3);
    const auto handle = quilo::head::WrapFrame(frame);
    EXPECT_EQ(handle->frame(), &frame);
}

}  // namespace
