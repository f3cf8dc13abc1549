// The desktop's monitors from the X server's RandR monitor list. The X client
// libraries are loaded at run time, so the engine library does not depend on
// a windowing system: without them, or without a reachable X server, the
// desktop has no monitors.
#include "common/platform/devices.h"

#include <dlfcn.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <memory>

#include "common/threadSafety.h"

namespace quilo::os {
namespace {

// A shared library opened by its run-time name. The X client libraries stay
// mapped after the handle is closed (RTLD_NODELETE): they keep process-wide
// state, such as the locks their constructor creates and the per-connection
// extension records, that must not vanish with our handle.
class XLibrary {
public:
    explicit XLibrary(const char* name) : handle_(dlopen(name, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {}
    ~XLibrary() {
        if (handle_) dlclose(handle_);
    }
    XLibrary(const XLibrary&) = delete;
    XLibrary& operator=(const XLibrary&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }

    // The exported function `name`, typed like `Function`; null when missing.
    template <typename Function>
    Function* Get(const char* name) const {
        return handle_ ? reinterpret_cast<Function*>(dlsym(handle_, name)) : nullptr;
    }

private:
    void* handle_;
};

// Serialises this file's use of the X client libraries. Xlib locks each
// connection, but libXrandr and libXext keep a process-wide record of the
// connections that use an extension and create and extend it without a lock:
// two threads opening their own connections at once corrupt it.
Mutex xClientMutex;

}  // namespace

std::vector<DesktopMonitor> ListDesktopMonitors() {
    const MutexLock lock(xClientMutex);
    XLibrary x11("libX11.so.6");
    XLibrary xrandr("libXrandr.so.2");
    auto openDisplay = x11.Get<decltype(XOpenDisplay)>("XOpenDisplay");
    auto closeDisplay = x11.Get<decltype(XCloseDisplay)>("XCloseDisplay");
    auto defaultRootWindow = x11.Get<decltype(XDefaultRootWindow)>("XDefaultRootWindow");
    auto queryExtension = xrandr.Get<decltype(XRRQueryExtension)>("XRRQueryExtension");
    auto queryVersion = xrandr.Get<decltype(XRRQueryVersion)>("XRRQueryVersion");
    auto getMonitors = xrandr.Get<decltype(XRRGetMonitors)>("XRRGetMonitors");
    auto freeMonitors = xrandr.Get<decltype(XRRFreeMonitors)>("XRRFreeMonitors");
    if (!openDisplay || !closeDisplay || !defaultRootWindow || !queryExtension || !queryVersion || !getMonitors ||
        !freeMonitors)
        return {};

    // The display named by DISPLAY; closed before the libraries are released.
    std::unique_ptr<Display, decltype(closeDisplay)> display(openDisplay(nullptr), closeDisplay);
    if (!display) return {};

    // Monitor lists came with RandR 1.5. Asking an older server would raise a
    // protocol error, whose default handler ends the process.
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!queryExtension(display.get(), &eventBase, &errorBase) || !queryVersion(display.get(), &major, &minor) ||
        major < 1 || (major == 1 && minor < 5))
        return {};

    int count = 0;
    std::unique_ptr<XRRMonitorInfo, decltype(freeMonitors)> monitors(
        getMonitors(display.get(), defaultRootWindow(display.get()), True, &count), freeMonitors);
    std::vector<DesktopMonitor> result;
    if (!monitors) return result;
    result.reserve(count > 0 ? count : 0);
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& m = monitors.get()[i];
        result.push_back({m.x, m.y, m.x + m.width, m.y + m.height, m.primary != False});
    }
    return result;
}

}  // namespace quilo::os
