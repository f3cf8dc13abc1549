// Command-line parsing shared by the replay tool and the recorder: every
// malformed command line ends with an "error:" line and exit code 1, as
// any other bad input does; help and version end with 0.
#pragma once

#include <cstdio>
#include <optional>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

namespace quilo::replay {

// Parses `argv` into `app`. Returns the exit code to end with when the
// program should stop here, or nothing when it should go on.
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
        fmt::print(stderr, "error: {}\nRun with --help for more information.\n", e.what());
        return 1;
    }
}

}  // namespace quilo::replay
