#include "tools/replay/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

#include <fmt/format.h>
#include <opencv2/imgproc.hpp>

namespace quilo::replay {

namespace {

// Empty for a missing value, else the number with `digits` decimals.
std::string Cell(double value, int digits = 3) {
    if (!std::isfinite(value)) return {};
    return fmt::format("{:.{}f}", value, digits);
}

void AppendCells(std::string& row, std::initializer_list<double> values, int digits = 3) {
    for (double value : values) {
        row += ',';
        row += Cell(value, digits);
    }
}

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// The detection that gave `face` in `frame`, if any.
const head::DetectedFace* DetectionOf(const FrameResult& frame, const head::Face& face, const head::RawFace** raw) {
    *raw = nullptr;
    if (face.rawFaceIndex < 0 || static_cast<size_t>(face.rawFaceIndex) >= frame.rawFaces.size()) {
        return nullptr;
    }
    *raw = &frame.rawFaces[static_cast<size_t>(face.rawFaceIndex)];
    const int32_t index = (*raw)->detectionIndex;
    if (index < 0 || static_cast<size_t>(index) >= frame.detections.size()) return nullptr;
    return &frame.detections[static_cast<size_t>(index)];
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw SequenceError(fmt::format("{}: cannot be created", path.string()));
    out << text;
    out.close();
    if (!out) throw SequenceError(fmt::format("{}: could not be written completely", path.string()));
}

// `text` with the characters XML gives a meaning escaped.
std::string EscapeXml(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

}  // namespace

void WriteFrameTable(const std::filesystem::path& path, const ReplayResult& result) {
    std::string text =
        "frame,timestamp_ms,face,position_x,position_y,position_z,velocity_x,velocity_y,"
        "velocity_z,yaw,raw_right_x,raw_right_y,raw_right_z,raw_left_x,raw_left_y,raw_left_z,"
        "right_eye_px,right_eye_py,left_eye_px,left_eye_py,truth_x,truth_y,truth_z,detector_ms,"
        "engine_ms";
    // With a prediction, the main face's predicted eyes (display space, mm)
    // close its row; the other rows leave them empty.
    const bool predicted = result.predictMs.has_value();
    text += predicted ? ",predicted_right_x,predicted_right_y,predicted_right_z,predicted_left_x,"
                        "predicted_left_y,predicted_left_z\n"
                      : "\n";
    for (const FrameResult& frame : result.frames) {
        const glm::dvec3 truth = frame.truth.value_or(glm::dvec3(kNone));
        bool mainRow = true;
        const auto finish = [&](std::string& row) {
            AppendCells(row, {truth.x, truth.y, truth.z}, 2);
            AppendCells(row, {frame.detectorMs, frame.engineMs}, 4);
            if (predicted) {
                const bool has = mainRow && frame.prediction.has_value();
                const glm::dvec3 r = has ? glm::dvec3(frame.prediction->rightEye) : glm::dvec3(kNone);
                const glm::dvec3 l = has ? glm::dvec3(frame.prediction->leftEye) : glm::dvec3(kNone);
                AppendCells(row, {r.x, r.y, r.z, l.x, l.y, l.z}, 2);
            }
            mainRow = false;
            row += '\n';
            text += row;
        };
        const std::string start = fmt::format("{},{:.3f}", frame.index, frame.timestampMs);
        if (frame.faces.empty()) {
            std::string row = start + ',';
            // Position, velocity, yaw, raw eyes and eye pixels: 17 empty cells.
            row += std::string(17, ',');
            finish(row);
            continue;
        }
        for (size_t i = 0; i < frame.faces.size(); ++i) {
            const head::Face& face = frame.faces[i];
            std::string row = fmt::format("{},{}", start, i);
            AppendCells(row, {face.position.x, face.position.y, face.position.z}, 2);
            AppendCells(row, {face.velocity.x, face.velocity.y, face.velocity.z}, 5);
            AppendCells(row, {face.angles.y}, 4);
            const head::RawFace* raw = nullptr;
            const head::DetectedFace* detection = DetectionOf(frame, face, &raw);
            const glm::dvec3 right = raw ? glm::dvec3(raw->rightEye) : glm::dvec3(kNone);
            const glm::dvec3 left = raw ? glm::dvec3(raw->leftEye) : glm::dvec3(kNone);
            AppendCells(row, {right.x, right.y, right.z, left.x, left.y, left.z}, 2);
            const glm::dvec2 rightPixel = detection ? detection->rightEyePixel : glm::dvec2(kNone);
            const glm::dvec2 leftPixel = detection ? detection->leftEyePixel : glm::dvec2(kNone);
            AppendCells(row, {rightPixel.x, rightPixel.y, leftPixel.x, leftPixel.y}, 2);
            finish(row);
        }
    }
    WriteText(path, text);
}

void WriteTrajectoryPlot(const std::filesystem::path& path, const ReplayResult& result, const std::string& title) {
    constexpr double kWidth = 900, kPanelHeight = 200, kLeft = 70, kRight = 20, kTop = 40, kGap = 30;
    const double plotWidth = kWidth - kLeft - kRight;
    const double height = kTop + 3 * (kPanelHeight + kGap) + 10;

    double t0 = 0.0, t1 = 1.0;
    if (!result.frames.empty()) {
        t0 = result.frames.front().timestampMs;
        t1 = std::max(result.frames.back().timestampMs, t0 + 1.0);
    }
    const auto x = [&](double ms) { return kLeft + (ms - t0) / (t1 - t0) * plotWidth; };

    std::string svg = fmt::format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" "
        "viewBox=\"0 0 {0} {1}\" font-family=\"sans-serif\" font-size=\"12\">\n"
        "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        "<text x=\"{2}\" y=\"22\" font-size=\"15\">{3}</text>\n",
        kWidth, height, kLeft, EscapeXml(title));
    const char* axes[] = {"x", "y", "z"};
    for (int axis = 0; axis < 3; ++axis) {
        // The range of the panel: tracked and true values alike.
        double low = std::numeric_limits<double>::infinity(), high = -low;
        for (const FrameResult& frame : result.frames) {
            if (!frame.faces.empty()) {
                low = std::min(low, static_cast<double>(frame.faces[0].position[axis]));
                high = std::max(high, static_cast<double>(frame.faces[0].position[axis]));
            }
            if (frame.truth) {
                low = std::min(low, (*frame.truth)[axis]);
                high = std::max(high, (*frame.truth)[axis]);
            }
        }
        if (!(low <= high)) low = -1.0, high = 1.0;
        const double margin = std::max((high - low) * 0.05, 1.0);
        low -= margin;
        high += margin;
        const double top = kTop + axis * (kPanelHeight + kGap);
        const auto y = [&](double value) { return top + (high - value) / (high - low) * kPanelHeight; };

        svg += fmt::format(
            "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#888\"/>\n"
            "<text x=\"8\" y=\"{:.1f}\">{} (mm)</text>\n"
            "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{:.0f}</text>\n"
            "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{:.0f}</text>\n",
            kLeft, top, plotWidth, kPanelHeight, top + kPanelHeight / 2, axes[axis], kLeft - 4, top + 12, high,
            kLeft - 4, top + kPanelHeight, low);

        // One polyline per run of frames with a value; gaps stay gaps.
        const auto lines = [&](auto value, const char* style) {
            std::string points;
            const auto flush = [&] {
                if (!points.empty()) {
                    svg += fmt::format("<polyline fill=\"none\" {} points=\"{}\"/>\n", style, points);
                    points.clear();
                }
            };
            for (const FrameResult& frame : result.frames) {
                double v = 0.0;
                if (!value(frame, &v)) {
                    flush();
                    continue;
                }
                fmt::format_to(std::back_inserter(points), "{:.1f},{:.1f} ", x(frame.timestampMs), y(v));
            }
            flush();
        };
        lines(
            [&](const FrameResult& frame, double* v) {
                if (!frame.truth) return false;
                *v = (*frame.truth)[axis];
                return true;
            },
            "stroke=\"#2a2\" stroke-width=\"1.5\" stroke-dasharray=\"6,4\"");
        lines(
            [&](const FrameResult& frame, double* v) {
                if (frame.faces.empty()) return false;
                *v = frame.faces[0].position[axis];
                return true;
            },
            "stroke=\"#c22\" stroke-width=\"1.5\"");
    }
    const double bottom = kTop + 3 * (kPanelHeight + kGap) - kGap + 16;
    svg += fmt::format(
        "<text x=\"{}\" y=\"{:.1f}\">0 s</text>\n"
        "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{:.2f} s</text>\n"
        "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"middle\">main face (red), truth (green, "
        "dashed); display space</text>\n</svg>\n",
        kLeft, bottom, kLeft + plotWidth, bottom, (t1 - t0) / 1000.0, kLeft + plotWidth / 2, bottom);
    WriteText(path, svg);
}

size_t WriteOverlays(const std::filesystem::path& folder, const std::filesystem::path& sequenceFolder,
                     const Sequence& sequence, const ReplayResult& result, size_t every) {
    if (every == 0) return 0;
    size_t written = 0;
    for (const FrameResult& frame : result.frames) {
        if (frame.index % every != 0 || frame.index >= sequence.frames.size()) continue;
        const SequenceFrame& entry = sequence.frames[frame.index];
        const GreyImage grey = ReadFrameImage(sequenceFolder, sequence, entry);
        const cv::Mat image(grey.height, grey.width, CV_8UC1, const_cast<uint8_t*>(grey.pixels.data()));
        cv::Mat picture;
        cv::cvtColor(image, picture, cv::COLOR_GRAY2RGB);

        const double scale = std::max(grey.width, grey.height) / 640.0;
        const int thickness = std::max(1, static_cast<int>(std::lround(scale)));
        const auto point = [](glm::dvec2 p) {
            return cv::Point(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
        };
        if (entry.truth) {
            for (const glm::dvec3& eye : {entry.truth->rightEye, entry.truth->leftEye}) {
                cv::drawMarker(picture, point(ProjectToPixel(sequence.intrinsics, eye)), cv::Scalar(40, 200, 40),
                               cv::MARKER_CROSS, static_cast<int>(12 * scale), thickness);
            }
        }
        for (size_t i = 0; i < frame.faces.size(); ++i) {
            const head::RawFace* raw = nullptr;
            const head::DetectedFace* detection = DetectionOf(frame, frame.faces[i], &raw);
            if (detection == nullptr) continue;
            const cv::Point right = point(detection->rightEyePixel);
            const cv::Point left = point(detection->leftEyePixel);
            const int radius = static_cast<int>(std::lround(5 * scale));
            cv::circle(picture, right, radius, cv::Scalar(230, 40, 40), thickness, cv::LINE_AA);
            cv::circle(picture, left, radius, cv::Scalar(40, 90, 240), thickness, cv::LINE_AA);
            const cv::Point label((right.x + left.x) / 2 - radius, std::min(right.y, left.y) - 3 * radius);
            cv::putText(picture, std::to_string(i), label, cv::FONT_HERSHEY_SIMPLEX, 0.6 * scale,
                        cv::Scalar(255, 220, 0), thickness, cv::LINE_AA);
        }
        cv::putText(picture,
                    fmt::format("frame {}  {:.0f} ms  faces {}", frame.index, frame.timestampMs, frame.faces.size()),
                    cv::Point(8, static_cast<int>(20 * scale)), cv::FONT_HERSHEY_SIMPLEX, 0.5 * scale,
                    cv::Scalar(255, 255, 255), thickness, cv::LINE_AA);
        WriteRgbPng(folder / fmt::format("{:05}.png", frame.index), picture.cols, picture.rows, picture.data);
        ++written;
    }
    return written;
}

std::string FormatSummary(const ReplayStatistics& s) {
    const auto share = [&](size_t count) {
        return s.frames > 0 ? 100.0 * static_cast<double>(count) / static_cast<double>(s.frames) : 0.0;
    };
    std::string text = fmt::format(
        "frames:             {}\n"
        "tracked face:       {} frames ({:.1f} %)\n"
        "faces found:        {} in {} frames ({:.1f} %)\n"
        "detector per frame: median {:.2f} ms, 99th percentile {:.2f} ms\n"
        "engine per frame:   median {:.3f} ms, 99th percentile {:.3f} ms (without the detector)\n"
        "whole pipeline:     {:.1f} frames per second (reading images included; start-up "
        "{:.1f} s)\n",
        s.frames, s.framesWithFace, share(s.framesWithFace), s.detections, s.framesWithDetection,
        share(s.framesWithDetection), s.detectorMedianMs, s.detectorP99Ms, s.engineMedianMs, s.engineP99Ms,
        s.framesPerSecond, s.startupSeconds);
    if (s.framesWithError > 0) {
        text += fmt::format("3D error:           mean {:.1f} mm, 95th percentile {:.1f} mm ({} frames)\n",
                            s.errorMeanMm, s.errorP95Mm, s.framesWithError);
    }
    if (s.jitterFrames > 0) {
        text += fmt::format("jitter:             {:.2f} mm ({}, {} frames)\n", s.jitterMm,
                            s.jitterFromTruth ? "of the error" : "while still", s.jitterFrames);
    }
    if (s.frames > 0) {
        text += fmt::format(
            "latency:            median {:.3f} ms, 99th percentile {:.3f} ms (image pushed "
            "to result published)\n",
            s.latencyMedianMs, s.latencyP99Ms);
    }
    if (s.predictMs && s.predictionFrames > 0) {
        const double predictedAdds = s.eyeErrorPredictedMm - s.eyeErrorNowMm;
        const double heldAdds = s.eyeErrorHeldMm - s.eyeErrorNowMm;
        text += fmt::format(
            "eye error (3D):     {:.2f} mm at the frame's time; {:.0f} ms later {:.2f} mm predicted, {:.2f} mm "
            "unpredicted ({} frames, {} predictions declined)\n"
            "latency adds:       {:.2f} mm predicted, {:.2f} mm unpredicted ({:.0f} %)\n"
            "eye jitter:         {:.2f} mm predicted, {:.2f} mm unpredicted (of the error)\n",
            s.eyeErrorNowMm, *s.predictMs, s.eyeErrorPredictedMm, s.eyeErrorHeldMm, s.predictionFrames,
            s.predictionsDeclined, predictedAdds, heldAdds, heldAdds != 0.0 ? 100.0 * predictedAdds / heldAdds : 0.0,
            s.eyeJitterPredictedMm, s.eyeJitterHeldMm);
        if (s.stillFrames > 0) {
            text += fmt::format(
                "head still:         worst error {:.2f} mm predicted, {:.2f} mm unpredicted ({} "
                "frames)\n",
                s.stillWorstPredictedMm, s.stillWorstHeldMm, s.stillFrames);
        }
    }
    return text;
}

}  // namespace quilo::replay
