// A frame whose every field carries one number, and the check that a frame
// carries it throughout: a torn or mixed-up copy shows as a mismatch.
#pragma once

#include <vector>

#include "headTracking/common/frameAdapter.h"

namespace quilo::test {

// Sequence n gives 1 + n % 3 faces, 1 + n % 4 raw faces and 1 + n % 5
// detections, and n in every number of every element and scalar.
struct FilledFrame final : head::Frame {
    explicit FilledFrame(int sequence) : n(static_cast<float>(sequence)) {
        faceList.resize(1 + sequence % 3);
        for (auto& face : faceList) {
            face = {glm::vec3(n), glm::vec3(n), glm::vec3(n), sequence, glm::vec3(n), glm::vec3(n)};
        }
        rawFaceList.resize(1 + sequence % 4);
        for (auto& raw : rawFaceList) raw = {glm::vec3(n), glm::vec3(n), glm::vec3(n), sequence};
        detectionList.resize(1 + sequence % 5);
        for (auto& d : detectionList) {
            d.rightEyePixel = d.leftEyePixel = glm::dvec2(n);
            d.rightEyeDepth = d.leftEyeDepth = n;
            d.headPosition = d.angles = glm::vec3(n);
        }
    }

    Slice<head::Face> faces() const override { return SliceOf(faceList); }
    Timestamp timestamp() const override { return {Timestamp::Space::System, n}; }
    bool trackingStarted() const override { return static_cast<int>(n) % 2 == 1; }
    float signalValue() const override { return n; }
    Slice<head::RawFace> rawFaces() const override { return SliceOf(rawFaceList); }
    Slice<head::DetectedFace> detections() const override { return SliceOf(detectionList); }
    head::FrameProfiling profiling() const override {
        const auto v = static_cast<int64_t>(n);
        return {v, v, v, v};
    }
    head::FrameTiming timing() const override {
        const auto v = static_cast<int64_t>(n);
        return {v, v};
    }

    float n;
    std::vector<head::Face> faceList;
    std::vector<head::RawFace> rawFaceList;
    std::vector<head::DetectedFace> detectionList;

private:
    template <typename T>
    static Slice<T> SliceOf(const std::vector<T>& v) {
        return {v.data(), static_cast<int64_t>(v.size())};
    }
};

// True when `frame` is exactly what FilledFrame(sequence) returns.
inline bool IsFilledWith(const head::Frame& frame, int sequence) {
    const auto n = static_cast<float>(sequence);
    const auto all = [n](const glm::vec3& v) { return v == glm::vec3(n); };
    auto faces = frame.faces();
    auto raw = frame.rawFaces();
    auto detections = frame.detections();
    if (faces.size != 1 + sequence % 3 || raw.size != 1 + sequence % 4 || detections.size != 1 + sequence % 5) {
        return false;
    }
    for (const auto& f : faces) {
        if (!all(f.position) || !all(f.velocity) || !all(f.angles) || f.rawFaceIndex != sequence || !all(f.rightEye) ||
            !all(f.leftEye)) {
            return false;
        }
    }
    for (const auto& r : raw) {
        if (!all(r.rightEye) || !all(r.leftEye) || !all(r.trackedPoint) || r.detectionIndex != sequence) {
            return false;
        }
    }
    for (const auto& d : detections) {
        if (d.rightEyePixel != glm::dvec2(n) || d.leftEyePixel != glm::dvec2(n) || d.rightEyeDepth != n ||
            d.leftEyeDepth != n || !all(d.headPosition) || !all(d.angles)) {
            return false;
        }
    }
    const auto p = frame.profiling();
    const auto v = static_cast<int64_t>(sequence);
    return frame.timestamp().ms == n && frame.trackingStarted() == (sequence % 2 == 1) && frame.signalValue() == n &&
           p.cameraExposureTime == v && p.faceDetectorStartTime == v && p.faceDetectorEndTime == v &&
           p.apiTimestamp == v && frame.timing().exposureTime == v && frame.timing().publishTime == v;
}

}  // namespace quilo::test
