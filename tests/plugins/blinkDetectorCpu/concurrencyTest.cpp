// Host threads ask the detector for its face counts and backend while it
// detects on the camera thread; the worker hands searches over one at a time.
#include <atomic>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "blinkDetectorCpu/support.h"
#include "plugins/blinkDetectorCpu/searchWorker.h"

namespace quilo::head::cpu::test {
namespace {

TEST(BlinkDetectorCpuConcurrency, CountsAndBackendAnswerDuringDetection) {
    const cv::Mat image = LoadGrey(ProjectData(kAstronautPhoto));
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

// The worker searches its own copy of a frame: the camera may reuse or free
// the frame's pixels as soon as DetectFaces returns (a read of freed pixels
// shows under the address sanitizer).
TEST(BlinkDetectorCpuConcurrency, TheWorkerSearchesACopyOfTheFrame) {
    const cv::Mat astronaut = LoadGrey(ProjectData(kAstronautPhoto));
    ASSERT_FALSE(astronaut.empty());
    auto detector = MakeDetector(DeterministicSettings());
    for (int i = 0; i < 4; ++i) {
        cv::Mat delivered = astronaut.clone();
        // The first frame, which follows no face yet, waits for its search;
        // every frame then starts a search of its copy for the next one.
        EXPECT_EQ(detector->DetectFaces(TestFrame(delivered)).detections.size(), 1u) << i;
        delivered.setTo(cv::Scalar(0));
        delivered.release();
    }
    EXPECT_GE(detector->statistics().fullSearches, 4);
    EXPECT_EQ(detector->statistics().lost, 0);
}

// Deleting a detector stops its worker, also in the middle of a search, and
// frames keep being answered while the worker searches.
TEST(BlinkDetectorCpuConcurrency, DeletingTheDetectorEndsItsSearch) {
    const cv::Mat astronaut = LoadGrey(ProjectData(kAstronautPhoto));
    ASSERT_FALSE(astronaut.empty());
    const TestFrame frame(astronaut);
    for (int frames = 1; frames <= 3; ++frames) {
        auto detector = MakeDetector(BlinkDetectorSettings{});
        for (int i = 0; i < frames; ++i) detector->DetectFaces(frame);
        EXPECT_EQ(detector->statistics().frames, frames);
        detector.reset();  // joins the worker, searching or not
    }
}

// The worker takes one search at a time and hands its faces over once: a
// second search is refused until the first one's faces are taken, and a Take
// with no search posted gives nothing at once, waiting or not.
TEST(BlinkDetectorCpuConcurrency, TheWorkerHandsOverOneSearchAtATime) {
    const cv::Mat astronaut = LoadGrey(ProjectData(kAstronautPhoto));
    ASSERT_FALSE(astronaut.empty());
    FolderAssetManager assets(BuildAssets());
    FaceSearch search(SharedModel(), FaceFinder(assets.ReadText(kFaceCascadeAsset, nullptr)), 12.0f, 6);
    SearchWorker worker(search);
    EXPECT_FALSE(worker.Take(false).has_value());
    EXPECT_FALSE(worker.Take(true).has_value());

    for (int64_t generation = 1; generation <= 2; ++generation) {
        SearchJob job;
        job.image = astronaut;
        job.generation = generation;
        ASSERT_TRUE(worker.Post(job)) << generation;
        EXPECT_FALSE(worker.Post(job)) << generation;
        const std::optional<SearchWorker::Result> result = worker.Take(true);
        ASSERT_TRUE(result.has_value()) << generation;
        EXPECT_EQ(result->generation, generation);
        EXPECT_EQ(result->faces.size(), 1u) << generation;
        EXPECT_FALSE(worker.Take(true).has_value()) << generation;
    }
}

}  // namespace
}  // namespace quilo::head::cpu::test
