// The simulated RealSense device: librealsense2's C functions that the camera
// calls, over state scripted through fakeRealsense.h. One mutex guards all
// state; a wait on an empty script blocks on the condition variable.
#include "fakeRealsense.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <sstream>
#include <tuple>
#include <utility>

using fakeRealsense::Frame;
using fakeRealsense::Sensor;
using fakeRealsense::StreamProfile;
using fakeRealsense::StreamRequest;

namespace {

std::atomic<int> gLiveObjects{0};
std::atomic<int> gLiveFrames{0};

// Member of every library object: counts it while it lives.
struct Counted {
    Counted() { ++gLiveObjects; }
    Counted(const Counted&) { ++gLiveObjects; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --gLiveObjects; }
};

}  // namespace

struct rs2_error {
    std::string message;
    std::string function;
    std::string args;
    rs2_exception_type type;
    Counted counted;
};
struct rs2_context {
    int apiVersion;
    Counted counted;
};
struct rs2_config {
    std::vector<StreamRequest> requests;
    Counted counted;
};
struct rs2_pipeline {
    bool started = false;
    std::vector<StreamProfile> active;
    Counted counted;
};
struct rs2_stream_profile {
    StreamProfile profile;
};
struct rs2_pipeline_profile {
    std::vector<StreamProfile> streams;
    Counted counted;
};
struct rs2_stream_profile_list {
    std::vector<rs2_stream_profile> profiles;
    Counted counted;
};
struct rs2_device {
    Counted counted;
};
struct rs2_sensor_list {
    std::vector<Sensor> sensors;
    Counted counted;
};
// As in the real library, a sensor is an options object.
struct rs2_options {
    int sensorIndex = 0;
    std::vector<rs2_option> supported;
};
struct rs2_sensor : rs2_options {
    bool isDepthSensor = false;
    Counted counted;
};
// A reference-counted frame; a composite frame holds one reference to each of
// its parts.
struct rs2_frame {
    int references = 1;
    std::shared_ptr<const Frame> data;  // null for a composite frame
    rs2_stream_profile profile;
    std::vector<rs2_frame*> parts;
    Counted counted;
};

namespace {

struct WaitResult {
    enum class Kind { FrameSet, Timeout, Error } kind;
    fakeRealsense::FrameSet frameSet;
    rs2_exception_type type = RS2_EXCEPTION_TYPE_UNKNOWN;
    std::string message;
};

struct ScriptedError {
    rs2_exception_type type;
    std::string message;
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;

    fakeRealsense::Device device;
    std::deque<WaitResult> waitResults;
    std::map<std::string, std::deque<ScriptedError>> failures;
    bool disconnected = false;
    bool timeOutIdleWaits = false;
    int blockedWaits = 0;
    std::optional<rs2_time_t> libraryTime;

