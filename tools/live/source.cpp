#include "tools/live/source.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "tools/replay/sequence.h"

namespace quilo::live {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double SystemNowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The system-clock time of the steady-clock moment `when` (in the past).
double SystemMsOf(Clock::time_point when) {
    return SystemNowMs() - std::chrono::duration<double, std::milli>(Clock::now() - when).count();
}

CapturedImage FromMat(const cv::Mat& frame) {
    cv::Mat grey;
    if (frame.channels() == 3) {
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    } else if (frame.channels() == 4) {
        cv::cvtColor(frame, grey, cv::COLOR_BGRA2GRAY);
    } else {
        grey = frame;
    }
    if (grey.depth() != CV_8U) grey.convertTo(grey, CV_8U);
    CapturedImage image;
    image.width = grey.cols;
    image.height = grey.rows;
    image.grey.resize(static_cast<size_t>(grey.cols) * static_cast<size_t>(grey.rows));
    for (int row = 0; row < grey.rows; ++row) {
        const uint8_t* from = grey.ptr<uint8_t>(row);
        std::copy(from, from + grey.cols, image.grey.begin() + static_cast<ptrdiff_t>(row) * grey.cols);
    }
    return image;
}

// OpenCV's own warnings about a camera or file it cannot open would come
// before our error line and say less.
void QuietOpenCv() {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    // FFmpeg's own log, read by OpenCV when it first opens a file: quiet.
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
}

CameraIntrinsics GeometryFor(const GeometryOptions& geometry, int32_t width, int32_t height) {
    if (geometry.calibration) return ScaleIntrinsics(ReadCalibration(*geometry.calibration), width, height);
    return IntrinsicsFromFieldOfView(width, height, geometry.fovDeg);
}

class WebcamSource final : public FrameSource {
public:
    WebcamSource(const std::string& device, const GeometryOptions& geometry, double fps) : name_(device) {
        QuietOpenCv();
        bool isNumber = !device.empty() && device.find_first_not_of("0123456789") == std::string::npos;
        const bool opened =
            isNumber ? capture_.open(std::stoi(device), cv::CAP_V4L2) : capture_.open(device, cv::CAP_V4L2);
        if (!opened || !capture_.isOpened()) {
            throw SourceError(fmt::format("cannot open the webcam {}", device));
        }
        if (fps > 0.0) capture_.set(cv::CAP_PROP_FPS, fps);
        cv::Mat first;
        if (!capture_.read(first) || first.empty()) {
            throw SourceError(fmt::format("the webcam {} gives no image", device));
        }
        intrinsics_ = GeometryFor(geometry, first.cols, first.rows);
        fps_ = capture_.get(cv::CAP_PROP_FPS);
    }

    std::optional<CapturedImage> Next() override {
        cv::Mat frame;
        if (!capture_.read(frame) || frame.empty()) {
            throw SourceError(fmt::format("the webcam {} stopped delivering images (unplugged?)", name_));
        }
        const Clock::time_point returned = Clock::now();
        CapturedImage image = FromMat(frame);
        if (image.width != intrinsics_.width || image.height != intrinsics_.height) {
            throw SourceError(
                fmt::format("the webcam {} changed its image size to {} x {}", name_, image.width, image.height));
        }
        // V4L2 stamps its buffers on the monotonic clock, which is the steady
        // clock here; a stamp that does not fit the last second is not one.
        image.captured = returned;
        const double stampMs = capture_.get(cv::CAP_PROP_POS_MSEC);
        const double returnedMs = std::chrono::duration<double, std::milli>(returned.time_since_epoch()).count();
        if (stampMs > 0.0 && stampMs <= returnedMs && returnedMs - stampMs < 1000.0) {
            image.captured = returned - std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double, std::milli>(returnedMs - stampMs));
        }
        image.captureTimeMs = SystemMsOf(image.captured);
        image.timestampMs = image.captureTimeMs;
        return image;
    }

    CameraIntrinsics Intrinsics() const override { return intrinsics_; }
    std::string Describe() const override {
        return fmt::format("webcam {} ({} x {}, {:.0f} fps)", name_, intrinsics_.width, intrinsics_.height, fps_);
    }
    bool Live() const override { return true; }

private:
    std::string name_;
    cv::VideoCapture capture_;  // released by its destructor
    CameraIntrinsics intrinsics_;
    double fps_ = 0.0;
};

class VideoSource final : public FrameSource {
public:
    VideoSource(const fs::path& path, const GeometryOptions& geometry, bool fast, bool loop)
        : path_(path), fast_(fast), loop_(loop) {
        QuietOpenCv();
        std::error_code error;
        if (!fs::is_regular_file(path, error)) {
            throw SourceError(fmt::format("{}: no such video file", path.string()));
        }
        if (!Open()) {
            throw SourceError(fmt::format("{}: cannot read the video", path.string()));
        }
        fps_ = capture_.get(cv::CAP_PROP_FPS);
        if (!(fps_ > 0.0 && fps_ < 1000.0)) fps_ = 30.0;
        if (!capture_.read(first_) || first_.empty()) {
            throw SourceError(fmt::format("{}: cannot read the video's first image", path.string()));
        }
        intrinsics_ = GeometryFor(geometry, first_.cols, first_.rows);
    }

