// Speed of the CPU face detector on 848 x 480 grey frames, on one thread,
// with dlib's 68-point model and with MediaPipe's models side by side (the
// last argument of each benchmark: 0 dlib68, 1 mediapipe).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <malloc.h>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "blinkDetectorCpu/hardSequences.h"
#include "blinkDetectorCpu/support.h"

namespace quilo::head::cpu::test {
namespace {

const cv::Size kFrameSize(848, 480);

LandmarkScheme SchemeOf(int64_t argument) {
    return argument == 0 ? LandmarkScheme::kDlib68 : LandmarkScheme::kMediaPipe;
}

// Registers each argument list once per scheme the build has.
void BothSchemes(benchmark::internal::Benchmark* b, const std::vector<std::vector<int64_t>>& argumentLists) {
    for (int64_t scheme = 0; scheme <= (QUILO_HAVE_MEDIAPIPE ? 1 : 0); ++scheme) {
        for (std::vector<int64_t> arguments : argumentLists) {
            arguments.push_back(scheme);
            b->Args(arguments);
        }
    }
}

cv::Mat Load(const std::string& relative) {
    cv::Mat image = LoadGrey(TestData(relative));
    if (image.empty()) throw std::runtime_error("cannot read test data " + relative);
    return image;
}

// One viewer about 0.6 m from the camera: a webcam frame (eye distance about
// 45 px) in the middle of the frame.
cv::Mat OneViewer() { return Compose(kFrameSize, 60, {{Load("webcam-head-motion/00100.png"), 1.0, {224, 90}}}); }

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
    auto detector = MakeDetector(InlineSettings(), SchemeOf(state.range(0)));
    size_t faces = 0;
    for (auto _ : state) faces = detector->FindAllFaces(frame).size();
    state.counters["faces"] = static_cast<double>(faces);
}
BENCHMARK(BM_FullDetection)->Apply([](auto* b) { BothSchemes(b, {{}}); }) -> Unit(benchmark::kMillisecond);

// A frame without faces: the detector searches the whole frame every time.
void BM_EmptyFrame(benchmark::State& state) {
    cv::setNumThreads(1);
    const cv::Mat frame = Compose(kFrameSize, 60, {{Load("faces-annotated/dogs.jpg"), 0.5, {200, 10}}});
    auto detector = MakeDetector(InlineSettings(), SchemeOf(state.range(0)));
    TestFrame input(frame);
    size_t faces = 0;
    for (auto _ : state) faces = detector->DetectFaces(input).detections.size();
    state.counters["faces"] = static_cast<double>(faces);
}
BENCHMARK(BM_EmptyFrame)->Apply([](auto* b) { BothSchemes(b, {{}}); }) -> Unit(benchmark::kMillisecond);

// Steady viewers: frames in tracking mode only (argument 0: the face count),
// or with the default full search every tenth frame (argument 1 set).
void BM_TrackingFrame(benchmark::State& state) {
    cv::setNumThreads(1);
    const int count = static_cast<int>(state.range(0));
    const bool withSearches = state.range(1) != 0;
    const cv::Mat frame = count == 1 ? OneViewer() : ThreeViewers();
    BlinkDetectorSettings settings = InlineSettings();
    settings.maxNumOfFaces = count;
    if (!withSearches) settings.detectionInterval = 1000000;
    auto detector = MakeDetector(settings, SchemeOf(state.range(2)));
    TestFrame input(frame);
    // Find the faces (the searches alternate their sizes).
    for (int i = 0; i < 2 * BlinkDetectorSettings{}.detectionInterval; ++i) {
        if (detector->DetectFaces(input).detections.size() == static_cast<size_t>(count)) break;
    }
    const int64_t searchesBefore = detector->statistics().fullSearches;
    size_t faces = 0;
    for (auto _ : state) faces = detector->DetectFaces(input).detections.size();
    state.counters["faces"] = static_cast<double>(faces);
    state.counters["searches"] = static_cast<double>(detector->statistics().fullSearches - searchesBefore);
    if (faces != static_cast<size_t>(count)) state.SkipWithError("the viewers were not all found");
}
BENCHMARK(BM_TrackingFrame)->Apply([](auto* b) {
                               BothSchemes(b, {{1, 0}, {3, 0}, {1, 1}, {3, 1}});
                           }) -> Unit(benchmark::kMillisecond);

// Settings with the full search on a worker of the detector, or on the
// frame's own thread.
BlinkDetectorSettings SearchSettings(int faces, bool background) {
    BlinkDetectorSettings settings;
    settings.maxNumOfFaces = faces;
    settings.searchInBackground = background;
    return settings;
}

using Clock = std::chrono::steady_clock;
// Frames of a 90 fps camera.
constexpr auto kFramePeriod = std::chrono::microseconds(11111);

// The calling thread's own processor time: a frame's time less the time
// the thread waited for a processor, which a machine shared with other work
// adds at random.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(std::ceil(share * values.size())) - 1);
    return values[index];
}