    std::vector<std::string> calls;
    std::vector<int> apiVersions;
    std::vector<StreamRequest> streamRequests;
    std::vector<fakeRealsense::OptionWrite> optionWrites;
    std::vector<unsigned> waitTimeouts;
    std::vector<std::thread::id> waitThreads;
    std::vector<fakeRealsense::PixelQuery> depthQueries;
    std::vector<const void*> frameDataPointers;
    std::vector<rs2_intrinsics> projectionIntrinsics;
};

State& state() {
    static State s;
    return s;
}

using Lock = std::unique_lock<std::mutex>;

// "name:value" pairs joined by ", ", as the library prints a call's arguments.
class ArgsText {
public:
    template <typename T>
    ArgsText& operator()(const char* name, const T& value) {
        std::ostringstream out;
        if (!text_.empty()) out << ", ";
        out << name << ':';
        if constexpr (std::is_pointer_v<T>) {
            if (value) {
                out << static_cast<const void*>(value);
            } else {
                out << "nullptr";
            }
        } else if constexpr (std::is_enum_v<T>) {
            out << static_cast<int>(value);
        } else {
            out << value;
        }
        text_ += out.str();
        return *this;
    }
    const std::string& str() const { return text_; }

private:
    std::string text_;
};

void SetError(rs2_error** error, const char* function, const ArgsText& args, rs2_exception_type type,
              const std::string& message) {
    if (error) *error = new rs2_error{message, function, args.str(), type, {}};
}

// Records the call and reports a scripted failure of it. Call with the lock
// held; false when the call fails.
bool Enter(const Lock&, const char* function, const ArgsText& args, rs2_error** error) {
    State& s = state();
    s.calls.emplace_back(function);
    auto it = s.failures.find(function);
    if (it == s.failures.end() || it->second.empty()) return true;
    ScriptedError failure = it->second.front();
    it->second.pop_front();
    SetError(error, function, args, failure.type, failure.message);
    return false;
}

void Record(const char* function) {
    Lock lock(state().mutex);
    state().calls.emplace_back(function);
}

// The library's own failures: argument checks raise std::runtime_error,
// reported with the type RS2_EXCEPTION_TYPE_COUNT.
bool NotNull(const void* p, const char* name, const char* function, const ArgsText& args, rs2_error** error) {
    if (p) return true;
    SetError(error, function, args, RS2_EXCEPTION_TYPE_COUNT,
             std::string("null pointer passed for argument \"") + name + "\"");
    return false;
}

bool Matches(const StreamRequest& r, const StreamProfile& p) {
    return (r.stream == RS2_STREAM_ANY || r.stream == p.stream) && (r.index == -1 || r.index == p.index) &&
           (r.width == 0 || r.width == p.width) && (r.height == 0 || r.height == p.height) &&
           (r.format == RS2_FORMAT_ANY || r.format == p.format) && (r.framerate == 0 || r.framerate == p.framerate);
}

rs2_frame* NewFrame(std::shared_ptr<const Frame> data) {
    auto* frame = new rs2_frame;
    frame->profile.profile = data->profile;
    frame->data = std::move(data);
    ++gLiveFrames;
    return frame;
}

rs2_frame* NewFrameSet(fakeRealsense::FrameSet set) {
    if (!set.composite) return NewFrame(std::make_shared<const Frame>(std::move(set.frames.at(0))));
    auto* composite = new rs2_frame;
    ++gLiveFrames;
    for (Frame& part : set.frames) {
        composite->parts.push_back(NewFrame(std::make_shared<const Frame>(std::move(part))));
    }
    return composite;
}

void Release(rs2_frame* frame) {
    if (--frame->references > 0) return;
    for (rs2_frame* part : frame->parts) Release(part);
    --gLiveFrames;
    delete frame;
}

// A video frame's data; sets the library's interface error otherwise.
const Frame* VideoData(const rs2_frame* frame, const char* function, const ArgsText& args, rs2_error** error) {
    if (!NotNull(frame, "frame", function, args, error)) return nullptr;
    if (!frame->data || !frame->data->isVideoFrame) {
        SetError(error, function, args, RS2_EXCEPTION_TYPE_COUNT,
                 "Object does not support \"librealsense::video_frame\" interface! ");
        return nullptr;
    }
    return frame->data.get();
}

const Frame* FrameData(const rs2_frame* frame, const char* function, const ArgsText& args, rs2_error** error) {
    if (!NotNull(frame, "frame", function, args, error)) return nullptr;
    if (!frame->data) {
        SetError(error, function, args, RS2_EXCEPTION_TYPE_COUNT,
                 "Object does not support \"librealsense::frame\" interface! ");
        return nullptr;
    }
    return frame->data.get();
}

StreamProfile Profile(rs2_stream stream, rs2_format format, int index, int width, int height, int framerate) {
    StreamProfile p;
    p.stream = stream;
    p.format = format;
    p.index = index;
    p.width = width;
    p.height = height;
    p.framerate = framerate;
    p.intrinsics = fakeRealsense::IntrinsicsFor(stream, index, width, height);
    return p;
}

}  // namespace

// ---- The scripting and recording interface -------------------------------------------------

