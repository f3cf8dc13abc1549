#include "tools/replay/sequenceManifest.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <type_traits>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "headTracking/common/transforms.h"
#include "tools/replay/sequenceFiles.h"

namespace quilo::replay {

namespace {

using detail::CheckRegularFile;
using detail::Fail;
using nlohmann::json;

// The member `key` of `object`, which must exist and be of the type `T` reads
// as; `where` names the object in messages.
template <typename T>
T Get(const json& object, const char* key, const std::string& where, const std::filesystem::path& file) {
    const auto member = object.find(key);
    if (member == object.end()) Fail(file, fmt::format("{} has no \"{}\"", where, key));
    if constexpr (std::is_same_v<T, std::string>) {
        if (!member->is_string()) Fail(file, fmt::format("{}: \"{}\" is not a text", where, key));
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!member->is_boolean()) Fail(file, fmt::format("{}: \"{}\" is not true or false", where, key));
    } else {
        if (!member->is_number()) Fail(file, fmt::format("{}: \"{}\" is not a number", where, key));
    }
    return member->get<T>();
}

glm::dvec3 GetPoint(const json& object, const char* key, const std::string& where, const std::filesystem::path& file) {
    const auto member = object.find(key);
    if (member == object.end()) Fail(file, fmt::format("{} has no \"{}\"", where, key));
    if (!member->is_array() || member->size() != 3 ||
        !std::all_of(member->begin(), member->end(), [](const json& v) { return v.is_number(); })) {
        Fail(file, fmt::format("{}: \"{}\" is not a list of three numbers", where, key));
    }
    const glm::dvec3 point((*member)[0].get<double>(), (*member)[1].get<double>(), (*member)[2].get<double>());
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) {
        Fail(file, fmt::format("{}: \"{}\" is not finite", where, key));
    }
    return point;
}

// Whether `name` is a plain relative path that stays inside the folder.
bool StaysInside(const std::string& name) {
    const std::filesystem::path path(name);
    if (name.empty() || path.is_absolute() || path.has_root_name()) return false;
    for (const auto& part : path) {
        if (part == "..") return false;
    }
    return true;
}

json ToJson(const glm::dvec3& point) { return json::array({point.x, point.y, point.z}); }

}  // namespace

