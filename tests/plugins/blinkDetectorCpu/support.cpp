#include "blinkDetectorCpu/support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <opencv2/imgproc.hpp>
#include <stb_image.h>

#include "common/exception.h"
#if QUILO_HAVE_MEDIAPIPE
#include "plugins/blinkDetectorCpu/mediapipeLandmarks.h"
#endif
#include "support/outsideData.h"

namespace quilo::head::cpu::test {

std::filesystem::path TestData(const std::string& relative) { return quilo::test::OutsideData(relative); }

std::filesystem::path ProjectData(const std::string& relative) {
    return std::filesystem::path(QUILO_SOURCE_DIR) / relative;
}

cv::Mat LoadGrey(const std::filesystem::path& path) {
    int width = 0, height = 0, channels = 0;
    uint8_t* pixels = stbi_load(path.string().c_str(), &width, &height, &channels, 3);
    if (pixels == nullptr) return {};
    cv::Mat grey(height, width, CV_8UC1);
    for (int i = 0; i < width * height; ++i) {
        const uint8_t* p = pixels + 3 * i;
        grey.data[i] = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
    }
    stbi_image_free(pixels);
    return grey;
}

std::vector<EyeAnnotation> LoadEyeAnnotations(const std::filesystem::path& csv) {
    std::ifstream in(csv);
    std::vector<EyeAnnotation> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::stringstream fields(line);
        EyeAnnotation row;
        std::string value;
        std::getline(fields, row.image, ',');
        std::getline(fields, value, ',');
        row.faceIndex = std::stoi(value);
        double v[4];
        for (double& x : v) {
            std::getline(fields, value, ',');
            x = std::stod(value);
        }
        row.rightEye = {v[0], v[1]};
        row.leftEye = {v[2], v[3]};
        rows.push_back(row);
    }
    return rows;
}

std::filesystem::path FolderAssetManager::GetAssetPath(const std::string& name, AssetLocation*) {
    return folder_ / name;
}

AssetBuffer FolderAssetManager::ReadBytes(const std::string& name, AssetLocation* location) {
    const auto path = GetAssetPath(name, location);
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) QUILO_THROW("failed to open asset \"{}\" (\"{}\")", name, path.string());
    AssetBuffer buffer;
    buffer.size = static_cast<int64_t>(in.tellg());
    buffer.data = std::make_unique<uint8_t[]>(static_cast<size_t>(buffer.size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(buffer.data.get()), buffer.size)) {
        QUILO_THROW("failed to read asset \"{}\" (\"{}\")", name, path.string());
    }
    return buffer;
}

std::string FolderAssetManager::ReadText(const std::string& name, AssetLocation* location) {
    const AssetBuffer bytes = ReadBytes(name, location);
    return std::string(reinterpret_cast<const char*>(bytes.data.get()), static_cast<size_t>(bytes.size));
}

std::filesystem::path BuildAssets() { return QUILO_ASSETS_DIR; }

std::shared_ptr<const LandmarkModel> SharedModel() {
    static const std::shared_ptr<const LandmarkModel> model = [] {
        FolderAssetManager assets(BuildAssets());
        const AssetBuffer bytes = assets.ReadBytes(kLandmarkModelAsset, nullptr);
        return std::make_shared<const LandmarkModel>(bytes.data.get(), static_cast<size_t>(bytes.size));
    }();
    return model;
}

LandmarkScheme TestedScheme() {
    const char* asked = std::getenv("QUILO_TEST_LANDMARKS");
    if (asked == nullptr || *asked == '\0') return DefaultLandmarkScheme();
    return ParseDetectorOptions(std::string("landmarks=") + asked, {}).landmarks;
}

std::shared_ptr<const LandmarkPlacer> MakePlacer(LandmarkScheme scheme) {
    if (scheme == LandmarkScheme::kDlib68) return SharedModel();
#if QUILO_HAVE_MEDIAPIPE
    FolderAssetManager assets(BuildAssets());
    const AssetBuffer mesh = assets.ReadBytes(kFaceMeshAsset, nullptr);
    const AssetBuffer iris = assets.ReadBytes(kIrisAsset, nullptr);
    return std::make_shared<const MediaPipeLandmarks>(
        OnnxModel{kFaceMeshAsset, mesh.data.get(), static_cast<size_t>(mesh.size)},
        OnnxModel{kIrisAsset, iris.data.get(), static_cast<size_t>(iris.size)});
#else
    QUILO_THROW("this build has no MediaPipe models");
#endif
}

std::unique_ptr<BlinkDetectorCpu> MakeDetector(BlinkDetectorSettings settings) {
    return MakeDetector(settings, TestedScheme());
}

std::unique_ptr<BlinkDetectorCpu> MakeDetector(BlinkDetectorSettings settings, LandmarkScheme scheme) {
    FolderAssetManager assets(BuildAssets());
    const std::string cascade = assets.ReadText(kFaceCascadeAsset, nullptr);
    // Placers that serialise their callers get one each for the frames and the searches.
    std::shared_ptr<const LandmarkPlacer> model = MakePlacer(scheme);
    std::shared_ptr<const LandmarkPlacer> searchModel = scheme == LandmarkScheme::kDlib68 ? model : MakePlacer(scheme);
    settings.landmarks = scheme;
    return std::make_unique<BlinkDetectorCpu>(settings, std::move(model), FaceFinder(cascade), FaceFinder(cascade),
                                              std::move(searchModel));
}

BlinkDetectorSettings InlineSettings() {
    BlinkDetectorSettings settings;
    settings.searchInBackground = false;
    return settings;
}

BlinkDetectorSettings DeterministicSettings() {
    BlinkDetectorSettings settings;
    settings.searchInBackground = true;
    settings.awaitSearch = true;
    return settings;
}

bool Eventually(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

CameraIntrinsics CentredIntrinsics(int width, int height, float focalLength, bool mirrored) {
    return {width, height, width / 2.0f, height / 2.0f, focalLength, focalLength, {}, mirrored};
}

TestFrame::TestFrame(const cv::Mat& grey, DepthFunction depthAt, double ms)
    : image_{grey.cols, grey.rows, 0, grey.data}, depthAt_(std::move(depthAt)), ms_(ms) {
    CV_Assert(grey.empty() || (grey.type() == CV_8UC1 && grey.isContinuous()));
}

bool TestFrame::GetDepth(glm::dvec2 pixel, float* depth) const { return depthAt_ ? depthAt_(pixel, depth) : false; }

cv::Mat Compose(const cv::Size& size, uint8_t background,
                const std::vector<std::tuple<cv::Mat, double, cv::Point>>& pieces) {
    cv::Mat canvas(size, CV_8UC1, cv::Scalar(background));
    for (const auto& [image, scale, topLeft] : pieces) {
        cv::Mat scaled;
        cv::resize(image, scaled, cv::Size(), scale, scale, scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
        const cv::Rect target = cv::Rect(topLeft, scaled.size()) & cv::Rect(cv::Point(), size);
        scaled(cv::Rect(target.tl() - topLeft, target.size())).copyTo(canvas(target));
    }
    return canvas;
}

}  // namespace quilo::head::cpu::test