namespace fakeRealsense {

rs2_intrinsics IntrinsicsFor(rs2_stream stream, int index, int width, int height) {
    rs2_intrinsics in{};
    in.width = width;
    in.height = height;
    in.ppx = width / 2.0f + 0.25f * index + (stream == RS2_STREAM_DEPTH ? 1.5f : 0.0f);
    in.ppy = height / 2.0f - 0.5f * index;
    in.fx = width * 0.75f + index;
    in.fy = width * 0.75f + 2.0f * index;
    in.model = RS2_DISTORTION_BROWN_CONRADY;
    for (int i = 0; i < 5; ++i) {
        in.coeffs[i] = 0.01f * static_cast<float>(i + 1) * static_cast<float>(index + 1);
    }
    return in;
}

Device StandardDevice() {
    Device d;
    for (auto [w, h, fps] : {std::tuple{848, 480, 90}, std::tuple{640, 400, 30}}) {
        d.profiles.push_back(Profile(RS2_STREAM_DEPTH, RS2_FORMAT_Z16, 0, w, h, fps));
        d.profiles.push_back(Profile(RS2_STREAM_INFRARED, RS2_FORMAT_Y8, 1, w, h, fps));
        d.profiles.push_back(Profile(RS2_STREAM_INFRARED, RS2_FORMAT_Y8, 2, w, h, fps));
    }
    d.sensors.push_back(Sensor{true,
                               {RS2_OPTION_EXPOSURE, RS2_OPTION_GAIN, RS2_OPTION_ENABLE_AUTO_EXPOSURE,
                                RS2_OPTION_EMITTER_ENABLED, RS2_OPTION_GLOBAL_TIME_ENABLED}});
    d.sensors.push_back(Sensor{
        false,
        {RS2_OPTION_EXPOSURE, RS2_OPTION_GAIN, RS2_OPTION_ENABLE_AUTO_EXPOSURE, RS2_OPTION_GLOBAL_TIME_ENABLED}});
    return d;
}

uint8_t PixelAt(int x, int y) { return static_cast<uint8_t>((x + 3 * y) % 251); }
float DepthAt(int x, int y) { return 0.25f + static_cast<float>(x) * 0.001f + static_cast<float>(y) * 0.0001f; }

Frame InfraredFrame(int width, int height, rs2_time_t timestamp, rs2_timestamp_domain domain) {
    Frame f;
    f.profile = Profile(RS2_STREAM_INFRARED, RS2_FORMAT_Y8, 1, width, height, 90);
    f.width = width;
    f.height = height;
    f.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            f.pixels[static_cast<std::size_t>(y) * width + x] = PixelAt(x, y);
        }
    }
    f.timestamp = timestamp;
    f.domain = domain;
    const auto us = static_cast<rs2_metadata_type>(timestamp * 1000.0);
    f.metadata[RS2_FRAME_METADATA_SENSOR_TIMESTAMP] = us;
    f.metadata[RS2_FRAME_METADATA_FRAME_TIMESTAMP] = us;
    return f;
}

Frame DepthFrame(int width, int height, rs2_time_t timestamp) {
    Frame f;
    f.profile = Profile(RS2_STREAM_DEPTH, RS2_FORMAT_Z16, 0, width, height, 90);
    f.width = width;
    f.height = height;
    f.pixels.assign(static_cast<std::size_t>(width) * height * 2, 0);
    f.distances.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            f.distances[static_cast<std::size_t>(y) * width + x] = DepthAt(x, y);
        }
    }
    f.timestamp = timestamp;
    f.isDepthFrame = true;
    return f;
}

FrameSet InfraredAndDepth(int width, int height, rs2_time_t timestamp) {
    return FrameSet{{DepthFrame(width, height, timestamp), InfraredFrame(width, height, timestamp)}, true};
}

void Reset(Device device) {
    State& s = state();
    Lock lock(s.mutex);
    s.device = std::move(device);
    s.waitResults.clear();
    s.failures.clear();
    s.disconnected = false;
    s.timeOutIdleWaits = false;
    s.libraryTime.reset();
    s.calls.clear();
    s.apiVersions.clear();
    s.streamRequests.clear();
    s.optionWrites.clear();
    s.waitTimeouts.clear();
    s.waitThreads.clear();
    s.depthQueries.clear();
    s.frameDataPointers.clear();
    s.projectionIntrinsics.clear();
    s.changed.notify_all();
}

namespace {
void Push(WaitResult result) {
    Lock lock(state().mutex);
    state().waitResults.push_back(std::move(result));
    state().changed.notify_all();
}
}  // namespace

void PushFrameSet(FrameSet frameSet) { Push({WaitResult::Kind::FrameSet, std::move(frameSet), {}, {}}); }
void PushTimeout() { Push({WaitResult::Kind::Timeout, {}, {}, {}}); }
void PushError(rs2_exception_type type, const std::string& message) {
    Push({WaitResult::Kind::Error, {}, type, message});
}

void Disconnect() {
    Lock lock(state().mutex);
    state().disconnected = true;
    state().changed.notify_all();
}

void TimeOutIdleWaits(bool atOnce) {
    Lock lock(state().mutex);
    state().timeOutIdleWaits = atOnce;
    state().changed.notify_all();
}

bool WaitUntilIdle(std::chrono::milliseconds limit) {
    State& s = state();
    Lock lock(s.mutex);
    return s.changed.wait_for(lock, limit, [&] { return s.waitResults.empty() && s.blockedWaits > 0; });
}

