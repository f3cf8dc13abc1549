// Making a detector from its assets and options, and failing cleanly.
#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "blinkDetectorCpu/support.h"
#include "common/exception.h"
#include "support/tempFolder.h"

namespace quilo::head::cpu::test {
namespace {

void Write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// The first `bytes` of `file` (all of it by default) into `folder`, under the same name.
void CopyInto(const quilo::test::TempFolder& folder, const std::filesystem::path& file,
              size_t bytes = std::string::npos) {
    std::ifstream in(file, std::ios::binary);
    std::string content(std::min<size_t>(bytes, std::filesystem::file_size(file)), '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<size_t>(in.gcount()));
    Write(folder / file.filename(), content);
}

std::unique_ptr<BlinkDetectorCpu> Create(AssetManager& assets, int32_t maxNumOfFaces = 2,
                                         const std::string& options = "") {
    FaceDetectorConfiguration settings;
    settings.maxNumOfFaces = maxNumOfFaces;
    settings.backend = kQuiloFaceDetectorBackendCPU;
    return CreateBlinkDetectorCpu(BlinkDetectorConfiguration{settings, options}, assets);
}

TEST(BlinkDetectorCpuCreation, ReadsItsModelsFromTheAssets) {
    FolderAssetManager assets(BuildAssets());
    auto detector = Create(assets, 2, "detectionInterval=3 searchInBackground=0");
    ASSERT_TRUE(detector);
    EXPECT_EQ(detector->GetBackend(), kQuiloFaceDetectorBackendCPU);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFaces(), 2);
    const cv::Mat astronaut = LoadGrey(ProjectData(kAstronautPhoto));
    TestFrame frame(astronaut);
    EXPECT_EQ(detector->DetectFaces(frame).detections.size(), 1u);
}

TEST(BlinkDetectorCpuCreation, SettlesOnAFaceCountItSupports) {
    for (const auto& [asked, settled] : {std::pair{0, 1}, std::pair{-3, 1}, std::pair{2, 2}, std::pair{5, 3}}) {
        BlinkDetectorSettings settings;
        settings.maxNumOfFaces = asked;
        EXPECT_EQ(MakeDetector(settings)->GetMaxNumOfDetectedFaces(), settled) << asked;
    }
}

TEST(BlinkDetectorCpuCreation, MissingOrBrokenAssetsFailWithAnException) {
    const quilo::test::TempFolder folder;
    FolderAssetManager assets(folder.path());
    // Nothing there.
    EXPECT_THROW(Create(assets), quilo::Exception);

    // A cut model, a text instead of a model, an empty model.
    CopyInto(folder, BuildAssets() / kFaceCascadeAsset);
    for (const std::string& model : {std::string(), std::string("not a landmark model")}) {
        Write(folder / kLandmarkModelAsset, model);
        EXPECT_THROW(Create(assets), std::exception);
    }
    CopyInto(folder, BuildAssets() / kLandmarkModelAsset, 1 << 20);
    try {
        Create(assets);
        ADD_FAILURE() << "a cut model was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(kLandmarkModelAsset), std::string::npos) << e.what();
    }

    // A broken cascade.
    Write(folder / kFaceCascadeAsset, "<opencv_storage><cascade>nonsense</cascade></opencv_storage>");
    try {
        Create(assets);
        ADD_FAILURE() << "a broken cascade was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(kFaceCascadeAsset), std::string::npos) << e.what();
    }
}

TEST(BlinkDetectorCpuCreation, DetectorOptions) {
    const BlinkDetectorSettings defaults;
    const BlinkDetectorSettings parsed =
        ParseDetectorOptions(" minEyeDistance=20.5; detectionInterval=4,maxMisses=0 ", defaults);
    EXPECT_EQ(parsed.minEyeDistance, 20.5f);
    EXPECT_EQ(parsed.detectionInterval, 4);
    EXPECT_EQ(parsed.maxMisses, 0);
    EXPECT_EQ(parsed.maxNumOfFaces, defaults.maxNumOfFaces);
    EXPECT_EQ(ParseDetectorOptions("", defaults).detectionInterval, defaults.detectionInterval);
    const BlinkDetectorSettings inline_ = ParseDetectorOptions("searchInBackground=0 backgroundInterval=7", defaults);
    EXPECT_FALSE(inline_.searchInBackground);
    EXPECT_EQ(inline_.backgroundInterval, 7);
    EXPECT_TRUE(defaults.searchInBackground);

    for (const char* bad :
         {"detectionInterval", "detectionInterval=", "detectionInterval=0", "detectionInterval=2.5", "minEyeDistance=3",
          "minEyeDistance=nan", "maxMisses=-1", "speed=11", "=4", "searchInBackground=2", "backgroundInterval=0"}) {
        EXPECT_THROW(ParseDetectorOptions(bad, defaults), std::invalid_argument) << bad;
    }
    // Bad options fail the creation before any asset is read.
    const quilo::test::TempFolder empty;
    FolderAssetManager assets(empty.path());
    EXPECT_THROW(Create(assets, 1, "detectionInterval=0"), std::invalid_argument);
}

}  // namespace
}  // namespace quilo::head::cpu::test
