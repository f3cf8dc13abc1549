// Small helpers for developers and for text handling.
#pragma once

#include <string>

#include "common/export.h"

namespace quilo {

// Returns once a debugger is attached to the process, checking every 100 ms.
QUILO_API void WaitForDebugger();

// Replaces every occurrence of `from` in `text` by `to`, in place, left to
// right; a replacement is never searched again, so occurrences do not overlap
// and `to` may contain `from`. An empty `from` or `text` changes nothing.
QUILO_API void stringReplace(std::string& text, const std::string& from, const std::string& to);

}  // namespace quilo