std::size_t PendingWaitResults() {
    Lock lock(state().mutex);
    return state().waitResults.size();
}

void FailNextCall(const std::string& function, rs2_exception_type type, const std::string& message) {
    Lock lock(state().mutex);
    state().failures[function].push_back({type, message});
}

void SetLibraryTime(rs2_time_t ms) {
    Lock lock(state().mutex);
    state().libraryTime = ms;
}

namespace {
template <typename T>
std::vector<T> Copy(std::vector<T> State::*member) {
    Lock lock(state().mutex);
    return state().*member;
}
}  // namespace

std::vector<std::string> Calls() { return Copy(&State::calls); }
int CallCount(const std::string& function) {
    const auto calls = Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), function));
}
std::vector<int> ContextApiVersions() { return Copy(&State::apiVersions); }
std::vector<StreamRequest> StreamRequests() { return Copy(&State::streamRequests); }
std::vector<OptionWrite> OptionWrites() { return Copy(&State::optionWrites); }
std::vector<unsigned> WaitTimeouts() { return Copy(&State::waitTimeouts); }
std::vector<std::thread::id> WaitThreads() { return Copy(&State::waitThreads); }
std::vector<PixelQuery> DepthQueries() { return Copy(&State::depthQueries); }
std::vector<const void*> FrameDataPointers() { return Copy(&State::frameDataPointers); }
std::vector<rs2_intrinsics> ProjectionIntrinsics() { return Copy(&State::projectionIntrinsics); }
int LiveObjects() { return gLiveObjects.load(); }
int LiveFrames() { return gLiveFrames.load(); }

}  // namespace fakeRealsense

namespace {
// One property of a frame (of a video frame when `video`): the call is
// recorded, scripted failures and the library's argument and interface checks
// apply, and `fallback` is returned on failure. `get` runs under the lock.
template <typename T, typename Get>
T ReadFrame(const char* function, const rs2_frame* frame, rs2_error** error, bool video, T fallback, Get get) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("frame", frame);
    if (!Enter(lock, function, args, error)) return fallback;
    const Frame* data = video ? VideoData(frame, function, args, error) : FrameData(frame, function, args, error);
    return data ? get(*data) : fallback;
}
}  // namespace

// ---- The library's C interface ---------------------------------------------------------------

extern "C" {

rs2_error* rs2_create_error(const char* what, const char* name, const char* args, rs2_exception_type type) {
    return new rs2_error{what ? what : "", name ? name : "", args ? args : "", type, {}};
}
rs2_exception_type rs2_get_librealsense_exception_type(const rs2_error* error) {
    return error ? error->type : RS2_EXCEPTION_TYPE_UNKNOWN;
}
const char* rs2_get_failed_function(const rs2_error* error) { return error ? error->function.c_str() : nullptr; }
const char* rs2_get_failed_args(const rs2_error* error) { return error ? error->args.c_str() : nullptr; }
const char* rs2_get_error_message(const rs2_error* error) { return error ? error->message.c_str() : nullptr; }
void rs2_free_error(rs2_error* error) { delete error; }

int rs2_get_api_version(rs2_error**) { return RS2_API_VERSION; }

rs2_context* rs2_create_context(int api_version, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("api_version", api_version);
    if (!Enter(lock, __func__, args, error)) return nullptr;
    state().apiVersions.push_back(api_version);
    // As the library checks: the same major version, a minor version not newer
    // than the library's.
    const int major = api_version / 10000;
    const int minor = (api_version % 10000) / 100;
    if (major != RS2_API_MAJOR_VERSION || minor > RS2_API_MINOR_VERSION) {
        std::ostringstream message;
        message << "API version mismatch: librealsense.so was compiled with API version 2.50.0 but the "
                   "application was compiled with "
                << major << '.' << minor << '.' << api_version % 100
                << "! Make sure correct version of the library is installed (make install)";
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_INVALID_VALUE, message.str());
        return nullptr;
    }
    return new rs2_context{api_version, {}};
}
void rs2_delete_context(rs2_context* context) {
    Record(__func__);
    delete context;
}

rs2_pipeline* rs2_create_pipeline(rs2_context* ctx, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("ctx", ctx);
    if (!Enter(lock, __func__, args, error) || !NotNull(ctx, "ctx", __func__, args, error)) {
        return nullptr;
    }
    return new rs2_pipeline;
}
void rs2_delete_pipeline(rs2_pipeline* pipe) {
    Record(__func__);
    delete pipe;
}

