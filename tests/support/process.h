// Process-level helpers for tests: environment, child processes, and which
// shared libraries are loaded.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quilo::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

// Sets (or, with no value, removes) a variable of this process's environment.
void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);
std::optional<std::string> GetEnvironmentValue(const std::string& name);

// The running test program's own file.
std::filesystem::path ThisProgram();

// Runs `program` with `arguments` and this process's environment plus
// `environment` (which wins), and waits for it. Returns its exit code (as the
// system keeps it: 8 bits on Linux, 32 on Windows), or, when it could not be
// started or did not exit normally, -1 on Linux and INT_MIN on Windows.
int RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const Environment& environment);

// Runs `program` as RunProgram does, with this process attached to it as its
// tracer, as a debugger would be, from right after it starts. Returns as
// RunProgram does, or -2 when the system does not allow the tracing.
int RunProgramTraced(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const Environment& environment);

// Runs this test program again, limited to the tests matching `gtestFilter`,
// with `environment` added and QUILO_TEST_CHILD set; returns its exit code.
int RunChildTests(const std::string& gtestFilter, Environment environment);

// True in a child started by RunChildTests. Child-only tests skip otherwise.
bool IsChildProcess();

// Whether the shared library at `path` is loaded in this process; it is not
// loaded by asking.
bool IsLibraryLoaded(const std::filesystem::path& path);

}  // namespace quilo::test
