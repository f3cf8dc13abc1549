// Host threads ask the detector for its face counts and backend while it
// detects on the camera thread.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "blinkDetectorCpu/support.h"

namespace quilo::head::cpu::test {
namespace {

TEST(BlinkDetectorCpuConcurrency, CountsAndBackendAnswerDuringDetection) {
    const cv::Mat image = LoadGrey(TestData("portraits/astronaut.png"));
    ASSERT_FALSE(image.empty());
    auto detector = MakeDetector();
    FaceDetector& shared = *detector;

    std::atomic<bool> done{false};
    std::atomic<int> answers{0};
    std::atomic<bool> wrong{false};
    auto host = [&] {
        while (!done.load()) {
            const int32_t count = shared.GetMaxNumOfDetectedFaces();
            if (count < 1 || count > 3 || shared.GetMaxNumOfDetectedFacesLimit() != 3 ||
                shared.GetBackend() != kQuiloFaceDetectorBackendCPU) {
                wrong = true;
            }
            answers.fetch_add(1);
        }
    };
    std::thread first(host), second(host);

    TestFrame frame(image);
    for (int i = 0; i < 12; ++i) {
        shared.SetMaxNumOfDetectedFaces(1 + i % 3);
        EXPECT_EQ(shared.DetectFaces(frame).detections.size(), 1u);
    }
    // Both host threads have answered at least once before the end.
    while (answers.load() < 2) std::this_thread::yield();
    done = true;
    first.join();
    second.join();
    EXPECT_FALSE(wrong.load());
}

}  // namespace
}  // namespace quilo::head::cpu::test