rs2_config* rs2_create_config(rs2_error** error) {
    Lock lock(state().mutex);
    if (!Enter(lock, __func__, ArgsText(), error)) return nullptr;
    return new rs2_config;
}
void rs2_delete_config(rs2_config* config) {
    Record(__func__);
    delete config;
}

void rs2_config_enable_stream(rs2_config* config, rs2_stream stream, int index, int width, int height,
                              rs2_format format, int framerate, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("config", config)("stream", stream)("index", index)("width", width)("height", height)(
        "format", format)("framerate", framerate);
    if (!Enter(lock, __func__, args, error) || !NotNull(config, "config", __func__, args, error)) {
        return;
    }
    const StreamRequest request{stream, index, width, height, format, framerate};
    config->requests.push_back(request);
    state().streamRequests.push_back(request);
}

rs2_pipeline_profile* rs2_pipeline_start_with_config(rs2_pipeline* pipe, rs2_config* config, rs2_error** error) {
    State& s = state();
    Lock lock(s.mutex);
    const auto args = ArgsText()("pipe", pipe)("config", config);
    if (!Enter(lock, __func__, args, error) || !NotNull(pipe, "pipe", __func__, args, error) ||
        !NotNull(config, "config", __func__, args, error)) {
        return nullptr;
    }
    if (pipe->started) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE,
                 "start() cannot be called before stop()");
        return nullptr;
    }
    if (s.disconnected) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED, "Camera disconnected");
        return nullptr;
    }
    if (s.device.profiles.empty()) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_COUNT, "No device connected");
        return nullptr;
    }
    // Each request takes the first offered stream it matches that no earlier
    // request took.
    std::vector<StreamProfile> resolved;
    std::vector<bool> taken(s.device.profiles.size(), false);
    for (const StreamRequest& request : config->requests) {
        bool found = false;
        for (std::size_t i = 0; i < s.device.profiles.size() && !found; ++i) {
            if (!taken[i] && Matches(request, s.device.profiles[i])) {
                taken[i] = true;
                resolved.push_back(s.device.profiles[i]);
                found = true;
            }
        }
        if (!found) {
            SetError(error, __func__, args, RS2_EXCEPTION_TYPE_COUNT, "Couldn't resolve requests");
            return nullptr;
        }
    }
    pipe->started = true;
    pipe->active = s.device.activeStreams ? *s.device.activeStreams : resolved;
    return new rs2_pipeline_profile{pipe->active, {}};
}

rs2_pipeline_profile* rs2_pipeline_get_active_profile(rs2_pipeline* pipe, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("pipe", pipe);
    if (!Enter(lock, __func__, args, error) || !NotNull(pipe, "pipe", __func__, args, error)) {
        return nullptr;
    }
    if (!pipe->started) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE,
                 "get_active_profile() can only be called between a start() and a following stop()");
        return nullptr;
    }
    return new rs2_pipeline_profile{pipe->active, {}};
}
void rs2_delete_pipeline_profile(rs2_pipeline_profile* profile) {
    Record(__func__);
    delete profile;
}

rs2_stream_profile_list* rs2_pipeline_profile_get_streams(rs2_pipeline_profile* profile, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("profile", profile);
    if (!Enter(lock, __func__, args, error) || !NotNull(profile, "profile", __func__, args, error)) {
        return nullptr;
    }
    auto* list = new rs2_stream_profile_list;
    for (const StreamProfile& p : profile->streams) list->profiles.push_back(rs2_stream_profile{p});
    return list;
}
int rs2_get_stream_profiles_count(const rs2_stream_profile_list* list, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("list", list);
    if (!Enter(lock, __func__, args, error) || !NotNull(list, "list", __func__, args, error)) {
        return 0;
    }
    return static_cast<int>(list->profiles.size());
}
const rs2_stream_profile* rs2_get_stream_profile(const rs2_stream_profile_list* list, int index, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("list", list)("index", index);
    if (!Enter(lock, __func__, args, error) || !NotNull(list, "list", __func__, args, error)) {
        return nullptr;
    }
    if (index < 0 || index >= static_cast<int>(list->profiles.size())) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range value for argument \"index\"");
        return nullptr;
    }
    return &list->profiles[index];
}
void rs2_delete_stream_profiles_list(rs2_stream_profile_list* list) {
    Record(__func__);
    delete list;
}

