// The plugin library as the engine loads it: beside the engine library, with
// its model files in the "assets" folder there.
#include <gtest/gtest.h>

#include "blinkDetectorCpu/support.h"
#include "common/assetManager.h"
#include "common/plugin.h"
#include "headTracking/engine/blinkDetector.h"
#include "support/logCapture.h"
#include "support/process.h"
#include "support/tempFolder.h"

namespace quilo::head::cpu::test {
namespace {

const std::filesystem::path kPlugin =
    BuildAssets().parent_path() / quilo::PluginLibrary::FileName("quiloHeadTrackingBlinkDetectorcpu");

FaceDetectorConfiguration CpuSettings(int32_t maxNumOfFaces) {
    FaceDetectorConfiguration settings;
    settings.maxNumOfFaces = maxNumOfFaces;
    settings.backend = kQuiloFaceDetectorBackendCPU;
    return settings;
}

TEST(BlinkDetectorCpuPlugin, LoadsBesideTheEngineAndFindsFaces) {
    EXPECT_TRUE(IsBlinkDetectorBackendSupported(kQuiloFaceDetectorBackendCPU));
    EXPECT_EQ(GetSupportedFaceDetectorBackends() & 1u, 1u);

    const FaceDetectorConfiguration settings = CpuSettings(2);
    auto assets = AssetManager::Create(nullptr);
    std::shared_ptr<FaceDetector> detector = CreateBlinkDetector({settings, ""}, assets.get());
    assets.reset();  // the engine may drop its manager as soon as the detector exists
    ASSERT_TRUE(detector);
    EXPECT_TRUE(quilo::test::IsLibraryLoaded(kPlugin));
    EXPECT_EQ(detector->GetBackend(), kQuiloFaceDetectorBackendCPU);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFacesLimit(), 3);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFaces(), 2);

    const cv::Mat astronaut = LoadGrey(ProjectData(kAstronautPhoto));
    ASSERT_FALSE(astronaut.empty());
    const TrivialCameraFrame frame(ImageDesc{astronaut.cols, astronaut.rows, 0, astronaut.data}, {});
    // The first frame starts a search on the detector's worker; a later
    // frame takes its face.
    EXPECT_TRUE(Eventually([&] { return detector->DetectFaces(frame).detections.size() == 1u; }));
    // A search may be running: deleting the detector stops and joins its worker.
    EXPECT_EQ(detector->DetectFaces(frame).detections.size(), 1u);

    // The plugin's delete function takes it back, then the library goes.
    detector.reset();
    EXPECT_FALSE(quilo::test::IsLibraryLoaded(kPlugin));
}

TEST(BlinkDetectorCpuPlugin, BadAssetsOrOptionsLeaveNoDetector) {
    const FaceDetectorConfiguration settings = CpuSettings(1);
    quilo::test::LogCapture log;

    const quilo::test::TempFolder empty;
    FolderAssetManager none(empty.path());
    EXPECT_FALSE(CreateBlinkDetector({settings, ""}, &none));
    EXPECT_EQ(log.Count(spdlog::level::err, "[BlinkDetectorLoader] Failed to load: failed to open asset"), 1u);

    FolderAssetManager assets(BuildAssets());
    EXPECT_FALSE(CreateBlinkDetector({settings, "detectionInterval=0"}, &assets));
    EXPECT_EQ(log.Count(spdlog::level::err, "detector option \"detectionInterval=0\""), 1u);

    EXPECT_FALSE(CreateBlinkDetector({settings, ""}, nullptr));
    EXPECT_EQ(log.Count(spdlog::level::err, "[BlinkDetectorCpu] cannot create a detector without an asset manager"),
              1u);
    EXPECT_FALSE(quilo::test::IsLibraryLoaded(kPlugin));
}

}  // namespace
}  // namespace quilo::head::cpu::test