    std::optional<CapturedImage> Next() override {
        cv::Mat frame;
        if (!first_.empty()) {
            frame = first_;
            first_.release();
        } else if (!capture_.read(frame) || frame.empty()) {
            if (!loop_ || read_ == 0) return std::nullopt;
            // Reopened rather than sought back: not every container seeks.
            capture_.release();
            if (!Open() || !capture_.read(frame) || frame.empty()) {
                throw SourceError(fmt::format("{}: cannot read the video again", path_.string()));
            }
        }
        // The file's clock is its frame count: a container's own stamps may
        // repeat or start anywhere.
        const double due = static_cast<double>(read_) * 1000.0 / fps_;
        ++read_;
        if (!fast_) {
            if (read_ == 1) start_ = Clock::now();
            std::this_thread::sleep_until(
                start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(due)));
        }
        CapturedImage image = FromMat(frame);
        if (image.width != intrinsics_.width || image.height != intrinsics_.height) {
            throw SourceError(fmt::format("{}: the image size changes within the video", path_.string()));
        }
        image.captured = Clock::now();
        image.captureTimeMs = SystemNowMs();
        image.timestampMs = due;
        return image;
    }

    CameraIntrinsics Intrinsics() const override { return intrinsics_; }
    std::string Describe() const override {
        return fmt::format("video {} ({} x {}, {:.4g} fps{})", path_.string(), intrinsics_.width, intrinsics_.height,
                           fps_, fast_ ? ", as fast as it goes" : "");
    }
    bool Live() const override { return !fast_; }

private:
    // FFmpeg reads nearly every file; OpenCV's own reader the MJPEG AVI files
    // it writes where FFmpeg is missing.
    bool Open() {
        for (const int backend : {cv::CAP_FFMPEG, cv::CAP_OPENCV_MJPEG}) {
            if (capture_.open(path_.string(), backend) && capture_.isOpened()) return true;
        }
        return false;
    }

    fs::path path_;
    bool fast_, loop_;
    cv::VideoCapture capture_;
    cv::Mat first_;  // read when opened, to learn the size
    CameraIntrinsics intrinsics_;
    double fps_ = 30.0;
    uint64_t read_ = 0;
    Clock::time_point start_;
};

class SequenceSource final : public FrameSource {
public:
    SequenceSource(const fs::path& folder, bool fast, bool loop) : folder_(folder), fast_(fast), loop_(loop) {
        try {
            sequence_ = replay::ReadSequence(folder);
            for (const replay::SequenceFrame& entry : sequence_.frames) {
                replay::CheckFrameImage(folder, sequence_, entry);
            }
        } catch (const replay::SequenceError& e) {
            throw SourceError(e.what());
        }
        const auto& frames = sequence_.frames;
        period_ = frames.size() > 1 ? (frames.back().timestampMs - frames.front().timestampMs) /
                                          static_cast<double>(frames.size() - 1)
                                    : 33.0;
    }

    std::optional<CapturedImage> Next() override {
        if (next_ == sequence_.frames.size()) {
            if (!loop_) return std::nullopt;
            next_ = 0;
            // Each round follows the last, one frame period later.
            offsetMs_ += sequence_.frames.back().timestampMs - sequence_.frames.front().timestampMs + period_;
        }
        const replay::SequenceFrame& entry = sequence_.frames[next_++];
        const double timestamp = entry.timestampMs + offsetMs_;
        if (!fast_) {
            if (!started_) {
                start_ = Clock::now();
                firstMs_ = timestamp;
                started_ = true;
            }
            std::this_thread::sleep_until(start_ +
                                          std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double, std::milli>(timestamp - firstMs_)));
        }
        CapturedImage image;
        try {
            replay::GreyImage grey = replay::ReadFrameImage(folder_, sequence_, entry);
            image.width = grey.width;
            image.height = grey.height;
            image.grey = std::move(grey.pixels);
            if (entry.depth) {
                image.depth = replay::ReadFrameDepth(folder_, sequence_, entry).values;
                image.depthUnit = sequence_.depthUnit;
            }
        } catch (const replay::SequenceError& e) {
            throw SourceError(e.what());
        }
        image.captured = Clock::now();
        image.captureTimeMs = SystemNowMs();
        image.timestampMs = timestamp;
        return image;
    }

    CameraIntrinsics Intrinsics() const override { return sequence_.intrinsics; }
    std::string Describe() const override {
        return fmt::format("sequence {} ({} frames, {} x {}{})", folder_.string(), sequence_.frames.size(),
                           sequence_.intrinsics.width, sequence_.intrinsics.height,
                           fast_ ? ", as fast as it goes" : "");
    }
    bool Live() const override { return !fast_; }