void rs2_get_stream_profile_data(const rs2_stream_profile* mode, rs2_stream* stream, rs2_format* format, int* index,
                                 int* unique_id, int* framerate, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("mode", mode);
    if (!Enter(lock, __func__, args, error) || !NotNull(mode, "mode", __func__, args, error)) {
        return;
    }
    *stream = mode->profile.stream;
    *format = mode->profile.format;
    *index = mode->profile.index;
    *unique_id = mode->profile.stream * 100 + mode->profile.index;
    *framerate = mode->profile.framerate;
}
int rs2_stream_profile_is(const rs2_stream_profile* mode, rs2_extension type, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("mode", mode)("type", type);
    if (!Enter(lock, __func__, args, error) || !NotNull(mode, "mode", __func__, args, error)) {
        return 0;
    }
    return type == RS2_EXTENSION_VIDEO_PROFILE && mode->profile.isVideo ? 1 : 0;
}
void rs2_get_video_stream_intrinsics(const rs2_stream_profile* mode, rs2_intrinsics* intrinsics, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("mode", mode)("intrinsics", intrinsics);
    if (!Enter(lock, __func__, args, error) || !NotNull(mode, "mode", __func__, args, error) ||
        !NotNull(intrinsics, "intrinsics", __func__, args, error)) {
        return;
    }
    if (!mode->profile.isVideo) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_COUNT,
                 "Object does not support \"librealsense::video_stream_profile_interface\" interface! ");
        return;
    }
    *intrinsics = mode->profile.intrinsics;
}

rs2_device* rs2_pipeline_profile_get_device(rs2_pipeline_profile* profile, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("profile", profile);
    if (!Enter(lock, __func__, args, error) || !NotNull(profile, "profile", __func__, args, error)) {
        return nullptr;
    }
    return new rs2_device;
}
void rs2_delete_device(rs2_device* device) {
    Record(__func__);
    delete device;
}

rs2_sensor_list* rs2_query_sensors(const rs2_device* device, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("device", device);
    if (!Enter(lock, __func__, args, error) || !NotNull(device, "device", __func__, args, error)) {
        return nullptr;
    }
    return new rs2_sensor_list{state().device.sensors, {}};
}
int rs2_get_sensors_count(const rs2_sensor_list* info_list, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("info_list", info_list);
    if (!Enter(lock, __func__, args, error) || !NotNull(info_list, "info_list", __func__, args, error)) {
        return 0;
    }
    return static_cast<int>(info_list->sensors.size());
}
void rs2_delete_sensor_list(rs2_sensor_list* info_list) {
    Record(__func__);
    delete info_list;
}
rs2_sensor* rs2_create_sensor(const rs2_sensor_list* list, int index, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("list", list)("index", index);
    if (!Enter(lock, __func__, args, error) || !NotNull(list, "list", __func__, args, error)) {
        return nullptr;
    }
    if (index < 0 || index >= static_cast<int>(list->sensors.size())) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range value for argument \"index\"");
        return nullptr;
    }
    auto* sensor = new rs2_sensor;
    sensor->sensorIndex = index;
    sensor->supported = list->sensors[index].options;
    sensor->isDepthSensor = list->sensors[index].isDepthSensor;
    return sensor;
}
void rs2_delete_sensor(rs2_sensor* sensor) {
    Record(__func__);
    delete sensor;
}
int rs2_is_sensor_extendable_to(const rs2_sensor* sensor, rs2_extension extension, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("sensor", sensor)("extension", extension);
    if (!Enter(lock, __func__, args, error) || !NotNull(sensor, "sensor", __func__, args, error)) {
        return 0;
    }
    return extension == RS2_EXTENSION_DEPTH_SENSOR && sensor->isDepthSensor ? 1 : 0;
}

int rs2_supports_option(const rs2_options* options, rs2_option option, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("options", options)("option", option);
    if (!Enter(lock, __func__, args, error) || !NotNull(options, "options", __func__, args, error)) {
        return 0;
    }
    const auto& s = options->supported;
    return std::find(s.begin(), s.end(), option) != s.end() ? 1 : 0;
}
void rs2_set_option(const rs2_options* options, rs2_option option, float value, rs2_error** error) {
    State& s = state();
    Lock lock(s.mutex);
    const auto args = ArgsText()("options", options)("option", option)("value", value);
    if (!Enter(lock, __func__, args, error) || !NotNull(options, "options", __func__, args, error)) {
        return;
    }
    if (s.disconnected) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED, "Camera disconnected");
        return;
    }
    const auto& supported = options->supported;
    if (std::find(supported.begin(), supported.end(), option) == supported.end()) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_INVALID_VALUE,
                 "object doesn't support option #" + std::to_string(static_cast<int>(option)));
        return;
    }
    s.optionWrites.push_back({options->sensorIndex, option, value});
}

