#include "plugins/blinkDetectorCpu/detectorSettings.h"

#include <charconv>
#include <stdexcept>

#include <fmt/format.h>

namespace quilo::head::cpu {

namespace {

template <typename T>
T ParseNumber(const std::string& pair, const std::string& value, T low, T high) {
    T number{};
    const char* end = value.data() + value.size();
    const auto [rest, error] = std::from_chars(value.data(), end, number);
    if (error != std::errc() || rest != end || !(number >= low && number <= high)) {
        throw std::invalid_argument(
            fmt::format("detector option \"{}\": expected a number from {} to {}", pair, low, high));
    }
    return number;
}

}  // namespace

LandmarkScheme DefaultLandmarkScheme() { return LandmarkScheme::kDlib68; }

BlinkDetectorSettings ParseDetectorOptions(const std::string& text, BlinkDetectorSettings settings) {
    size_t position = 0;
    while (position < text.size()) {
        const size_t start = text.find_first_not_of(",; \t\r\n", position);
        if (start == std::string::npos) break;
        size_t stop = text.find_first_of(",; \t\r\n", start);
        if (stop == std::string::npos) stop = text.size();
        const std::string pair = text.substr(start, stop - start);
        position = stop;

        const size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            throw std::invalid_argument(fmt::format("detector option \"{}\": expected name=value", pair));
        }
        const std::string name = pair.substr(0, equals);
        const std::string value = pair.substr(equals + 1);
        if (name == "minEyeDistance") {
            settings.minEyeDistance = ParseNumber(pair, value, 4.0f, 1000.0f);
        } else if (name == "detectionInterval") {
            settings.detectionInterval = ParseNumber(pair, value, 1, 1000);
        } else if (name == "maxMisses") {
            settings.maxMisses = ParseNumber(pair, value, 0, 1000);
        } else if (name == "searchInBackground") {
            settings.searchInBackground = ParseNumber(pair, value, 0, 1) != 0;
        } else if (name == "backgroundInterval") {
            settings.backgroundInterval = ParseNumber(pair, value, 1, 1000);
        } else if (name == "landmarks" && value == "dlib68") {
            settings.landmarks = LandmarkScheme::kDlib68;
        } else if (name == "landmarks" && value == "mediapipe") {
#if QUILO_HAVE_MEDIAPIPE
            settings.landmarks = LandmarkScheme::kMediaPipe;
#else
            throw std::invalid_argument(
                fmt::format("detector option \"{}\": this build has no MediaPipe models (no OpenCV dnn)", pair));
#endif
        } else if (name == "landmarks") {
            throw std::invalid_argument(fmt::format("detector option \"{}\": expected mediapipe or dlib68", pair));
        } else {
            throw std::invalid_argument(fmt::format("unknown detector option \"{}\"", pair));
        }
    }
    return settings;
}

}  // namespace quilo::head::cpu
