// The live program's console status: one line, redrawn in place on a
// terminal, printed as a plain line every few seconds to a file or a pipe.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "tools/live/tracker.h"

namespace quilo::live {

// "30.0 fps  1 face  main face x -12 y 40 z 655 mm  latency 14.2 ms (median
// 13.9, p99 20.1)", the last frame's latency, then over the last second; the
// position reads "-" without a face.
std::string FormatStatus(const TrackerStatus& status);

class StatusLine {
public:
    // Writes to `stream`; nothing at all when `enabled` is false.
    StatusLine(std::FILE* stream, bool enabled);
    // Ends a line drawn in place, so what follows starts on its own.
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    // Shows `status` if the last showing is old enough: a quarter second on
    // a terminal, `plainInterval` otherwise.
    void Update(const TrackerStatus& status);
    // Ends a line drawn in place before other output.
    void Break();

    std::chrono::milliseconds plainInterval{2000};

private:
    std::FILE* stream_;
    bool enabled_;
    bool terminal_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace quilo::live