rs2_frame* rs2_pipeline_wait_for_frames(rs2_pipeline* pipe, unsigned int timeout_ms, rs2_error** error) {
    State& s = state();
    Lock lock(s.mutex);
    const auto args = ArgsText()("pipe", pipe)("timeout_ms", timeout_ms);
    if (!Enter(lock, __func__, args, error) || !NotNull(pipe, "pipe", __func__, args, error)) {
        return nullptr;
    }
    s.waitTimeouts.push_back(timeout_ms);
    const auto self = std::this_thread::get_id();
    if (std::find(s.waitThreads.begin(), s.waitThreads.end(), self) == s.waitThreads.end()) {
        s.waitThreads.push_back(self);
    }
    if (!pipe->started) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE,
                 "wait_for_frames cannot be called before start()");
        return nullptr;
    }
    const auto timedOut = [&] {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_COUNT,
                 "Frame didn't arrive within " + std::to_string(timeout_ms));
        return nullptr;
    };
    if (s.waitResults.empty()) {
        if (s.disconnected) {
            SetError(error, __func__, args, RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED, "Camera disconnected");
            return nullptr;
        }
        ++s.blockedWaits;
        s.changed.notify_all();
        s.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return !s.waitResults.empty() || s.timeOutIdleWaits || s.disconnected; });
        --s.blockedWaits;
        if (s.waitResults.empty()) {
            if (s.disconnected) {
                SetError(error, __func__, args, RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED, "Camera disconnected");
                return nullptr;
            }
            return timedOut();
        }
    }
    WaitResult result = std::move(s.waitResults.front());
    s.waitResults.pop_front();
    s.changed.notify_all();
    switch (result.kind) {
        case WaitResult::Kind::FrameSet: return NewFrameSet(std::move(result.frameSet));
        case WaitResult::Kind::Timeout: return timedOut();
        case WaitResult::Kind::Error: SetError(error, __func__, args, result.type, result.message); return nullptr;
    }
    return nullptr;
}

int rs2_is_frame_extendable_to(const rs2_frame* frame, rs2_extension extension_type, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("frame", frame)("extension_type", extension_type);
    if (!Enter(lock, __func__, args, error) || !NotNull(frame, "frame", __func__, args, error)) {
        return 0;
    }
    switch (extension_type) {
        case RS2_EXTENSION_COMPOSITE_FRAME: return frame->data ? 0 : 1;
        case RS2_EXTENSION_VIDEO_FRAME: return frame->data && frame->data->isVideoFrame ? 1 : 0;
        case RS2_EXTENSION_DEPTH_FRAME: return frame->data && frame->data->isDepthFrame ? 1 : 0;
        default: return 0;
    }
}
int rs2_embedded_frames_count(rs2_frame* composite, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("composite", composite);
    if (!Enter(lock, __func__, args, error) || !NotNull(composite, "composite", __func__, args, error)) {
        return 0;
    }
    if (composite->data) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_COUNT,
                 "Object does not support \"librealsense::composite_frame\" interface! ");
        return 0;
    }
    return static_cast<int>(composite->parts.size());
}
rs2_frame* rs2_extract_frame(rs2_frame* composite, int index, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("composite", composite)("index", index);
    if (!Enter(lock, __func__, args, error) || !NotNull(composite, "composite", __func__, args, error)) {
        return nullptr;
    }
    if (index < 0 || index >= static_cast<int>(composite->parts.size())) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range value for argument \"index\"");
        return nullptr;
    }
    rs2_frame* part = composite->parts[index];
    ++part->references;
    return part;
}
void rs2_frame_add_ref(rs2_frame* frame, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("frame", frame);
    if (!Enter(lock, __func__, args, error) || !NotNull(frame, "frame", __func__, args, error)) {
        return;
    }
    ++frame->references;
}
void rs2_release_frame(rs2_frame* frame) {
    Lock lock(state().mutex);
    state().calls.emplace_back(__func__);
    if (frame) Release(frame);
}

const rs2_stream_profile* rs2_get_frame_stream_profile(const rs2_frame* frame, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("frame", frame);
    if (!Enter(lock, __func__, args, error) || !FrameData(frame, __func__, args, error)) {
        return nullptr;
    }
    return &frame->profile;
}