Sequence ReadSequence(const std::filesystem::path& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        throw SequenceError(fmt::format("{}: no such folder", folder.string()));
    }
    const std::filesystem::path file = folder / kManifestName;
    CheckRegularFile(file, "cannot be opened");
    std::ifstream in(file, std::ios::binary);
    if (!in) Fail(file, "cannot be opened");

    json manifest;
    try {
        manifest = json::parse(in);
    } catch (const json::parse_error& e) {
        Fail(file, fmt::format("not valid JSON ({})", e.what()));
    }
    if (!manifest.is_object()) Fail(file, "not a JSON object");
    if (Get<std::string>(manifest, "format", "the manifest", file) != kFormatName) {
        Fail(file, fmt::format("\"format\" is not \"{}\"", kFormatName));
    }
    const double version = Get<double>(manifest, "version", "the manifest", file);
    if (version != kFormatVersion) {
        Fail(file, fmt::format("version {} is not supported (only {})", version, kFormatVersion));
    }

    Sequence sequence;
    if (manifest.contains("description")) {
        sequence.description = Get<std::string>(manifest, "description", "the manifest", file);
    }

    const auto intrinsics = manifest.find("intrinsics");
    if (intrinsics == manifest.end() || !intrinsics->is_object()) {
        Fail(file, "\"intrinsics\" is missing or not an object");
    }
    CameraIntrinsics& camera = sequence.intrinsics;
    const std::string where = "\"intrinsics\"";
    const double width = Get<double>(*intrinsics, "width", where, file);
    const double height = Get<double>(*intrinsics, "height", where, file);
    if (!(width >= 1 && width <= 1 << 16 && height >= 1 && height <= 1 << 16) || width != std::floor(width) ||
        height != std::floor(height)) {
        Fail(file, "the intrinsics' width and height must be whole numbers from 1 to 65536");
    }
    camera.width = static_cast<int32_t>(width);
    camera.height = static_cast<int32_t>(height);
    camera.fx = Get<float>(*intrinsics, "fx", where, file);
    camera.fy = Get<float>(*intrinsics, "fy", where, file);
    camera.ppx = Get<float>(*intrinsics, "ppx", where, file);
    camera.ppy = Get<float>(*intrinsics, "ppy", where, file);
    if (!(camera.fx > 0.0f && camera.fy > 0.0f && std::isfinite(camera.fx) && std::isfinite(camera.fy) &&
          std::isfinite(camera.ppx) && std::isfinite(camera.ppy))) {
        Fail(file, "the intrinsics' focal lengths must be positive and every value finite");
    }
    if (intrinsics->contains("isMirrored")) {
        camera.isMirrored = Get<bool>(*intrinsics, "isMirrored", where, file);
    }
    if (manifest.contains("depthUnit")) {
        sequence.depthUnit = Get<double>(manifest, "depthUnit", "the manifest", file);
        if (!(sequence.depthUnit > 0.0) || !std::isfinite(sequence.depthUnit)) {
            Fail(file, "\"depthUnit\" must be a positive finite number of metres");
        }
    }

    const auto frames = manifest.find("frames");
    if (frames == manifest.end() || !frames->is_array()) {
        Fail(file, "\"frames\" is missing or not a list");
    }
    if (frames->empty()) Fail(file, "the sequence has no frames");
    sequence.frames.reserve(frames->size());
    for (size_t i = 0; i < frames->size(); ++i) {
        const json& entry = (*frames)[i];
        const std::string name = fmt::format("frame {}", i);
        if (!entry.is_object()) Fail(file, fmt::format("{} is not an object", name));
        SequenceFrame frame;
        frame.image = Get<std::string>(entry, "image", name, file);
        if (!StaysInside(frame.image)) {
            Fail(file, fmt::format("{}: image \"{}\" is not a file inside the folder", name, frame.image));
        }
        if (entry.contains("depth")) {
            frame.depth = Get<std::string>(entry, "depth", name, file);
            if (!StaysInside(*frame.depth)) {
                Fail(file, fmt::format("{}: depth image \"{}\" is not a file inside the folder", name, *frame.depth));
            }
        }
        frame.timestampMs = Get<double>(entry, "timestamp", name, file);
        if (!std::isfinite(frame.timestampMs)) {
            Fail(file, fmt::format("{}: the timestamp is not finite", name));
        }
        if (!sequence.frames.empty() && !(frame.timestampMs > sequence.frames.back().timestampMs)) {
            Fail(file, fmt::format("{}: timestamp {} ms does not come after {} ms", name, frame.timestampMs,
                                   sequence.frames.back().timestampMs));
        }
        if (const auto truth = entry.find("truth"); truth != entry.end()) {
            if (!truth->is_object()) Fail(file, fmt::format("{}: \"truth\" is not an object", name));
            const std::string truthName = name + " truth";
            frame.truth =
                EyeTruth{GetPoint(*truth, "rightEye", truthName, file), GetPoint(*truth, "leftEye", truthName, file)};
        }
        sequence.frames.push_back(std::move(frame));
    }
    return sequence;
}

void WriteSequence(const std::filesystem::path& folder, const Sequence& sequence) {
    json frames = json::array();
    for (const SequenceFrame& frame : sequence.frames) {
        json entry = {{"image", frame.image}, {"timestamp", frame.timestampMs}};
        if (frame.depth) entry["depth"] = *frame.depth;
        if (frame.truth) {
            entry["truth"] = {{"rightEye", ToJson(frame.truth->rightEye)}, {"leftEye", ToJson(frame.truth->leftEye)}};
        }
        frames.push_back(std::move(entry));
    }
    const CameraIntrinsics& camera = sequence.intrinsics;
    json manifest = {
        {"format", kFormatName},
        {"version", kFormatVersion},
        {"description", sequence.description},
        {"intrinsics",
         {{"width", camera.width},
          {"height", camera.height},
          {"fx", camera.fx},
          {"fy", camera.fy},
          {"ppx", camera.ppx},
          {"ppy", camera.ppy},
          {"isMirrored", camera.isMirrored}}},
        {"depthUnit", sequence.depthUnit},
        {"frames", std::move(frames)},
    };

    const std::filesystem::path file = folder / kManifestName;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) Fail(file, "cannot be created");
    out << manifest.dump(1) << '\n';
    out.close();
    if (!out) Fail(file, "could not be written completely");
}

glm::dvec2 ProjectToPixel(const CameraIntrinsics& intrinsics, const glm::dvec3& point) {
    return head::ProjectPinhole(point, intrinsics);
}

}  // namespace quilo::replay
