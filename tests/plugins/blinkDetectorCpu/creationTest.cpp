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

#if QUILO_HAVE_MEDIAPIPE
// Each of MediaPipe's models missing, empty, cut or replaced by another
// network: the creation fails naming the file, and dlib's model is not
// read in their place.
TEST(BlinkDetectorCpuCreation, MissingOrBrokenMediaPipeModelsAreNamed) {
    const std::filesystem::path mesh = BuildAssets() / kFaceMeshAsset, iris = BuildAssets() / kIrisAsset;
    struct Case {
        const char* broken;
        std::string bytes;  // what the file holds; "-": no file
    };
    const auto head = [](const std::filesystem::path& file, size_t n) {
        std::ifstream in(file, std::ios::binary);
        std::string bytes(n, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(n));
        return bytes;
    };
    const auto whole = [&](const std::filesystem::path& file) { return head(file, std::filesystem::file_size(file)); };
    const std::vector<Case> cases = {
        {kFaceMeshAsset, "-"},
        {kIrisAsset, "-"},
        {kFaceMeshAsset, ""},
        {kIrisAsset, "not a network"},
        {kFaceMeshAsset, head(mesh, std::filesystem::file_size(mesh) / 2)},
        {kIrisAsset, head(iris, std::filesystem::file_size(iris) / 3)},
        // Each in the other's place: loads, but gives other outputs.
        {kFaceMeshAsset, whole(iris)},
        {kIrisAsset, whole(mesh)},
    };
    for (const Case& c : cases) {
        const quilo::test::TempFolder folder;
        CopyInto(folder, BuildAssets() / kFaceCascadeAsset);
        for (const char* name : {kFaceMeshAsset, kIrisAsset}) {
            if (std::string(name) != c.broken) CopyInto(folder, BuildAssets() / name);
        }
        if (c.bytes != "-") Write(folder.path() / c.broken, c.bytes);
        FolderAssetManager assets(folder.path());
        try {
            Create(assets, 1, "landmarks=mediapipe");
            ADD_FAILURE() << c.broken << " broken (" << c.bytes.size() << " bytes) was accepted";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.broken), std::string::npos) << e.what();
        }
    }
}
#endif

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

    // dlib's model only by name; MediaPipe's where the build has them.
    const LandmarkScheme mediapipe = QUILO_HAVE_MEDIAPIPE ? LandmarkScheme::kMediaPipe : LandmarkScheme::kDlib68;
    for (const auto& [text, scheme] :
         {std::pair{"landmarks=dlib68", LandmarkScheme::kDlib68}, std::pair{"landmarks=mediapipe", mediapipe},
          std::pair{"landmarks=mediapipe landmarks=dlib68", LandmarkScheme::kDlib68},
          std::pair{"maxMisses=3", DefaultLandmarkScheme()}}) {
        if (!QUILO_HAVE_MEDIAPIPE && std::string(text).find("mediapipe") != std::string::npos) {
            EXPECT_THROW(ParseDetectorOptions(text, defaults), std::invalid_argument) << text;
            continue;
        }
        EXPECT_EQ(ParseDetectorOptions(text, defaults).landmarks, scheme) << text;
    }

    for (const char* bad :
         {"detectionInterval", "detectionInterval=", "detectionInterval=0", "detectionInterval=2.5", "minEyeDistance=3",
          "minEyeDistance=nan", "maxMisses=-1", "speed=11", "=4", "searchInBackground=2", "backgroundInterval=0",
          "landmarks=", "landmarks=dlib5", "landmarks=MediaPipe", "landmarks"}) {
        EXPECT_THROW(ParseDetectorOptions(bad, defaults), std::invalid_argument) << bad;
    }
    // Bad options fail the creation before any asset is read.
    const quilo::test::TempFolder empty;
    FolderAssetManager assets(empty.path());
    EXPECT_THROW(Create(assets, 1, "detectionInterval=0"), std::invalid_argument);
}

}  // namespace
}  // namespace quilo::head::cpu::test