// Viewers moving gently (up to 20 px a frame) in front of a 90 fps camera,
// the frames delivered at the camera's pace: the detector's time per frame,
// full searches included (argument 0: the face count; argument 1: searches
// in the background).
void BM_ReplayedFrames(benchmark::State& state) {
    cv::setNumThreads(1);
    const int count = static_cast<int>(state.range(0));
    const bool background = state.range(1) != 0;
    const SceneRenderer renderer({Astronaut(), Hopper()});
    std::vector<cv::Mat> frames;
    constexpr int kFrames = 300;
    for (int i = 0; i < kFrames; ++i) {
        const double swing = 60.0 * std::sin(i * 0.35);
        std::vector<ScenePlacement> faces = {{0, {424.0 + swing, 220.0}, 40.0, 0.0}};
        if (count == 3) {
            faces = {{0, {150.0 + swing, 220.0}, 34.0, 0.0},
                     {1, {424.0 - swing, 230.0}, 40.0, 0.0},
                     {0, {700.0 + swing, 240.0}, 28.0, 0.0}};
        }
        frames.push_back(renderer.Render(faces, 1.0, 2.0, static_cast<uint32_t>(i + 1)).image);
    }
    std::vector<double> times, cpuTimes;
    size_t reported = 0;
    int64_t searches = 0;
    BlinkDetectorCpu::Statistics statistics;
    for (auto _ : state) {
        auto detector = MakeDetector(SearchSettings(count, background), SchemeOf(state.range(2)));
        times.clear();
        cpuTimes.clear();
        reported = 0;
        auto next = Clock::now();
        for (const cv::Mat& image : frames) {
            std::this_thread::sleep_until(next);
            next += kFramePeriod;
            TestFrame frame(image);
            const auto start = Clock::now();
            const double cpuStart = ThreadCpuMs();
            reported += detector->DetectFaces(frame).detections.size();
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            cpuTimes.push_back(ThreadCpuMs() - cpuStart);
        }
        searches = detector->statistics().fullSearches;
        statistics = detector->statistics();
    }
    state.counters["realigned"] = static_cast<double>(statistics.realigned);
    state.counters["lost"] = static_cast<double>(statistics.lost);
    state.counters["double_checked"] = static_cast<double>(statistics.doubleChecked);
    state.counters["median_ms"] = Percentile(times, 0.5);
    state.counters["p99_ms"] = Percentile(times, 0.99);
    state.counters["max_ms"] = Percentile(times, 1.0);
    state.counters["cpu_median_ms"] = Percentile(cpuTimes, 0.5);
    state.counters["cpu_p99_ms"] = Percentile(cpuTimes, 0.99);
    state.counters["found_share"] = static_cast<double>(reported) / (count * kFrames);
    state.counters["searches"] = static_cast<double>(searches);
}
BENCHMARK(BM_ReplayedFrames)->Apply([](auto* b) {
                                BothSchemes(b, {{1, 0}, {1, 1}, {3, 0}, {3, 1}});
                            }) -> Iterations(1) -> Unit(benchmark::kMillisecond);

