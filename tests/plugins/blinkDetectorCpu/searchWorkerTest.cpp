// A search that fails on the worker's thread must not end the host's process:
// the worker reports it, finds no faces for it and keeps serving the frames.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "blinkDetectorCpu/support.h"
#include "plugins/blinkDetectorCpu/searchWorker.h"
#include "support/logCapture.h"

namespace quilo::head::cpu::test {
namespace {

struct FailingSearch {
    const char* name;
    cv::Mat image;  // one the face finder cannot scan
};

TEST(BlinkDetectorCpuSearchWorker, AFailedSearchFindsNothingAndTheWorkerGoesOn) {
    const cv::Mat astronaut = LoadGrey(ProjectData(kAstronautPhoto));
    ASSERT_FALSE(astronaut.empty());
    cv::Mat floating;
    astronaut.convertTo(floating, CV_32F);
    const FailingSearch cases[] = {
        {"float pixels", floating},
        {"two-channel pixels", cv::Mat(astronaut.size(), CV_8UC2, cv::Scalar(90, 90))},
    };

    FolderAssetManager assets(BuildAssets());
    FaceSearch search(SharedModel(), FaceFinder(assets.ReadText(kFaceCascadeAsset, nullptr)), 12.0f, 6);
    SearchWorker worker(search);
    int64_t generation = 0;
    for (const FailingSearch& c : cases) {
        const quilo::test::LogCapture log;
        SearchJob failing;
        failing.image = c.image;
        failing.generation = ++generation;
        ASSERT_TRUE(worker.Post(failing)) << c.name;
        const std::optional<SearchWorker::Result> failed = worker.Take(true);
        ASSERT_TRUE(failed.has_value()) << c.name;
        EXPECT_EQ(failed->generation, generation) << c.name;
        EXPECT_TRUE(failed->faces.empty()) << c.name;
        EXPECT_EQ(log.Count(spdlog::level::err, "search failed"), 1u) << c.name;

        // The same worker still searches.
        SearchJob good;
        good.image = astronaut;
        good.generation = ++generation;
        ASSERT_TRUE(worker.Post(good)) << c.name;
        const std::optional<SearchWorker::Result> found = worker.Take(true);
        ASSERT_TRUE(found.has_value()) << c.name;
        EXPECT_EQ(found->faces.size(), 1u) << c.name;
    }
}

}  // namespace
}  // namespace quilo::head::cpu::test
