// Speed of the CPU face detector on 848 x 480 grey frames, on one thread.
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "blinkDetectorCpu/support.h"

namespace quilo::head::cpu::test {
namespace {

const cv::Size kFrameSize(848, 480);

cv::Mat Load(const std::string& relative) {
    cv::Mat image = LoadGrey(TestData(relative));
    if (image.empty()) throw std::runtime_error("cannot read test data " + relative);
    return image;
}

// One viewer about 0.6 m from the camera: a webcam frame (eye distance about
// 45 px) in the middle of the frame.
cv::Mat OneViewer() {
    return Compose(kFrameSize, 60, {{Load("webcam-head-motion/00100.png"), 1.0, {224, 90}}});
}

// Three viewers side by side, the middle one largest.
cv::Mat ThreeViewers() {
    return Compose(kFrameSize, 60,
                   {{Load("webcam-head-motion/00100.png"), 0.7, {0, 120}},
                    {Load("portraits/astronaut.png"), 0.7, {245, 60}},
                    {Load("webcam-head-motion/00400.png"), 0.7, {568, 120}}});
}

// A full detection: the whole frame searched and every face placed anew.
void BM_FullDetection(benchmark::State& state) {
    cv::setNumThreads(1);
    const cv::Mat frame = OneViewer();
    auto detector = MakeDetector();
    size_t faces = 0;
    for (auto _ : state) faces = detector->FindAllFaces(frame).size();
    state.counters["faces"] = static_cast<double>(faces);
}
BENCHMARK(BM_FullDetection)->Unit(benchmark::kMillisecond);

// A frame without faces: the detector searches the whole frame every time.
void BM_EmptyFrame(benchmark::State& state) {
    cv::setNumThreads(1);
    const cv::Mat frame =
        Compose(kFrameSize, 60, {{Load("faces-annotated/dogs.jpg"), 0.5, {200, 10}}});
    auto detector = MakeDetector();
    TestFrame input(frame);
    size_t faces = 0;
    for (auto _ : state) faces = detector->DetectFaces(input).detections.size();
    state.counters["faces"] = static_cast<double>(faces);
}
BENCHMARK(BM_EmptyFrame)->Unit(benchmark::kMillisecond);

// Steady viewers: frames in tracking mode only (argument 0: the face count),
// or with the default full search every tenth frame (argument 1 set).
void BM_TrackingFrame(benchmark::State& state) {
    cv::setNumThreads(1);
    const int count = static_cast<int>(state.range(0));
    const bool withSearches = state.range(1) != 0;
    const cv::Mat frame = count == 1 ? OneViewer() : ThreeViewers();
    BlinkDetectorSettings settings;
    settings.maxNumOfFaces = count;
    if (!withSearches) settings.detectionInterval = 1000000;
    auto detector = MakeDetector(settings);
    TestFrame input(frame);
    // Find the faces (the searches alternate their sizes).
    for (int i = 0; i < 2 * BlinkDetectorSettings{}.detectionInterval; ++i) {
        if (detector->DetectFaces(input).detections.size() == static_cast<size_t>(count)) break;
    }
    const int64_t searchesBefore = detector->statistics().fullSearches;
    size_t faces = 0;
    for (auto _ : state) faces = detector->DetectFaces(input).detections.size();
    state.counters["faces"] = static_cast<double>(faces);
    state.counters["searches"] =
        static_cast<double>(detector->statistics().fullSearches - searchesBefore);
    if (faces != static_cast<size_t>(count)) state.SkipWithError("the viewers were not all found");
}
BENCHMARK(BM_TrackingFrame)
    ->Args({1, 0})
    ->Args({3, 0})
    ->Args({1, 1})
    ->Args({3, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quilo::head::cpu::test

BENCHMARK_MAIN();
