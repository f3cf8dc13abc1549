#include "support/process.h"

#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>

extern char** environ;

namespace quilo::test {

void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

std::optional<std::string> GetEnvironmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

std::filesystem::path ThisProgram() { return std::filesystem::read_symlink("/proc/self/exe"); }

namespace {

pid_t Spawn(const std::filesystem::path& program, const std::vector<std::string>& arguments,
            const Environment& environment) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : environment) variables[name] = value;

    std::vector<std::string> envText;
    for (const auto& [name, value] : variables) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& text : envText) envp.push_back(text.data());
    envp.push_back(nullptr);

    std::string file = program.string();
    std::vector<std::string> argText{file};
    argText.insert(argText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argText) argv.push_back(text.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawn(&child, file.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
        return -1;
    }
    return child;
}

// Waits for the child to end, letting a traced child go on after each stop.
int Wait(pid_t child, bool traced) {
    int status = 0;
    for (;;) {
        if (waitpid(child, &status, 0) < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        if (WIFSIGNALED(status)) return -1;
        if (traced && WIFSTOPPED(status)) ptrace(PTRACE_CONT, child, nullptr, WSTOPSIG(status));
    }
}

}  // namespace

int RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const Environment& environment) {
    const pid_t child = Spawn(program, arguments, environment);
    return child < 0 ? -1 : Wait(child, false);
}

int RunProgramTraced(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const Environment& environment) {
    const pid_t child = Spawn(program, arguments, environment);
    if (child < 0) return -1;
    if (ptrace(PTRACE_SEIZE, child, nullptr, nullptr) != 0) {
        kill(child, SIGKILL);
        Wait(child, false);
        return -2;
    }
    return Wait(child, true);
}

int RunChildTests(const std::string& gtestFilter, Environment environment) {
    environment.emplace_back("QUILO_TEST_CHILD", "1");
    return RunProgram(ThisProgram(), {"--gtest_filter=" + gtestFilter}, environment);
}

bool IsChildProcess() { return GetEnvironmentValue("QUILO_TEST_CHILD").has_value(); }

bool IsLibraryLoaded(const std::filesystem::path& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

}  // namespace quilo::test
