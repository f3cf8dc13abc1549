#include "tools/replay/progressBar.h"

#include <algorithm>

#include <fmt/format.h>

#ifdef _WIN32
#include <io.h>
#define QUILO_ISATTY(fd) _isatty(fd)
#define QUILO_FILENO(stream) _fileno(stream)
#else
#include <unistd.h>
#define QUILO_ISATTY(fd) isatty(fd)
#define QUILO_FILENO(stream) fileno(stream)
#endif

namespace quilo::replay {

ProgressBar::ProgressBar(std::FILE* stream, std::string label)
    : stream_(stream),
      label_(std::move(label)),
      enabled_(stream != nullptr && QUILO_ISATTY(QUILO_FILENO(stream)) != 0) {}

ProgressBar::~ProgressBar() { Clear(); }

void ProgressBar::Update(size_t done, size_t total) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total && drawn_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    drawn_ = true;
    fmt::print(stream_, "\r{}", Render(label_, done, total, 40));
    std::fflush(stream_);
}

void ProgressBar::Clear() {
    if (!drawn_) return;
    fmt::print(stream_, "\r\033[K");
    std::fflush(stream_);
    drawn_ = false;
}

std::string ProgressBar::Render(const std::string& label, size_t done, size_t total, size_t width) {
    const size_t filled = total > 0 ? std::min(done, total) * width / total : width;
    const double percent =
        total > 0 ? 100.0 * static_cast<double>(std::min(done, total)) / static_cast<double>(total) : 100.0;
    return fmt::format("{} [{}{}] {}/{} ({:.0f} %)", label, std::string(filled, '#'), std::string(width - filled, '.'),
                       done, total, percent);
}

}  // namespace quilo::replay
