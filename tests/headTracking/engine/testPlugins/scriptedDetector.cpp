#include "scriptedDetector.h"

#include <condition_variable>
#include <mutex>

#include "common/assetManager.h"

namespace quilo::test {

namespace {

struct State {
    std::mutex mutex;  // guards script, record and nextFrame
    std::condition_variable changed;
    DetectorScript script;
    DetectorRecord record;
    size_t nextFrame = 0;
};

State& TheState() {
    static State state;
    return state;
}

void Append(State& state, const DetectorCall& call) {
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.record.calls.push_back(call);
        if (call.operation == DetectorOperation::Delete) ++state.record.deleted;
    }
    state.changed.notify_all();
}

}  // namespace

int64_t DetectorRecord::Count(DetectorOperation operation) const {
    int64_t n = 0;
    for (const auto& call : calls) n += call.operation == operation;
    return n;
}

void ResetScriptedDetector(DetectorScript script) {
    auto& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.script = std::move(script);
    state.record = DetectorRecord{};
    state.nextFrame = 0;
}

DetectorRecord GetScriptedDetectorRecord() {
    auto& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.record;
}

bool WaitForScriptedDetector(const std::function<bool(const DetectorRecord&)>& condition,
                             std::chrono::milliseconds timeout) {
    auto& state = TheState();
    std::unique_lock<std::mutex> lock(state.mutex);
    return state.changed.wait_for(lock, timeout, [&] { return condition(state.record); });
}

namespace scripted {

Created OnCreate(const head::BlinkDetectorConfiguration& configuration, AssetManager* assetManager) {
    auto& state = TheState();
    std::string asset;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        asset = state.script.assetToRead;
    }
    // Outside the lock: the asset manager may log or throw.
    std::string text = asset.empty() ? std::string() : assetManager->ReadText(asset, nullptr);

    Created created{};
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        auto& record = state.record;
        created = {++record.created, state.script.maxNumOfFacesLimit};
        record.settings = configuration.settings;
        record.detectorOptions = configuration.detectorOptions;
        record.assetManager = assetManager;
        record.assetText = std::move(text);
        record.calls.push_back(DetectorCall::Of(DetectorOperation::Create, created.detector));
    }
    state.changed.notify_all();
    return created;
}

void OnCall(const DetectorCall& call) {
    auto& state = TheState();
    std::function<void(DetectorOperation)> hook;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        hook = state.script.beforeCall;
    }
    if (hook) hook(call.operation);
    Append(state, call);
}

void OnDelete(int32_t detector) {
    auto& state = TheState();
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        hook = state.script.onDelete;
    }
    if (hook) hook();
    Append(state, DetectorCall::Of(DetectorOperation::Delete, detector));
}

std::function<void(const head::CameraFrame&)> DetectFacesHook() {
    auto& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.script.onDetectFaces;
}

std::vector<head::DetectedFace> NextDetections() {
    auto& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.nextFrame < state.script.frames.size()) return state.script.frames[state.nextFrame++];
    return state.script.thereafter;
}

}  // namespace scripted
}  // namespace quilo::test
