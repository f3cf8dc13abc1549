#include "support/process.h"

#include "common/platform/windows/windowsHeaders.h"

#include <cstdlib>
#include <limits>
#include <map>

namespace quilo::test {

void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
    // The C library keeps its own copy of the environment, which getenv reads;
    // the system's copy is what child processes inherit.
    _putenv_s(name.c_str(), value ? value->c_str() : "");
    SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

std::optional<std::string> GetEnvironmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

std::filesystem::path ThisProgram() {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(length);
    return buffer;
}

namespace {

// Names of environment variables compare without case.
struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    }
};

std::wstring Wide(const std::string& text) { return std::filesystem::path(text).wstring(); }

// One argument as the C library's command-line parser reads it back.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

constexpr int kNotRun = std::numeric_limits<int>::min();

int Run(const std::filesystem::path& program, const std::vector<std::string>& arguments, const Environment& environment,
        bool debugged) {
    std::map<std::wstring, std::wstring, NoCase> variables;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
            const std::wstring text(entry);
            const auto equals = text.find(L'=', 1);  // "=C:" style entries start with '='
            if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : environment) variables[Wide(name)] = Wide(value);
    std::wstring block;
    for (const auto& [name, value] : variables) block += name + L"=" + value + L'\0';
    block.push_back(L'\0');

    std::wstring commandLine = Quoted(program.wstring());
    for (const auto& argument : arguments) commandLine += L" " + Quoted(Wide(argument));

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (debugged ? DEBUG_ONLY_THIS_PROCESS : 0);
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, block.data(), nullptr,
                        &startup, &process))
        return kNotRun;

    if (debugged) {
        // A debugger's loop: every event is let go on until the child ends.
        for (;;) {
            DEBUG_EVENT event{};
            if (!WaitForDebugEvent(&event, INFINITE)) break;
            DWORD status = DBG_CONTINUE;
            if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            const bool ended = event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
            if (ended) break;
        }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    const bool exited = GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exited ? static_cast<int>(code) : kNotRun;
}

}  // namespace

int RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const Environment& environment) {
    return Run(program, arguments, environment, false);
}

int RunProgramTraced(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const Environment& environment) {
    return Run(program, arguments, environment, true);
}

int RunChildTests(const std::string& gtestFilter, Environment environment) {
    environment.emplace_back("QUILO_TEST_CHILD", "1");
    return RunProgram(ThisProgram(), {"--gtest_filter=" + gtestFilter}, environment);
}

bool IsChildProcess() { return GetEnvironmentValue("QUILO_TEST_CHILD").has_value(); }

bool IsLibraryLoaded(const std::filesystem::path& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

}  // namespace quilo::test