int rs2_get_frame_width(const rs2_frame* frame, rs2_error** error) {
    return ReadFrame(__func__, frame, error, true, 0, [](const Frame& f) { return f.width; });
}
int rs2_get_frame_height(const rs2_frame* frame, rs2_error** error) {
    return ReadFrame(__func__, frame, error, true, 0, [](const Frame& f) { return f.height; });
}
const void* rs2_get_frame_data(const rs2_frame* frame, rs2_error** error) {
    return ReadFrame(__func__, frame, error, false, static_cast<const void*>(nullptr), [](const Frame& f) {
        const void* pixels = f.pixels.data();
        state().frameDataPointers.push_back(pixels);
        return pixels;
    });
}
rs2_time_t rs2_get_frame_timestamp(const rs2_frame* frame, rs2_error** error) {
    return ReadFrame(__func__, frame, error, false, 0.0, [](const Frame& f) { return f.timestamp; });
}
rs2_timestamp_domain rs2_get_frame_timestamp_domain(const rs2_frame* frameset, rs2_error** error) {
    return ReadFrame(__func__, frameset, error, false, RS2_TIMESTAMP_DOMAIN_COUNT,
                     [](const Frame& f) { return f.domain; });
}
rs2_metadata_type rs2_get_frame_metadata(const rs2_frame* frame, rs2_frame_metadata_value frame_metadata,
                                         rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("frame", frame)("frame_metadata", frame_metadata);
    if (!Enter(lock, __func__, args, error)) return 0;
    const Frame* data = FrameData(frame, __func__, args, error);
    if (!data) return 0;
    auto it = data->metadata.find(frame_metadata);
    if (it == data->metadata.end()) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_INVALID_VALUE, "metadata not available for this frame");
        return 0;
    }
    return it->second;
}
int rs2_supports_frame_metadata(const rs2_frame* frame, rs2_frame_metadata_value frame_metadata, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("frame", frame)("frame_metadata", frame_metadata);
    if (!Enter(lock, __func__, args, error)) return 0;
    const Frame* data = FrameData(frame, __func__, args, error);
    return data && data->metadata.count(frame_metadata) ? 1 : 0;
}

float rs2_depth_frame_get_distance(const rs2_frame* frame_ref, int x, int y, rs2_error** error) {
    Lock lock(state().mutex);
    const auto args = ArgsText()("frame_ref", frame_ref)("x", x)("y", y);
    if (!Enter(lock, __func__, args, error) || !NotNull(frame_ref, "frame_ref", __func__, args, error)) {
        return 0.0f;
    }
    state().depthQueries.push_back({x, y});
    const Frame* data = frame_ref->data.get();
    if (!data || !data->isDepthFrame) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_COUNT,
                 "Object does not support \"librealsense::depth_frame\" interface! ");
        return 0.0f;
    }
    if (x < 0 || x >= data->width) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range value for argument \"x\"");
        return 0.0f;
    }
    if (y < 0 || y >= data->height) {
        SetError(error, __func__, args, RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range value for argument \"y\"");
        return 0.0f;
    }
    return data->distances[static_cast<std::size_t>(y) * data->width + x];
}

rs2_time_t rs2_get_time(rs2_error** error) {
    Lock lock(state().mutex);
    if (!Enter(lock, __func__, ArgsText(), error)) return 0.0;
    if (state().libraryTime) return *state().libraryTime;
    return static_cast<rs2_time_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count()) /
           1000.0;
}

// Pinhole projection; the intrinsics handed in are recorded, the distortion
// model is not applied.
void rs2_project_point_to_pixel(float pixel[2], const rs2_intrinsics* intrin, const float point[3]) {
    Lock lock(state().mutex);
    state().calls.emplace_back(__func__);
    state().projectionIntrinsics.push_back(*intrin);
    pixel[0] = point[0] / point[2] * intrin->fx + intrin->ppx;
    pixel[1] = point[1] / point[2] * intrin->fy + intrin->ppy;
}
void rs2_deproject_pixel_to_point(float point[3], const rs2_intrinsics* intrin, const float pixel[2], float depth) {
    Lock lock(state().mutex);
    state().calls.emplace_back(__func__);
    state().projectionIntrinsics.push_back(*intrin);
    point[0] = (pixel[0] - intrin->ppx) / intrin->fx * depth;
    point[1] = (pixel[1] - intrin->ppy) / intrin->fy * depth;
    point[2] = depth;
}

}  // extern "C"
