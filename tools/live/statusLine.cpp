#include "tools/live/statusLine.h"

#include <fmt/format.h>
#include <unistd.h>

namespace quilo::live {

std::string FormatStatus(const TrackerStatus& status) {
    const std::string position = status.mainHead ? fmt::format("x {:.0f} y {:.0f} z {:.0f} mm", status.mainHead->x,
                                                               status.mainHead->y, status.mainHead->z)
                                                 : std::string("-");
    return fmt::format("{:.1f} fps  {} face{}  main face {}  latency {:.1f} ms (median {:.1f}, p99 {:.1f})",
                       status.framesPerSecond, status.faces, status.faces == 1 ? "" : "s", position, status.latencyMs,
                       status.latencyMedianMs, status.latencyP99Ms);
}

StatusLine::StatusLine(std::FILE* stream, bool enabled)
    : stream_(stream), enabled_(enabled && stream != nullptr), terminal_(enabled_ && isatty(fileno(stream)) != 0) {}

StatusLine::~StatusLine() { Break(); }

void StatusLine::Break() {
    if (drawn_ && terminal_) {
        std::fputs("\n", stream_);
        std::fflush(stream_);
    }
    drawn_ = false;
}

void StatusLine::Update(const TrackerStatus& status) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    const auto interval = terminal_ ? std::chrono::milliseconds(250) : plainInterval;
    if (last_ != std::chrono::steady_clock::time_point{} && now - last_ < interval) return;
    last_ = now;
    const std::string text = FormatStatus(status);
    if (terminal_) {
        // Back to the line's start, clear it, draw.
        fmt::print(stream_, "\r\033[K{}", text);
        drawn_ = true;
    } else {
        fmt::print(stream_, "{}\n", text);
    }
    std::fflush(stream_);
}

}  // namespace quilo::live
