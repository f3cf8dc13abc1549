// Polling the frame adapter from several threads while frames are published.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "headTracking/common/frameAdapter.h"
#include "support/frameFill.h"

namespace {

TEST(FrameAdapterConcurrency, PolledFramesAreNeverTornNorOlderThanBefore) {
    constexpr int kFrames = 3000;
    constexpr int kReaders = 3;
    quilo::head::FrameAdapter adapter(nullptr, true);

    std::atomic<bool> done{false};
    std::atomic<int64_t> polls{0};
    std::atomic<int> torn{0};
    std::atomic<int> backwards{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&] {
            int last = 0;
            while (!done) {
                const auto frame = adapter.GetFrame();
                const int sequence = static_cast<int>(frame.timestamp().ms);
                const bool intact = sequence == 0 ? frame.faces().empty() && frame.detections().empty()
                                                  : quilo::test::IsFilledWith(frame, sequence);
                if (!intact) ++torn;
                if (sequence < last) ++backwards;
                last = sequence;
                ++polls;
            }
        });
    }

    // The frames come from one thread, as from the engine. Every so often the
    // writer waits until the readers polled again, so polls and publications
    // interleave however the threads are scheduled.
    for (int sequence = 1; sequence <= kFrames; ++sequence) {
        adapter.OnFrame(quilo::test::FilledFrame(sequence));
        if (sequence % 25 == 0) {
            const int64_t target = polls + kReaders;
            while (polls < target) std::this_thread::yield();
        }
    }
    done = true;
    for (auto& reader : readers) reader.join();

    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_GE(polls, kFrames / 25 * kReaders);
    EXPECT_TRUE(quilo::test::IsFilledWith(adapter.GetFrame(), kFrames));
}

}  // namespace
