// A one-line progress bar for long runs, drawn on a terminal only: when the
// stream is a file or a pipe nothing is written.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace quilo::replay {

class ProgressBar {
public:
    // Draws on `stream` when it is a terminal; `label` precedes the bar.
    ProgressBar(std::FILE* stream, std::string label);
    // Clears the line when something was drawn.
    ~ProgressBar();

    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Redraws at most ten times a second, and always for the last step.
    void Update(size_t done, size_t total);
    // Removes the bar from the line (the summary follows on a clean line).
    void Clear();

    // The bar's text for `done` of `total`: label, bar of `width` cells, counts.
    static std::string Render(const std::string& label, size_t done, size_t total, size_t width);

private:
    std::FILE* stream_;
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace quilo::replay
