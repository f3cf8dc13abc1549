// Windows implementation of the OS corner: the kernel's module loader and
// module paths, the system-time clock, the last-error text, the debugger flag
// and sleeping; the shell for the common application-data folder.
#include "common/platform/os.h"

#include "common/platform/windows/windowsHeaders.h"
#include "common/platform/windows/errorText.h"
#include <shlobj.h>

#include <string>
#include <system_error>

namespace quilo::os {

namespace {

// Narrow file names are in the code page the file functions use: the ANSI one
// unless a host switched them to the OEM one.
UINT FileCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

}  // namespace

int64_t SystemTimeNs() {
    // 100-nanosecond ticks since 1601-01-01; 1970-01-01 lies this many ticks later.
    constexpr int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const int64_t ticks = (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - kTicksFrom1601To1970) * 100;
}

std::filesystem::path ExecutablePath(std::string* error) {
    return ModuleFileName(Module{/*isExecutable=*/true, {}, nullptr}, error);
}

bool FindModule(const void* address, Module* module, std::string* error) {
    HMODULE handle = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &handle)) {
        if (error) *error = std::to_string(GetLastError());
        return false;
    }
    module->isExecutable = handle == GetModuleHandleW(nullptr);
    module->loaderName.clear();
    module->handle = module->isExecutable ? nullptr : handle;
    return true;
}

std::filesystem::path ModuleFileName(const Module& module, std::string* error) {
    HMODULE handle = module.isExecutable ? nullptr : static_cast<HMODULE>(module.handle);
    // The call cuts a name that does not fit and returns the buffer's size:
    // the buffer grows until the whole name fits.
    std::wstring buffer(1024, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(handle, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (error) *error = std::to_string(GetLastError());
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

const void* AddressInThisLibrary() {
    static const int marker = 0;
    return &marker;
}

std::filesystem::path MachineDataDirectory() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
    return folder;
}

std::string LastErrorText() {
    const DWORD code = GetLastError();
    if (code == 0) return {};
    return ErrorCodeText(code);
}

bool DebuggerPresent() { return IsDebuggerPresent() != FALSE; }

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

std::string LibraryFileName(const std::string& name) { return name + ".dll"; }

std::filesystem::path PathFromNarrow(const std::string& text) {
    if (text.empty()) return {};
    const UINT codePage = FileCodePage();
    const int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string NarrowFromPath(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    if (wide.empty()) return {};
    const UINT codePage = FileCodePage();
    const int size =
        WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0) throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr, nullptr);
    return text;
}

void* OpenLibrary(const std::filesystem::path& path) { return LoadLibraryW(path.c_str()); }

void* OpenLibraryBySearch(const std::string& fileName) { return LoadLibraryA(fileName.c_str()); }

void* LibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace quilo::os
