// Loading shared libraries at run time and calling their exported functions.
#pragma once

#include <string>
#include <utility>

#include "common/export.h"

namespace quilo {

// One loaded plugin library, unloaded when this object goes. Not copyable.
//
// The file FileName(name) is looked for first beside the engine library; when
// it cannot be loaded from there, a warning is logged and the loader's own
// search is tried (on Linux LD_LIBRARY_PATH, the engine library's run path and
// the system folders; on Windows the program's folder, the system folders and
// PATH). Every symbol of the library is resolved at load time, so a plugin
// that lacks a symbol fails here rather than when a function is first called,
// and its symbols stay private to it.
class QUILO_API PluginLibrary {
public:
    // `name` is the base name, without folder and extension. Throws
    // quilo::Exception "failed to load library \"<name>\": <loader's message>"
    // when neither attempt loads it; nothing stays loaded then.
    explicit PluginLibrary(const std::string& name);
    ~PluginLibrary();

    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // The file name of the library with base name `name` on this system:
    // "<name>.so" on Linux, "<name>.dll" on Windows.
    static std::string FileName(const std::string& name);

private:
    template <typename Signature>
    friend class PluginFunction;

    // The address of the export `symbol`; null when the library lacks it (the
    // loader's message is then the thread's last error, GetLastErrorAsString).
    void* FindSymbol(const char* symbol) const;

    void* module_ = nullptr;
};

namespace detail {
// Throws quilo::Exception "failed to load symbol \"<symbol>\": <loader's
// message>", located at `file`:`line` in the function named by the
// compiler's `prettyFunction`, with the template's signature written out.
[[noreturn]] QUILO_API void ThrowSymbolNotFound(const char* symbol, const char* file, int line,
                                                const char* prettyFunction);
}  // namespace detail

// An exported function of a PluginLibrary, typed by its signature, e.g.
// PluginFunction<void(int)>. Owns nothing: valid as long as the library it
// was found in stays loaded.
template <typename Signature>
class PluginFunction {
public:
    // Throws quilo::Exception "failed to load symbol \"<symbol>\": <loader's
    // message>" when the library has no such export.
    PluginFunction(const PluginLibrary& library, const char* symbol)
        : function_(reinterpret_cast<Signature*>(library.FindSymbol(symbol))) {
        if (function_ == nullptr) {
            detail::ThrowSymbolNotFound(symbol, __FILE__, __LINE__, __PRETTY_FUNCTION__);
        }
    }

    // Calls the export with the arguments and returns its result.
    template <typename... Args>
    decltype(auto) operator()(Args&&... args) const {
        return function_(std::forward<Args>(args)...);
    }

private:
    Signature* function_;
};

}  // namespace quilo
