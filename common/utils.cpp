#include "common/utils.h"

#include "common/platform/os.h"

namespace quilo {

void WaitForDebugger() {
    while (!os::DebuggerPresent()) os::SleepMilliseconds(100);
}

void stringReplace(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty() || text.empty()) return;
    for (size_t position = text.find(from); position != std::string::npos;
         position = text.find(from, position + to.size())) {
        text.replace(position, from.size(), to);
    }
}

}  // namespace quilo