// A viewer steps into view of a 90 fps camera while another is followed: the
// time from the first frame that shows the newcomer to the first report of
// it, over several entries at different places (argument: searches in the
// background).
void BM_EntryToFirstReport(benchmark::State& state) {
    cv::setNumThreads(1);
    const bool background = state.range(0) != 0;
    const SceneRenderer renderer({Astronaut(), Hopper()});
    const ScenePlacement stays{1, {150.0, 230.0}, 36.0, 0.0};
    const cv::Point2d entries[] = {{500.0, 200.0}, {650.0, 260.0}, {420.0, 300.0}, {700.0, 180.0}};
    std::vector<double> delays;
    int missed = 0;
    for (auto _ : state) {
        auto detector = MakeDetector(SearchSettings(2, background), SchemeOf(state.range(1)));
        delays.clear();
        missed = 0;
        uint32_t seed = 1;
        auto next = Clock::now();
        auto show = [&](const std::vector<ScenePlacement>& faces) {
            const cv::Mat image = renderer.Render(faces, 1.0, 2.0, seed++).image;
            std::this_thread::sleep_until(next);
            next += kFramePeriod;
            TestFrame frame(image);
            return detector->DetectFaces(frame).detections.size();
        };
        for (const cv::Point2d& entry : entries) {
            for (int i = 0; i < 30; ++i) show({stays});
            const auto entered = Clock::now();
            bool seen = false;
            for (int i = 0; i < 60 && !seen; ++i) seen = show({stays, {0, entry, 40.0, 0.0}}) == 2;
            if (seen) {
                delays.push_back(std::chrono::duration<double, std::milli>(Clock::now() - entered).count());
            } else {
                ++missed;
            }
        }
    }
    state.counters["median_ms"] = Percentile(delays, 0.5);
    state.counters["max_ms"] = Percentile(delays, 1.0);
    state.counters["missed"] = missed;
}
BENCHMARK(BM_EntryToFirstReport)->Apply([](auto* b) {
                                    BothSchemes(b, {{0}, {1}});
                                }) -> Iterations(1) -> Unit(benchmark::kMillisecond);

// The heap a detector's models take (live allocations, which freed memory the
// allocator keeps does not blur), and their files' sizes.
double HeapMiB() { return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0); }

void BM_ModelMemory(benchmark::State& state) {
    const LandmarkScheme scheme = SchemeOf(state.range(0));
    double files = 0.0;
    const std::vector<const char*> assets = scheme == LandmarkScheme::kDlib68
                                                ? std::vector<const char*>{kLandmarkModelAsset}
                                                : std::vector<const char*>{kFaceMeshAsset, kIrisAsset};
    for (const char* asset : assets) files += static_cast<double>(std::filesystem::file_size(BuildAssets() / asset));
    double grown = 0.0;
    for (auto _ : state) {
        const double before = HeapMiB();
        // A fresh copy of dlib's model (MakePlacer shares one per program); the file's bytes are freed.
        const std::shared_ptr<const LandmarkPlacer> placer = [&]() -> std::shared_ptr<const LandmarkPlacer> {
            if (scheme != LandmarkScheme::kDlib68) return MakePlacer(scheme);
            FolderAssetManager folder(BuildAssets());
            const AssetBuffer bytes = folder.ReadBytes(kLandmarkModelAsset, nullptr);
            return std::make_shared<const LandmarkModel>(bytes.data.get(), static_cast<size_t>(bytes.size));
        }();
        grown = HeapMiB() - before;
        benchmark::DoNotOptimize(placer.get());
    }
    state.counters["files_MiB"] = files / (1024.0 * 1024.0);
    state.counters["heap_MiB"] = grown;
}
BENCHMARK(BM_ModelMemory)
    ->Apply([](auto* b) { BothSchemes(b, {{}}); }) -> Iterations(1) -> Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quilo::head::cpu::test

BENCHMARK_MAIN();
