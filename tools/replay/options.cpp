#include "tools/replay/options.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "common/rotation.h"

namespace quilo::replay {

namespace {

// `text` as `count` finite numbers separated by commas.
std::vector<float> ParseNumbers(const std::string& setting, const std::string& text, size_t count) {
    std::vector<float> numbers;
    size_t start = 0;
    while (true) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        float value = 0.0f;
        const char* end = part.data() + part.size();
        const auto [rest, error] = std::from_chars(part.data(), end, value);
        if (part.empty() || error != std::errc() || rest != end || !std::isfinite(value)) {
            throw std::invalid_argument(fmt::format("filter setting \"{}\": \"{}\" is not a number", setting, part));
        }
        numbers.push_back(value);
        if (comma == text.size()) break;
        start = comma + 1;
    }
    if (numbers.size() != count) {
        throw std::invalid_argument(
            fmt::format("filter setting \"{}\": expected {} number{}", setting, count, count == 1 ? "" : "s"));
    }
    return numbers;
}

template <typename Field>
struct Key {
    const char* name;
    Field head::FilterProperties::*field;
};

constexpr Key<float> kScalarKeys[] = {
    {"restartThreshold", &head::FilterProperties::restartThreshold},
    {"maxTrackGap", &head::FilterProperties::maxTrackGap},
    {"velDampingTime", &head::FilterProperties::velDampingTime},
    {"minFitDist", &head::FilterProperties::minFitDist},
    {"maxFitDist", &head::FilterProperties::maxFitDist},
    {"angleYMax", &head::FilterProperties::angleYMax},
    {"interocularDistanceMin", &head::FilterProperties::interocularDistanceMin},
    {"interocularDistanceMax", &head::FilterProperties::interocularDistanceMax},
    {"bufferLim", &head::FilterProperties::bufferLim},
};

glm::vec3* VectorField(head::FilterProperties& filter, const std::string& name) {
    if (name == "mainFaceSkew") return &filter.mainFaceSkew;
    if (name == "mainFaceScale") return &filter.mainFaceScale;
    if (name == "kalman.a") return &filter.kalman.a;
    if (name == "kalman.b") return &filter.kalman.b;
    return nullptr;
}

}  // namespace

void ApplyFilterSetting(head::FilterProperties& filter, const std::string& setting) {
    const size_t equals = setting.find('=');
    if (equals == std::string::npos) {
        throw std::invalid_argument(fmt::format("filter setting \"{}\": expected KEY=VALUE", setting));
    }
    const std::string name = setting.substr(0, equals);
    const std::string value = setting.substr(equals + 1);
    for (const Key<float>& key : kScalarKeys) {
        if (name == key.name) {
            filter.*key.field = ParseNumbers(setting, value, 1)[0];
            return;
        }
    }
    if (glm::vec3* field = VectorField(filter, name)) {
        const std::vector<float> numbers = ParseNumbers(setting, value, 3);
        *field = glm::vec3(numbers[0], numbers[1], numbers[2]);
        return;
    }
    throw std::invalid_argument(
        fmt::format("filter setting \"{}\": unknown key \"{}\" (known: {})", setting, name, FilterSettingKeys()));
}

std::string FilterSettingKeys() {
    std::string keys;
    for (const Key<float>& key : kScalarKeys) keys += fmt::format("{}, ", key.name);
    return keys + "mainFaceSkew, mainFaceScale, kalman.a, kalman.b";
}

glm::mat3 CameraRotationFromValues(const std::vector<float>& values) {
    for (float value : values) {
        if (!std::isfinite(value)) throw std::invalid_argument("camera rotation: a value is not finite");
    }
    if (values.size() == 3) {
        return GetRotationMatFromRodriguesNotation(glm::vec3(values[0], values[1], values[2]));
    }
    if (values.size() == 9) {
        glm::mat3 matrix;
        for (int column = 0; column < 3; ++column) {
            for (int row = 0; row < 3; ++row) matrix[column][row] = values[column * 3 + row];
        }
        return matrix;
    }
    throw std::invalid_argument(
        fmt::format("camera rotation: expected 3 numbers (a rotation vector in degrees) or 9 (a matrix, "
                    "column by column), got {}",
                    values.size()));
}

glm::vec3 CameraPositionFromValues(const std::vector<float>& values) {
    if (values.size() != 3) {
        throw std::invalid_argument(
            fmt::format("camera position: expected 3 numbers (X, Y, Z in mm), got {}", values.size()));
    }
    for (float value : values) {
        if (!std::isfinite(value)) throw std::invalid_argument("camera position: a value is not finite");
    }
    return glm::vec3(values[0], values[1], values[2]);
}

}  // namespace quilo::replay
