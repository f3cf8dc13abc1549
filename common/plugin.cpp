#include "common/plugin.h"

#include <filesystem>
#include <string_view>

#include "common/exception.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/platform/os.h"

namespace quilo {

PluginLibrary::PluginLibrary(const std::string& name) {
    const std::string fileName = FileName(name);
    const std::filesystem::path path = GetLibraryPath().parent_path() / os::PathFromNarrow(fileName);

    module_ = os::OpenLibrary(path);
    if (module_ == nullptr) {
        // Read before anything else can change the thread's last error.
        const std::string firstError = GetLastErrorAsString();
        const std::string pathText = os::NarrowFromPath(path);
        QUILO_LOG_WARN("[Plugin] Failed to load library at path \"{}\". Looking in PATH.", pathText);
        // Why the first attempt failed: a library that lies beside the engine
        // but cannot be loaded (a missing dependency or symbol) shows here.
        QUILO_LOG_DEBUG("[Plugin] \"{}\": {}", pathText, firstError);
        module_ = os::OpenLibraryBySearch(fileName);
        if (module_ == nullptr) {
            QUILO_THROW("failed to load library \"{}\": {}", name, GetLastErrorAsString());
        }
    }
    QUILO_LOG_DEBUG("[Plugin] Successfully loaded library \"{}\"", name);
}

std::string PluginLibrary::FileName(const std::string& name) { return os::LibraryFileName(name); }

PluginLibrary::~PluginLibrary() {
    if (module_ != nullptr) os::CloseLibrary(module_);
}

void* PluginLibrary::FindSymbol(const char* symbol) const { return os::LibrarySymbol(module_, symbol); }

namespace detail {

void ThrowSymbolNotFound(const char* symbol, const char* file, int line, const char* prettyFunction) {
    // GCC spells the function "quilo::PluginFunction<Signature>::PluginFunction
    // (...) [with Signature = void(int)]"; the name carries the signature
    // itself, so the two exports of one plugin are told apart.
    const std::string error = GetLastErrorAsString();
    std::string function = QualifiedFunctionName(prettyFunction);
    const std::string_view pretty(prettyFunction);
    constexpr std::string_view kWith = "[with Signature = ";
    if (auto with = pretty.find(kWith); with != std::string_view::npos && pretty.back() == ']') {
        const auto signature = pretty.substr(with + kWith.size(), pretty.size() - 1 - with - kWith.size());
        if (auto at = function.find("<Signature>"); at != std::string::npos) {
            function.replace(at + 1, std::string_view("Signature").size(), signature);
        }
    }
    throw Exception(fmt::format("failed to load symbol \"{}\": {}", symbol, error),
                    SourceLocation{file, line, function.c_str()});
}

}  // namespace detail
}  // namespace quilo