private:
    fs::path folder_;
    bool fast_, loop_;
    replay::Sequence sequence_;
    size_t next_ = 0;
    double period_ = 33.0;
    double offsetMs_ = 0.0;
    bool started_ = false;
    Clock::time_point start_;
    double firstMs_ = 0.0;
};

double Field(const nlohmann::json& object, const char* name, const fs::path& path) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_number()) {
        throw SourceError(fmt::format("{}: \"{}\" is missing or not a number", path.string(), name));
    }
    return found->get<double>();
}

}  // namespace

CameraIntrinsics IntrinsicsFromFieldOfView(int32_t width, int32_t height, double horizontalFovDeg) {
    if (!(horizontalFovDeg >= 1.0 && horizontalFovDeg < 180.0)) {
        throw std::invalid_argument(
            fmt::format("field of view {} degrees: expected at least 1 and less than 180", horizontalFovDeg));
    }
    if (width <= 0 || height <= 0) throw std::invalid_argument("image size: not positive");
    CameraIntrinsics intrinsics;
    intrinsics.width = width;
    intrinsics.height = height;
    const double halfAngle = horizontalFovDeg * 3.14159265358979323846 / 360.0;
    intrinsics.fx = intrinsics.fy = static_cast<float>(width * 0.5 / std::tan(halfAngle));
    intrinsics.ppx = static_cast<float>(width) * 0.5f;
    intrinsics.ppy = static_cast<float>(height) * 0.5f;
    return intrinsics;
}

CameraIntrinsics ReadCalibration(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SourceError(fmt::format("{}: cannot open the calibration file", path.string()));
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw SourceError(fmt::format("{}: not JSON ({})", path.string(), e.what()));
    }
    const nlohmann::json& object =
        document.is_object() && document.contains("intrinsics") ? document["intrinsics"] : document;
    if (!object.is_object()) throw SourceError(fmt::format("{}: expected a JSON object", path.string()));
    CameraIntrinsics intrinsics;
    const double width = Field(object, "width", path), height = Field(object, "height", path);
    const double fx = Field(object, "fx", path), fy = Field(object, "fy", path);
    const double ppx = Field(object, "ppx", path), ppy = Field(object, "ppy", path);
    if (!(width >= 1.0 && height >= 1.0 && width < 100000.0 && height < 100000.0) || width != std::floor(width) ||
        height != std::floor(height)) {
        throw SourceError(fmt::format("{}: width and height must be positive whole numbers", path.string()));
    }
    if (!(fx > 0.0 && fy > 0.0 && std::isfinite(fx) && std::isfinite(fy)) || !std::isfinite(ppx) ||
        !std::isfinite(ppy)) {
        throw SourceError(fmt::format("{}: fx and fy must be positive, ppx and ppy finite", path.string()));
    }
    intrinsics.width = static_cast<int32_t>(width);
    intrinsics.height = static_cast<int32_t>(height);
    intrinsics.fx = static_cast<float>(fx);
    intrinsics.fy = static_cast<float>(fy);
    intrinsics.ppx = static_cast<float>(ppx);
    intrinsics.ppy = static_cast<float>(ppy);
    if (const auto mirrored = object.find("isMirrored"); mirrored != object.end()) {
        if (!mirrored->is_boolean()) {
            throw SourceError(fmt::format("{}: \"isMirrored\" is not true or false", path.string()));
        }
        intrinsics.isMirrored = mirrored->get<bool>();
    }
    return intrinsics;
}

CameraIntrinsics ScaleIntrinsics(const CameraIntrinsics& intrinsics, int32_t width, int32_t height) {
    CameraIntrinsics scaled = intrinsics;
    const float sx = static_cast<float>(width) / static_cast<float>(intrinsics.width);
    const float sy = static_cast<float>(height) / static_cast<float>(intrinsics.height);
    scaled.width = width;
    scaled.height = height;
    scaled.fx *= sx;
    scaled.ppx *= sx;
    scaled.fy *= sy;
    scaled.ppy *= sy;
    return scaled;
}

std::unique_ptr<FrameSource> OpenWebcam(const std::string& device, const GeometryOptions& geometry, double fps) {
    return std::make_unique<WebcamSource>(device, geometry, fps);
}

std::unique_ptr<FrameSource> OpenVideo(const fs::path& path, const GeometryOptions& geometry, bool fast, bool loop) {
    return std::make_unique<VideoSource>(path, geometry, fast, loop);
}

std::unique_ptr<FrameSource> OpenSequence(const fs::path& folder, bool fast, bool loop) {
    return std::make_unique<SequenceSource>(folder, fast, loop);
}

}  // namespace quilo::live
