// The plugin as a host process sees it: this program links none of the
// detector's code, so every symbol the plugin left visible could be bound to
// by the libraries it loads. Each detector released must take the plugin out
// of the process.
#include <gtest/gtest.h>

#include <stb_image.h>

#include <memory>
#include <string>
#include <vector>

#include "common/assetManager.h"
#include "common/paths.h"
#include "common/plugin.h"
#include "headTracking/camera/camera.h"
#include "headTracking/engine/blinkDetector.h"
#include "support/process.h"

namespace quilo::head {
namespace {

TEST(BlinkDetectorCpuUnload, EveryReleaseUnloadsThePlugin) {
    const auto plugin = GetLibraryPath().parent_path() / PluginLibrary::FileName("quiloHeadTrackingBlinkDetectorcpu");
    const std::string photo = std::string(QUILO_SOURCE_DIR) + "/tools/replay/sample/astronaut.png";
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<stbi_uc, void (*)(void*)> pixels(stbi_load(photo.c_str(), &width, &height, &channels, 1),
                                                           stbi_image_free);
    ASSERT_TRUE(pixels) << photo;
    const TrivialCameraFrame frame(ImageDesc{width, height, 0, pixels.get()}, {});

    FaceDetectorConfiguration settings;
    settings.maxNumOfFaces = 1;
    settings.backend = kQuiloFaceDetectorBackendCPU;
    // Each set of models: OpenCV's dnn networks and their threads go with the plugin too.
    std::vector<std::string> options = {"", "landmarks=dlib68"};
    if (QUILO_HAVE_MEDIAPIPE) options.push_back("landmarks=mediapipe");
    for (int round = 0; round < 3 * static_cast<int>(options.size()); ++round) {
        const std::string& option = options[static_cast<size_t>(round) % options.size()];
        SCOPED_TRACE(round);
        SCOPED_TRACE(option);
        auto assets = AssetManager::Create(nullptr);
        std::shared_ptr<FaceDetector> detector = CreateBlinkDetector({settings, option}, assets.get());
        ASSERT_TRUE(detector);
        EXPECT_TRUE(quilo::test::IsLibraryLoaded(plugin));
        EXPECT_EQ(detector->DetectFaces(frame).detections.size(), 1u);
        detector.reset();
        EXPECT_FALSE(quilo::test::IsLibraryLoaded(plugin));
    }
}

}  // namespace
}  // namespace quilo::head
