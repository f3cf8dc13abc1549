// The text form of every printable record, as fmt formatters, so that "{}" of
// a record in any log line or message prints the same text everywhere.
#pragma once

#include <cstdint>

#include <fmt/format.h>
#include <glm/glm.hpp>

#include "headTracking/common/types.h"

namespace quilo::detail {
// Base of the record formatters: they take no format options.
struct PlainFormatter {
    constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
};
}  // namespace quilo::detail

#define QUILO_DECLARE_FORMATTER(Type)                              \
    template <>                                                    \
    struct fmt::formatter<Type> : quilo::detail::PlainFormatter {  \
        template <typename FormatContext>                          \
        auto format(const Type& value, FormatContext& ctx) const { \
            return quilo::detail::FormatTo(ctx.out(), value);      \
        }                                                          \
    }

namespace quilo::detail {

// A glm value as the records print it. The records' formatters wrap their
// glm fields in it instead of specialising fmt::formatter for glm's own
// types, which would clash with a host that formats glm itself.
template <typename T>
struct GlmText {
    const T& value;
};
template <typename T>
GlmText<T> Text(const T& value) {
    return GlmText<T>{value};
}

template <typename Out>
Out FormatTo(Out out, const glm::vec3& v) {
    return fmt::format_to(out, "{{{:g}, {:g}, {:g}}}", v.x, v.y, v.z);
}
template <typename Out>
Out FormatTo(Out out, const glm::mat3& m) {
    out = FormatTo(fmt::format_to(out, "{{"), m[0]);
    out = FormatTo(fmt::format_to(out, ", "), m[1]);
    out = FormatTo(fmt::format_to(out, ", "), m[2]);
    return fmt::format_to(out, "}}");
}
template <typename Out>
Out FormatTo(Out out, Timestamp::Space space) {
    return fmt::format_to(out, "Timestamp::Space::{}", space == Timestamp::Space::System ? "System" : "Unknown");
}
template <typename Out>
Out FormatTo(Out out, const Timestamp& t) {
    return fmt::format_to(out, "{{.space={}, .ms={}}}", t.space, t.ms);
}
template <typename Out>
Out FormatTo(Out out, const ImageDesc& d) {
    return fmt::format_to(out, "{{.width={}, .height={}, .rotation={}}}", d.width, d.height, d.rotation);
}
template <typename Out>
Out FormatTo(Out out, const CameraIntrinsics& i) {
    return fmt::format_to(out, "{{.width={}, .height={}, .ppx={}, .ppy={}, .fx={}, .fy={}, .isMirrored={}}}", i.width,
                          i.height, i.ppx, i.ppy, i.fx, i.fy, i.isMirrored);
}
template <typename Out>
Out FormatTo(Out out, const head::KalmanCoeffs& k) {
    return fmt::format_to(out, "{{.a={}, .b={}}}", Text(k.a), Text(k.b));
}
template <typename Out>
Out FormatTo(Out out, const head::FilterProperties& p) {
    return fmt::format_to(out,
                          "{{.velDampingTime={}, .minFitDist={}, .maxFitDist={}, .angleYMax={}, "
                          ".interocularDistanceMin={}, .interocularDistanceMax={}, .bufferLim={}, "
                          ".mainFaceSkew={}, .mainFaceScale={}, .kalman={}}}",
                          p.velDampingTime, p.minFitDist, p.maxFitDist, p.angleYMax, p.interocularDistanceMin,
                          p.interocularDistanceMax, p.bufferLim, Text(p.mainFaceSkew), Text(p.mainFaceScale), p.kalman);
}
template <typename Out>
Out FormatTo(Out out, const head::FaceTrackerConfiguration& c) {
    return fmt::format_to(out,
                          "{{.trackRightEye={}, .trackLeftEye={}, .filterProperties={}, "
                          ".cameraRotation={}, .cameraPosition={}}}",
                          c.trackRightEye, c.trackLeftEye, c.filterProperties, Text(c.cameraRotation),
                          Text(c.cameraPosition));
}
template <typename Out>
Out FormatTo(Out out, const head::CameraConfiguration& c) {
    return fmt::format_to(out, "{{.width={}, .height={}, .fps={}, .binningFactor={}}}", c.width, c.height, c.fps,
                          c.binningFactor);
}
template <typename Out>
Out FormatTo(Out out, const head::FaceDetectorConfiguration& c) {
    return fmt::format_to(out, "{{.maxNumOfFaces={}}}", c.maxNumOfFaces);
}
template <typename Out>
Out FormatTo(Out out, const head::TrackingSessionInitArgs& a) {
    return fmt::format_to(out, "{{.androidSurface={:#x}}}",
                          static_cast<uint64_t>(reinterpret_cast<uintptr_t>(a.androidSurface)));
}
template <typename Out>
Out FormatTo(Out out, const head::FrameProfiling& p) {
    return fmt::format_to(out,
                          "{{.cameraExposureTime={}, .faceDetectorStartTime={}, "
                          ".faceDetectorEndTime={}, .apiTimestamp={}}}",
                          p.cameraExposureTime, p.faceDetectorStartTime, p.faceDetectorEndTime, p.apiTimestamp);
}

}  // namespace quilo::detail

template <typename T>
struct fmt::formatter<quilo::detail::GlmText<T>> : quilo::detail::PlainFormatter {
    template <typename FormatContext>
    auto format(const quilo::detail::GlmText<T>& text, FormatContext& ctx) const {
        return quilo::detail::FormatTo(ctx.out(), text.value);
    }
};

QUILO_DECLARE_FORMATTER(quilo::Timestamp::Space);
QUILO_DECLARE_FORMATTER(quilo::Timestamp);
QUILO_DECLARE_FORMATTER(quilo::ImageDesc);
QUILO_DECLARE_FORMATTER(quilo::CameraIntrinsics);
QUILO_DECLARE_FORMATTER(quilo::head::KalmanCoeffs);
QUILO_DECLARE_FORMATTER(quilo::head::FilterProperties);
QUILO_DECLARE_FORMATTER(quilo::head::FaceTrackerConfiguration);
QUILO_DECLARE_FORMATTER(quilo::head::CameraConfiguration);
QUILO_DECLARE_FORMATTER(quilo::head::FaceDetectorConfiguration);
QUILO_DECLARE_FORMATTER(quilo::head::TrackingSessionInitArgs);
QUILO_DECLARE_FORMATTER(quilo::head::FrameProfiling);
